/*
 * Jerk-limited motion of one coordinate: the time-optimal way from any state
 * (position, velocity, acceleration) to rest at a target, or to a given
 * velocity (a stop is velocity 0), within limits of velocity, acceleration
 * and jerk; and the same for several coordinates that must arrive together.
 *
 * Units are the caller's: a position unit x (rad, mm, a path parameter) and
 * seconds; velocity x/s, acceleration x/s^2, jerk x/s^3. A trajectory is a
 * few phases of constant jerk from its start state, sampled exactly at any
 * time; past its end it rests at its target (to_rest) or goes on at its final
 * velocity with no acceleration (to_velocity).
 *
 * A start state beyond the limits (faster than the velocity limit, or with
 * more acceleration than allowed) is brought within them at the limits first;
 * only what no trajectory can avoid then exceeds them (a start whose velocity
 * overshoots before the jerk limit can turn its acceleration round).
 *
 * Pure functions of their arguments: nothing here locks, allocates or keeps
 * state between calls.
 */
#ifndef ZSIM_JERK_LIMITED_H
#define ZSIM_JERK_LIMITED_H

#include <array>
#include <cstddef>

namespace zsim {
namespace jerk {

struct State {
    double p = 0; /* position, x */
    double v = 0; /* velocity, x/s */
    double a = 0; /* acceleration, x/s^2 */
};

/* Each > 0 and finite (velocity may be infinite for to_velocity). Symmetric:
 * the same limit in either direction. */
struct Limits {
    double v; /* x/s */
    double a; /* x/s^2 */
    double j; /* x/s^3 */
};

class Trajectory {
public:
    /* At rest at `p` (duration 0). */
    Trajectory() = default;
    explicit Trajectory(double p);

    /* The fastest way from `from` to rest at `target`. */
    static Trajectory to_rest(const State &from, double target, const Limits &limits);
    /* The fastest way from `from` to velocity `velocity` with no acceleration
     * (limits.v is not used: the caller chooses the velocity). */
    static Trajectory to_velocity(const State &from, double velocity, const Limits &limits);
    /* From `from` to rest at `target` arriving exactly `duration` seconds
     * later, by a lower velocity limit: false (and *out unchanged) when the
     * fastest way takes longer, or when no lower velocity limit gives that
     * duration. */
    static bool to_rest_in(const State &from, double target, const Limits &limits, double duration,
                           Trajectory *out);
    /* The fastest way from `from` to pass `target` (ahead of it) at
     * `velocity` (>= 0) with no acceleration, never turning back and no
     * faster on the way than limits.v (or `velocity`, when that is higher).
     * False (and *out unchanged) when that cannot be done: even the quickest
     * change to `velocity` passes the target. */
    static bool to_passing(const State &from, double target, double velocity, const Limits &limits,
                           Trajectory *out);
    /* The way a change of velocity between v and w (>= 0) covers when it
     * starts and ends with no acceleration, at `acc` and `jerk` (speeding
     * up from v to w covers as much as slowing down from w to v). */
    static double change_way(double v, double w, double acc, double jerk);
    /* The highest velocity w >= v (>= 0) with change_way(v, w) <= way:
     * how fast a coordinate can be after speeding up from v over `way`, or
     * before slowing down to v within it. */
    static double reachable(double v, double way, double acc, double jerk);

    /* From `from`, its acceleration taken as zero, to `velocity` in exactly
     * `duration` seconds, shaped the same whatever the change: the
     * acceleration turns for the first quarter of the time, holds for half
     * and turns back in the last quarter, so it peaks at 4 dv / (3 T) with a
     * jerk of 16 dv / (3 T^2) (dv the change, T the duration); the way covered
     * is the mean of the two velocities times T. Two such ramps over the same
     * time blend one motion into another. */
    static Trajectory ramp(const State &from, double velocity, double duration);
    /* Peak acceleration and jerk of a ramp by dv over T (see ramp). */
    static constexpr double ramp_acc(double dv, double duration) { return 4 * dv / (3 * duration); }
    static constexpr double ramp_jerk(double dv, double duration) { return 16 * dv / (3 * duration * duration); }

    /* The state t seconds after the start (t <= 0: the start). */
    State at(double t) const;
    double duration() const { return duration_; }
    const State &start() const { return start_; }
    /* The state at the end (at rest at the target, or at the final velocity). */
    const State &end() const { return end_; }

private:
    static constexpr std::size_t kMaxPhases = 8;
    struct Phase {
        double duration; /* s */
        double jerk;     /* x/s^3 */
    };

    void add(double duration, double jerk);
    /* Adds the fastest change from the present end to `velocity` with no
     * acceleration. */
    void add_velocity_change(double velocity, double acc, double jerk);
    /* The phases of `other`'s first `seconds`. */
    void add_first(const Trajectory &other, double seconds);
    /* Recomputes end_ from the phases. */
    void close();

    State start_{}, end_{};
    std::array<Phase, kMaxPhases> phases_{};
    std::size_t count_ = 0;
    double duration_ = 0;
};

/* Limits that need not be symmetric, as a frame moving with a target sees
 * them: velocity within [v_lo, v_hi], acceleration within [a_lo, a_hi]
 * (v_lo < 0 < v_hi, a_lo < 0 < a_hi), jerk within +-j. */
struct Bounds {
    double v_lo, v_hi; /* x/s */
    double a_lo, a_hi; /* x/s^2 */
    double j;          /* x/s^3 */
};

/* The state `dt` seconds along the fastest way from `from` to rest at 0
 * within `bounds`: exactly at rest at 0 when that way takes no longer than
 * dt. An online generator steps by this once a cycle, planning afresh from
 * where it is each time. */
State toward_rest(const State &from, const Bounds &bounds, double dt);

/* Several coordinates from their states to rest at their targets, all
 * arriving together at the latest of their fastest arrivals: each trajectory
 * written to out[i]. Returns the common duration. A coordinate that cannot be
 * slowed to that duration (rare: a start that leaves no slower way) keeps its
 * fastest trajectory and rests early. */
double synchronised(const State *from, const double *target, const Limits *limits, std::size_t count,
                    Trajectory *out);

} // namespace jerk
} // namespace zsim

#endif /* ZSIM_JERK_LIMITED_H */
