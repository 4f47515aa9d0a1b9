/*
 * The probe's controls of what pushes on an arm and what it carries, and
 * its readings of the arm's dynamics (api.h; zsim_probe.h says what each
 * does).
 *
 *   joint_torques       the actual arm's torques: at rest, now; moving, at
 *                       its last cycle
 *   set_actual_payload  0 <= mass <= kMostActualPayload kg, a finite centre
 *                       (mm, flange frame); null: the declared payload again
 *   apply_wrench        finite force (N) and torque (N m), base frame, at
 *                       the TCP; null or zeros clear it
 *   inverse_dynamics    the model's torques for any state: the pure function
 */
#include "api.h"
#include "controller.h"
#include "dynamics.h"
#include "force_motion.h"

#include <cmath>
#include <vector>

namespace zsim {
namespace api {

namespace {

/* More than any arm of this size lifts: room for a payload declared far too light. */
constexpr double kMostActualPayload = 100.0; /* kg */

/* body(controller) under the library lock with its arm brought to now, or -1
 * for an unknown address. */
template <class Body>
int on_arm(const char *address, Body &&body)
{
    Lock lock(library_mutex());
    const std::shared_ptr<Controller> c = find_controller(address);
    if (!c)
        return -1;
    motion::catch_up(*c);
    return body(*c);
}

bool finite(const double *values, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

Eigen::Vector3d vector(const double *xyz) { return xyz ? Eigen::Vector3d(xyz[0], xyz[1], xyz[2]) : Eigen::Vector3d::Zero(); }

Joints joints(const double *values)
{
    Joints q;
    for (std::size_t j = 0; j < 6; ++j)
        q[j] = values[j];
    return q;
}

} // namespace

int joint_torques(const char *address, double torques[6])
{
    if (!torques)
        return -1;
    return on_arm(address, [torques](Controller &c) {
        const Joints tau = c.resting() ? c.monitor.torques_at_rest(c.situation(), c.joints) : c.monitor.torques();
        for (std::size_t j = 0; j < 6; ++j)
            torques[j] = tau[j];
        return 0;
    });
}

int set_actual_payload(const char *address, const double *payload)
{
    if (payload && (!finite(payload, 4) || payload[0] < 0 || payload[0] > kMostActualPayload))
        return -1;
    return on_arm(address, [payload](Controller &c) {
        if (payload)
            c.monitor.carry(PayloadData{payload[0], {payload[1], payload[2], payload[3]}});
        else
            c.monitor.carry_declared();
        feel_at_rest(c);
        return 0;
    });
}

int apply_wrench(const char *address, const double *force, const double *torque)
{
    if ((force && !finite(force, 3)) || (torque && !finite(torque, 3)))
        return -1;
    return on_arm(address, [&](Controller &c) {
        c.monitor.apply(vector(force), vector(torque));
        feel_at_rest(c);
        return 0;
    });
}

int inverse_dynamics(const double *q, const double *v, const double *a, const double *payload,
                     const double *gravity, const double *forces, int count, double *torques)
{
    if (!q || !v || !a || !payload || !gravity || !torques || count < 0 || (count > 0 && !forces))
        return -1;
    const std::size_t n = static_cast<std::size_t>(count);
    if (!finite(q, 6) || !finite(v, 6) || !finite(a, 6) || !finite(payload, 4) || !finite(gravity, 3) ||
        (n > 0 && !finite(forces, 7 * n)))
        return -1;
    std::vector<dynamics::ExternalForce> pushes(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double *f = forces + 7 * k;
        if (f[0] != std::floor(f[0]) || f[0] < 0 || f[0] > dynamics::kToolBody)
            return -1;
        pushes[k].body = static_cast<int>(f[0]);
        pushes[k].point = vector(f + 1);
        pushes[k].force = vector(f + 4);
    }
    dynamics::Load load;
    load.payload_mass = payload[0];
    load.payload_centre = vector(payload + 1);
    load.gravity = vector(gravity);
    load.forces = pushes.data();
    load.force_count = n;
    const Joints tau = dynamics::inverse_dynamics(joints(q), joints(v), joints(a), load);
    for (std::size_t j = 0; j < 6; ++j)
        torques[j] = tau[j];
    return 0;
}

} // namespace api
} // namespace zsim
