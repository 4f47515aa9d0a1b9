/*
 * The arm's bodies and recursive Newton-Euler (dynamics.h).
 *
 * The model: a small collaborative arm of this geometry, 17.65 kg moving.
 * Each link is taken as a uniform solid cylinder (the shoulder and wrist
 * housings across the next joint's axis, the two arm tubes along x) with its
 * centre nudged towards the motor it carries; the moments below are those
 * cylinders' (mass m, radius r, length l: m r^2 / 2 about the axis,
 * m (3 r^2 + l^2) / 12 across it).
 *
 * The recursion works in the base frame: outwards, each joint frame's
 * angular velocity and acceleration and its origin's acceleration (the base
 * accelerating upwards at g stands for gravity); each body's force and moment
 * from them; inwards, what each joint carries of the bodies beyond it, less
 * the external forces, projected on its axis.
 */
#include "dynamics.h"

#include <Eigen/Geometry>

namespace zsim {
namespace dynamics {

namespace {

constexpr double kMetre = 1e-3; /* per mm */

/* The fixed part of each DH step, Tz(d) Tx(a) Rx(alpha): joint frame i to DH frame i. */
struct Step {
    Eigen::Matrix3d rotation;
    Eigen::Vector3d offset; /* m, in the joint frame */
};

const std::array<Step, 6> &steps()
{
    static const std::array<Step, 6> s = [] {
        std::array<Step, 6> out{};
        for (std::size_t i = 0; i < 6; ++i) {
            const arm::DhRow &row = arm::kDh[i];
            out[i].rotation = Eigen::AngleAxisd(row.alpha, Eigen::Vector3d::UnitX()).toRotationMatrix();
            out[i].offset = Eigen::Vector3d(row.a, 0, row.d) * kMetre;
        }
        return out;
    }();
    return s;
}

Eigen::Matrix3d turn_z(double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    Eigen::Matrix3d r;
    r << c, -s, 0, s, c, 0, 0, 0, 1;
    return r;
}

/* The link that carries a force's body. */
std::size_t carrier(int body) { return body >= 0 && body < 6 ? static_cast<std::size_t>(body) : 5; }

} // namespace

/*                         mass     centre (mm)          principal moments (kg m^2)   */
const std::array<Body, 6> kLinks = {{
    {3.70, {0.0, -5.0, 120.0}, {0.0102, 0.0102, 0.0067}},  /* shoulder: column and joint 2's housing */
    {8.40, {220.0, 0.0, 0.0}, {0.0105, 0.1534, 0.1534}},   /* upper arm: a tube along x */
    {2.60, {190.0, 0.0, 15.0}, {0.0021, 0.0357, 0.0357}},  /* forearm: a tube along x */
    {1.30, {0.0, -5.0, 115.0}, {0.00197, 0.00132, 0.00197}}, /* wrist 1: joint 5's housing along y */
    {1.30, {0.0, 5.0, 90.0}, {0.00197, 0.00132, 0.00197}},   /* wrist 2: joint 6's housing along y */
    {0.35, {0.0, 0.0, 75.0}, {0.000166, 0.000166, 0.00028}}, /* wrist 3 and the flange: a disc */
}};

Chain chain(const Joints &q)
{
    Chain c;
    Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();
    Eigen::Vector3d origin = Eigen::Vector3d::Zero();
    for (std::size_t i = 0; i < 6; ++i) {
        rotation = rotation * turn_z(q[i]);
        c.rotation[i] = rotation;
        c.origin[i] = origin;
        origin = origin + rotation * steps()[i].offset;
        rotation = rotation * steps()[i].rotation;
    }
    c.flange_rotation = rotation;
    c.flange_origin = origin;
    return c;
}

Joints external_torques(const Chain &c, const ExternalForce *forces, std::size_t count)
{
    Joints tau{};
    for (std::size_t k = 0; k < count; ++k) {
        const ExternalForce &f = forces[k];
        const Eigen::Vector3d point = f.point * kMetre;
        for (std::size_t j = 0; j <= carrier(f.body); ++j)
            tau[j] += c.axis(j).dot((point - c.origin[j]).cross(f.force) + f.moment);
    }
    return tau;
}

Joints inverse_dynamics(const Joints &q, const Joints &v, const Joints &a, const Load &load)
{
    return inverse_dynamics(chain(q), v, a, load);
}

Joints inverse_dynamics(const Chain &c, const Joints &v, const Joints &a, const Load &load)
{
    using Eigen::Vector3d;

    /* Outwards: each body's force (N) and moment about its joint's origin (N m). */
    std::array<Vector3d, 6> force, moment;
    Vector3d w = Vector3d::Zero(), dw = Vector3d::Zero();
    Vector3d acc = -load.gravity; /* of the previous joint's origin */
    Vector3d previous = Vector3d::Zero();
    for (std::size_t i = 0; i < 6; ++i) {
        const Vector3d r = c.origin[i] - previous;
        acc += dw.cross(r) + w.cross(w.cross(r));
        const Vector3d z = c.axis(i);
        dw += a[i] * z + w.cross(v[i] * z);
        w += v[i] * z;
        previous = c.origin[i];

        const Body &body = kLinks[i];
        const Vector3d centre = c.rotation[i] * (body.centre * kMetre);
        const Vector3d centre_acc = acc + dw.cross(centre) + w.cross(w.cross(centre));
        const Eigen::Matrix3d inertia = c.rotation[i] * body.inertia.asDiagonal() * c.rotation[i].transpose();
        force[i] = body.mass * centre_acc;
        moment[i] = inertia * dw + w.cross(inertia * w) + centre.cross(force[i]);
    }
    if (load.payload_mass != 0) { /* a point mass carried by the last link */
        const Vector3d lever =
            c.flange_origin + c.flange_rotation * (load.payload_centre * kMetre) - c.origin[5];
        const Vector3d payload_force = load.payload_mass * (acc + dw.cross(lever) + w.cross(w.cross(lever)));
        force[5] += payload_force;
        moment[5] += lever.cross(payload_force);
    }

    /* The external forces, each on the body that carries it. */
    for (std::size_t k = 0; k < load.force_count; ++k) {
        const ExternalForce &f = load.forces[k];
        const std::size_t i = carrier(f.body);
        force[i] -= f.force;
        moment[i] -= (f.point * kMetre - c.origin[i]).cross(f.force) + f.moment;
    }

    /* Inwards: what each joint carries, projected on its axis. */
    Joints tau{};
    Vector3d carried_force = Vector3d::Zero(), carried_moment = Vector3d::Zero();
    for (std::size_t n = 6; n-- > 0;) {
        const Vector3d beyond = n < 5 ? Vector3d(c.origin[n + 1] - c.origin[n]) : Vector3d::Zero();
        carried_moment = moment[n] + carried_moment + beyond.cross(carried_force);
        carried_force = force[n] + carried_force;
        tau[n] = carried_moment.dot(c.axis(n));
    }
    return tau;
}

} // namespace dynamics
} // namespace zsim
