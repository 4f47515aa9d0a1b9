/*
 * Kinematics and orientation conversions. Poses are TCP poses in the
 * controller's current tool and user frame; conventions in kinematics.h.
 */
#include "api_support.h"

using zsim::Controller;
using zsim::Joints;
using zsim::Lock;

namespace zsim {
namespace api {

/* The solution nearest to ref_pos, or kUnreachable when none lies within the
 * joint limits. */
ErrorCode kine_inverse(const RobotHandle *handle, const JointVector *ref_pos,
                       const CartPose *cartesian_pose, JointVector *joint_pos)
{
    return zsim::with_controller(handle, [&](Controller &rc, Lock &) {
        if (!ref_pos || !cartesian_pose || !joint_pos || !zsim::finite(*cartesian_pose))
            return zsim::kInvalidArgument;
        const Joints ref = zsim::to_joints(*ref_pos);
        if (!zsim::finite(ref))
            return zsim::kInvalidArgument;
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
    return zsim::with_controller(handle, [&](Controller &rc, Lock &) {
        if (!joint_pos || !cartesian_pose)
            return zsim::kInvalidArgument;
        const Joints q = zsim::to_joints(*joint_pos);
        if (!zsim::finite(q))
            return zsim::kInvalidArgument;
        *cartesian_pose = zsim::to_cart(rc.tcp(q));
        return zsim::kOk;
    });
}

ErrorCode rpy_to_rot_matrix(const RobotHandle *handle, const RpyAngles *rpy,
                            RotationMatrix *rot_matrix)
{
    return zsim::with_controller(handle, [&](Controller &, Lock &) {
        if (!rpy || !rot_matrix || !std::isfinite(rpy->rx) || !std::isfinite(rpy->ry) ||
            !std::isfinite(rpy->rz))
            return zsim::kInvalidArgument;
        *rot_matrix = zsim::to_record(zsim::rpy_matrix(rpy->rx, rpy->ry, rpy->rz));
        return zsim::kOk;
    });
}

/* The matrix must be a rotation to within 1e-3; it is made exactly one first. */
ErrorCode rot_matrix_to_rpy(const RobotHandle *handle, const RotationMatrix *rot_matrix,
                            RpyAngles *rpy)
{
    return zsim::with_controller(handle, [&](Controller &, Lock &) {
        Eigen::Matrix3d r;
        if (!rot_matrix || !rpy || !zsim::as_rotation(*rot_matrix, r))
            return zsim::kInvalidArgument;
        const Eigen::Vector3d angles = zsim::matrix_rpy(r);
        *rpy = RpyAngles{angles.x(), angles.y(), angles.z()};
        return zsim::kOk;
    });
}

/* Any non-zero quaternion; it is normalised first. */
ErrorCode quaternion_to_rot_matrix(const RobotHandle *handle, const QuaternionValue *quaternion,
                                   RotationMatrix *rot_matrix)
{
    return zsim::with_controller(handle, [&](Controller &, Lock &) {
        if (!quaternion || !rot_matrix)
            return zsim::kInvalidArgument;
        Eigen::Quaterniond q(quaternion->s, quaternion->x, quaternion->y, quaternion->z);
        const double norm = q.norm();
        if (!std::isfinite(norm) || norm < 1e-12)
            return zsim::kInvalidArgument;
        q.coeffs() /= norm;
        *rot_matrix = zsim::to_record(q.toRotationMatrix());
        return zsim::kOk;
    });
}

ErrorCode rot_matrix_to_quaternion(const RobotHandle *handle, const RotationMatrix *rot_matrix,
                                   QuaternionValue *quaternion)
{
    return zsim::with_controller(handle, [&](Controller &, Lock &) {
        Eigen::Matrix3d r;
        if (!rot_matrix || !quaternion || !zsim::as_rotation(*rot_matrix, r))
            return zsim::kInvalidArgument;
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
