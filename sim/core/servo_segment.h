/*
 * The servo stream's segment (servo_move_enable, servo_j, servo_p).
 */
#ifndef ZSIM_SERVO_SEGMENT_H
#define ZSIM_SERVO_SEGMENT_H

#include "profile.h"
#include "segment.h"

namespace zsim {

/* The servo stream. The arm works on one set-point at a time, reaching it
 * over its step count by linear interpolation from where the command was when
 * it began; at most one more waits behind it, and a newer set-point
 * supersedes the waiting one (it is dropped, not queued). So a stream faster
 * than the cycle never builds up lag: each cycle the arm begins the newest
 * set-point that has arrived. The command then goes through the filter, and
 * the arm follows it no faster than any joint's maximum speed (all joints
 * slowed together, catching up over the next cycles). */
class ServoSegment final : public Segment {
public:
    explicit ServoSegment(const Joints &now);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    /* Leaving servo mode: the set-point in progress and the waiting one are
     * dropped and the arm comes to rest from its present velocity (joints
     * together, along the direction they move in) at the servo stop
     * deceleration, harder only where a joint limit is nearer. */
    bool request_stop(StopKind kind) override;

    /* Where the last accepted set-point leads (relative set-points add to it). */
    const Joints &last_target() const { return last_; }
    /* kOk (it waits, superseding the one that waited), or kJointLimit,
     * kSpeedLimit (refused: the stream goes on from the previous one). */
    ErrorCode add(const Joints &target, int steps);

private:
    struct SetPoint {
        Joints target;
        int steps = 0;
    };
    SetPoint current_{};              /* in progress when steps > 0 */
    Joints from_{};                   /* the command when it began */
    int done_steps_ = 0;
    SetPoint waiting_{};              /* waits behind it when steps > 0 */
    Joints command_{}, output_{}, previous_{}, last_{};

    /* leaving servo mode */
    bool stopping_ = false;
    Profile brake_;
    Joints brake_from_{}, brake_direction_{};
};

} // namespace zsim

#endif /* ZSIM_SERVO_SEGMENT_H */
