/*
 * The speed profile every move follows along its path.
 */
#ifndef ZSIM_PROFILE_H
#define ZSIM_PROFILE_H

#include "jerk_limited.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace zsim {

/* How fast a path may be followed, stretch by stretch, whatever the move
 * asks: on a Cartesian path, what the joints allow (joint_path.h). In path
 * units at rapid rate 1; a profile scales them by its limits' speed_scale
 * and acc_scale. */
struct Stretch {
    double end;       /* where the stretch ends (it begins where the one before ends, the first at 0) */
    double speed;     /* > 0: the highest speed on the stretch */
    double acc;       /* > 0: the acceleration speeding up at `speed` */
    double dec;       /* > 0: the deceleration slowing down at `speed` */
    double quick_acc; /* > 0: the deceleration of a quick stop on the stretch, at any speed */
    double rest_acc;  /* > 0: the acceleration either way while at rest; between rest and
                         `speed` the acceleration allowed is no lower than along a straight
                         line in the square of the speed from rest_acc to acc (speeding up)
                         or to dec (slowing down) */
    /* Speeding up (`up`) or slowing down, the acceleration allowed at `v` (<= speed). */
    double acc_at(double v, bool up) const
    {
        const double share = speed > 0 ? std::min(1.0, v / speed) : 1.0;
        return rest_acc + ((up ? acc : dec) - rest_acc) * share * share;
    }
    /* The acceleration allowed at any speed up to `speed`, either way. */
    double least() const { return std::min({acc, dec, rest_acc}); }
    /* The most acceleration allowed at some speed up to `speed`, either way. */
    double most() const { return std::max({acc, dec, rest_acc}); }
};
using SpeedLimit = std::vector<Stretch>;

/* Motion along one coordinate u (a path parameter, 0 to length), jerk-limited
 * (jerk_limited.h): planned from rest and re-planned from wherever it is;
 * position, speed and acceleration never jump, so samples taken at any times
 * show no speed, acceleration or jerk beyond its limits. With a speed limit
 * along the way (limit_by) every plan also keeps, on each stretch, that
 * stretch's speed and acceleration: it slows down before a slower stretch
 * and crosses from one stretch to the next with no acceleration. */
class Profile {
public:
    struct Limits {
        double speed; /* cruise, > 0 */
        double acc;   /* speeding up and slowing down, > 0 */
        double jerk;  /* > 0 */
        /* the speed limit along the way is scaled by these (the rapid rate r: r and r^2) */
        double speed_scale = 1;
        double acc_scale = 1;
    };

    /* Every plan from now on also keeps `limit` (null: none). `detail`, if
     * given, is the same limit on finer stretches (each within one of
     * `limit`): where in a stretch its acceleration binds, so a stretch
     * crossed below its top speed plans with the acceleration that speed
     * allows. The profile keeps the pointers: the limits must outlive it and
     * its copies. */
    void limit_by(const SpeedLimit *limit, const SpeedLimit *detail = nullptr)
    {
        limit_ = limit;
        detail_ = detail;
    }
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
     * the plan already does (the end, an earlier stop); no harder than the
     * speed limit's stretches allow on the way (their quick_acc for a quick
     * stop, else their deceleration at any speed; at rapid rate 1). */
    void stop(double dec, double jerk, bool quick = false);
    /* From here to rest at `length`, further on than the plan's end (a
     * path without end, known further now). Nothing changes while stopping. */
    void extend(double length);
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
    /* Seconds until the plan rests. */
    double remaining() const { return end_ > t_ ? end_ - t_ : 0.0; }
    const Limits &limits() const { return limits_; }
    /* The highest speed and the lowest acceleration the speed limit allows
     * from `from` to `to` under `limits` (the limits' own where it says
     * nothing). */
    void bounds(double from, double to, const Limits &limits, double *speed, double *acc) const;

private:
    struct Part {
        double begin; /* s after the plan's start */
        jerk::Trajectory path;
    };

    /* A new plan from the present state: no parts yet. */
    void rebase();
    void append(double begin, const jerk::Trajectory &path);
    void evaluate();
    /* Appends the fastest way from `from`, at `begin` seconds into the plan,
     * to pass `until` at `velocity` (0: to rest there) within `limits` and
     * the speed limit. False (nothing appended) when the way cannot keep
     * them: it would pass `until` faster. */
    bool append_way(double begin, const jerk::State &from, double until, double velocity, const Limits &limits);
    /* Limits that keep every stretch of the speed limit at once: what a
     * plan falls back to when it cannot be made stretch by stretch. */
    Limits slowest(const Limits &limits) const;
    /* retime() without a speed limit along the way. */
    void retime_unlimited(const jerk::State &here, const Limits &limits, const Limits &transition);
    /* The deceleration a stop from here may have: `dec`, less where a
     * stretch it crosses allows less (its accelerations times `scale`). */
    double stop_dec(double dec, double jerk, bool quick, double scale) const;

    std::vector<Part> parts_;
    std::size_t current_ = 0;  /* the part t_ is in */
    double t_ = 0, end_ = 0; /* time since the plan started; when it ends */
    jerk::State state_{};
    double length_ = 0, rest_ = 0;
    double resume_rest_ = 0; /* where the plan rested before a pause */
    bool stopping_ = false;
    Limits limits_{1, 1, 1};
    const SpeedLimit *limit_ = nullptr;
    const SpeedLimit *detail_ = nullptr;
};

} // namespace zsim

#endif /* ZSIM_PROFILE_H */
