/*
 * The servo stream's segment (servo_move_enable, servo_j, servo_p).
 */
#ifndef ZSIM_SERVO_SEGMENT_H
#define ZSIM_SERVO_SEGMENT_H

#include "segment.h"
#include "servo_filters.h"
#include "servo_follower.h"

#include <memory>

namespace zsim {

namespace servo {
/* The arm this far (rad, a quarter turn, any joint) from the filtered
 * command it follows ends the stream with kFollowingError: the stream asked
 * more than the arm can do. */
constexpr double kMaxFollowingError = kPi / 2;
} // namespace servo

/* The servo stream. Set-points become the command: each is reached over its
 * step count of cycles (8 ms each) by linear interpolation from where the
 * command stands when it begins, which is when it arrives, or when the one
 * before it is reached if that is later. Behind the one in progress at most
 * one waits, and a newer set-point supersedes it (it is dropped, not
 * queued), so a stream faster than the cycle never builds up a backlog. The
 * command passes the filters (servo_filters.h), and the arm follows the
 * result within every joint's speed, acceleration and jerk, lowered by the
 * joint non-linear filter when it is chosen (servo_follower.h). */
class ServoSegment final : public Segment {
public:
    explicit ServoSegment(const Joints &now);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    /* Leaving servo mode: the set-point in progress and the waiting one are
     * dropped and every joint comes to rest from its present speed and
     * acceleration at the stop's deceleration and jerk, all together (the
     * slower ones gentler), so the arm keeps the direction it moves in. */
    bool request_stop(StopKind kind) override;

    /* Where the last accepted set-point leads (relative set-points add to it). */
    const Joints &last_target() const { return last_; }
    /* A set-point that arrived `lead` seconds of simulated time before the
     * arm's next cycle (0 to one cycle). kOk (it waits, superseding the one
     * that waited, or begins at once), or kJointLimit, kSpeedLimit (refused:
     * the stream goes on from the previous one). */
    ErrorCode add(const Joints &target, int steps, double lead);

private:
    /* A set-point being reached: the command moves from `from` to `to`
     * between the stream times `begin` and `end` (s). */
    struct Piece {
        Joints from{}, to{};
        double begin = 0, end = 0;
    };
    /* Begins and reaches set-points up to stream time t. */
    void advance_to(double t);
    /* The command at stream time t (not before the last asked for). */
    Joints command_at(double t);

    Joints last_;
    /* the set-points, in stream time: the end of the k-th cycle is k cycles */
    long cycles_ = 0;
    Joints reached_;                 /* the command when no piece runs */
    double free_since_ = 0;          /* when the last piece ended */
    Piece running_;
    bool has_running_ = false;
    Joints waiting_{};
    int waiting_steps_ = 0;
    double waiting_since_ = 0;       /* when it arrived */
    bool has_waiting_ = false;

    std::unique_ptr<ServoFilters> filters_; /* chosen at begin */
    std::array<jerk::Limits, 6> limits_{};
    bool feed_forward_ = true;       /* off with the joint non-linear filter: a plain generator */
    JointFollower follower_;

    /* leaving servo mode */
    bool stopping_ = false;
    double stop_dec_ = 0;
    std::array<jerk::Trajectory, 6> stop_;
    double stop_time_ = 0, stop_duration_ = 0;
};

} // namespace zsim

#endif /* ZSIM_SERVO_SEGMENT_H */
