/*
 * Joint and Cartesian segments, and how they stop and blend.
 */
#include "segments.h"

#include "cycle.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* A joint may move this much more than its maximum speed in one cycle before a
 * Cartesian path counts as singular (rounding, not a real excess). */
constexpr double kSpeedSlack = 1.0 + 1e-6;

/* A continuous Cartesian jog runs along a path this long (mm or rad) until
 * it is stopped or meets a place it cannot follow. */
constexpr double kRayLength = 1e6;

/* A joint move's TCP and flange speeds are sampled at this many points of
 * its path; the largest chord per rad, times the margin, bounds the speed
 * between samples (a chord of an arc a sixty-fourth of its turn long is
 * within 0.01% of it). */
constexpr int kTcpSamples = 64;
constexpr double kTcpSampleMargin = 1.01;

/* Blends: the blend speeds start at the moves' cruise speeds and shrink by
 * this factor until every limit holds; below the smallest share there is no
 * blend (the arm stops at the corner). */
constexpr double kBlendShrink = 0.8;
constexpr double kSmallestBlendShare = 1e-4;

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
    Profile own = profile_, head;
    const double tail_start = own.end_with_tail(sa, time);
    if (tail_start < 0 || !head.plan_with_head(next_length, next_limits, tail_start, sb, time))
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
    if (!partner_) {
        profile_.stop(stop_dec(kind), stop_jerk(kind));
        return profile_.finished();
    }
    const auto need = [kind](const PathSegment &s) {
        return std::abs(s.profile_.speed()) / s.stop_dec(kind) + std::abs(s.profile_.acceleration()) / s.stop_jerk(kind);
    };
    const double mine = need(*this), theirs = need(*partner_);
    const double share = mine + theirs > 0 ? std::clamp(mine / (mine + theirs), 1e-6, 1 - 1e-6) : 0.5;
    profile_.stop(share * stop_dec(kind), share * stop_jerk(kind));
    partner_->profile_.stop((1 - share) * partner_->stop_dec(kind), (1 - share) * partner_->stop_jerk(kind));
    partner_->stopped_with_partner_ = true;
    return profile_.finished() && partner_->profile_.finished();
}

/* Tries blend speeds from the cruise speeds (share 1) down: `fits(share)`
 * says whether the blend at that share keeps every limit and was planned. */
template <class Fits>
bool search_blend(Fits &&fits)
{
    for (double share = 1.0; share >= kSmallestBlendShare; share *= kBlendShrink)
        if (fits(share))
            return true;
    return false;
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

/* ---- Cartesian moves -------------------------------------------------------------- */

CartesianSegment::CartesianSegment(Shape shape, const CartesianLimits &limits, double tol, int jog_axis)
    : PathSegment(tol, jog_axis), shape_(shape), limits_(limits)
{
}

CartesianSegment::CartesianSegment(const Pose &target, const CartesianLimits &limits, double tol, int jog_axis)
    : CartesianSegment(Shape::kLine, limits, tol, jog_axis)
{
    target_ = target;
}

CartesianSegment::CartesianSegment(const Pose &target, const Eigen::Vector3d &via, const CartesianLimits &limits,
                                   double tol)
    : CartesianSegment(Shape::kArc, limits, tol, -1)
{
    target_ = target;
    via_ = via;
}

std::unique_ptr<CartesianSegment> CartesianSegment::ray(const Eigen::Vector3d &axis, bool turn,
                                                        const CartesianLimits &limits, int jog_axis)
{
    std::unique_ptr<CartesianSegment> s(new CartesianSegment(turn ? Shape::kTurn : Shape::kRay, limits, 0, jog_axis));
    s->axis_ = axis.normalized();
    return s;
}

ErrorCode CartesianSegment::begin(const MotionContext &ctx, const Joints &now)
{
    const Pose start = ctx.tcp_in_base(now);
    start_p_ = start.translation();
    start_r_ = Eigen::Quaterniond(start.linear());
    end_r_ = shape_ == Shape::kLine || shape_ == Shape::kArc ? Eigen::Quaterniond(target_.linear()) : start_r_;
    scan_q_ = now;
    scanned_ = 0;
    wall_ = kOk;
    walled_ = false;
    end_u_ = 1;
    switch (shape_) {
    case Shape::kLine:
        mm_per_u_ = (target_.translation() - start_p_).norm();
        break;
    case Shape::kArc:
        if (!circle_through(start_p_, via_, target_.translation(), center_, axis_, sweep_))
            return kInvalidArgument;
        radius_ = (start_p_ - center_).norm();
        mm_per_u_ = radius_ * sweep_;
        break;
    case Shape::kRay:
        mm_per_u_ = 1;
        end_u_ = kRayLength;
        break;
    case Shape::kTurn:
        rad_per_u_ = 1;
        end_u_ = kRayLength;
        break;
    }
    if (shape_ == Shape::kLine || shape_ == Shape::kArc)
        rad_per_u_ = start_r_.angularDistance(end_r_);
    if (mm_per_u_ <= 0 && rad_per_u_ <= 0)
        end_u_ = 0; /* already there */
    plan(ctx, end_u_);
    return kOk;
}

/* One path parameter u moves the TCP mm_per_u_ and turns it rad_per_u_, so
 * the profile's limits are the tighter of the TCP's and the orientation's,
 * both kept at once. On an arc the cruise speed also keeps the centripetal
 * acceleration v^2 / r within its share of acc, and the tangential
 * acceleration takes what is left: together never more than acc. */
Profile::Limits CartesianSegment::limits(double rate) const
{
    double speed = limits_.speed, acc = limits_.acc;
    if (shape_ == Shape::kArc && radius_ > 0) {
        speed = std::min(speed, std::sqrt(arm::kCentripetalShare * acc * radius_));
        const double centripetal = speed * speed / radius_;
        acc = std::sqrt(acc * acc - centripetal * centripetal);
    }
    double u_speed = std::numeric_limits<double>::infinity(), u_acc = u_speed;
    if (mm_per_u_ > 0) {
        u_speed = speed / mm_per_u_;
        u_acc = acc / mm_per_u_;
    }
    if (rad_per_u_ > 0) {
        u_speed = std::min(u_speed, limits_.rot_speed / rad_per_u_);
        u_acc = std::min(u_acc, limits_.rot_acc / rad_per_u_);
    }
    if (!std::isfinite(u_speed))
        return {1, 1, 1}; /* no path */
    return {u_speed * rate, u_acc * rate * rate, path_jerk(1.0) * rate * rate * rate};
}

/* The jerk along the path (path units) that keeps the TCP's and the
 * orientation's jerks within theirs times `factor`. */
double CartesianSegment::path_jerk(double factor) const
{
    double jerk = std::numeric_limits<double>::infinity();
    if (mm_per_u_ > 0)
        jerk = factor * arm::kLinearJerk / mm_per_u_;
    if (rad_per_u_ > 0)
        jerk = std::min(jerk, factor * arm::kOrientationJerk / rad_per_u_);
    return std::isfinite(jerk) ? jerk : 1.0;
}

double CartesianSegment::stop_jerk(StopKind kind) const
{
    return path_jerk(kind == StopKind::kQuick ? arm::kQuickJerkFactor : 1.0);
}

double CartesianSegment::stop_dec(StopKind kind) const
{
    const bool quick = kind == StopKind::kQuick;
    double acc = quick ? arm::kQuickLinearDec : std::max(limits_.acc, arm::kDefaultLinearAcc);
    const double turn = quick ? arm::kQuickOrientationDec : std::max(limits_.rot_acc, arm::kOrientationAcc);
    if (shape_ == Shape::kArc && radius_ > 0) {
        const double speed = std::min(limits_.speed, std::sqrt(arm::kCentripetalShare * limits_.acc * radius_));
        const double centripetal = speed * speed / radius_;
        acc = std::sqrt(acc * acc - centripetal * centripetal);
    }
    double dec = std::numeric_limits<double>::infinity();
    if (mm_per_u_ > 0)
        dec = acc / mm_per_u_;
    if (rad_per_u_ > 0)
        dec = std::min(dec, turn / rad_per_u_);
    return std::isfinite(dec) ? dec : 1.0;
}

Pose CartesianSegment::at(double u) const
{
    Pose p = Pose::Identity();
    switch (shape_) {
    case Shape::kLine:
        if (u >= end_u_)
            return target_;
        p.linear() = start_r_.slerp(u, end_r_).toRotationMatrix();
        p.translation() = start_p_ + u * (target_.translation() - start_p_);
        break;
    case Shape::kArc:
        if (u >= end_u_)
            return target_;
        p.linear() = start_r_.slerp(u, end_r_).toRotationMatrix();
        p.translation() = center_ + Eigen::AngleAxisd(u * sweep_, axis_) * (start_p_ - center_);
        break;
    case Shape::kRay:
        p.linear() = start_r_.toRotationMatrix();
        p.translation() = start_p_ + u * axis_;
        break;
    case Shape::kTurn:
        p.linear() = Eigen::AngleAxisd(u, axis_).toRotationMatrix() * start_r_.toRotationMatrix();
        p.translation() = start_p_;
        break;
    }
    return p;
}

ErrorCode CartesianSegment::follow(const MotionContext &ctx, double u, Joints &scan) const
{
    return track(at(u) * ctx.tool.inverse(), scan);
}

/* The path is followed ahead of the arm, one cruise step at a time (the same
 * steps the arm takes at full pace, so the same speed checks), as far as the
 * arm would need to come to rest after its next cycle. Where it cannot be
 * followed, the boundary is found by bisection and the profile comes to rest
 * there: the margin makes that possible at the move's own deceleration. */
void CartesianSegment::look_ahead(const MotionContext &ctx, double dt)
{
    if (wall_ == kOk) {
        Profile next = profile_;
        next.advance(dt);
        scan_to(ctx, next.braked() + profile_.limits().speed * dt);
    }
    if (wall_ != kOk && !walled_ && !joined_ && !paused_) {
        profile_.stop_at(scanned_);
        walled_ = true;
    }
}

void CartesianSegment::scan_to(const MotionContext &ctx, double until)
{
    const double step = profile_.limits().speed * kCycle;
    if (!(step > 0))
        return;
    until = std::min(until, end_u_);
    while (wall_ == kOk && scanned_ < until) {
        const double u = std::min(scanned_ + step, end_u_);
        Joints q = scan_q_;
        const ErrorCode code = follow(ctx, u, q);
        if (code == kOk) {
            scan_q_ = q;
            scanned_ = u;
            continue;
        }
        double good = scanned_, bad = u;
        Joints at_good = scan_q_;
        for (int i = 0; i < 60 && bad - good > 1e-12 * std::max(1.0, end_u_); ++i) {
            const double middle = 0.5 * (good + bad);
            Joints trial = at_good;
            if (follow(ctx, middle, trial) == kOk) {
                good = middle;
                at_good = trial;
            } else {
                bad = middle;
            }
        }
        wall_ = code;
        scanned_ = good;
        scan_q_ = at_good;
        limit_q_ = at_good; /* where the path meets the limit, the joint exactly on it */
        if (code == kJointLimit)
            follow(ctx, bad, limit_q_);
    }
}

StepResult CartesianSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (absorbed_)
        return {StepResult::kDone, kOk};
    follow_rate(ctx);
    look_ahead(ctx, dt);
    profile_.advance(dt);
    const double u = profile_.position();
    if (profile_.finished() && u <= 0 && end_u_ > 0 && !paused_) /* never moved: the arm may not be on this path */
        return {StepResult::kDone, wall_};
    Pose tcp = at(u);
    if (partner_) { /* blending: the next move's way from the corner adds to this one's */
        auto &next = static_cast<CartesianSegment &>(*partner_);
        next.look_ahead(ctx, dt);
        next.profile_.advance(dt);
        const Pose there = next.at(next.profile_.position());
        tcp.translation() += there.translation() - next.start_p_;
        tcp.linear() = (there.linear() * next.start_r_.toRotationMatrix().transpose()) * tcp.linear();
    }
    const ErrorCode code = track(tcp * ctx.tool.inverse(), q);
    if (code != kOk)
        return {StepResult::kRunning, code};
    if (!rested())
        return {StepResult::kRunning, kOk};
    const bool at_wall = wall_ != kOk && u >= scanned_;
    if (at_wall && wall_ == kJointLimit)
        q = limit_q_; /* the rest of the bisection's last interval: at most 1e-12 of the path */
    return {StepResult::kDone, at_wall ? wall_ : kOk};
}

/* The blend of two Cartesian moves, as for joint moves but in the TCP's
 * space: this move's end and the next one's start run at once over time T,
 * this one slowing from TCP speed va to rest, the next speeding up from rest
 * to vb (their turns likewise, wa and wb), both by the same ramp. The TCP's
 * speed is then at most the larger of the two, its acceleration at most
 * 4 (va + vb) / (3 T) plus the centripetal accelerations of arcs, its jerk
 * along the paths 16 (va + vb) / (3 T^2), and the orientation's acceleration
 * at most 4 (wa + wb) / (3 T) + wa wb / 4 (the two turns about different axes).
 * The arm leaves this path va T / 2 before the corner and joins the next
 * vb T / 2 after it; every point between lies within the larger of the two
 * of the corner. */
bool CartesianSegment::blend(Segment &next, const MotionContext &ctx, const Joints &corner)
{
    auto *b = dynamic_cast<CartesianSegment *>(&next);
    const auto along_path = [](Shape s) { return s == Shape::kLine || s == Shape::kArc; };
    if (tol_ <= 0 || jog_axis_ >= 0 || !b || b->jog_axis_ >= 0 || !along_path(shape_) || !along_path(b->shape_) ||
        partner_ || profile_.stopping() || wall_ != kOk || end_u_ <= 0)
        return false;
    follow_rate(ctx);
    scan_to(ctx, end_u_); /* this path must be clear to its corner */
    if (wall_ != kOk || b->begin(ctx, corner) != kOk || b->end_u_ <= 0)
        return false;
    const Profile::Limits la = limits(rate_), lb = b->limits(rate_);
    const double r2 = rate_ * rate_;
    const double acc = std::min(limits_.acc, b->limits_.acc) * r2;
    const double turn_acc = std::min(limits_.rot_acc, b->limits_.rot_acc) * r2;
    const auto centripetal = [](const CartesianSegment &s, double v) {
        return s.shape_ == Shape::kArc && s.radius_ > 0 ? v * v / s.radius_ : 0.0;
    };
    return search_blend([&](double share) {
        const double sa = share * la.speed, sb = share * lb.speed;
        const double va = sa * mm_per_u_, vb = sb * b->mm_per_u_;
        const double wa = sa * rad_per_u_, wb = sb * b->rad_per_u_;
        const double spare = acc - centripetal(*this, va) - centripetal(*b, vb);
        const double turn_spare = turn_acc - wa * wb / 4;
        if (spare <= 0 || turn_spare <= 0)
            return false;
        const double r3 = r2 * rate_;
        const double time = std::max({4 * (va + vb) / (3 * spare), 4 * (wa + wb) / (3 * turn_spare),
                                      std::sqrt(16 * (va + vb) / (3 * arm::kLinearJerk * r3)),
                                      std::sqrt(16 * (wa + wb) / (3 * arm::kOrientationJerk * r3))});
        if (!(time > 0) || va * time / 2 > tol_ || vb * time / 2 > tol_)
            return false;
        /* ... and the next one clear as far as it goes joined, and then stops */
        const double stopping =
            jerk::Trajectory::to_velocity({0, sb, 0}, 0, {lb.speed, lb.acc, lb.jerk}).end().p;
        const double clear = sb * time / 2 + stopping + lb.speed * kCycle;
        b->scan_to(ctx, clear);
        if (b->wall_ != kOk && b->scanned_ < clear)
            return false;
        return plan_blend(*b, b->end_u_, lb, sa, sb, time);
    });
}

} // namespace zsim
