/*
 * Following a servo stream's command (servo_follower.h).
 *
 * The plan is made in a frame that moves with the command: there the
 * command stands still at 0, and the tracker's own velocity and
 * acceleration limits are shifted by the command's (jerk::Bounds). The
 * fastest way to rest at 0 in that frame is the fastest way onto the
 * command. A plan that is exactly on the command by the end of the cycle
 * puts the coordinate exactly there, so a command that stops is reached
 * exactly, not approached forever.
 */
#include "servo_follower.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* The command's velocity is kept this share inside the limit, so that the
 * moving frame leaves room both ways. */
constexpr double kInside = 1e-9;
/* Of the acceleration limit, the command's own acceleration takes at most
 * this share, leaving the rest to correct with. */
constexpr double kAccShare = 0.999;
/* Rounding, not a real excess. */
constexpr double kSlack = 1 + 1e-9;

double clamp(double x, double limit) { return std::max(-limit, std::min(limit, x)); }

/* The last five samples show no acceleration beyond `acc`: a smooth stream,
 * not a burst, a pause or a jump. */
bool smooth(const std::array<double, 5> &c, double acc, double dt)
{
    for (std::size_t i = 0; i + 2 < c.size(); ++i)
        if (std::abs(c[i] - 2 * c[i + 1] + c[i + 2]) > acc * dt * dt * kSlack)
            return false;
    return true;
}

/* The velocity can still be held within the limit: turning the acceleration
 * to zero at the jerk limit does not carry it past. */
bool viable(double velocity, double acc, const jerk::Limits &l)
{
    const double peak = velocity + acc * std::abs(acc) / (2 * l.j);
    return std::abs(peak) <= l.v * kSlack && std::abs(velocity) <= l.v * kSlack;
}

} // namespace

void Tracker::reset(double at)
{
    state_ = {at, 0, 0};
    recent_.fill(at);
}

jerk::State Tracker::toward(double command, double velocity, double acc, const jerk::Limits &l, double dt) const
{
    /* the command over this cycle: at `command` with `velocity` at its end,
     * accelerating at `acc` throughout */
    const double start_velocity = velocity - acc * dt;
    const double start_position = command - velocity * dt + acc * dt * dt / 2;
    const jerk::State relative{state_.p - start_position, state_.v - start_velocity, state_.a - acc};
    const jerk::Bounds bounds{-l.v - std::min(start_velocity, velocity), l.v - std::max(start_velocity, velocity),
                              -l.a - acc, l.a - acc, l.j};
    const jerk::State r = jerk::toward_rest(relative, bounds, dt);
    return {command + r.p, velocity + r.v, acc + r.a};
}

void Tracker::step(double command, const jerk::Limits &l, double dt, bool feed_forward, double lower, double upper)
{
    for (std::size_t i = recent_.size() - 1; i > 0; --i)
        recent_[i] = recent_[i - 1];
    recent_[0] = command;
    const std::array<double, 5> &c = recent_;
    const double cap = l.v * (1 - kInside);
    jerk::State next{};
    bool planned = false;
    /* Its acceleration is fed forward only while the coordinate is on the
     * stream (within a cycle's worth of its acceleration limit): one that is
     * behind would chase a command taken to accelerate for ever, and
     * overshoot once it stops doing so. */
    const bool on_it =
        std::abs(state_.p - c[1]) <= l.a * dt * dt && std::abs(state_.v - (c[0] - c[1]) / dt) <= l.a * dt;
    if (feed_forward && on_it && smooth(c, l.a, dt)) {
        /* the mean acceleration of the last three cycles, and the velocity at
         * the end of this one */
        const double acc = clamp(((c[0] - c[1]) - (c[3] - c[4])) / (3 * dt * dt), kAccShare * l.a);
        const double velocity = (c[0] - c[1]) / dt + acc * dt / 2;
        if (acc != 0 && std::abs(velocity) <= cap && std::abs(velocity - acc * dt) <= cap && viable(velocity, acc, l)) {
            next = toward(command, velocity, acc, l, dt);
            planned = viable(next.v, next.a, l);
        }
    }
    if (!planned) /* as a line, at the speed of the last cycle: safe whatever the command does */
        next = toward(command, clamp((c[0] - c[1]) / dt, cap), 0, l, dt);
    /* Never on a course that passes a bound of the range: the command may
     * end at one at speed. Every state kept can still stop inside, so this
     * one stops exactly on the bound. */
    const double rest = jerk::Trajectory::to_velocity(next, 0, l).end().p;
    if (rest > upper || rest < lower)
        next = jerk::Trajectory::to_rest(state_, rest > upper ? upper : lower, l).at(dt);
    state_ = next;
}

JointFollower::JointFollower(const Joints &at)
{
    for (std::size_t j = 0; j < 6; ++j)
        joints_[j].reset(at[j]);
}

void JointFollower::step(const Joints &command, const std::array<jerk::Limits, 6> &limits, double dt,
                         bool feed_forward)
{
    for (std::size_t j = 0; j < 6; ++j)
        joints_[j].step(command[j], limits[j], dt, feed_forward, arm::kLowerLimit[j], arm::kUpperLimit[j]);
}

Joints JointFollower::position() const
{
    Joints q;
    for (std::size_t j = 0; j < 6; ++j)
        q[j] = joints_[j].state().p;
    return q;
}

bool JointFollower::resting_on(const Joints &command) const
{
    for (std::size_t j = 0; j < 6; ++j)
        if (!joints_[j].resting_on(command[j]))
            return false;
    return true;
}

double JointFollower::error(const Joints &command) const
{
    double worst = 0;
    for (std::size_t j = 0; j < 6; ++j)
        worst = std::max(worst, std::abs(command[j] - joints_[j].state().p));
    return worst;
}

} // namespace zsim
