/*
 * Cartesian segments (segments.h): lines, arcs and rays of the TCP, timed
 * against the limits of the TCP, of its orientation and of every joint.
 *
 * A line or an arc is followed by inverse kinematics once, when it begins
 * (joint_path.h): that gives the speed limit the joints set along it and
 * where, if anywhere, it cannot be followed; the profile plans within both.
 * A ray has no end: it is followed ahead of the arm as far as the arm would
 * need to stop, and planned on as it is known further. What the joints do
 * while two moves blend, or while a stop brings both to rest, is the sum of
 * two paths: those plans are checked by following them, cycle by cycle, as
 * the arm will, before the arm takes them.
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

/* A line or arc shorter than this (mm, and turning less than this, rad) goes nowhere. */
constexpr double kNoWayMm = 1e-9;
constexpr double kNoWayRad = 1e-12;

/* A continuous Cartesian jog runs along a path this long (mm or rad) until
 * it is stopped or meets a place it cannot follow. */
constexpr double kRayLength = 1e6;

/* The joints are sampled along a path at least every this many mm of the
 * TCP and rad of its turn, and at least this many times along it. */
constexpr double kSampleMm = 5.0;
constexpr double kSampleRad = 0.05;
constexpr double kFewestSamples = 8;

/* A ray is followed this much further ahead (seconds at its speed) each
 * time the arm comes within its stopping distance of where it is known. */
constexpr double kRayAhead = 0.5;

/* A stop whose plan would take a joint beyond its limits is planned again
 * at this factor of its deceleration, at most this many times. */
constexpr double kStopShrink = 0.7;
constexpr int kStopRetries = 10;

} // namespace

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
    /* already there: a way within the rounding of poses is no path (its
     * joints would be rounding too, and read as a singularity) */
    if (mm_per_u_ <= kNoWayMm && rad_per_u_ <= kNoWayRad) {
        end_u_ = 0;
        mm_per_u_ = rad_per_u_ = 0;
    }
    tool_inverse_ = ctx.tool.inverse();
    recent_ = {now, now};
    stop_unchecked_ = false;
    double length = end_u_;
    if (end_u_ > 0) {
        const Profile::Limits own = limits(1.0);
        double step = std::numeric_limits<double>::infinity();
        if (mm_per_u_ > 0)
            step = kSampleMm / mm_per_u_;
        if (rad_per_u_ > 0)
            step = std::min(step, kSampleRad / rad_per_u_);
        if (!endless())
            step = std::min(step, end_u_ / kFewestSamples);
        path_.begin([this](double u) { return at(u) * tool_inverse_; }, now, end_u_, {own.speed, own.acc, step});
        if (endless())
            path_.extend(own.speed * kRayAhead + jerk::Trajectory::change_way(0, own.speed, own.acc, own.jerk));
        if (endless() || path_.wall() != kOk)
            length = path_.reach();
    }
    profile_.limit_by(&path_.limit(), &path_.detail());
    plan(ctx, length);
    return kOk;
}

/* One path parameter u moves the TCP mm_per_u_ and turns it rad_per_u_, so
 * the profile's limits are the tighter of the TCP's and the orientation's,
 * both kept at once. On an arc the cruise speed also keeps the centripetal
 * acceleration v^2 / r within its share of acc, and the tangential
 * acceleration takes what is left: together never more than acc. The
 * joints' speed limit along the path scales with the rate as these do. */
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
    return {u_speed * rate, u_acc * rate * rate, path_jerk(1.0) * rate * rate * rate, rate, rate * rate};
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

/* A ray is known as far as the arm would need to stop, and then some: the
 * profile rests where it is known, so it is known further before the arm
 * would begin to slow down for that. */
void CartesianSegment::look_ahead(double dt)
{
    if (path_.wall() != kOk || profile_.stopping())
        return;
    const double speed = profile_.limits().speed;
    const double needed = profile_.braked() + 3 * speed * dt;
    if (path_.reach() >= needed)
        return;
    path_.extend(needed + speed * kRayAhead);
    profile_.extend(path_.reach());
}

bool CartesianSegment::keeps_joint_limits(const Profile &own, const CartesianSegment *next, const Profile *theirs,
                                          long first, long last) const
{
    Profile a = own, b = theirs ? *theirs : Profile();
    const bool stopping = own.stopping();
    const double speed_scale = stopping ? 1.0 : rate_;
    const double acc_limit = stopping ? (stop_kind_ == StopKind::kQuick ? arm::kQuickJointDec : arm::kMaxJointAcc)
                                      : arm::kMaxJointAcc * rate_ * rate_;
    const auto pose = [&]() {
        Pose tcp = at(a.position());
        if (theirs) {
            const Pose there = next->at(b.position());
            tcp.translation() += there.translation() - next->start_p_;
            tcp.linear() = (there.linear() * next->start_r_.toRotationMatrix().transpose()) * tcp.linear();
        }
        return tcp * tool_inverse_;
    };
    Joints before, now;
    long k = first;
    if (first <= 0) {
        before = recent_[1];
        now = recent_[0];
        k = 0;
    } else {
        a.advance(static_cast<double>(first - 1) * kCycle);
        b.advance(static_cast<double>(first - 1) * kCycle);
        if (follow(pose(), path_.near(a.position()), before) != kOk)
            return false;
        a.advance(kCycle);
        b.advance(kCycle);
        now = before;
        if (track(pose(), now) != kOk)
            return false;
    }
    for (; k < last; ++k) {
        a.advance(kCycle);
        b.advance(kCycle);
        Joints after = now;
        const ErrorCode code = track(pose(), after);
        if (code != kOk && code != kJointLimit)
            return false;
        for (std::size_t j = 0; j < 6; ++j) {
            const double speed = std::abs(after[j] - now[j]) / kCycle;
            const double acc = std::abs(after[j] - 2 * now[j] + before[j]) / (kCycle * kCycle);
            if (speed > arm::kMaxSpeed[j] * speed_scale * kSpeedSlack || acc > acc_limit)
                return false;
        }
        before = now;
        now = after;
        if (a.finished() && (!theirs || b.finished()) && k > first + 2)
            break;
    }
    return true;
}

bool CartesianSegment::blend_keeps_limits(const Profile &own, const PathSegment &next, const Profile &head,
                                          double tail_start, double time) const
{
    const long first = static_cast<long>(std::floor(tail_start / kCycle)) - 1;
    const long last = static_cast<long>(std::ceil((tail_start + time) / kCycle)) + 2;
    return keeps_joint_limits(own, static_cast<const CartesianSegment *>(&next), &head, std::max(first, 0L), last);
}

bool CartesianSegment::request_stop(StopKind kind)
{
    if (!(joined_ && stopped_with_partner_)) {
        before_stop_ = profile_;
        if (partner_)
            partner_before_stop_ = static_cast<CartesianSegment *>(partner_)->profile_;
        stop_kind_ = kind;
        stop_unchecked_ = true;
    }
    return PathSegment::request_stop(kind);
}

bool CartesianSegment::pause()
{
    if (!paused_ && !profile_.stopping()) {
        before_stop_ = profile_;
        stop_kind_ = StopKind::kControlled;
        stop_unchecked_ = true;
    }
    return PathSegment::pause();
}

/* A stop is planned along each path within its own speed limit; the arm
 * keeps the joints' limits on its way to rest unless two paths add up (a
 * blend) or the bounds between samples fell short. Followed ahead as the arm
 * will follow it, a stop that would not is planned again more gently. */
void CartesianSegment::check_stop()
{
    if (!stop_unchecked_)
        return;
    stop_unchecked_ = false;
    auto *next = static_cast<CartesianSegment *>(partner_);
    const auto rest_cycles = [&] {
        const double left = std::max(profile_.remaining(), next ? next->profile_.remaining() : 0.0);
        return static_cast<long>(std::ceil(left / kCycle)) + 2;
    };
    double factor = 1;
    for (int i = 0; i < kStopRetries; ++i) {
        if (keeps_joint_limits(profile_, next, next ? &next->profile_ : nullptr, 0, rest_cycles()))
            return;
        factor *= kStopShrink;
        profile_ = before_stop_;
        if (paused_) {
            profile_.pause(factor * stop_dec(StopKind::kControlled), stop_jerk(StopKind::kControlled));
            continue;
        }
        if (next)
            next->profile_ = partner_before_stop_;
        stop_profiles(stop_kind_, factor);
    }
}

StepResult CartesianSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (absorbed_)
        return {StepResult::kDone, kOk};
    follow_rate(ctx);
    if (endless())
        look_ahead(dt);
    check_stop();
    profile_.advance(dt);
    const double u = profile_.position();
    if (profile_.finished() && u <= 0 && end_u_ > 0 && !paused_) /* never moved: the arm may not be on this path */
        return {StepResult::kDone, path_.wall()};
    Pose tcp = at(u);
    if (partner_) { /* blending: the next move's way from the corner adds to this one's */
        auto &next = static_cast<CartesianSegment &>(*partner_);
        next.profile_.advance(dt);
        const Pose there = next.at(next.profile_.position());
        tcp.translation() += there.translation() - next.start_p_;
        tcp.linear() = (there.linear() * next.start_r_.toRotationMatrix().transpose()) * tcp.linear();
    }
    const ErrorCode code = track(tcp * ctx.tool.inverse(), q);
    if (code != kOk)
        return {StepResult::kRunning, code};
    recent_ = {q, recent_[0]};
    if (!rested())
        return {StepResult::kRunning, kOk};
    const bool at_wall = path_.wall() != kOk && u >= path_.reach();
    if (at_wall && path_.wall() == kJointLimit)
        q = path_.wall_joints(); /* the rest of the bisection's last interval: at most 1e-12 of the path */
    return {StepResult::kDone, at_wall ? path_.wall() : kOk};
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
 * of the corner. The joints, following the sum of the two, are checked cycle
 * by cycle before the blend is taken. */
bool CartesianSegment::blend(Segment &next, const MotionContext &ctx, const Joints &corner)
{
    auto *b = dynamic_cast<CartesianSegment *>(&next);
    const auto along_path = [](Shape s) { return s == Shape::kLine || s == Shape::kArc; };
    if (tol_ <= 0 || jog_axis_ >= 0 || !b || b->jog_axis_ >= 0 || !along_path(shape_) || !along_path(b->shape_) ||
        partner_ || profile_.stopping() || path_.wall() != kOk || end_u_ <= 0)
        return false;
    follow_rate(ctx);
    if (b->begin(ctx, corner) != kOk || b->end_u_ <= 0)
        return false;
    const double b_length = b->path_.wall() != kOk ? b->path_.reach() : b->end_u_;
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
        if (b->path_.wall() != kOk && b_length < clear)
            return false;
        return plan_blend(*b, b_length, lb, sa, sb, time);
    });
}

} // namespace zsim
