/*
 * The segments the entry points put in a controller's motion queue, the
 * speed profile they move by, and the limits they keep.
 *
 *   JointSegment      synchronised joint move along a straight line in joint space
 *                     (joint_move, joint jogs to a target, continuous joint jogs)
 *   CartesianSegment  straight line, circular arc or ray of the TCP, orientation slerped
 *                     (linear_move, circular_move, Cartesian jogs)
 *
 * (The servo stream's segment is in servo_segment.h.)
 *
 * Every move follows one Profile (profile.h) along its path: speed, acceleration and
 * deceleration in path units, re-planned from where it is when the rapid
 * rate changes, a stop is ordered, the path ahead turns out impossible (a
 * wall), or the move blends into the next one. A sampled profile never shows
 * more than its limits, so neither do the joints or the TCP.
 */
#ifndef ZSIM_SEGMENTS_H
#define ZSIM_SEGMENTS_H

#include "joint_path.h"
#include "profile.h"
#include "segment.h"

#include <limits>
#include <memory>

namespace zsim {

/* A move along a path, by a Profile: what joint and Cartesian moves share
 * (the rapid rate, stops, the blend bookkeeping). */
class PathSegment : public Segment {
public:
    bool request_stop(StopKind kind) override;
    bool pause() override;
    void resume() override;
    int jog_axis() const override { return jog_axis_; }

protected:
    PathSegment(double tol, int jog_axis) : tol_(tol), jog_axis_(jog_axis) {}
    /* The profile's limits at rapid rate `rate`, in path units. */
    virtual Profile::Limits limits(double rate) const = 0;
    /* The deceleration and jerk (path units) of a stop of this kind. */
    virtual double stop_dec(StopKind kind) const = 0;
    virtual double stop_jerk(StopKind kind) const = 0;

    /* Plans from rest over `length` at the context's rapid rate. */
    void plan(const MotionContext &ctx, double length);
    /* A new rapid rate: re-plans (not while blending or stopping). */
    void follow_rate(const MotionContext &ctx);
    /* A blend over `time`: this profile slows from `sa` to rest at its end,
     * while next's (over `next_length` under `next_limits`) speeds up from
     * rest to `sb`; then joins it. False, nothing changed, when either
     * profile cannot do that. */
    bool plan_blend(PathSegment &next, double next_length, const Profile::Limits &next_limits, double sa,
                    double sb, double time);
    /* Whether the arm keeps its limits through a blend planned so: this
     * profile as `own` (its tail `tail_start` seconds from now), next's as
     * `head`. Joint moves keep theirs by construction. */
    virtual bool blend_keeps_limits(const Profile & /* own */, const PathSegment & /* next */,
                                    const Profile & /* head */, double /* tail_start */, double /* time */) const
    {
        return true;
    }
    /* Stops this profile and, blending, the partner's (sharing the stop's
     * deceleration and jerk), at `factor` times the stop's deceleration. */
    void stop_profiles(StopKind kind, double factor);
    /* After a step: true when the arm has come to rest at this segment's end
     * or, stopped during a blend, where both moves' stops brought it (the
     * partner then ends without moving: the arm stays there). */
    bool rested();
    Profile profile_;
    double rate_ = 1;          /* the rapid rate the profile follows */
    double tol_;               /* blend tolerance; 0: stop at the target */
    int jog_axis_;
    PathSegment *partner_ = nullptr; /* the next segment, while this one blends into it */
    bool joined_ = false;      /* this segment was begun by the one before, which steps it */
    bool stopped_with_partner_ = false; /* joined, and stopped by the one before together with it */
    bool absorbed_ = false;    /* its blend was stopped and ended where the two came to rest */
    bool paused_ = false;      /* a program's pause: at rest short of the end, not done */
};

/* Blends try speeds from the moves' cruise speeds (share 1) down by this
 * factor until every limit holds; below the smallest share there is no
 * blend (the arm stops at the corner). */
constexpr double kBlendShrink = 0.8;
constexpr double kSmallestBlendShare = 1e-4;

/* `fits(share)` says whether the blend at that share keeps every limit and was planned. */
template <class Fits>
bool search_blend(Fits &&fits)
{
    for (double share = 1.0; share >= kSmallestBlendShare; share *= kBlendShrink)
        if (fits(share))
            return true;
    return false;
}

/* Joints along a straight line of joint space from where the arm stands to
 * `target`. speed and acc are those of the joint that travels furthest.
 * `end_code` is reported on arrival (a continuous jog that reaches a limit). */
class JointSegment final : public PathSegment {
public:
    JointSegment(const Joints &target, double speed, double acc, double tol = 0, int jog_axis = -1,
                 ErrorCode end_code = kOk);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool blend(Segment &next, const MotionContext &ctx, const Joints &corner) override;

private:
    Profile::Limits limits(double rate) const override;
    double stop_dec(StopKind kind) const override;
    double stop_jerk(StopKind kind) const override;
    Joints at(double u) const;
    double tcp_speed_cap(const MotionContext &ctx) const;

    Joints start_{}, target_;
    double length_ = 0; /* rad travelled by the joint that travels furthest */
    double speed_, acc_;
    double tcp_cap_ = 0; /* rad/s of the path that keeps the TCP and flange within their maximum speed */
    ErrorCode end_code_;
};

/* Limits of a Cartesian move: of the TCP along its path and of the
 * orientation's turn. */
struct CartesianLimits {
    double speed, acc;         /* mm/s, mm/s^2 along the path */
    double rot_speed, rot_acc; /* rad/s, rad/s^2 of the orientation */
};

/* The TCP (base frame) from where the arm is when the segment begins to a
 * target pose along a line or a circular arc, or without end along a ray (a
 * translation along, or a turn about, a fixed axis: continuous Cartesian
 * jogs). Position and orientation start and end together. The path is
 * followed by inverse kinematics when the move begins (a ray ahead of the
 * arm as far as it needs to stop, as it goes): the speed limit the joints
 * set along it (joint_path.h) slows the move where they need it, and where
 * the path cannot be followed (out of reach, a joint limit, a singularity)
 * the arm comes to rest there and reports it. */
class CartesianSegment final : public PathSegment {
public:
    /* A straight line to `target`. */
    CartesianSegment(const Pose &target, const CartesianLimits &limits, double tol = 0, int jog_axis = -1);
    /* A circular arc through `via` to `target`. */
    CartesianSegment(const Pose &target, const Eigen::Vector3d &via, const CartesianLimits &limits,
                     double tol = 0);
    /* A continuous jog: along `axis` (base frame, unit) or, when `turn`,
     * about it through the TCP. */
    static std::unique_ptr<CartesianSegment> ray(const Eigen::Vector3d &axis, bool turn,
                                                 const CartesianLimits &limits, int jog_axis);

    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool blend(Segment &next, const MotionContext &ctx, const Joints &corner) override;
    bool request_stop(StopKind kind) override;
    bool pause() override;

private:
    enum class Shape { kLine, kArc, kRay, kTurn };
    CartesianSegment(Shape shape, const CartesianLimits &limits, double tol, int jog_axis);

    Profile::Limits limits(double rate) const override;
    double stop_dec(StopKind kind) const override;
    double stop_jerk(StopKind kind) const override;
    double path_jerk(double factor) const;
    /* The TCP (base frame) at path parameter u. */
    Pose at(double u) const;
    bool endless() const { return shape_ == Shape::kRay || shape_ == Shape::kTurn; }
    /* A ray: follows the path ahead far enough to stop before its samples
     * end, and plans on to where they now end. */
    void look_ahead(double dt);
    /* Whether the arm keeps every joint's speed and acceleration (at the
     * rapid rate the profiles follow) over the cycles from `first` to `last`
     * after the present one (first 0: the present cycle and the one before
     * it are the arm's own), this move at `own` and, blending, `next` at
     * `theirs`. */
    bool keeps_joint_limits(const Profile &own, const CartesianSegment *next, const Profile *theirs, long first,
                            long last) const;
    bool blend_keeps_limits(const Profile &own, const PathSegment &next, const Profile &head, double tail_start,
                            double time) const override;
    /* After a stop was ordered: its deceleration lowered until the joints
     * keep their limits on the way to rest. */
    void check_stop();

    Shape shape_;
    Pose target_ = Pose::Identity();
    Eigen::Vector3d via_ = Eigen::Vector3d::Zero();
    CartesianLimits limits_;

    Eigen::Vector3d start_p_ = Eigen::Vector3d::Zero();
    Eigen::Quaterniond start_r_ = Eigen::Quaterniond::Identity(), end_r_ = Eigen::Quaterniond::Identity();
    Eigen::Vector3d center_ = Eigen::Vector3d::Zero(), axis_ = Eigen::Vector3d::UnitZ();
    double radius_ = 0, sweep_ = 0;
    double mm_per_u_ = 0, rad_per_u_ = 0; /* of the TCP and of its turn, per path unit */
    double end_u_ = 1;                    /* the path's parameter at its end */

    Pose tool_inverse_ = Pose::Identity(); /* the frames cannot change while the arm moves */
    JointPath path_;                       /* the joints along the path, and their speed limit */
    std::array<Joints, 2> recent_{};       /* the arm's joints in the last cycle and the one before */
    /* A stop ordered since the last step, to check before the arm moves on:
     * its kind, and the profiles as they were before it. */
    bool stop_unchecked_ = false;
    StopKind stop_kind_ = StopKind::kControlled;
    Profile before_stop_, partner_before_stop_;
};

/* A circle through three points: false when they are (nearly) on one line. */
bool circle_through(const Eigen::Vector3d &a, const Eigen::Vector3d &b, const Eigen::Vector3d &c,
                    Eigen::Vector3d &center, Eigen::Vector3d &axis, double &sweep);

/* Follows a flange pose (base frame) by inverse kinematics from q, one cycle
 * on, on the branch and turn q is on: kOk and the new q; kJointLimit with q
 * where a joint reached its limit on the way (standing on it); or, q
 * unchanged, kUnreachable, or kSingularity when a joint would have to move
 * faster than its maximum speed. */
ErrorCode track(const Pose &flange, Joints &q);

} // namespace zsim

#endif /* ZSIM_SEGMENTS_H */
