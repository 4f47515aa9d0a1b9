/*
 * Joint, Cartesian, jog and servo segments.
 */
#include "segments.h"

#include "cycle.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

constexpr double kPi = 3.14159265358979323846;

/* A joint may move this much more than its maximum speed in one cycle before a
 * Cartesian path counts as singular (rounding, not a real excess). */
constexpr double kSpeedSlack = 1.0 + 1e-6;

} // namespace

/* ---- profile ------------------------------------------------------------------ */

double profile_time(double length, double v, double a)
{
    if (length <= 0)
        return 0;
    if (length < v * v / a)
        return 2 * std::sqrt(length / a);
    return 2 * v / a + (length - v * v / a) / v;
}

void Profile::plan(double length, double v, double a)
{
    length_ = std::max(length, 0.0);
    a_ = a;
    if (length_ < v * v / a) {
        v_ = std::sqrt(length_ * a);
        ta_ = v_ / a;
        tc_ = 0;
    } else {
        v_ = v;
        ta_ = v / a;
        tc_ = (length_ - v * v / a) / v;
    }
    total_ = 2 * ta_ + tc_;
    t_ = u_ = 0;
    stopping_ = false;
}

double Profile::at(double t) const
{
    if (t <= 0)
        return 0;
    if (t >= total_)
        return length_;
    if (t < ta_)
        return 0.5 * a_ * t * t;
    if (t < ta_ + tc_)
        return 0.5 * a_ * ta_ * ta_ + v_ * (t - ta_);
    const double left = total_ - t;
    return length_ - 0.5 * a_ * left * left;
}

double Profile::speed_at(double t) const
{
    if (t <= 0 || t >= total_)
        return 0;
    if (t < ta_)
        return a_ * t;
    if (t < ta_ + tc_)
        return v_;
    return a_ * (total_ - t);
}

void Profile::stop()
{
    if (stopping_)
        return;
    stopping_ = true;
    stop_t_ = t_;
    stop_u_ = u_;
    stop_w_ = speed_at(t_);
}

bool Profile::advance(double dt)
{
    t_ += dt;
    if (!stopping_) {
        u_ = at(t_);
        return t_ >= total_;
    }
    const double tau = t_ - stop_t_;
    const double rest = stop_w_ / a_;
    if (tau >= rest) {
        u_ = std::min(length_, stop_u_ + stop_w_ * rest / 2);
        return true;
    }
    u_ = std::min(length_, stop_u_ + stop_w_ * tau - 0.5 * a_ * tau * tau);
    return false;
}

/* ---- joint moves ---------------------------------------------------------------- */

JointSegment::JointSegment(const Joints &target, double speed, double acc, int jog_axis)
    : target_(target), speed_(speed), acc_(acc), jog_axis_(jog_axis)
{
}

ErrorCode JointSegment::begin(const MotionContext &, const Joints &now)
{
    start_ = now;
    double longest = 0;
    for (std::size_t j = 0; j < 6; ++j)
        longest = std::max(longest, std::abs(target_[j] - start_[j]));
    profile_.plan(longest, speed_, acc_);
    return kOk;
}

StepResult JointSegment::step(const MotionContext &, double dt, Joints &q)
{
    const bool done = profile_.advance(dt);
    const double length = profile_.length();
    const double s = length > 0 ? profile_.position() / length : 1.0;
    for (std::size_t j = 0; j < 6; ++j)
        q[j] = start_[j] + (target_[j] - start_[j]) * s;
    if (done && s >= 1.0)
        q = target_;
    return {done ? StepResult::kDone : StepResult::kRunning, kOk};
}

/* ---- Cartesian paths ------------------------------------------------------------- */

ErrorCode track(const Pose &flange, Joints &q)
{
    Joints next;
    const ErrorCode code = follow(flange, q, next);
    if (code != kOk && code != kJointLimit)
        return code;
    for (std::size_t j = 0; j < 6; ++j)
        if (std::abs(next[j] - q[j]) > arm::kMaxSpeed[j] * kCycle * kSpeedSlack)
            return kSingularity;
    q = next; /* at a limit: the arm stops on it */
    return code;
}

bool circle_through(const Eigen::Vector3d &a, const Eigen::Vector3d &b, const Eigen::Vector3d &c,
                    Eigen::Vector3d &center, Eigen::Vector3d &axis, double &sweep)
{
    const Eigen::Vector3d u = b - a, w = c - a;
    const Eigen::Vector3d n = u.cross(w);
    const double scale = u.norm() * w.norm();
    if (scale < 1e-9 || n.norm() < 1e-6 * scale)
        return false;
    center = a + (u.squaredNorm() * w - w.squaredNorm() * u).cross(n) / (2 * n.squaredNorm());
    axis = n.normalized();
    const Eigen::Vector3d from = a - center, to = c - center;
    sweep = std::atan2(from.cross(to).dot(axis), from.dot(to));
    if (sweep <= 0)
        sweep += 2 * kPi;
    return true;
}

CartesianSegment::CartesianSegment(const Pose &target, const CartesianLimits &limits, int jog_axis)
    : target_(target), limits_(limits), jog_axis_(jog_axis)
{
}

CartesianSegment::CartesianSegment(const Pose &target, const Eigen::Vector3d &via,
                                   const CartesianLimits &limits)
    : target_(target), arc_(true), via_(via), limits_(limits)
{
}

ErrorCode CartesianSegment::begin(const MotionContext &ctx, const Joints &now)
{
    const Pose start = ctx.tcp_in_base(now);
    start_p_ = start.translation();
    start_r_ = Eigen::Quaterniond(start.linear());
    end_r_ = Eigen::Quaterniond(target_.linear());
    double length = (target_.translation() - start_p_).norm();
    if (arc_) {
        if (!circle_through(start_p_, via_, target_.translation(), center_, axis_, sweep_))
            return kInvalidArgument;
        length = (start_p_ - center_).norm() * sweep_;
    }
    const double turn = start_r_.angularDistance(end_r_);
    const double t_move = profile_time(length, limits_.speed, limits_.acc);
    const double t_turn = profile_time(turn, limits_.rot_speed, limits_.rot_acc);
    /* The slower of the two sets the pace; the other follows in proportion. */
    if (t_move >= t_turn) {
        profile_.plan(length, limits_.speed, limits_.acc);
        scale_ = length;
    } else {
        profile_.plan(turn, limits_.rot_speed, limits_.rot_acc);
        scale_ = turn;
    }
    return kOk;
}

Pose CartesianSegment::at(double s) const
{
    Pose p = Pose::Identity();
    p.linear() = start_r_.slerp(s, end_r_).toRotationMatrix();
    if (arc_)
        p.translation() = center_ + Eigen::AngleAxisd(s * sweep_, axis_) * (start_p_ - center_);
    else
        p.translation() = start_p_ + s * (target_.translation() - start_p_);
    return p;
}

StepResult CartesianSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    const bool done = profile_.advance(dt);
    const double s = scale_ > 0 ? profile_.position() / scale_ : 1.0;
    const bool at_end = done && s >= 1.0;
    const Pose tcp = at_end ? target_ : at(s);
    const ErrorCode code = track(tcp * ctx.tool.inverse(), q);
    if (code != kOk)
        return {StepResult::kRunning, code};
    return {done ? StepResult::kDone : StepResult::kRunning, kOk};
}

/* ---- continuous jog ---------------------------------------------------------------- */

JogSegment::JogSegment(JogFrame frame, int axis, double velocity)
    : frame_(frame), axis_(axis), direction_(velocity < 0 ? -1.0 : 1.0)
{
    const bool rotation = frame == JogFrame::kJoint || axis >= 3;
    const double limit = frame == JogFrame::kJoint ? arm::kMaxSpeed[static_cast<std::size_t>(axis)]
                         : rotation                ? arm::kMaxAngularSpeed
                                                   : arm::kMaxLinearSpeed;
    speed_ = std::min(std::abs(velocity), limit);
    acc_ = frame == JogFrame::kJoint ? arm::kDefaultJointAcc
           : rotation                ? arm::kOrientationAcc
                                     : arm::kDefaultLinearAcc;
}

ErrorCode JogSegment::begin(const MotionContext &ctx, const Joints &now)
{
    tcp_ = ctx.tcp_in_base(now);
    return kOk;
}

StepResult JogSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    current_ = stopping_ ? std::max(0.0, current_ - acc_ * dt) : std::min(speed_, current_ + acc_ * dt);
    if (stopping_ && current_ <= 0)
        return {StepResult::kDone, kOk};
    const double delta = direction_ * current_ * dt;
    const auto j = static_cast<std::size_t>(axis_);
    if (frame_ == JogFrame::kJoint) {
        const double next = q[j] + delta;
        if (next > arm::kUpperLimit[j] || next < arm::kLowerLimit[j]) {
            q[j] = std::clamp(next, arm::kLowerLimit[j], arm::kUpperLimit[j]);
            return {StepResult::kRunning, kJointLimit};
        }
        q[j] = next;
        return {StepResult::kRunning, kOk};
    }
    Pose next = tcp_;
    const Eigen::Matrix3d frame =
        frame_ == JogFrame::kUser ? Eigen::Matrix3d(ctx.user.linear()) : Eigen::Matrix3d(tcp_.linear());
    const Eigen::Vector3d direction = frame.col(static_cast<Eigen::Index>(axis_ % 3));
    if (axis_ < 3)
        next.translation() += direction * delta;
    else
        next.linear() = Eigen::AngleAxisd(delta, direction).toRotationMatrix() * tcp_.linear();
    const ErrorCode code = track(next * ctx.tool.inverse(), q);
    if (code != kOk)
        return {StepResult::kRunning, code};
    tcp_ = next;
    return {StepResult::kRunning, kOk};
}

/* ---- servo stream ----------------------------------------------------------------- */

ServoSegment::ServoSegment(const Joints &now) : from_(now), command_(now), output_(now), last_(now) {}

ErrorCode ServoSegment::begin(const MotionContext &, const Joints &) { return kOk; }

ErrorCode ServoSegment::add(const Joints &target, int steps)
{
    if (pending_.size() >= kMaxSetPoints)
        return kBusy;
    if (!within_limits(target))
        return kJointLimit;
    for (std::size_t j = 0; j < 6; ++j)
        if (std::abs(target[j] - last_[j]) / steps > arm::kMaxSpeed[j] * kCycle * kSpeedSlack)
            return kSpeedLimit;
    pending_.push_back({target, steps});
    last_ = target;
    return kOk;
}

StepResult ServoSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (!pending_.empty()) {
        const SetPoint &next = pending_.front();
        ++done_steps_;
        const double s = static_cast<double>(done_steps_) / next.steps;
        for (std::size_t j = 0; j < 6; ++j)
            command_[j] = from_[j] + (next.target[j] - from_[j]) * s;
        if (done_steps_ >= next.steps) {
            command_ = from_ = next.target;
            done_steps_ = 0;
            pending_.pop_front();
        }
    }
    if (ctx.servo.filter == ServoFilter::kJointLowPass && ctx.servo.lpf_cutoff > 0) {
        /* First-order low-pass, discretised exactly for the cycle. */
        const double alpha = 1.0 - std::exp(-2 * kPi * ctx.servo.lpf_cutoff * dt);
        double gap = 0;
        for (std::size_t j = 0; j < 6; ++j) {
            output_[j] += alpha * (command_[j] - output_[j]);
            gap = std::max(gap, std::abs(command_[j] - output_[j]));
        }
        if (gap < 1e-12)
            output_ = command_;
    } else {
        output_ = command_;
    }
    q = output_;
    const bool settled = pending_.empty() && output_ == command_;
    return {settled ? StepResult::kHolding : StepResult::kRunning, kOk};
}

} // namespace zsim
