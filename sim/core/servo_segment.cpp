/*
 * The servo stream (servo_segment.h).
 */
#include "servo_segment.h"

#include "cycle.h"
#include "segments.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* A set-point may ask this much more than a joint's maximum speed before it
 * is refused (rounding, not a real excess). */
constexpr double kSpeedSlack = 1.0 + 1e-6;

} // namespace

/* ---- servo stream ----------------------------------------------------------------- */

ServoSegment::ServoSegment(const Joints &now) : command_(now), output_(now), previous_(now), last_(now) {}

ErrorCode ServoSegment::begin(const MotionContext &, const Joints &) { return kOk; }

ErrorCode ServoSegment::add(const Joints &target, int steps)
{
    if (!within_limits(target))
        return kJointLimit;
    for (std::size_t j = 0; j < 6; ++j)
        if (std::abs(target[j] - last_[j]) / steps > arm::kMaxSpeed[j] * kCycle * kSpeedSlack)
            return kSpeedLimit;
    waiting_ = {target, steps}; /* supersedes one that waited */
    last_ = target;
    return kOk;
}

StepResult ServoSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (stopping_) {
        brake_.advance(dt);
        for (std::size_t j = 0; j < 6; ++j)
            q[j] = brake_from_[j] + brake_direction_[j] * brake_.position();
        previous_ = output_;
        output_ = q;
        return {brake_.finished() ? StepResult::kDone : StepResult::kRunning, kOk};
    }
    if (current_.steps == 0 && waiting_.steps > 0) { /* the newest that arrived begins */
        current_ = waiting_;
        waiting_.steps = 0;
        from_ = command_;
        done_steps_ = 0;
    }
    if (current_.steps > 0) {
        ++done_steps_;
        const double s = static_cast<double>(done_steps_) / current_.steps;
        for (std::size_t j = 0; j < 6; ++j)
            command_[j] = from_[j] + (current_.target[j] - from_[j]) * s;
        if (done_steps_ >= current_.steps) {
            command_ = current_.target;
            current_.steps = 0;
        }
    }
    Joints wanted = command_;
    if (ctx.servo.filter == ServoFilter::kJointLowPass && ctx.servo.lpf_cutoff > 0) {
        /* First-order low-pass, discretised exactly for the cycle. */
        const double alpha = 1.0 - std::exp(-2 * kPi * ctx.servo.lpf_cutoff * dt);
        double gap = 0;
        for (std::size_t j = 0; j < 6; ++j) {
            wanted[j] = output_[j] + alpha * (command_[j] - output_[j]);
            gap = std::max(gap, std::abs(command_[j] - wanted[j]));
        }
        if (gap < 1e-12)
            wanted = command_;
    }
    /* No joint faster than its maximum speed: all of them slowed together,
     * so the arm keeps the stream's direction and catches up. */
    double over = 1;
    for (std::size_t j = 0; j < 6; ++j)
        over = std::max(over, std::abs(wanted[j] - output_[j]) / (arm::kMaxSpeed[j] * dt));
    previous_ = output_;
    if (over > 1)
        for (std::size_t j = 0; j < 6; ++j)
            output_[j] += (wanted[j] - output_[j]) / over;
    else
        output_ = wanted;
    q = output_;
    /* It holds after a whole cycle without motion: until then the next
     * set-point continues the motion, and a stop starts from its speed. */
    const bool rested = current_.steps == 0 && waiting_.steps == 0 && output_ == command_ && output_ == previous_;
    return {rested ? StepResult::kHolding : StepResult::kRunning, kOk};
}

bool ServoSegment::request_stop(StopKind kind)
{
    const double dec = kind == StopKind::kQuick ? arm::kQuickJointDec : arm::kServoStopDec;
    const double jerk = kind == StopKind::kQuick ? arm::kQuickJerkFactor * arm::kJointJerk : arm::kJointJerk;
    current_.steps = waiting_.steps = 0;
    if (stopping_) { /* a quick stop after a controlled one: harder from here */
        if (dec > brake_.limits().acc)
            brake_.stop(dec, jerk);
        return brake_.finished();
    }
    stopping_ = true;
    double speed = 0;
    for (std::size_t j = 0; j < 6; ++j)
        speed = std::max(speed, std::abs(output_[j] - previous_[j]) / kCycle);
    if (speed <= 0) {
        brake_ = Profile();
        return true;
    }
    /* Along the direction the joints move, harder when a joint limit is
     * nearer than the stop. */
    double room = std::numeric_limits<double>::infinity();
    for (std::size_t j = 0; j < 6; ++j) {
        brake_direction_[j] = (output_[j] - previous_[j]) / kCycle / speed;
        if (brake_direction_[j] > 0)
            room = std::min(room, (arm::kUpperLimit[j] - output_[j]) / brake_direction_[j]);
        else if (brake_direction_[j] < 0)
            room = std::min(room, (arm::kLowerLimit[j] - output_[j]) / brake_direction_[j]);
    }
    brake_from_ = output_;
    brake_.brake(speed, std::max(dec, speed * speed / (2 * std::max(room, 1e-9))), jerk);
    return false;
}

} // namespace zsim
