/*
 * A segment: one piece of motion of one arm (a joint move, a Cartesian path,
 * a jog, the servo stream, a program), and what it may read while it runs.
 *
 * The motion core (motion.h) calls begin() when the segment reaches the front
 * of its arm's queue and step() once a cycle until it reports done. A step
 * reads the arm's MotionContext (frames, servo filter, rapid rate) and writes
 * only the joints it is handed: it never sees the controller.
 */
#ifndef ZSIM_SEGMENT_H
#define ZSIM_SEGMENT_H

#include "errors.h"
#include "kinematics.h"

#include <array>
#include <cstdint>

namespace zsim {

/* How a queued segment ended; shared between the queue and whoever waits. */
struct Completion {
    bool finished = false;
    ErrorCode code = kOk;
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
    enum State { kRunning, kDone, kHolding } state = kRunning;
    ErrorCode error = kOk; /* non-zero: stop the arm with this error */
};

class Segment {
public:
    virtual ~Segment() = default;
    /* At the front of the queue, before its first step, with the arm at `now`.
     * A non-zero code fails the segment as if a step had. */
    virtual ErrorCode begin(const MotionContext &ctx, const Joints &now) = 0;
    /* One cycle. dt is the segment's own time step: the cycle, scaled by the
     * rapid rate when follows_rapid_rate(). Writes the new position into q
     * (which holds the current one); on an error q must stay a valid position.
     * kHolding: nothing to do until fed (the core stops stepping it until
     * motion::feed). */
    virtual StepResult step(const MotionContext &ctx, double dt, Joints &q) = 0;
    virtual bool follows_rapid_rate() const { return true; }
    /* jog_stop: come to rest and finish. */
    virtual void request_stop() {}
    /* The axis a jog segment moves (0..5), or -1 for any other segment. */
    virtual int jog_axis() const { return -1; }
    /* A program or a payload identification: while it is queued, other
     * motion is refused (kBusy). */
    virtual bool owns_arm() const { return false; }
};

} // namespace zsim

#endif /* ZSIM_SEGMENT_H */
