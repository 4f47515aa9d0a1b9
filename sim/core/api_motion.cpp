/*
 * Moves and jogs, and the rapid rate that scales them.
 *
 * Every move is queued behind the ones already queued; a relative move is
 * relative to where the queue leaves the arm. A blocking move returns when its
 * motion ends (kOk) or is ended (the error, or kAborted); a non-blocking one
 * returns kOk once queued. Targets are checked before anything moves: a joint
 * target beyond a limit gives kJointLimit, a Cartesian target without an
 * inverse kinematics solution kUnreachable (kJointLimit when only solutions
 * beyond the limits exist). Problems along a Cartesian path stop the arm there
 * with an error and an error event.
 *
 * Units: joint moves rad/s and rad/s^2 (the speed of the joint that travels
 * furthest, at least 0.01 and at most 180 deg/s, at least 0.01 and at most
 * 720 deg/s^2); Cartesian moves mm/s and mm/s^2 along the path (at least 1,
 * at most 1500 mm/s and 5000 mm/s^2), the orientation within its own limits
 * (motion_bounds.h: below a lower bound the call is refused, above a maximum
 * the move is capped). Moves without `acc` use the default accelerations of
 * kinematics.h. `tol` is 0 or a finite positive number; > 0 on a
 * non-blocking move it lets the move blend into the next queued move of its
 * kind (segments.h): rad of the joint that travels furthest for joint moves,
 * mm for Cartesian ones. Jogs never block.
 */
#include "api_support.h"
#include "motion_bounds.h"

#include <algorithm>

using zsim::Controller;
using zsim::Joints;
using zsim::Lock;
using zsim::Pose;

namespace {

bool valid_mode(int32_t mode) { return mode == 0 || mode == 1; }

/* ---- the checks of a call's own arguments (no controller needed) ---------------- */

/* A blend tolerance: 0 (none) or a finite distance. */
bool valid_tolerance(double tol) { return zsim::bounds::at_least(tol, 0); }

ErrorCode check_joint_move(const JointVector *joint_pos, int32_t mode, double speed, double acc, double tol)
{
    using namespace zsim::bounds;
    return zsim::check(joint_pos && zsim::finite(zsim::to_joints(*joint_pos)) && valid_mode(mode) &&
                       at_least(speed, kMinJointSpeed) && at_least(acc, kMinJointAcc) && valid_tolerance(tol));
}

/* mid_pos: the arc's middle pose (circular moves), or null when `has_mid` is false. */
ErrorCode check_cartesian_move(const CartPose *end_pos, const CartPose *mid_pos, bool has_mid, int32_t mode,
                               double speed, double acc, double tol)
{
    using namespace zsim::bounds;
    return zsim::check(end_pos && zsim::finite(*end_pos) && (!has_mid || (mid_pos && zsim::finite(*mid_pos))) &&
                       valid_mode(mode) && at_least(speed, kMinLinearSpeed) && at_least(acc, kMinLinearAcc) &&
                       valid_tolerance(tol));
}

/* A jog's speed: rad/s for a joint or a turn, mm/s along an axis. */
bool valid_jog_speed(int32_t aj_num, int32_t coord_type, double jog_vel)
{
    using namespace zsim::bounds;
    const bool angular = coord_type == 1 || aj_num >= 3;
    return at_least(std::abs(jog_vel), angular ? kMinJointSpeed : kMinLinearSpeed);
}

/* The blend tolerance a move keeps: none for a blocking move (its caller is
 * told it reached its target), none for anything but a positive number. */
double blend_tolerance(double tol, int32_t is_block) { return is_block == 0 && tol > 0 ? tol : 0.0; }

/* The TCP pose (user frame) that `given` names: absolute, or relative to `from`
 * (translation added, rotation applied about the user frame's axes). */
Pose cartesian_target(const Pose &from, const CartPose &given, int32_t mode)
{
    const Pose g = zsim::to_pose(given);
    if (mode == 0)
        return g;
    Pose target = from;
    target.translation() += g.translation();
    target.linear() = g.linear() * from.linear();
    return target;
}

ErrorCode joint_motion(const RobotHandle *handle, const JointVector *joint_pos, int32_t mode,
                       int32_t is_block, double speed, double acc, double tol)
{
    const ErrorCode checked = check_joint_move(joint_pos, mode, speed, acc, tol);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &lock) {
        const Joints given = zsim::to_joints(*joint_pos);
        if (const ErrorCode refused = zsim::ready_to_move(rc))
            return refused;
        Joints target = given;
        if (mode == 1)
            for (std::size_t j = 0; j < 6; ++j)
                target[j] = rc.planned_end[j] + given[j];
        if (!zsim::within_limits(target))
            return zsim::kJointLimit;
        const double cap = *std::min_element(zsim::arm::kMaxSpeed.begin(), zsim::arm::kMaxSpeed.end());
        return zsim::start_motion(
            rc, lock,
            std::make_unique<zsim::JointSegment>(target, std::min(speed, cap),
                                                 std::min(acc, zsim::arm::kMaxJointAcc),
                                                 blend_tolerance(tol, is_block)),
            target, is_block != 0);
    });
}

zsim::CartesianLimits path_limits(double speed, double acc)
{
    return {std::min(speed, zsim::arm::kMaxLinearSpeed), std::min(acc, zsim::arm::kMaxLinearAcc),
            zsim::arm::kOrientationSpeed, zsim::arm::kOrientationAcc};
}

/* The joints that put the TCP at `tcp_in_base`, nearest to where the queue ends. */
ErrorCode solve_target(const Controller &rc, const Pose &tcp_in_base, Joints &end)
{
    return zsim::inverse_nearest(tcp_in_base * rc.tool().inverse(), rc.planned_end, end);
}

ErrorCode linear_motion(const RobotHandle *handle, const CartPose *end_pos, int32_t mode,
                        int32_t is_block, double speed, double acc, double tol)
{
    const ErrorCode checked = check_cartesian_move(end_pos, nullptr, false, mode, speed, acc, tol);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &lock) {
        if (const ErrorCode refused = zsim::ready_to_move(rc))
            return refused;
        const Pose target = rc.user() * cartesian_target(rc.tcp(rc.planned_end), *end_pos, mode);
        Joints end;
        if (const ErrorCode code = solve_target(rc, target, end))
            return code;
        return zsim::start_motion(rc, lock,
                                  std::make_unique<zsim::CartesianSegment>(target, path_limits(speed, acc),
                                                                           blend_tolerance(tol, is_block)),
                                  end, is_block != 0);
    });
}

} // namespace

/* ---- moves ------------------------------------------------------------------- */

namespace zsim {
namespace api {

ErrorCode joint_move(const RobotHandle *handle, const JointVector *joint_pos, int32_t move_mode,
                     int32_t is_block, double speed)
{
    return joint_motion(handle, joint_pos, move_mode, is_block, speed, zsim::arm::kDefaultJointAcc, 0);
}

ErrorCode joint_move_extend(const RobotHandle *handle, const JointVector *joint_pos,
                            int32_t move_mode, int32_t is_block, double speed, double acc,
                            double tol, const void * /* option */)
{
    return joint_motion(handle, joint_pos, move_mode, is_block, speed, acc, tol);
}

ErrorCode linear_move(const RobotHandle *handle, const CartPose *end_pos, int32_t move_mode,
                      int32_t is_block, double speed)
{
    return linear_motion(handle, end_pos, move_mode, is_block, speed, zsim::arm::kDefaultLinearAcc, 0);
}

ErrorCode linear_move_extend(const RobotHandle *handle, const CartPose *end_pos,
                             int32_t move_mode, int32_t is_block, double speed, double acc,
                             double tol, const void * /* option */)
{
    return linear_motion(handle, end_pos, move_mode, is_block, speed, acc, tol);
}

/* The arc from where the queue ends through mid_pos's position to end_pos;
 * the orientation goes from the start's to end_pos's (mid_pos's is not used).
 * Relative: both poses relative to the start. */
ErrorCode circular_move(const RobotHandle *handle, const CartPose *end_pos,
                        const CartPose *mid_pos, int32_t move_mode, int32_t is_block,
                        double speed, double acc, double tol, const void * /* option */)
{
    const ErrorCode checked = check_cartesian_move(end_pos, mid_pos, true, move_mode, speed, acc, tol);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &lock) {
        if (const ErrorCode refused = zsim::ready_to_move(rc))
            return refused;
        const Pose start = rc.tcp(rc.planned_end);
        const Pose target = rc.user() * cartesian_target(start, *end_pos, move_mode);
        const Pose via = rc.user() * cartesian_target(start, *mid_pos, move_mode);
        Eigen::Vector3d center, axis;
        double sweep = 0;
        if (!zsim::circle_through((rc.user() * start).translation(), via.translation(),
                                  target.translation(), center, axis, sweep))
            return zsim::kInvalidArgument;
        Joints end;
        if (const ErrorCode code = solve_target(rc, target, end))
            return code;
        return zsim::start_motion(
            rc, lock,
            std::make_unique<zsim::CartesianSegment>(target, via.translation(), path_limits(speed, acc),
                                                     blend_tolerance(tol, is_block)),
            end, is_block != 0);
    });
}

/* ---- jog ------------------------------------------------------------------------ */

namespace {

/* A jog in the direction of jog_vel's sign until jog_stop: a joint to its
 * limit (where it stops with kJointLimit), the TCP along a ray of the user or
 * tool frame's axis until a place it cannot follow (where it stops with
 * that error). */
ErrorCode continuous_jog(Controller &rc, Lock &lock, int32_t aj_num, int32_t coord_type, double jog_vel)
{
    const auto axis = static_cast<std::size_t>(aj_num);
    const double speed = std::abs(jog_vel);
    if (coord_type == 1) {
        Joints limit = rc.joints;
        limit[axis] = jog_vel > 0 ? zsim::arm::kUpperLimit[axis] : zsim::arm::kLowerLimit[axis];
        return zsim::start_motion(
            rc, lock,
            std::make_unique<zsim::JointSegment>(limit, std::min(speed, zsim::arm::kMaxSpeed[axis]),
                                                 zsim::arm::kDefaultJointAcc, 0.0, aj_num, zsim::kJointLimit),
            rc.joints, false);
    }
    const Eigen::Matrix3d frame = coord_type == 0 ? Eigen::Matrix3d(rc.user().linear())
                                                  : Eigen::Matrix3d(rc.context().tcp_in_base(rc.joints).linear());
    const Eigen::Vector3d direction = frame.col(static_cast<Eigen::Index>(axis % 3)) * (jog_vel < 0 ? -1.0 : 1.0);
    const bool turn = axis >= 3;
    const zsim::CartesianLimits limits =
        turn ? zsim::CartesianLimits{zsim::arm::kMaxLinearSpeed, zsim::arm::kDefaultLinearAcc,
                                     std::min(speed, zsim::arm::kMaxAngularSpeed), zsim::arm::kOrientationAcc}
             : zsim::CartesianLimits{std::min(speed, zsim::arm::kMaxLinearSpeed), zsim::arm::kDefaultLinearAcc,
                                     zsim::arm::kMaxAngularSpeed, zsim::arm::kOrientationAcc};
    return zsim::start_motion(rc, lock, zsim::CartesianSegment::ray(direction, turn, limits, aj_num), rc.joints,
                              false);
}

} // namespace

/* aj_num: the axis, 0..5 (joints 1..6, or x, y, z, rx, ry, rz).
 * move_mode: 0 to the position pos_cmd, 1 by pos_cmd, 2 continuously in the
 *            direction of jog_vel's sign until jog_stop (or a limit).
 * coord_type: 0 Cartesian in the user frame, 1 joint, 2 Cartesian in the tool
 *             frame (moves to a position, mode 0, are refused there).
 * jog_vel: rad/s (joints, rotations; at least 0.01 either way) or mm/s (at
 * least 1 either way). Never blocks. */
ErrorCode jog(const RobotHandle *handle, int32_t aj_num, int32_t move_mode, int32_t coord_type,
              double jog_vel, double pos_cmd)
{
    const ErrorCode checked = zsim::check(aj_num >= 0 && aj_num <= 5 && move_mode >= 0 && move_mode <= 2 &&
                                          coord_type >= 0 && coord_type <= 2 &&
                                          valid_jog_speed(aj_num, coord_type, jog_vel) && std::isfinite(pos_cmd) &&
                                          !(coord_type == 2 && move_mode == 0));
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &lock) {
        if (const ErrorCode refused = zsim::ready_to_move(rc))
            return refused;
        if (rc.moving())
            return zsim::kBusy;
        const auto axis = static_cast<std::size_t>(aj_num);
        const double speed = std::abs(jog_vel);
        if (move_mode == 2)
            return continuous_jog(rc, lock, aj_num, coord_type, jog_vel);
        if (coord_type == 1) {
            Joints target = rc.joints;
            target[axis] = move_mode == 0 ? pos_cmd : target[axis] + pos_cmd;
            if (!zsim::within_limits(target))
                return zsim::kJointLimit;
            return zsim::start_motion(
                rc, lock,
                std::make_unique<zsim::JointSegment>(target, std::min(speed, zsim::arm::kMaxSpeed[axis]),
                                                     zsim::arm::kDefaultJointAcc, 0.0, aj_num),
                target, false);
        }
        Pose here = rc.tcp(rc.joints); /* user frame */
        Pose target = here;
        if (move_mode == 0) {
            CartPose values = zsim::to_cart(here);
            double *field[] = {&values.tran.x, &values.tran.y, &values.tran.z,
                               &values.rpy.rx, &values.rpy.ry, &values.rpy.rz};
            *field[axis] = pos_cmd;
            target = zsim::to_pose(values);
        } else {
            const Eigen::Vector3d unit = Eigen::Vector3d::Unit(static_cast<Eigen::Index>(axis % 3));
            const Eigen::Vector3d along = coord_type == 2 ? Eigen::Vector3d(here.linear() * unit) : unit;
            if (axis < 3)
                target.translation() += along * pos_cmd;
            else
                target.linear() = Eigen::AngleAxisd(pos_cmd, along).toRotationMatrix() * here.linear();
        }
        const Pose target_base = rc.user() * target;
        Joints end;
        if (const ErrorCode code = solve_target(rc, target_base, end))
            return code;
        const zsim::CartesianLimits limits =
            axis < 3 ? zsim::CartesianLimits{std::min(speed, zsim::arm::kMaxLinearSpeed),
                                             zsim::arm::kDefaultLinearAcc, zsim::arm::kMaxAngularSpeed,
                                             zsim::arm::kOrientationAcc}
                     : zsim::CartesianLimits{zsim::arm::kMaxLinearSpeed, zsim::arm::kDefaultLinearAcc,
                                             std::min(speed, zsim::arm::kMaxAngularSpeed),
                                             zsim::arm::kOrientationAcc};
        return zsim::start_motion(rc, lock,
                                  std::make_unique<zsim::CartesianSegment>(target_base, limits, 0.0, aj_num), end,
                                  false);
    });
}

/* num: the axis whose jog comes to a controlled stop along its path, or -1
 * for any jog. */
ErrorCode jog_stop(const RobotHandle *handle, int32_t num)
{
    return zsim::with_controller(handle, zsim::check(num >= -1 && num <= 5), [num](Controller &rc, Lock &) {
        if (rc.queue.empty())
            return zsim::kOk;
        const int axis = rc.queue.front().segment->jog_axis();
        if (axis >= 0 && (num == -1 || num == axis))
            zsim::motion::stop_front(rc);
        return zsim::kOk;
    });
}

/* ---- rapid rate -------------------------------------------------------------------- */

/* 0.01 <= rate <= 1: every move and jog runs at this fraction of its pace (speeds
 * scale by rate, accelerations by rate squared). Moves under way change pace
 * smoothly: they speed up or slow down to the new pace at their acceleration
 * (the larger of the two rates'), never at once. Servo streams are not
 * scaled. */
ErrorCode set_rapidrate(const RobotHandle *handle, double rapid_rate)
{
    const ErrorCode checked = zsim::check(zsim::bounds::at_least(rapid_rate, zsim::bounds::kMinRapidRate) &&
                                          rapid_rate <= 1);
    return zsim::with_controller(handle, checked, [rapid_rate](Controller &rc, Lock &) {
        rc.rapid_rate = rapid_rate;
        return zsim::kOk;
    });
}

ErrorCode get_rapidrate(const RobotHandle *handle, double *rapid_rate)
{
    return zsim::with_controller(handle, zsim::present(rapid_rate), [rapid_rate](Controller &rc, Lock &) {
        *rapid_rate = rc.rapid_rate;
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim
