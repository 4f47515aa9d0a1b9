/*
 * The servo stream (servo_segment.h).
 *
 * A cycle: the command at the end of the cycle (the set-points in stream
 * time), through the filters, followed by the arm within its limits. Stream
 * time counts the segment's own cycles; a set-point's arrival is placed in
 * it by how long before the next cycle it came, so a set-point sent a few
 * milliseconds late or early moves the command a few milliseconds later or
 * earlier, not a whole cycle.
 */
#include "servo_segment.h"

#include "cycle.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* A set-point may ask this much more than a joint's maximum speed before it
 * is refused (rounding, not a real excess). */
constexpr double kSpeedSlack = 1.0 + 1e-6;
/* A piece whose end is this close is reached (rounding of stream times). */
constexpr double kTimeSlack = 1e-12;
/* Scale factors of a stop's limits are found to this precision. */
constexpr int kStopHalvings = 50;

} // namespace

ServoSegment::ServoSegment(const Joints &now) : last_(now), reached_(now), follower_(now) {}

ErrorCode ServoSegment::begin(const MotionContext &ctx, const Joints &now)
{
    filters_ = std::make_unique<ServoFilters>(ctx, now);
    const bool lowered = ctx.servo.filter == ServoFilter::kJointNonLinear;
    feed_forward_ = !lowered;
    const std::array<double, 3> &nlf = ctx.servo.joint_nlf;
    for (std::size_t j = 0; j < 6; ++j) {
        limits_[j] = {arm::kMaxSpeed[j], arm::kMaxJointAcc, arm::kJointJerk};
        if (lowered)
            limits_[j] = {std::min(limits_[j].v, nlf[0]), std::min(limits_[j].a, nlf[1]),
                          std::min(limits_[j].j, nlf[2])};
    }
    return kOk;
}

/* ---- the set-points as the command ---------------------------------------------------- */

ErrorCode ServoSegment::add(const Joints &target, int steps, double lead)
{
    if (!within_limits(target))
        return kJointLimit;
    for (std::size_t j = 0; j < 6; ++j)
        if (std::abs(target[j] - last_[j]) / steps > arm::kMaxSpeed[j] * kCycle * kSpeedSlack)
            return kSpeedLimit;
    const double arrival = static_cast<double>(cycles_ + 1) * kCycle - std::min(std::max(lead, 0.0), kCycle);
    advance_to(arrival);
    waiting_ = target; /* supersedes one that waited */
    waiting_steps_ = steps;
    waiting_since_ = arrival;
    has_waiting_ = true;
    advance_to(arrival); /* nothing in progress: it begins now */
    last_ = target;
    return kOk;
}

void ServoSegment::advance_to(double t)
{
    for (;;) {
        if (has_running_) {
            if (t < running_.end - kTimeSlack)
                return;
            reached_ = running_.to;
            free_since_ = running_.end;
            has_running_ = false;
        }
        if (!has_waiting_)
            return;
        const double begin = std::max(waiting_since_, free_since_);
        if (begin > t)
            return;
        running_ = {reached_, waiting_, begin, begin + waiting_steps_ * kCycle};
        has_running_ = true;
        has_waiting_ = false;
    }
}

Joints ServoSegment::command_at(double t)
{
    advance_to(t);
    if (!has_running_)
        return reached_;
    const double share = (t - running_.begin) / (running_.end - running_.begin);
    Joints c;
    for (std::size_t j = 0; j < 6; ++j)
        c[j] = running_.from[j] + (running_.to[j] - running_.from[j]) * share;
    return c;
}

/* ---- a cycle ------------------------------------------------------------------------- */

StepResult ServoSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (stopping_) {
        stop_time_ += dt;
        for (std::size_t j = 0; j < 6; ++j)
            q[j] = stop_[j].at(stop_time_).p;
        return {stop_time_ >= stop_duration_ ? StepResult::kDone : StepResult::kRunning, kOk};
    }
    ++cycles_;
    const Joints command = command_at(static_cast<double>(cycles_) * kCycle);
    Joints filtered;
    const ErrorCode code = filters_->step(ctx, command, dt, filtered);
    if (code != kOk)
        return {StepResult::kFault, code};
    follower_.step(filtered, limits_, dt, feed_forward_);
    q = follower_.position();
    if (follower_.error(filtered) > servo::kMaxFollowingError)
        return {StepResult::kFault, kFollowingError};
    const bool rested = !has_running_ && !has_waiting_ && filtered == command && follower_.resting_on(filtered);
    return {rested ? StepResult::kHolding : StepResult::kRunning, kOk};
}

/* ---- leaving servo mode ---------------------------------------------------------------- */

bool ServoSegment::request_stop(StopKind kind)
{
    const bool quick = kind == StopKind::kQuick;
    const double dec = quick ? arm::kQuickJointDec : arm::kServoStopDec;
    const double jerk = quick ? arm::kQuickJerkFactor * arm::kJointJerk : arm::kJointJerk;
    has_running_ = has_waiting_ = false;
    if (stopping_ && dec <= stop_dec_) /* a controlled stop after a quick one: no softer */
        return stop_time_ >= stop_duration_;
    std::array<jerk::State, 6> from;
    for (std::size_t j = 0; j < 6; ++j)
        from[j] = stopping_ ? stop_[j].at(stop_time_) : follower_.joint(j);
    stopping_ = true;
    stop_dec_ = dec;
    stop_time_ = 0;
    /* each joint's fastest stop; the leading one sets the time */
    const jerk::Limits fastest{1, dec, jerk}; /* a stop needs no speed limit */
    stop_duration_ = 0;
    for (std::size_t j = 0; j < 6; ++j) {
        stop_[j] = jerk::Trajectory::to_velocity(from[j], 0, fastest);
        stop_duration_ = std::max(stop_duration_, stop_[j].duration());
    }
    /* the others gentler, to rest at that time too, unless that would carry
     * them past the end of their range */
    for (std::size_t j = 0; j < 6; ++j) {
        if (stop_[j].duration() >= stop_duration_ || (from[j].v == 0 && from[j].a == 0))
            continue;
        double lo = 0, hi = 1;
        jerk::Trajectory gentle = stop_[j];
        for (int i = 0; i < kStopHalvings; ++i) {
            const double scale = 0.5 * (lo + hi);
            const jerk::Trajectory t = jerk::Trajectory::to_velocity(from[j], 0, {1, dec * scale, jerk * scale});
            if (t.duration() > stop_duration_) {
                lo = scale;
            } else {
                hi = scale;
                gentle = t;
            }
        }
        const double rest = gentle.end().p;
        if (rest >= arm::kLowerLimit[j] && rest <= arm::kUpperLimit[j])
            stop_[j] = gentle;
    }
    return stop_duration_ <= 0;
}

} // namespace zsim
