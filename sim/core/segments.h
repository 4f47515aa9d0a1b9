/*
 * The segments the entry points put in a controller's motion queue.
 *
 *   JointSegment      synchronised trapezoidal joint move (joint_move, joint jogs to a target)
 *   CartesianSegment  straight line or circular arc of the TCP, orientation slerped
 *                     (linear_move, circular_move, Cartesian jogs to a target)
 *   JogSegment        continuous jog of one joint or Cartesian axis until jog_stop
 *   ServoSegment      the servo stream: buffered set-points, each reached over its
 *                     step count, through the selected filter
 */
#ifndef ZSIM_SEGMENTS_H
#define ZSIM_SEGMENTS_H

#include "segment.h"

#include <deque>

namespace zsim {

/* Position along a path of `length` with a trapezoidal speed profile (speed v,
 * acceleration a), which can be told to stop early (decelerating at a). */
class Profile {
public:
    void plan(double length, double v, double a);
    /* Advances by dt; true once at rest at the end (or stopped). */
    bool advance(double dt);
    void stop();
    double position() const { return u_; }
    double length() const { return length_; }
    double duration() const { return total_; }

private:
    double at(double t) const;
    double speed_at(double t) const;

    double length_ = 0, v_ = 0, a_ = 1, ta_ = 0, tc_ = 0, total_ = 0;
    double t_ = 0, u_ = 0;
    bool stopping_ = false;
    double stop_t_ = 0, stop_u_ = 0, stop_w_ = 0;
};

/* The time a trapezoidal profile takes over `length`. */
double profile_time(double length, double v, double a);

class JointSegment : public Segment {
public:
    JointSegment(const Joints &target, double speed, double acc, int jog_axis = -1);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    void request_stop() override { profile_.stop(); }
    int jog_axis() const override { return jog_axis_; }

private:
    Joints start_{}, target_;
    double speed_, acc_;
    int jog_axis_;
    Profile profile_;
};

/* The TCP path in the base frame from where the arm is when the segment
 * begins to `target` (a TCP pose in the base frame). With `via`, the path is
 * the circular arc through it. */
struct CartesianLimits {
    double speed, acc;         /* mm/s, mm/s^2 along the path */
    double rot_speed, rot_acc; /* rad/s, rad/s^2 of the orientation */
};

class CartesianSegment : public Segment {
public:
    CartesianSegment(const Pose &target, const CartesianLimits &limits, int jog_axis = -1);
    CartesianSegment(const Pose &target, const Eigen::Vector3d &via, const CartesianLimits &limits);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    void request_stop() override { profile_.stop(); }
    int jog_axis() const override { return jog_axis_; }

private:
    Pose at(double s) const;

    Pose target_;
    bool arc_ = false;
    Eigen::Vector3d via_ = Eigen::Vector3d::Zero();
    CartesianLimits limits_;
    int jog_axis_ = -1;

    Eigen::Vector3d start_p_ = Eigen::Vector3d::Zero();
    Eigen::Quaterniond start_r_ = Eigen::Quaterniond::Identity(), end_r_ = Eigen::Quaterniond::Identity();
    Eigen::Vector3d center_ = Eigen::Vector3d::Zero(), axis_ = Eigen::Vector3d::UnitZ();
    double sweep_ = 0;         /* arc angle */
    double scale_ = 1;         /* profile position per unit of path parameter */
    Profile profile_;
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

enum class JogFrame { kJoint, kUser, kTool };

class JogSegment : public Segment {
public:
    JogSegment(JogFrame frame, int axis, double velocity);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    void request_stop() override { stopping_ = true; }
    int jog_axis() const override { return axis_; }

private:
    JogFrame frame_;
    int axis_;
    double direction_, speed_, acc_;
    double current_ = 0;
    bool stopping_ = false;
    Pose tcp_ = Pose::Identity(); /* commanded TCP in the base frame */
};

class ServoSegment : public Segment {
public:
    static constexpr std::size_t kMaxSetPoints = 1024;

    explicit ServoSegment(const Joints &now);
    ErrorCode begin(const MotionContext &ctx, const Joints &now) override;
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool follows_rapid_rate() const override { return false; }

    /* Where the last set-point leads (relative set-points add to it). */
    const Joints &last_target() const { return last_; }
    /* kOk, or kBusy when the buffer is full, kJointLimit, kSpeedLimit. */
    ErrorCode add(const Joints &target, int steps);

private:
    struct SetPoint {
        Joints target;
        int steps;
    };
    std::deque<SetPoint> pending_;
    Joints from_{}, command_{}, output_{}, last_{};
    int done_steps_ = 0;
};

} // namespace zsim

#endif /* ZSIM_SEGMENTS_H */
