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
 * jogs). Position and orientation start and end together. The path ahead is
 * followed by inverse kinematics in advance of the motion, as far as the arm
 * needs to stop: where the path cannot be followed (out of reach, a joint
 * limit, a singularity) the arm comes to rest there and reports it. */
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

private:
    enum class Shape { kLine, kArc, kRay, kTurn };
    CartesianSegment(Shape shape, const CartesianLimits &limits, double tol, int jog_axis);

    Profile::Limits limits(double rate) const override;
    double stop_dec(StopKind kind) const override;
    double stop_jerk(StopKind kind) const override;
    double path_jerk(double factor) const;
    /* The TCP (base frame) at path parameter u. */
    Pose at(double u) const;
    /* Follows the path ahead far enough to stop before where it cannot be
     * followed, and plans that stop once it finds such a place (not while
     * joined: the blend that joined it checked its way). */
    void look_ahead(const MotionContext &ctx, double dt);
    /* Follows the path ahead in cruise steps up to u (or its end); where it
     * cannot be followed it stops there and keeps why (wall_). */
    void scan_to(const MotionContext &ctx, double u);
    /* Moves `scan` on to u by inverse kinematics; kOk or why it cannot. */
    ErrorCode follow(const MotionContext &ctx, double u, Joints &scan) const;

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

    Joints scan_q_{};                     /* the joints where the path was followed ahead to */
    double scanned_ = 0;                  /* ... and how far */
    ErrorCode wall_ = kOk;                /* why it cannot go beyond scanned_, once found */
    Joints limit_q_{};                    /* a joint limit as the wall: the joints standing on it */
    bool walled_ = false;                 /* the profile comes to rest there */
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
