/*
 * Kinematics and orientation conversions. Poses are TCP poses in the
 * controller's current tool and user frame; conventions in kinematics.h.
 */
#include "api_support.h"

using zsim::Controller;
using zsim::Joints;
using zsim::Lock;

namespace {

/* Any finite non-zero quaternion, normalised. */
bool unit_quaternion(const QuaternionValue &given, Eigen::Quaterniond &q)
{
    q = Eigen::Quaterniond(given.s, given.x, given.y, given.z);
    const double norm = q.norm();
    if (!std::isfinite(norm) || norm < 1e-12)
        return false;
    q.coeffs() /= norm;
    return true;
}

} // namespace

namespace zsim {
namespace api {

/* The solution nearest to ref_pos, or kUnreachable when none lies within the
 * joint limits. */
ErrorCode kine_inverse(const RobotHandle *handle, const JointVector *ref_pos,
                       const CartPose *cartesian_pose, JointVector *joint_pos)
{
    const ErrorCode checked = zsim::check(ref_pos && cartesian_pose && joint_pos && zsim::finite(*cartesian_pose) &&
                                          zsim::finite(zsim::to_joints(*ref_pos)));
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        const Joints ref = zsim::to_joints(*ref_pos);
        Joints q;
        if (zsim::inverse_nearest(rc.flange_for(zsim::to_pose(*cartesian_pose)), ref, q) != zsim::kOk)
            return zsim::kUnreachable;
        *joint_pos = zsim::to_vector(q);
        return zsim::kOk;
    });
}

ErrorCode kine_forward(const RobotHandle *handle, const JointVector *joint_pos,
                       CartPose *cartesian_pose)
{
    const ErrorCode checked = zsim::check(joint_pos && cartesian_pose && zsim::finite(zsim::to_joints(*joint_pos)));
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        *cartesian_pose = zsim::to_cart(rc.tcp(zsim::to_joints(*joint_pos)));
        return zsim::kOk;
    });
}

ErrorCode rpy_to_rot_matrix(const RobotHandle *handle, const RpyAngles *rpy,
                            RotationMatrix *rot_matrix)
{
    const ErrorCode checked = zsim::check(rpy && rot_matrix && std::isfinite(rpy->rx) && std::isfinite(rpy->ry) &&
                                          std::isfinite(rpy->rz));
    return zsim::with_controller(handle, checked, [&](Controller &, Lock &) {
        *rot_matrix = zsim::to_record(zsim::rpy_matrix(rpy->rx, rpy->ry, rpy->rz));
        return zsim::kOk;
    });
}

/* The matrix must be a rotation to within 1e-3; it is made exactly one first. */
ErrorCode rot_matrix_to_rpy(const RobotHandle *handle, const RotationMatrix *rot_matrix,
                            RpyAngles *rpy)
{
    Eigen::Matrix3d r;
    const ErrorCode checked = zsim::check(rot_matrix && rpy && zsim::as_rotation(*rot_matrix, r));
    return zsim::with_controller(handle, checked, [&](Controller &, Lock &) {
        const Eigen::Vector3d angles = zsim::matrix_rpy(r);
        *rpy = RpyAngles{angles.x(), angles.y(), angles.z()};
        return zsim::kOk;
    });
}

/* Any non-zero quaternion; it is normalised first. */
ErrorCode quaternion_to_rot_matrix(const RobotHandle *handle, const QuaternionValue *quaternion,
                                   RotationMatrix *rot_matrix)
{
    Eigen::Quaterniond q;
    const ErrorCode checked = zsim::check(quaternion && rot_matrix && unit_quaternion(*quaternion, q));
    return zsim::with_controller(handle, checked, [&](Controller &, Lock &) {
        *rot_matrix = zsim::to_record(q.toRotationMatrix());
        return zsim::kOk;
    });
}

ErrorCode rot_matrix_to_quaternion(const RobotHandle *handle, const RotationMatrix *rot_matrix,
                                   QuaternionValue *quaternion)
{
    Eigen::Matrix3d r;
    const ErrorCode checked = zsim::check(rot_matrix && quaternion && zsim::as_rotation(*rot_matrix, r));
    return zsim::with_controller(handle, checked, [&](Controller &, Lock &) {
        Eigen::Quaterniond q(r);
        q.normalize();
        if (q.w() < 0)
            q.coeffs() *= -1.0;
        *quaternion = QuaternionValue{q.w(), q.x(), q.y(), q.z()};
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim
