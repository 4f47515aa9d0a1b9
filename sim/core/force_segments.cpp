/*
 * Hand guiding and admittance control (force_segments.h).
 */
#include "force_segments.h"

#include <Eigen/Geometry>

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* Readings smaller than this apart in position tell nothing of a stiffness. */
constexpr double kNoMove = 1e-9; /* mm, rad */

Eigen::Matrix3d turn_by(double x, double y, double z)
{
    const Eigen::Vector3d v(x, y, z);
    const double angle = v.norm();
    return angle > 0 ? Eigen::AngleAxisd(angle, v / angle).toRotationMatrix() : Eigen::Matrix3d::Identity();
}

/* What the tool feels along each of the anchor's axes: force (N), then moment (N m). */
std::array<double, 6> felt_along(const AdmittanceState &state, const TorqueMonitor &monitor)
{
    const Eigen::Matrix3d back = state.anchor.linear().transpose();
    const Eigen::Vector3d force = back * monitor.tool_force();
    const Eigen::Vector3d moment = back * monitor.tool_moment();
    return {force.x(), force.y(), force.z(), moment.x(), moment.y(), moment.z()};
}

/* One implicit step of D dx/dt + K x = f + c against a surface of stiffness s
 * (f falls by s per unit x), held to `full` speed: the new x. */
double admit(const AdmittanceAxisConfig &axis, double full, double x, double felt, double surface, double dt)
{
    const double lag = std::max(axis.ftUser, kLeastUserForce) / full / dt; /* D / dt */
    const double target = (felt + axis.ftConstant + (lag + surface) * x) / (lag + surface + axis.ftReboundFK);
    const double most = full * dt;
    return x + std::clamp(target - x, -most, most);
}

} // namespace

void AdmittanceState::anchor_at(const Pose &flange_pose, const Pose &tool)
{
    anchor = flange_pose * tool;
    anchor_tool = tool;
    offset = {};
    felt = {};
    felt_at = {};
    stiffness = {};
    has_felt = false;
}

Pose AdmittanceState::flange() const
{
    Pose moved = anchor;
    moved.translate(Eigen::Vector3d(offset[0], offset[1], offset[2]));
    moved.rotate(turn_by(offset[3], offset[4], offset[5]));
    return moved * anchor_tool.inverse();
}

StepResult DragSegment::step(const MotionContext &, double dt, Joints &q)
{
    const Joints &torque = monitor_.external();
    Joints next = q;
    bool moved = false;
    for (std::size_t j = 0; j < 6; ++j) {
        const double most = 0.5 * arm::kMaxSpeed[j];
        const double speed = std::clamp(torque[j] / kDragDamping[j], -most, most);
        next[j] = std::clamp(q[j] + speed * dt, arm::kLowerLimit[j], arm::kUpperLimit[j]);
        moved = moved || std::abs(next[j] - q[j]) > kAtRest;
    }
    if (!moved)
        return {StepResult::kDone, kOk};
    q = next;
    return {StepResult::kRunning, kOk};
}

StepResult AdmittanceSegment::step(const MotionContext &, double dt, Joints &q)
{
    const std::array<double, 6> felt = felt_along(state_, monitor_);
    std::array<double, 6> next = state_.offset;
    bool moved = false;
    for (std::size_t k = 0; k < 6; ++k) {
        const double x = state_.offset[k];
        if (state_.has_felt) { /* how much the force fell per unit pressed: the surface's stiffness */
            const double pressed = x - state_.felt_at[k];
            state_.stiffness[k] =
                std::abs(pressed) > kNoMove ? std::max(0.0, (state_.felt[k] - felt[k]) / pressed) : 0.0;
        }
        state_.felt[k] = felt[k];
        state_.felt_at[k] = x;
        const AdmittanceAxisConfig &axis = force_.admittance.axis[k];
        if (axis.opt != 1)
            continue;
        next[k] = admit(axis, k < 3 ? kAdmittanceSpeed : kAdmittanceTurn, x, felt[k], state_.stiffness[k], dt);
        moved = moved || std::abs(next[k] - x) > kAtRest;
    }
    state_.has_felt = true;
    if (!moved)
        return {StepResult::kDone, kOk};

    AdmittanceState trial = state_;
    trial.offset = next;
    Joints reached;
    const ErrorCode code = follow(trial.flange(), q, reached);
    if (code == kJointLimit)
        q = reached; /* standing on the limit */
    if (code != kOk)
        return {StepResult::kDone, code};
    for (std::size_t j = 0; j < 6; ++j)
        if (std::abs(reached[j] - q[j]) > arm::kMaxSpeed[j] * dt)
            return {StepResult::kDone, kSingularity};
    q = reached;
    state_.offset = next;
    return {StepResult::kRunning, kOk};
}

bool admittance_has_work(const ForceControl &force, const AdmittanceState &state, const TorqueMonitor &monitor)
{
    const std::array<double, 6> felt = felt_along(state, monitor);
    for (std::size_t k = 0; k < 6; ++k) {
        const AdmittanceAxisConfig &axis = force.admittance.axis[k];
        if (axis.opt == 1 && (felt[k] + axis.ftConstant != 0 || axis.ftReboundFK * state.offset[k] != 0))
            return true;
    }
    return false;
}

} // namespace zsim
