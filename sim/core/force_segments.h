/*
 * Motion that outside forces make: hand guiding (drag mode) and admittance
 * control. Each reads what the arm felt at the end of the cycle before (the
 * torque monitor: a force sensor's reading is a cycle old too), moves the
 * arm by it, and ends once it has come to rest with nothing left to do, so
 * that an arm nobody pushes costs nothing. Whoever changes the forces (an
 * applied wrench, switching the mode on) queues one again (force_motion.h).
 *
 * Drag mode: each joint turns at the torque the outside forces put on it
 * over its damping (kDragDamping), at most half its maximum speed, and stops
 * at its limits.
 *
 * Admittance: along each axis k with opt 1 (x, y, z, then the turns about
 * them, of the TCP frame where admittance control was switched on) the TCP
 * moves by
 *     D_k dx_k/dt + K_k x_k = f_k + ftConstant_k,   D_k = ftUser_k / v_k
 * where x_k is its offset from where it was switched on (mm, rad), f_k the
 * force (N) or moment (N m) the tool feels along that axis, K_k ftReboundFK
 * (N/mm, N m/rad), v_k the full speed (kAdmittanceSpeed, kAdmittanceTurn)
 * that ftUser_k drives it at; its speed is held to v_k. Each step is
 * implicit in K_k and in the stiffness of what the tool presses on (taken
 * from the last two readings), so pressing on a stiff surface settles
 * without ringing. Axes with opt 0 hold.
 */
#ifndef ZSIM_FORCE_SEGMENTS_H
#define ZSIM_FORCE_SEGMENTS_H

#include "force.h"
#include "segment.h"
#include "torque_monitor.h"

#include <array>

namespace zsim {

constexpr Joints kDragDamping = {30.0, 30.0, 15.0, 3.0, 3.0, 3.0}; /* N m per rad/s */
constexpr double kAdmittanceSpeed = 100.0; /* mm/s: ftUser drives an axis this fast */
constexpr double kAdmittanceTurn = 0.5;    /* rad/s: ... and a turn this fast */
constexpr double kLeastUserForce = 1.0;    /* N, N m: ftUser below this counts as this */
constexpr double kAtRest = 1e-6;           /* mm, rad: a cycle that moves less ends the motion */

/* Where admittance control holds the TCP: what it keeps between its motions. */
struct AdmittanceState {
    Pose anchor = Pose::Identity();      /* the TCP (base frame) when it was switched on */
    Pose anchor_tool = Pose::Identity(); /* the tool then: a new tool does not move the arm */
    std::array<double, 6> offset{};      /* x_k: mm along, rad about the anchor's axes */
    std::array<double, 6> felt{};        /* f_k at the previous step */
    std::array<double, 6> felt_at{};     /* ... and x_k then */
    std::array<double, 6> stiffness{};   /* of what the tool presses on, per axis */
    bool has_felt = false;

    /* Switched on with the arm at `flange` (base frame) and tool `tool`. */
    void anchor_at(const Pose &flange, const Pose &tool);
    /* The flange (base frame) that puts the TCP at the anchor moved by `offset`. */
    Pose flange() const;
};

class DragSegment final : public Segment {
public:
    explicit DragSegment(const TorqueMonitor &monitor) : monitor_(monitor) {}
    ErrorCode begin(const MotionContext &, const Joints &) override { return kOk; }
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool request_stop(StopKind) override { return true; } /* at rest within a cycle at these speeds */

private:
    const TorqueMonitor &monitor_;
};

class AdmittanceSegment final : public Segment {
public:
    AdmittanceSegment(const TorqueMonitor &monitor, const ForceControl &force, AdmittanceState &state)
        : monitor_(monitor), force_(force), state_(state)
    {
    }
    ErrorCode begin(const MotionContext &, const Joints &) override { return kOk; }
    /* Ends with the error where the TCP cannot go on (out of reach, a joint
     * limit, a joint faster than its maximum speed). */
    StepResult step(const MotionContext &ctx, double dt, Joints &q) override;
    bool request_stop(StopKind) override { return true; }

private:
    const TorqueMonitor &monitor_;
    const ForceControl &force_;
    AdmittanceState &state_;
};

/* Whether admittance control has something to do with these readings: a
 * compliant axis that feels a force, has a constant force to keep, or is
 * held away from its anchor by the rebound stiffness. */
bool admittance_has_work(const ForceControl &force, const AdmittanceState &state, const TorqueMonitor &monitor);

} // namespace zsim

#endif /* ZSIM_FORCE_SEGMENTS_H */
