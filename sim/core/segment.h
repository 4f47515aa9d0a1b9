/*
 * A segment: one piece of motion of one arm (a joint move, a Cartesian path,
 * a jog, the servo stream, a program), and what it may read while it runs.
 *
 * The motion core (motion.h) calls begin() when the segment reaches the front
 * of its arm's queue and step() once a cycle until it reports done. A step
 * reads the arm's MotionContext (frames, servo filter, rapid rate) and writes
 * only the joints it is handed: it never sees the controller.
 *
 * A segment may be asked to stop (request_stop): it then comes to rest along
 * its path and reports done. A move may offer to blend into the next queued
 * one (blend): it then begins that one itself and steps it along with its own
 * end, so that the arm joins the next path without stopping.
 */
#ifndef ZSIM_SEGMENT_H
#define ZSIM_SEGMENT_H

#include "errors.h"
#include "kinematics.h"

#include <array>
#include <cstdint>

namespace zsim {

/* How a queued segment ended; shared between the queue and whoever waits.
 * `stopping`: a stop was ordered; the segment ends with `code` once the arm
 * is at rest (until then `finished` stays false). */
struct Completion {
    bool finished = false;
    bool stopping = false;
    ErrorCode code = kOk;
};

/* How a stop brings the arm to rest (docs/virtual-controller.md, "Stops"). */
enum class StopKind {
    kControlled, /* along the path at the move's own deceleration, at least the default */
    kQuick,      /* along the path at the quick-stop decelerations (faults, protective stops) */
};

/* Servo filters: which one is in use and the parameters each was given. */
enum class ServoFilter { kNone, kJointLowPass, kJointNonLinear, kCartesianNonLinear, kJointMultiOrder };

struct ServoSettings {
    ServoFilter filter = ServoFilter::kNone;
    double lpf_cutoff = 0.0;                /* Hz */
    std::array<double, 3> joint_nlf{};      /* max_vr, max_ar, max_jr */
    std::array<double, 6> carte_nlf{};      /* max_vp, max_ap, max_jp, max_vr, max_ar, max_jr */
    std::int32_t mmf_buffer = 0;
    std::array<double, 3> mmf{};            /* kp, kv, ka */
    std::int32_t foresight_buffer = 0;
    double foresight_kp = 0.0;
};

/* What a segment reads of its arm's settings: a view, valid for one call. */
struct MotionContext {
    const Pose &tool;            /* flange to TCP */
    const Pose &user;            /* base to the user frame in use */
    const ServoSettings &servo;
    double rapid_rate;           /* (0, 1] */

    /* The TCP in the base frame for joint position q. */
    Pose tcp_in_base(const Joints &q) const { return forward(q) * tool; }
    /* The TCP in the user frame for joint position q. */
    Pose tcp(const Joints &q) const { return user.inverse() * forward(q) * tool; }
    /* The flange in the base frame that puts the TCP at `tcp_in_user`. */
    Pose flange_for(const Pose &tcp_in_user) const { return user * tcp_in_user * tool.inverse(); }
};

struct StepResult {
    /* kFault: the motion cannot go on (error says why): a quick stop from
     * here, and the error state at once, as for a fault. */
    enum State { kRunning, kDone, kHolding, kFault } state = kRunning;
    ErrorCode error = kOk; /* non-zero: stop the arm with this error */
};

class Segment {
public:
    virtual ~Segment() = default;
    /* At the front of the queue, before its first step, with the arm at `now`.
     * A non-zero code fails the segment as if a step had. */
    virtual ErrorCode begin(const MotionContext &ctx, const Joints &now) = 0;
    /* One cycle of dt seconds (a segment that follows the rapid rate reads it
     * from ctx). Writes the new position into q (which holds the current one);
     * on an error q must stay a valid position. kDone with an error: the arm
     * came to rest where its path could not go on (the error state follows).
     * kRunning with an error: the arm could not follow at all and stops where
     * it is. kHolding: nothing to do until fed (the core stops stepping it
     * until motion::feed). */
    virtual StepResult step(const MotionContext &ctx, double dt, Joints &q) = 0;
    /* Come to rest along the path and then report done. True when already at
     * rest (nothing left to step). */
    virtual bool request_stop(StopKind) { return true; }
    /* A program pauses its move: the move comes to rest along its path (a
     * controlled stop) and then holds, keeping the rest of its way. True
     * once at rest (asked again each cycle while paused). */
    virtual bool pause() { return true; }
    /* ... and goes on from where it is to its end, speeding up within its
     * limits (at once, also while the pause is still slowing down). */
    virtual void resume() {}
    /* Offered while this segment runs and `next` waits behind it: true when
     * this segment has begun `next` from `corner` (where this one ends) and
     * will step it along with its own end until this one is done. */
    virtual bool blend(Segment & /* next */, const MotionContext &, const Joints & /* corner */) { return false; }
    /* The axis a jog segment moves (0..5), or -1 for any other segment. */
    virtual int jog_axis() const { return -1; }
    /* A program or a payload identification: while it is queued, other
     * motion is refused (kBusy). */
    virtual bool owns_arm() const { return false; }
};

} // namespace zsim

#endif /* ZSIM_SEGMENT_H */
