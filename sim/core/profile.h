/*
 * The speed profile every move follows along its path.
 */
#ifndef ZSIM_PROFILE_H
#define ZSIM_PROFILE_H

#include "jerk_limited.h"

#include <array>

namespace zsim {

/* Motion along one coordinate u (a path parameter, 0 to length), jerk-limited
 * (jerk_limited.h): planned from rest and re-planned from wherever it is;
 * position, speed and acceleration never jump, so samples taken at any times
 * show no speed, acceleration or jerk beyond its limits. */
class Profile {
public:
    struct Limits {
        double speed; /* cruise, > 0 */
        double acc;   /* speeding up and slowing down, > 0 */
        double jerk;  /* > 0 */
    };

    /* From rest at 0 to rest at `length`. */
    void plan(double length, const Limits &limits);
    /* From rest at 0: `wait` seconds at rest, then speeding up to `speed`
     * over `time` (a blend's head: jerk_limited.h's ramp), then on to rest at
     * `length`. False (and nothing planned) when the limits cannot do that. */
    bool plan_with_head(double length, const Limits &limits, double wait, double speed, double time);
    /* From here to rest at the end under new limits; a speed above the new
     * cruise speed comes down at the acceleration and jerk of `transition`
     * (those of the larger of the old and new rapid rate). Nothing changes
     * while stopping. */
    void retime(const Limits &limits, const Limits &transition);
    /* From here on: reach length - speed * time / 2 at `speed`, then slow
     * down to rest at the end over `time` (a blend's tail, the mirror of a
     * head). Returns the time until the tail starts, or a negative number
     * (nothing changed) when the limits cannot do that. */
    double end_with_tail(double speed, double time);
    /* Comes to rest at deceleration `dec` and jerk `jerk`, or sooner where
     * the plan already does (the end, an earlier stop). */
    void stop(double dec, double jerk);
    /* Comes to rest exactly at `at` (from here to the end), at the limits
     * when it can, harder when it must. */
    void stop_at(double at);
    /* A pause: a stop as above that keeps where the plan rests, for resume. */
    void pause(double dec, double jerk);
    /* After a pause: from here to rest where the plan rested before it, under `limits`. */
    void resume(const Limits &limits);
    /* From speed `speed` at 0 to rest at deceleration `dec` and jerk `jerk`
     * (a stop of a motion that had no profile: the servo stream). */
    void brake(double speed, double dec, double jerk);

    void advance(double dt);

    double position() const { return state_.p; }
    double speed() const { return state_.v; }
    double acceleration() const { return state_.a; }
    double length() const { return length_; }
    /* Where the plan comes to rest. */
    double rest() const { return rest_; }
    /* Where a stop at the limits from here would come to rest. */
    double braked() const;
    /* A stop was ordered: it rests short of the end and keeps its plan. */
    bool stopping() const { return stopping_; }
    bool finished() const { return t_ >= end_; }
    const Limits &limits() const { return limits_; }

private:
    struct Part {
        double begin; /* s after the plan's start */
        jerk::Trajectory path;
    };
    static constexpr int kMaxParts = 4;

    /* A new plan from the present state: no parts yet. */
    void rebase();
    void append(double begin, const jerk::Trajectory &path);
    void evaluate();

    std::array<Part, kMaxParts> parts_{};
    int count_ = 0;
    double t_ = 0, end_ = 0; /* time since the plan started; when it ends */
    jerk::State state_{};
    double length_ = 0, rest_ = 0;
    double resume_rest_ = 0; /* where the plan rested before a pause */
    bool stopping_ = false;
    Limits limits_{1, 1, 1};
};

} // namespace zsim

#endif /* ZSIM_PROFILE_H */
