/*
 * The servo stream's filters (servo_filters.h).
 *
 * Each filter comes to rest exactly on a command that stops changing (a
 * window full of one value means that value; the low-pass snaps the last
 * rounding), so that the arm rests on the last set-point, not a rounding
 * away from it.
 */
#include "servo_filters.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* A filtered TCP this close to an unchanged command, at rest, is on it. */
constexpr double kSettledMm = 1e-9;
constexpr double kSettledRad = 1e-12;
/* The low-pass output this close to its input is on it. */
constexpr double kLowPassSettled = 1e-12;

} // namespace

/* ---- moving mean ------------------------------------------------------------------- */

void MovingMean::reset(std::size_t n, const Joints &at)
{
    ring_.assign(std::max<std::size_t>(n, 1), at);
    next_ = 0;
    pushes_ = 0;
    same_ = ring_.size();
    for (std::size_t j = 0; j < 6; ++j)
        sum_[j] = at[j] * static_cast<double>(ring_.size());
}

Joints MovingMean::push(const Joints &sample)
{
    const std::size_t n = ring_.size();
    same_ = sample == ring_[(next_ + n - 1) % n] ? std::min(same_ + 1, n) : 1;
    const Joints old = ring_[next_];
    ring_[next_] = sample;
    next_ = (next_ + 1) % n;
    if (++pushes_ % n == 0) { /* afresh now and then: no rounding builds up */
        sum_ = Joints{};
        for (const Joints &s : ring_)
            for (std::size_t j = 0; j < 6; ++j)
                sum_[j] += s[j];
    } else {
        for (std::size_t j = 0; j < 6; ++j)
            sum_[j] += sample[j] - old[j];
    }
    if (same_ >= n)
        return sample;
    Joints mean;
    for (std::size_t j = 0; j < 6; ++j)
        mean[j] = sum_[j] / static_cast<double>(n);
    return mean;
}

const Joints &MovingMean::sample(std::size_t back) const
{
    const std::size_t n = ring_.size();
    return ring_[(next_ + n - 1 - back % n) % n];
}

/* ---- Cartesian non-linear filter --------------------------------------------------- */

void CartesianFilter::reset(const MotionContext &ctx, const Joints &at, const std::array<double, 6> &limits)
{
    /* per axis, so that the length of each vector keeps the limit in any direction */
    const double root3 = std::sqrt(3.0);
    position_ = {limits[0] / root3, limits[1] / root3, limits[2] / root3};
    rotation_ = {limits[3] / root3, limits[4] / root3, limits[5] / root3};
    const Pose tcp = ctx.tcp_in_base(at);
    for (std::size_t i = 0; i < 3; ++i) {
        axes_[i].reset(tcp.translation()[static_cast<Eigen::Index>(i)]);
        axes_[3 + i].reset(0);
    }
    orientation_ = tcp.linear();
    joints_ = at;
    last_command_ = at;
}

ErrorCode CartesianFilter::step(const MotionContext &ctx, const Joints &command, double dt, Joints &out)
{
    const Pose target = ctx.tcp_in_base(command);
    /* the turn from the filtered orientation to the command's, base frame */
    const Eigen::AngleAxisd error(Eigen::Matrix3d(target.linear() * orientation_.transpose()));
    const Eigen::Vector3d turn = error.angle() * error.axis();
    Eigen::Vector3d turned, step;
    bool resting = command == last_command_ && turn.norm() <= kSettledRad;
    last_command_ = command;
    for (Eigen::Index i = 0; i < 3; ++i) {
        const std::size_t k = static_cast<std::size_t>(i);
        axes_[k].step(target.translation()[i], position_, dt, false);
        turned[i] = axes_[3 + k].state().p;
        axes_[3 + k].step(turned[i] + turn[i], rotation_, dt, false);
        step[i] = axes_[3 + k].state().p - turned[i];
        for (const Tracker *axis : {&axes_[k], &axes_[3 + k]})
            resting = resting && axis->state().v == 0 && axis->state().a == 0;
        resting = resting && std::abs(axes_[k].state().p - target.translation()[i]) <= kSettledMm;
    }
    if (resting) { /* on the command, but for the rounding of the turns */
        for (std::size_t k = 0; k < 3; ++k)
            axes_[k].reset(target.translation()[static_cast<Eigen::Index>(k)]);
        orientation_ = target.linear();
        joints_ = command;
        out = command;
        return kOk;
    }
    const double angle = step.norm();
    if (angle > 0) {
        orientation_ = Eigen::AngleAxisd(angle, step / angle).toRotationMatrix() * orientation_;
        const Eigen::Quaterniond unit(orientation_); /* keep it a rotation */
        orientation_ = unit.normalized().toRotationMatrix();
    }
    Pose filtered = Pose::Identity();
    filtered.linear() = orientation_;
    for (Eigen::Index i = 0; i < 3; ++i)
        filtered.translation()[i] = axes_[static_cast<std::size_t>(i)].state().p;
    Joints q;
    const ErrorCode code = follow(filtered * ctx.tool.inverse(), joints_, q);
    if (code != kOk && code != kJointLimit)
        return code;
    joints_ = q; /* past a limit: where the joint reaches it */
    out = q;
    return kOk;
}

/* ---- the chain ----------------------------------------------------------------------- */

ServoFilters::ServoFilters(const MotionContext &ctx, const Joints &at) : kind_(ctx.servo.filter), lpf_(at)
{
    const ServoSettings &s = ctx.servo;
    ahead_gain_ = std::min(1.0, std::max(0.0, s.foresight_kp));
    if (ahead_gain_ > 0 && s.foresight_buffer > 0) {
        ahead_ = static_cast<std::size_t>(std::min(s.foresight_buffer, servo::kMaxBuffer));
        ahead_window_.reset(2 * ahead_ + 1, at);
    }
    if (kind_ == ServoFilter::kJointMultiOrder) {
        weights_ = s.mmf;
        for (std::size_t i = 0; i < 3; ++i)
            if (weights_[i] > 0)
                orders_ = i + 1;
        const int n = std::max(1, std::min(s.mmf_buffer, servo::kMaxBuffer));
        for (std::size_t i = 0; i < orders_; ++i)
            means_[i].reset(static_cast<std::size_t>(n), at);
    } else if (kind_ == ServoFilter::kCartesianNonLinear) {
        cartesian_.reset(ctx, at, s.carte_nlf);
    }
}

ErrorCode ServoFilters::step(const MotionContext &ctx, const Joints &command, double dt, Joints &out)
{
    Joints c = command;
    if (ahead_ > 0) {
        /* the command ahead_ cycles ago, moved toward the mean of the ahead_
         * cycles on either side of it */
        const Joints mean = ahead_window_.push(command);
        const Joints &delayed = ahead_window_.sample(ahead_);
        for (std::size_t j = 0; j < 6; ++j)
            c[j] = mean[j] == delayed[j] ? mean[j] : delayed[j] + ahead_gain_ * (mean[j] - delayed[j]);
    }
    switch (kind_) {
    case ServoFilter::kJointLowPass: {
        /* first order, discretised exactly for the cycle */
        const double share = 1.0 - std::exp(-2 * kPi * ctx.servo.lpf_cutoff * dt);
        double gap = 0;
        for (std::size_t j = 0; j < 6; ++j) {
            lpf_[j] += share * (c[j] - lpf_[j]);
            gap = std::max(gap, std::abs(c[j] - lpf_[j]));
        }
        if (gap < kLowPassSettled)
            lpf_ = c;
        out = lpf_;
        return kOk;
    }
    case ServoFilter::kJointMultiOrder: {
        if (orders_ == 0) {
            out = c;
            return kOk;
        }
        std::array<Joints, 3> stage;
        Joints in = c;
        double total = 0;
        bool same = true;
        for (std::size_t i = 0; i < orders_; ++i) {
            stage[i] = in = means_[i].push(in);
            total += weights_[i];
            same = same && stage[i] == stage[0];
        }
        if (same) {
            out = stage[0];
            return kOk;
        }
        for (std::size_t j = 0; j < 6; ++j) {
            double sum = 0;
            for (std::size_t i = 0; i < orders_; ++i)
                sum += weights_[i] * stage[i][j];
            out[j] = sum / total;
        }
        return kOk;
    }
    case ServoFilter::kCartesianNonLinear:
        return cartesian_.step(ctx, c, dt, out);
    case ServoFilter::kNone:
    case ServoFilter::kJointNonLinear:
        break;
    }
    out = c;
    return kOk;
}

} // namespace zsim
