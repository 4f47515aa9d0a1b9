/*
 * The virtual arm: its geometry, joint limits, forward and inverse
 * kinematics, and the orientation conventions of the library's records.
 *
 * Geometry: six revolute joints, standard Denavit-Hartenberg parameters
 * (docs/virtual-controller.md has the table). Joint 1 is vertical, joints 2 to 4
 * are parallel, the wrist has offsets d4, d5, d6. Millimetres and radians.
 *
 * Conventions:
 *   roll-pitch-yaw    R = Rz(rz) * Ry(ry) * Rx(rx)
 *   RotationMatrix    members x, y, z are the rows of R
 *   QuaternionValue   (s, x, y, z), unit length, s >= 0
 *
 * Nothing here locks or allocates; every function is safe from any thread.
 */
#ifndef ZSIM_KINEMATICS_H
#define ZSIM_KINEMATICS_H

#include "arm_limits.h"
#include "zandrelAPI.h"

#include <Eigen/Geometry>

#include <array>

namespace zsim {

using Joints = std::array<double, 6>;
using Pose = Eigen::Isometry3d;

namespace arm {

struct DhRow {
    double a;     /* mm, along x_i */
    double alpha; /* rad, about x_i */
    double d;     /* mm, along z_{i-1} */
};

extern const std::array<DhRow, 6> kDh;
extern const Joints kLowerLimit; /* rad */
extern const Joints kUpperLimit; /* rad */
extern const Joints kHome;       /* where a new controller's arm stands */

/* A joint at one of its limits: within kAtLimit of it (is_on_limit, the view). */
constexpr double kAtLimit = 1e-6; /* rad */
bool at_limit(std::size_t joint, double q);

/* Speeds, accelerations and jerks: arm_limits.h. */

} // namespace arm

/* ---- conversions ---------------------------------------------------------- */

Eigen::Matrix3d rpy_matrix(double rx, double ry, double rz);
/* ry in [-pi/2, pi/2]; rx = 0 at gimbal lock (ry within kGimbalLock of +-pi/2).
 * rpy_matrix of the result is r to rounding, for every pitch. */
Eigen::Vector3d matrix_rpy(const Eigen::Matrix3d &r);
constexpr double kGimbalLock = 1e-12; /* rad */

Pose to_pose(const CartPose &p);
CartPose to_cart(const Pose &p);

Eigen::Matrix3d to_matrix(const RotationMatrix &m); /* rows */
RotationMatrix to_record(const Eigen::Matrix3d &r);

/* A finite matrix within 1e-3 of a rotation, made exactly orthonormal. */
bool as_rotation(const RotationMatrix &m, Eigen::Matrix3d &out);

bool finite(const Joints &q);
bool finite(const CartPose &p);
Joints to_joints(const JointVector &v);
JointVector to_vector(const Joints &q);

/* ---- kinematics ----------------------------------------------------------- */

/* The flange in the base frame. */
Pose forward(const Joints &q);

/* The frames of the DH table in the base frame: [0] the base itself, [i]
 * the frame at the end of link i (joint i+1's axis is z of frame i), [6]
 * the flange (forward(q)). */
std::array<Pose, 7> link_frames(const Joints &q);

bool within_limits(const Joints &q);

/* Joint 5 within this of 0 or 180 degrees (its sine smaller) leaves joint 6
 * free: its axis is then parallel to those of joints 2 to 4, and the pose
 * fixes the four only together. Treating a pose this close as singular moves
 * the flange by less than 2e-10 rad and 2e-8 mm. rad. */
constexpr double kFreeWrist = 1e-10;

/* Every solution of the inverse problem for a flange pose, each angle in
 * (-pi, pi] but a free joint 6. That one takes, in each shoulder
 * configuration, the value inside its limits nearest q6 with which joints 2
 * and 3 reach the pose, joint 3 inside its limits (q6 itself, clamped into
 * the limits, when it can). Returns how many (0..8). */
int inverse_all(const Pose &flange, double q6, std::array<Joints, 8> &out);

/* The solution nearest to `ref` (least sum of squared joint differences),
 * each angle moved by whole turns to the value nearest the reference inside
 * the joint limits (for any reference, inside the limits or not); a free
 * joint 6 takes the value inside its limits nearest its reference. Returns
 * kOk, kUnreachable (no solution at all) or kJointLimit (solutions exist,
 * none inside the limits). */
ErrorCode inverse_nearest(const Pose &flange, const Joints &ref, Joints &out);

/* The solution a motion from `from` reaches without a jump: each angle the
 * whole-turn equivalent nearest `from` (limits not applied), the solution the
 * joints reach soonest at their maximum speeds; a free joint 6 stays at
 * from[5] when it can (inverse_all). False when the pose has no solution. */
bool inverse_continued(const Pose &flange, const Joints &from, Joints &out);

/* One step of a path: the flange moves from forward(from) to `flange`, the arm
 * staying on its branch and turn. kOk and the solution; kUnreachable; or
 * kJointLimit when a joint would pass a limit on the way: `out` is then where,
 * on the straight step (translation interpolated, rotation slerped), the
 * first joint reaches its limit, and that joint stands exactly on it. */
ErrorCode follow(const Pose &flange, const Joints &from, Joints &out);

} // namespace zsim

#endif /* ZSIM_KINEMATICS_H */
