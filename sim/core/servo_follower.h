/*
 * Following a servo stream's command within limits of velocity,
 * acceleration and jerk: one coordinate (Tracker), and the arm's six joints
 * (JointFollower).
 *
 * The command is sampled once a cycle (where it stands at the end of the
 * cycle). Each cycle the tracker plans the fastest way onto the command as
 * it moves, within its limits, and takes the first cycle of that plan: an
 * online jerk-limited generator. The command is taken to move on at the
 * speed of its last cycle (a line); with feed-forward, while the arm is on
 * a stream whose last five samples show no acceleration beyond the limit,
 * also with their mean acceleration, so that a stream within the limits is
 * followed with almost no lag. Bursts, pauses and jumps are followed as a
 * line, which never over-reacts to them.
 *
 * Units are the coordinate's (rad for joints, mm for the TCP); seconds.
 */
#ifndef ZSIM_SERVO_FOLLOWER_H
#define ZSIM_SERVO_FOLLOWER_H

#include "jerk_limited.h"
#include "kinematics.h"

#include <array>
#include <limits>

namespace zsim {

/* One coordinate following a command. */
class Tracker {
public:
    /* At rest at `at`, the command held there. */
    void reset(double at);
    /* One cycle of dt seconds; `command` is where the command stands at its
     * end. The state stays within `limits` in every cycle, and never comes
     * to rest beyond [lower, upper] (it slows in time, and stops on a bound
     * rather than follow the command past it). Without `feed_forward` the
     * command is always taken to move on as a line. */
    void step(double command, const jerk::Limits &limits, double dt, bool feed_forward = true,
              double lower = -std::numeric_limits<double>::infinity(),
              double upper = std::numeric_limits<double>::infinity());
    const jerk::State &state() const { return state_; }
    /* Exactly at rest on `at`. */
    bool resting_on(double at) const { return state_.p == at && state_.v == 0 && state_.a == 0; }

private:
    /* The first cycle of the fastest way onto the command, taken to stand
     * at `command` with `velocity` at the end of this cycle, accelerating at
     * `acc` throughout. */
    jerk::State toward(double command, double velocity, double acc, const jerk::Limits &limits, double dt) const;

    jerk::State state_{};
    std::array<double, 5> recent_{}; /* the command at the end of this cycle and the four before */
};

/* The arm's six joints following the joint command, each within its speed,
 * acceleration and jerk and inside its range. */
class JointFollower {
public:
    explicit JointFollower(const Joints &at);
    /* One cycle toward `command`, each joint within limits[j]. */
    void step(const Joints &command, const std::array<jerk::Limits, 6> &limits, double dt, bool feed_forward);
    Joints position() const;
    const jerk::State &joint(std::size_t j) const { return joints_[j].state(); }
    bool resting_on(const Joints &command) const;
    /* The largest distance of a joint from `command` (rad). */
    double error(const Joints &command) const;

private:
    std::array<Tracker, 6> joints_;
};

} // namespace zsim

#endif /* ZSIM_SERVO_FOLLOWER_H */
