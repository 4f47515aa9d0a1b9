/*
 * The segments the entry points put in a controller's motion queue, the
 * speed profile they move by, and the limits they keep.
 *
 *   JointSegment      synchronised joint move along a straight line in joint space
 *                     (joint_move, joint jogs to a target, continuous joint jogs)
 *   CartesianSegment  straight line, circular arc or ray of the TCP, orientation slerped
 *                     (linear_move, circular_move, Cartesian jogs)
 *   ServoSegment      the servo stream: the newest set-point supersedes those not begun,
 *                     each reached over its step count, through the selected filter
 *
 * Every move follows one Profile along its path: speed, acceleration and
 * deceleration in path units, re-planned from where it is when the rapid
 * rate changes, a stop is ordered, the path ahead turns out impossible (a
 * wall), or the move blends into the next one. A sampled profile never shows
 * more than its limits, so neither do the joints or the TCP.
 */
#ifndef ZSIM_SEGMENTS_H
#define ZSIM_SEGMENTS_H

#include "segment.h"

#include <array>
#include <limits>
#include <memory>

namespace zsim {

/* Accelerations beyond the defaults of kinematics.h: what moves are capped
 * at, and what the stops decelerate at (docs/virtual-controller.md). */
namespace limits {

constexpr double kPi = 3.14159265358979323846;

constexpr double kMaxJointAcc = 4 * kPi;      /* rad/s^2 (720 deg/s^2): joint moves are capped here */
constexpr double kMaxLinearAcc = 5000.0;      /* mm/s^2: Cartesian moves are capped here */

/* Quick stops (faults, protective stops, disable_robot): twice the maxima. */
constexpr double kQuickJointDec = 8 * kPi;    /* rad/s^2 */
constexpr double kQuickLinearDec = 10000.0;   /* mm/s^2 */
constexpr double kQuickOrientationDec = 4 * kPi; /* rad/s^2 */

/* A servo stream has no acceleration of its own: leaving servo mode brings
 * it to rest at the maximum joint acceleration. */
constexpr double kServoStopDec = kMaxJointAcc;

/* On an arc the centripetal acceleration v^2/r takes at most this share of
 * the commanded acceleration; the tangential one what is left. */
constexpr double kCentripetalShare = 0.8;

} // namespace limits

/* Motion along one coordinate u (a path parameter, 0 to length) as pieces of
 * constant acceleration from a known state. Planned from rest and re-planned
 * from wherever it is; position and speed never jump, so samples taken at any
 * times show no speed or acceleration beyond those of its pieces. */
class Profile {
public:
    struct Limits {
        double speed; /* cruise, > 0 */
        double acc;   /* speeding up, > 0 */
        double dec;   /* slowing down, > 0 */
    };

    /* From rest at 0 to rest at `length`. */
    void plan(double length, const Limits &limits);
    /* From rest at 0: `wait` seconds at rest, then speeding up evenly to
     * `speed` over `time` (a blend's head), then on to rest at `length`.
     * False (and nothing planned) when the limits cannot do that. */
    bool plan_with_head(double length, const Limits &limits, double wait, double speed, double time);
    /* From here to rest at the end under new limits; a speed above the new
     * cruise speed comes down at `transition`. Nothing changes while stopping. */
    void retime(const Limits &limits, double transition);
    /* From here on: reach length - speed * time / 2 at `speed`, then slow down
     * evenly to rest at the end over `time` (a blend's tail). Returns the time
     * until the tail starts, or a negative number (nothing changed) when the
     * limits cannot do that. */
    double end_with_tail(double speed, double time);
    /* Comes to rest at deceleration `dec`, or sooner where the plan already
     * does (the end, an earlier stop). */
    void stop(double dec);
    /* Comes to rest exactly at `at` (from here to the end), at the limits
     * when it can, harder when it must. */
    void stop_at(double at);
    /* From speed `speed` at 0 to rest at deceleration `dec` (a stop of a
     * motion that had no profile: the servo stream). */
    void brake(double speed, double dec);

    void advance(double dt);

    double position() const { return u_; }
    double speed() const { return w_; }
    double length() const { return length_; }
    /* Where the plan comes to rest. */
    double rest() const { return rest_; }
    /* A stop was ordered: it rests short of the end and keeps its plan. */
    bool stopping() const { return stopping_; }
    bool finished() const { return t_ >= total_; }
    const Limits &limits() const { return limits_; }

private:
    struct Piece {
        double duration, acc;
    };
    static constexpr int kMaxPieces = 8;

    /* The present state becomes the start of a new plan without pieces. */
    void rebase();
    void append(double duration, double acc);
    /* Pieces from speed w0 over distance d to speed w1 at the limits (a
     * speed above the cruise speed comes down at first_dec). False when that
     * needs more acceleration or deceleration than allowed: the pieces then
     * take what they need. */
    bool add_trapezoid(double d, double w0, double w1, const Limits &limits, double first_dec);
    /* One piece of constant acceleration from w0 to w1 over d; false when it
     * needs more than the limits. */
    bool add_ramp(double d, double w0, double w1, const Limits &limits);
    void evaluate();

    double u0_ = 0, w0_ = 0; /* where the pieces start */
    std::array<Piece, kMaxPieces> pieces_{};
    int count_ = 0;
    double total_ = 0; /* their duration */
    double t_ = 0;     /* time since they started */
    double u_ = 0, w_ = 0;
    double length_ = 0, rest_ = 0;
    bool stopping_ = false;
    Limits limits_{1, 1, 1};
};

/* A move along a path, by a Profile: what joint and Cartesian moves share
 * (the rapid rate, stops, the blend bookkeeping). */
class PathSegment : public Segment {
public:
    bool request_stop(StopKind kind) override;
    int jog_axis() const override { return jog_axis_; }

protected:
    PathSegment(double tol, int jog_axis) : tol_(tol), jog_axis_(jog_axis) {}
    /* The profile's limits at rapid rate `rate`, in path units. */
    virtual Profile::Limits limits(double rate) const = 0;
    /* The deceleration (path units) of a stop of this kind. */
    virtual double stop_dec(StopKind kind) const = 0;

    /* Plans from rest over `length` at the context's rapid rate. */
    void plan(const MotionContext &ctx, double length);
    /* A new rapid rate: re-plans (not while blending or stopping). */
    void follow_rate(const MotionContext &ctx);
    /* Joins `next` as this segment's blend partner: it begins now, stopping
     * at `head_dec` while joined. */
    void join(PathSegment &next, double head_dec);
    /* This segment has ended: its partner goes on alone. */
    void end_blend();
    Profile profile_;
    double rate_ = 1;          /* the rapid rate the profile follows */
    double tol_;               /* blend tolerance; 0: stop at the target */
    int jog_axis_;
    PathSegment *partner_ = nullptr; /* the next segment, while this one blends into it */
    bool joined_ = false;      /* this segment was begun by the one before, which steps it */
    double head_dec_ = 0;      /* while joined: its stop deceleration (the blend's own rate) */
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
    Joints at(double u) const;

    Joints start_{}, target_;
    double length_ = 0; /* rad travelled by the joint that travels furthest */
    double speed_, acc_;
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

/* The servo stream. The arm works on one set-point at a time, reaching it
 * over its step count by linear interpolation from where the command was when
 * it began; at most one more waits behind it, and a newer set-point
 * supersedes the waiting one (it is dropped, not queued). So a stream faster
 * than the cycle never builds up lag: each cycle the arm begins the newest
 * set-point that has arrived. The command then goes through the filter, and
 * the arm follows it no faster than any joint's maximum speed (all joints
 * slowed together, catching up over the next cycles). */
class ServoSegment final : public Segment {
public:
    explicit ServoSegment(const Joints &now);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    /* Leaving servo mode: the set-point in progress and the waiting one are
     * dropped and the arm comes to rest from its present velocity (joints
     * together, along the direction they move in) at the servo stop
     * deceleration, harder only where a joint limit is nearer. */
    bool request_stop(StopKind kind) override;

    /* Where the last accepted set-point leads (relative set-points add to it). */
    const Joints &last_target() const { return last_; }
    /* kOk (it waits, superseding the one that waited), or kJointLimit,
     * kSpeedLimit (refused: the stream goes on from the previous one). */
    ErrorCode add(const Joints &target, int steps);

private:
    struct SetPoint {
        Joints target;
        int steps = 0;
    };
    SetPoint current_{};              /* in progress when steps > 0 */
    Joints from_{};                   /* the command when it began */
    int done_steps_ = 0;
    SetPoint waiting_{};              /* waits behind it when steps > 0 */
    Joints command_{}, output_{}, previous_{}, last_{};

    /* leaving servo mode */
    bool stopping_ = false;
    Profile brake_;
    Joints brake_from_{}, brake_direction_{};
};

} // namespace zsim

#endif /* ZSIM_SEGMENTS_H */
