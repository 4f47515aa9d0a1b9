/*
 * The program runner and the payload identification (procedures.h).
 */
#include "procedures.h"

#include "segments.h"

#include <Eigen/QR>

#include <algorithm>

namespace zsim {

namespace {

/* Instant commands a program runs at most in one cycle (keeps a cycle short). */
constexpr int kInstantPerCycle = 1000;

Joints joints_of(const ProgramLine &line)
{
    Joints q{};
    for (std::size_t j = 0; j < 6; ++j)
        q[j] = line.values[j];
    return q;
}

double joint_speed_cap() { return *std::min_element(arm::kMaxSpeed.begin(), arm::kMaxSpeed.end()); }

} // namespace

/* ---- programs ------------------------------------------------------------------- */

ProgramSegment::ProgramSegment(std::shared_ptr<const Program> program, ProgramSlot &slot, IoBank &io)
    : program_(std::move(program)), slot_(slot), io_(io)
{
}

ErrorCode ProgramSegment::begin(const MotionContext &, const Joints &) { return kOk; }

ErrorCode ProgramSegment::start_line(const MotionContext &ctx, const ProgramLine &line, const Joints &q)
{
    switch (line.kind) {
    case ProgramLine::kBad:
        return kProgramLine;
    case ProgramLine::kDigitalOut: {
        const auto type = static_cast<std::int32_t>(line.values[0]);
        const auto index = static_cast<std::int32_t>(line.values[1]);
        if (!io_valid(type, kDigitalOut, index))
            return kIoRange;
        io_.digital_out[static_cast<std::size_t>(type)][static_cast<std::size_t>(index)] =
            line.values[2] != 0;
        return kOk;
    }
    case ProgramLine::kWait:
        wait_left_ = line.values[0];
        return kOk;
    case ProgramLine::kJointMove: {
        const Joints target = joints_of(line);
        if (!within_limits(target))
            return kJointLimit;
        const double acc = line.values[7] > 0 ? std::min(line.values[7], arm::kMaxJointAcc) : arm::kDefaultJointAcc;
        move_ = std::make_unique<JointSegment>(target, std::min(line.values[6], joint_speed_cap()), acc);
        return move_->begin(ctx, q);
    }
    case ProgramLine::kLinearMove: {
        const CartPose pose{{line.values[0], line.values[1], line.values[2]},
                            {line.values[3], line.values[4], line.values[5]}};
        const Pose target = ctx.user * to_pose(pose);
        Joints end;
        if (const ErrorCode code = inverse_nearest(target * ctx.tool.inverse(), q, end))
            return code;
        const double acc = line.values[7] > 0 ? std::min(line.values[7], arm::kMaxLinearAcc) : arm::kDefaultLinearAcc;
        const CartesianLimits limits{std::min(line.values[6], arm::kMaxLinearSpeed), acc,
                                     arm::kOrientationSpeed, arm::kOrientationAcc};
        move_ = std::make_unique<CartesianSegment>(target, limits);
        return move_->begin(ctx, q);
    }
    }
    return kProgramLine;
}

bool ProgramSegment::request_stop(StopKind kind)
{
    ending_ = true;
    return !move_ || move_->request_stop(kind);
}

StepResult ProgramSegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (slot_.paused && !ending_) { /* its move comes to rest along its path, then it holds */
        if (move_ && !move_->pause()) {
            const StepResult r = move_->step(ctx, dt, q);
            return {StepResult::kRunning, r.error};
        }
        return {StepResult::kHolding, kOk};
    }
    if (move_)
        move_->resume();
    for (int n = 0; n < kInstantPerCycle; ++n) {
        if (move_) {
            const StepResult r = move_->step(ctx, dt, q);
            if (r.state == StepResult::kDone && r.error == kOk)
                move_.reset();
            if (r.error != kOk)
                return r;
            return {!move_ && ending_ ? StepResult::kDone : StepResult::kRunning, kOk};
        }
        if (ending_)
            return {StepResult::kDone, kOk};
        if (wait_left_ > 0) {
            wait_left_ -= dt;
            if (wait_left_ < 1e-9)
                wait_left_ = 0;
            return {StepResult::kRunning, kOk};
        }
        if (next_ >= program_->size())
            return {StepResult::kDone, kOk};
        const ProgramLine line = program_->command(next_++);
        slot_.line = line.number;
        if (const ErrorCode code = start_line(ctx, line, q))
            return {StepResult::kRunning, code};
    }
    return {StepResult::kRunning, kOk};
}

std::uint32_t program_state(const ProgramSlot &p)
{
    if (!p.run)
        return kProgramIdle;
    if (!p.run->finished && !p.run->stopping)
        return p.paused ? kProgramPaused : kProgramRunning;
    return p.run->code == kOk || p.run->code == kAborted ? kProgramIdle : kProgramError;
}

/* ---- payload identification ------------------------------------------------------ */

namespace {

/* How the wrist turns (joints 4, 5, 6) for each reading after the first:
 * each tilts the flange another way, so that gravity shows the payload's
 * centre along every axis, and none brings the wrist near the forearm. A
 * joint that would leave its limits turns the other way. */
constexpr double kWristTurns[IdentifySegment::kTurns][3] = {
    {0.0, 0.7, 0.0},
    {0.0, -0.7, 1.6},
    {0.6, 0.0, -1.6},
};

} // namespace

IdentifySegment::IdentifySegment(const Joints &pose, ForceControl &force, const TorqueMonitor &monitor)
    : pose_(pose), move_(std::make_unique<JointSegment>(pose, kSpeed, arm::kDefaultJointAcc)), force_(force),
      monitor_(monitor)
{
    weights_.setZero();
    payload_torques_.setZero();
}

ErrorCode IdentifySegment::begin(const MotionContext &ctx, const Joints &now) { return move_->begin(ctx, now); }

bool IdentifySegment::request_stop(StopKind kind)
{
    ending_ = true;
    return !move_ || move_->request_stop(kind);
}

Joints IdentifySegment::reading_pose(std::size_t n) const
{
    Joints q = pose_;
    if (n == 0 || n > kTurns)
        return q;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t j = 3 + k;
        const double turned = pose_[j] + kWristTurns[n - 1][k];
        q[j] = turned >= arm::kLowerLimit[j] && turned <= arm::kUpperLimit[j] ? turned : pose_[j] - kWristTurns[n - 1][k];
    }
    return q;
}

/* At rest at q: the torques the arm needs beyond the bare arm's, and how
 * each depends on the payload's mass and on mass times centre. */
void IdentifySegment::read(const Joints &q)
{
    const dynamics::Chain c = dynamics::chain(q);
    dynamics::Load bare;
    bare.gravity = monitor_.gravity();
    const Joints arm_alone = dynamics::inverse_dynamics(q, Joints{}, Joints{}, bare);
    const Eigen::Vector3d up = -bare.gravity; /* the weight, reversed: what the joints hold up */
    for (std::size_t j = 0; j < 6; ++j) {
        const Eigen::Index row = static_cast<Eigen::Index>(readings_ * 6 + j);
        const Eigen::Vector3d axis = c.axis(j);
        weights_(row, 0) = axis.dot((c.flange_origin - c.origin[j]).cross(up));
        weights_.block<1, 3>(row, 1) = (c.flange_rotation.transpose() * up.cross(axis)).transpose();
        payload_torques_(row) = monitor_.torques()[j] - arm_alone[j];
    }
}

void IdentifySegment::solve()
{
    const Eigen::Vector4d fit = weights_.colPivHouseholderQr().solve(payload_torques_);
    const double mass = std::abs(fit(0)) < 1e-9 ? 0.0 : fit(0);
    const Eigen::Vector3d centre = mass != 0 ? Eigen::Vector3d(fit.tail<3>() / mass * 1000.0) /* mm */
                                             : Eigen::Vector3d::Zero();
    force_.identified = PayloadData{mass, {centre.x(), centre.y(), centre.z()}};
}

StepResult IdentifySegment::step(const MotionContext &ctx, double dt, Joints &q)
{
    if (move_) {
        const StepResult r = move_->step(ctx, dt, q);
        if (r.error != kOk || r.state != StepResult::kDone)
            return r;
        move_.reset();
        rested_ = 0;
        return {ending_ ? StepResult::kDone : StepResult::kRunning, kOk};
    }
    if (ending_)
        return {StepResult::kDone, kOk};
    rested_ += dt;
    if (rested_ + 1e-9 < kSettle)
        return {StepResult::kRunning, kOk};
    read(q);
    if (++readings_ == kReadings) {
        solve();
        return {StepResult::kDone, kOk};
    }
    move_ = std::make_unique<JointSegment>(reading_pose(readings_), kWristSpeed, arm::kDefaultJointAcc);
    return {StepResult::kRunning, move_->begin(ctx, q)};
}

std::int32_t identify_status(const ForceControl &f)
{
    if (!f.identify)
        return 0;
    if (!f.identify->finished)
        return f.identify->stopping ? 0 : 1;
    return f.identify->code == kOk ? 2 : 0;
}

} // namespace zsim
