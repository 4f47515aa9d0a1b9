/*
 * A C face of the jerk-limited generator (sim/core/jerk_limited.h) for the
 * tests, which build it with the generator's source and call it through
 * ctypes. Never shipped.
 */
#include "jerk_limited.h"

using zsim::jerk::Limits;
using zsim::jerk::State;
using zsim::jerk::Trajectory;

namespace {

void sample(const Trajectory &t, const double *times, int count, double *out)
{
    for (int i = 0; i < count; ++i) {
        const State s = t.at(times[i]);
        out[3 * i] = s.p;
        out[3 * i + 1] = s.v;
        out[3 * i + 2] = s.a;
    }
}

} // namespace

extern "C" {

/* kind 0: to rest at `goal`; 1: to velocity `goal`; 2: to rest at `goal` in
 * `duration` seconds. Samples the trajectory at `times` into out (p, v, a
 * each); returns its duration, or -1 when kind 2 cannot be done. */
__attribute__((visibility("default"))) double jerk_plan(int kind, const double *state, double goal,
                                                        const double *limits, double duration,
                                                        const double *times, int count, double *out)
{
    const State from{state[0], state[1], state[2]};
    const Limits lim{limits[0], limits[1], limits[2]};
    Trajectory t;
    if (kind == 0)
        t = Trajectory::to_rest(from, goal, lim);
    else if (kind == 1)
        t = Trajectory::to_velocity(from, goal, lim);
    else if (!Trajectory::to_rest_in(from, goal, lim, duration, &t))
        return -1;
    sample(t, times, count, out);
    return t.duration();
}

/* `count` coordinates (states: p, v, a each; limits: v, a, j each) to rest
 * together; samples each at `times` into out[coordinate][time][p, v, a].
 * Returns the common duration. */
__attribute__((visibility("default"))) double jerk_synchronised(const double *states, const double *goals,
                                                                const double *limits, int count,
                                                                const double *times, int samples, double *out)
{
    State from[8];
    Limits lim[8] = {};
    Trajectory t[8];
    if (count > 8)
        return -1;
    for (int i = 0; i < count; ++i) {
        from[i] = State{states[3 * i], states[3 * i + 1], states[3 * i + 2]};
        lim[i] = Limits{limits[3 * i], limits[3 * i + 1], limits[3 * i + 2]};
    }
    const double duration = zsim::jerk::synchronised(from, goals, lim, static_cast<std::size_t>(count), t);
    for (int i = 0; i < count; ++i)
        sample(t[i], times, samples, out + 3 * samples * i);
    return duration;
}

/* One cycle of dt toward rest at 0 within bounds (v_lo, v_hi, a_lo, a_hi,
 * j): the state after it into out (p, v, a). */
__attribute__((visibility("default"))) void jerk_toward_rest(const double *state, const double *bounds, double dt,
                                                             double *out)
{
    const zsim::jerk::Bounds b{bounds[0], bounds[1], bounds[2], bounds[3], bounds[4]};
    const State s = zsim::jerk::toward_rest(State{state[0], state[1], state[2]}, b, dt);
    out[0] = s.p;
    out[1] = s.v;
    out[2] = s.a;
}


/* The way a change of velocity from v to w covers (Trajectory::change_way). */
__attribute__((visibility("default"))) double jerk_change_way(double v, double w, double acc, double jerk)
{
    return Trajectory::change_way(v, w, acc, jerk);
}

/* The highest velocity after speeding up from v over `way` (Trajectory::reachable). */
__attribute__((visibility("default"))) double jerk_reachable(double v, double way, double acc, double jerk)
{
    return Trajectory::reachable(v, way, acc, jerk);
}

/* From `state` to pass `target` at `velocity` with no acceleration
 * (Trajectory::to_passing): its duration, and its end into out (p, v, a);
 * -1 when it cannot be done. */
__attribute__((visibility("default"))) double jerk_to_passing(const double *state, double target, double velocity,
                                                              const double *limits, double *out)
{
    Trajectory t;
    if (!Trajectory::to_passing(State{state[0], state[1], state[2]}, target, velocity,
                                Limits{limits[0], limits[1], limits[2]}, &t))
        return -1;
    const State end = t.end();
    out[0] = end.p;
    out[1] = end.v;
    out[2] = end.a;
    return t.duration();
}

} // extern "C"
