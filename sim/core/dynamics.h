/*
 * The arm as rigid bodies: each link's mass, centre and inertia, and the
 * joint torques a motion needs (inverse dynamics by recursive Newton-Euler),
 * with gravity, the payload and the forces that push on the arm.
 *
 * Link i (1..6) is the body joint i turns. Its numbers are given in its
 * joint frame: DH frame i-1 turned by q_i about its z axis, the frame the
 * live view draws the link in (the link runs from the frame's origin along z
 * by d_i, then along x by a_i). docs/virtual-controller.md has the table.
 *
 * Everything here is a pure function of the model and the state, like
 * Pinocchio's rnea(model, data, q, v, a): nothing locks, nothing allocates.
 * Inside, SI units (metres); positions from and to the rest of the core are
 * in millimetres, as everywhere else.
 */
#ifndef ZSIM_DYNAMICS_H
#define ZSIM_DYNAMICS_H

#include "kinematics.h"

#include <Eigen/Core>

#include <array>
#include <cstddef>

namespace zsim {
namespace dynamics {

/* One link's mass distribution, in its joint frame. */
struct Body {
    double mass;             /* kg */
    Eigen::Vector3d centre;  /* mm */
    Eigen::Vector3d inertia; /* kg m^2: principal moments about the centre, along the frame's axes */
};

extern const std::array<Body, 6> kLinks;

constexpr double kGravity = 9.81; /* m/s^2 */

/* Which body a force acts on: a link 0..5 (the one joint link+1 turns) or the tool. */
constexpr int kToolBody = 6; /* carried by the last link */

/* A force from outside (a contact, a hand, an applied wrench). */
struct ExternalForce {
    int body = kToolBody;                              /* 0..5, or kToolBody */
    Eigen::Vector3d point = Eigen::Vector3d::Zero();   /* where it acts: mm, base frame */
    Eigen::Vector3d force = Eigen::Vector3d::Zero();   /* N, base frame, acting on the arm */
    Eigen::Vector3d moment = Eigen::Vector3d::Zero();  /* N m, base frame: a pure moment besides */
};

/* What the arm carries and what pushes on it. */
struct Load {
    double payload_mass = 0;                                      /* kg */
    Eigen::Vector3d payload_centre = Eigen::Vector3d::Zero();     /* mm, flange frame */
    Eigen::Vector3d gravity = Eigen::Vector3d(0, 0, -kGravity);   /* m/s^2, base frame */
    const ExternalForce *forces = nullptr;
    std::size_t force_count = 0;
};

/* The joint axes and origins at a joint position: joint i turns about
 * axis[i] through origin[i] (base frame; origins in metres). */
struct Chain {
    std::array<Eigen::Matrix3d, 6> rotation; /* of each joint frame */
    std::array<Eigen::Vector3d, 6> origin;   /* m */
    Eigen::Matrix3d flange_rotation;
    Eigen::Vector3d flange_origin;           /* m */

    Eigen::Vector3d axis(std::size_t i) const { return rotation[i].col(2); }
};

Chain chain(const Joints &q);

/* The torques (N m) the joints must give so that the arm at q (rad) moves at
 * v (rad/s) with acceleration a (rad/s^2) under `load`:
 *   tau = M(q) a + C(q, v) v + g(q) - sum over the forces of J^T f.  */
Joints inverse_dynamics(const Joints &q, const Joints &v, const Joints &a, const Load &load);
/* The same at the joints `c` was made for (saves making it again). */
Joints inverse_dynamics(const Chain &c, const Joints &v, const Joints &a, const Load &load);

/* What the forces alone put on the joints: sum of J^T f (N m). */
Joints external_torques(const Chain &c, const ExternalForce *forces, std::size_t count);

} // namespace dynamics
} // namespace zsim

#endif /* ZSIM_DYNAMICS_H */
