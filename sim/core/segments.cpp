/*
 * Joint and Cartesian segments, and how they stop and blend.
 */
#include "segments.h"

#include "cycle.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* A joint move's TCP and flange speeds are sampled at this many points of
 * its path; the largest chord per rad, times the margin, bounds the speed
 * between samples (a chord of an arc a sixty-fourth of its turn long is
 * within 0.01% of it). */
constexpr int kTcpSamples = 64;
constexpr double kTcpSampleMargin = 1.01;

} // namespace

/* ---- paths ---------------------------------------------------------------------- */

void PathSegment::plan(const MotionContext &ctx, double length)
{
    rate_ = ctx.rapid_rate;
    profile_.plan(length, limits(rate_));
}

void PathSegment::follow_rate(const MotionContext &ctx)
{
    if (ctx.rapid_rate == rate_ || partner_ || joined_)
        return; /* a blend keeps its plan; the new rate applies once it is over */
    const Profile::Limits transition = limits(std::max(rate_, ctx.rapid_rate));
    rate_ = ctx.rapid_rate;
    profile_.retime(limits(rate_), transition);
}

bool PathSegment::plan_blend(PathSegment &next, double next_length, const Profile::Limits &next_limits, double sa,
                             double sb, double time)
{
    Profile own = profile_, head = next.profile_; /* head: next's profile keeps its speed limit */
    const double tail_start = own.end_with_tail(sa, time);
    if (tail_start < 0 || !head.plan_with_head(next_length, next_limits, tail_start, sb, time) ||
        !blend_keeps_limits(own, next, head, tail_start, time))
        return false;
    profile_ = own;
    next.profile_ = head;
    partner_ = &next;
    next.joined_ = true;
    return true;
}

bool PathSegment::pause()
{
    if (!paused_ && !profile_.stopping()) {
        paused_ = true;
        profile_.pause(stop_dec(StopKind::kControlled), stop_jerk(StopKind::kControlled));
    }
    return profile_.finished();
}

void PathSegment::resume()
{
    if (!paused_)
        return;
    paused_ = false;
    profile_.resume(limits(rate_));
}

bool PathSegment::rested()
{
    if (paused_ || !profile_.finished())
        return false;
    if (partner_ && profile_.stopping()) {
        if (!partner_->profile_.finished())
            return false; /* the blend's two stops end together */
        partner_->absorbed_ = true;
    }
    if (partner_)
        partner_->joined_ = false;
    partner_ = nullptr;
    return true;
}

/* A stop during a blend stops both moves, each along its own path, from
 * where each is: the arm (the sum of the two) keeps the stop's deceleration
 * because the two share it, each in proportion to the time it needs to stop
 * at the full rate, so that both come to rest together. */
bool PathSegment::request_stop(StopKind kind)
{
    paused_ = false; /* a stop supersedes a pause: it rests no further than the pause would */
    if (joined_ && stopped_with_partner_)
        return profile_.finished(); /* the move before it stopped both */
    stop_profiles(kind, 1.0);
    return profile_.finished() && (!partner_ || partner_->profile_.finished());
}

void PathSegment::stop_profiles(StopKind kind, double factor)
{
    const bool quick = kind == StopKind::kQuick;
    if (!partner_) {
        profile_.stop(factor * stop_dec(kind), stop_jerk(kind), quick);
        return;
    }
    const auto need = [kind](const PathSegment &s) {
        return std::abs(s.profile_.speed()) / s.stop_dec(kind) + std::abs(s.profile_.acceleration()) / s.stop_jerk(kind);
    };
    const double mine = need(*this), theirs = need(*partner_);
    const double share = mine + theirs > 0 ? std::clamp(mine / (mine + theirs), 1e-6, 1 - 1e-6) : 0.5;
    profile_.stop(factor * share * stop_dec(kind), share * stop_jerk(kind), quick);
    partner_->profile_.stop(factor * (1 - share) * partner_->stop_dec(kind), (1 - share) * partner_->stop_jerk(kind),
                            quick);
    partner_->stopped_with_partner_ = true;
}

/* ---- joint moves ---------------------------------------------------------------- */

JointSegment::JointSegment(const Joints &target, double speed, double acc, double tol, int jog_axis,
                           ErrorCode end_code)
    : PathSegment(tol, jog_axis), target_(target), speed_(speed), acc_(acc), end_code_(end_code)
{
}

Profile::Limits JointSegment::limits(double rate) const
{
    return {std::min(speed_ * rate, tcp_cap_), acc_ * rate * rate, arm::kJointJerk * rate * rate * rate};
}

/* How fast the path may be followed so that neither the TCP nor the flange
 * passes the TCP speed maximum: their speed is the path speed times how far
 * they move per rad of the path, which kinematics samples along it. */
double JointSegment::tcp_speed_cap(const MotionContext &ctx) const
{
    double most = 0; /* mm per rad of the path, the larger of TCP and flange */
    Eigen::Vector3d tcp = ctx.tcp_in_base(start_).translation(), flange = forward(start_).translation();
    for (int i = 1; i <= kTcpSamples; ++i) {
        const Joints q = at(length_ * i / kTcpSamples);
        const Eigen::Vector3d t = ctx.tcp_in_base(q).translation(), f = forward(q).translation();
        most = std::max({most, (t - tcp).norm(), (f - flange).norm()});
        tcp = t;
        flange = f;
    }
    most *= kTcpSamples / length_ * kTcpSampleMargin;
    return most > 0 ? arm::kMaxLinearSpeed / most : std::numeric_limits<double>::infinity();
}

double JointSegment::stop_dec(StopKind kind) const
{
    return kind == StopKind::kQuick ? arm::kQuickJointDec : std::max(acc_, arm::kDefaultJointAcc);
}

double JointSegment::stop_jerk(StopKind kind) const
{
    return kind == StopKind::kQuick ? arm::kQuickJerkFactor * arm::kJointJerk : arm::kJointJerk;
}

ErrorCode JointSegment::begin(const MotionContext &ctx, const Joints &now)
{
    start_ = now;
    length_ = 0;
    for (std::size_t j = 0; j < 6; ++j)
        length_ = std::max(length_, std::abs(target_[j] - start_[j]));
    tcp_cap_ = length_ > 0 ? tcp_speed_cap(ctx) : std::numeric_limits<double>::infinity();
    plan(ctx, length_);
    return kOk;
}

Joints JointSegment::at(double u) const
{
    if (u >= length_)
        return target_;
    Joints q;
    const double s = u / length_;
    for (std::size_t j = 0; j < 6; ++j)
        q[j] = start_[j] + (target_[j] - start_[j]) * s;
    return q;
}

StepResult JointSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (absorbed_)
        return {StepResult::kDone, kOk};
    follow_rate(ctx);
    profile_.advance(dt);
    const double u = profile_.position();
    if (profile_.finished() && u <= 0 && length_ > 0 && !paused_)
        return {StepResult::kDone, kOk}; /* stopped before it moved: the arm may not be on this path */
    Joints here = at(u);
    if (partner_) { /* blending: the next move's way from the corner adds to this one's */
        auto &next = static_cast<JointSegment &>(*partner_);
        next.profile_.advance(dt);
        const Joints there = next.at(next.profile_.position());
        for (std::size_t j = 0; j < 6; ++j)
            here[j] += there[j] - next.start_[j];
    }
    q = here;
    if (!rested())
        return {StepResult::kRunning, kOk};
    return {StepResult::kDone, u >= length_ ? end_code_ : kOk};
}

/* The blend of two joint moves: this one's end and the next one's start run
 * at once, this one slowing from speed sa to rest and the next one speeding
 * up from rest to sb over the same time T, both by the same ramp
 * (jerk_limited.h). Each joint's speed is then at most the larger of the two
 * moves', its acceleration at most 4 (|ea| sa + |eb| sb) / (3 T) and its
 * jerk 16 (|ea| sa + |eb| sb) / (3 T^2), where ea, eb are the moves'
 * directions per rad of their longest joint; the arm leaves this path
 * sa T / 2 before the corner and joins the next sb T / 2 after it (in rad of
 * the longest joint). */
bool JointSegment::blend(Segment &next, const MotionContext &ctx, const Joints &corner)
{
    auto *b = dynamic_cast<JointSegment *>(&next);
    if (tol_ <= 0 || jog_axis_ >= 0 || !b || b->jog_axis_ >= 0 || partner_ || profile_.stopping() ||
        length_ <= 0)
        return false;
    follow_rate(ctx);
    if (b->begin(ctx, corner) != kOk || b->length_ <= 0)
        return false;
    const Profile::Limits la = limits(rate_), lb = b->limits(rate_);
    const double acc = std::min(la.acc, lb.acc), jerk = std::min(la.jerk, lb.jerk);
    return search_blend([&](double share) {
        const double sa = share * la.speed, sb = share * lb.speed;
        double change = 0; /* the largest change of a joint's speed */
        for (std::size_t j = 0; j < 6; ++j) {
            const double ea = std::abs(target_[j] - start_[j]) / length_;
            const double eb = std::abs(b->target_[j] - b->start_[j]) / b->length_;
            change = std::max(change, ea * sa + eb * sb);
        }
        const double time = std::max(4 * change / (3 * acc), std::sqrt(16 * change / (3 * jerk)));
        const double leave = sa * time / 2, enter = sb * time / 2;
        if (leave > tol_ || enter > tol_)
            return false;
        for (std::size_t j = 0; j < 6; ++j) { /* the blend stays inside the joint limits */
            const double reach = std::abs(target_[j] - start_[j]) / length_ * leave +
                                 std::abs(b->target_[j] - b->start_[j]) / b->length_ * enter;
            if (corner[j] - reach < arm::kLowerLimit[j] || corner[j] + reach > arm::kUpperLimit[j])
                return false;
        }
        return plan_blend(*b, b->length_, lb, sa, sb, time);
    });
}

} // namespace zsim
