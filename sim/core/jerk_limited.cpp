/*
 * Jerk-limited motion (jerk_limited.h).
 *
 * A change of velocity is at most three phases: the acceleration turns
 * toward its peak at the jerk limit, holds there (at most the acceleration
 * limit) and turns back to zero, arriving at the velocity asked for.
 *
 * To rest at a target: the fastest way pushes toward the target as hard as
 * the limits allow (a change of velocity toward the velocity limit, then
 * cruising) and brakes at the last moment from which braking (a change to
 * velocity 0) ends exactly at the target. How far such a stop reaches grows
 * with the time spent pushing, so that moment is found by bisection. When
 * even braking at once ends beyond the target, the push goes the other way
 * (the trajectory turns back).
 */
#include "jerk_limited.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zsim {
namespace jerk {

namespace {

/* Bisections stop after this many halvings (far below a nanosecond of a
 * trajectory of hours) or once the interval stops shrinking. */
constexpr int kMaxHalvings = 200;

double sign(double x) { return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0); }

State advance(const State &s, double dt, double jerk)
{
    State n;
    n.p = s.p + dt * (s.v + dt * (s.a / 2 + dt * jerk / 6));
    n.v = s.v + dt * (s.a + dt * jerk / 2);
    n.a = s.a + dt * jerk;
    return n;
}

} // namespace

Trajectory::Trajectory(double p)
{
    start_.p = end_.p = p;
}

void Trajectory::add(double duration, double jerk)
{
    if (!(duration > 0) || count_ == kMaxPhases)
        return;
    phases_[count_++] = {duration, jerk};
    duration_ += duration;
}

void Trajectory::close()
{
    State s = start_;
    for (std::size_t i = 0; i < count_; ++i)
        s = advance(s, phases_[i].duration, phases_[i].jerk);
    end_ = s;
}

void Trajectory::add_velocity_change(double velocity, double acc, double jerk)
{
    close();
    const double v0 = end_.v, a0 = end_.a;
    /* the velocity where the acceleration, turned to zero at once, leaves it */
    const double settle = v0 + a0 * std::abs(a0) / (2 * jerk);
    const double scale = std::max({std::abs(velocity), std::abs(v0), acc * acc / jerk});
    const double way = sign(velocity - settle);
    if (std::abs(velocity - settle) <= 1e-15 * scale || way == 0) {
        add(std::abs(a0) / jerk, -sign(a0) * jerk);
        close();
        end_.v = velocity;
        end_.a = 0;
        return;
    }
    double peak; /* the acceleration held in the middle phase, signed `way` */
    if (sign(a0) == way && std::abs(a0) >= acc) {
        peak = way * acc; /* beyond the limit: back to it first */
    } else {
        const double peak2 = way * jerk * (velocity - v0) + a0 * a0 / 2;
        peak = way * std::min(acc, std::sqrt(std::max(0.0, peak2)));
    }
    const double t1 = std::abs(peak - a0) / jerk;
    const double t3 = std::abs(peak) / jerk;
    const double gained = (a0 + peak) / 2 * t1 + peak / 2 * t3;
    const double t2 = peak != 0 ? std::max(0.0, (velocity - v0 - gained) / peak) : 0.0;
    add(t1, sign(peak - a0) * jerk);
    add(t2, 0);
    add(t3, -way * jerk);
    close();
    end_.v = velocity;
    end_.a = 0;
}

Trajectory Trajectory::to_velocity(const State &from, double velocity, const Limits &limits)
{
    Trajectory t;
    t.start_ = t.end_ = from;
    t.add_velocity_change(velocity, limits.a, limits.j);
    return t;
}

Trajectory Trajectory::to_rest(const State &from, double target, const Limits &limits)
{
    const double distance = target - from.p;
    const Trajectory brake = to_velocity(from, 0, limits);
    const double braked = brake.end_.p - from.p;
    const double scale = std::max({std::abs(distance), std::abs(braked), limits.v * limits.v / limits.a});
    Trajectory out;
    if (std::abs(braked - distance) <= 1e-14 * scale) {
        out = brake;
    } else {
        /* push toward the target (or back, when braking at once overshoots) */
        const double way = distance > braked ? 1.0 : -1.0;
        const Trajectory push = to_velocity(from, way * limits.v, limits);
        /* how far braking after `tau` seconds of pushing reaches, minus the distance, signed `way` */
        const auto short_of = [&](double tau) {
            const Trajectory stop = to_velocity(push.at(tau), 0, limits);
            return way * (distance - (stop.end_.p - from.p));
        };
        double tau;
        double cruise = 0;
        if (short_of(push.duration_) >= 0) {
            tau = push.duration_;
            cruise = short_of(tau) / limits.v; /* at the velocity limit for the rest */
        } else {
            double lo = 0, hi = push.duration_;
            for (int i = 0; i < kMaxHalvings; ++i) {
                const double mid = 0.5 * (lo + hi);
                if (mid <= lo || mid >= hi)
                    break;
                (short_of(mid) >= 0 ? lo : hi) = mid;
            }
            tau = lo;
        }
        out.start_ = from;
        double left = tau;
        for (std::size_t i = 0; i < push.count_ && left > 0; ++i) {
            out.add(std::min(left, push.phases_[i].duration), push.phases_[i].jerk);
            left -= push.phases_[i].duration;
        }
        out.add(cruise, 0);
        out.add_velocity_change(0, limits.a, limits.j);
    }
    out.end_ = State{target, 0, 0};
    return out;
}

Trajectory Trajectory::ramp(const State &from, double velocity, double duration)
{
    Trajectory t;
    t.start_ = from;
    t.start_.a = 0;
    if (duration > 0) {
        const double jerk = ramp_jerk(velocity - from.v, duration);
        t.add(duration / 4, jerk);
        t.add(duration / 2, 0);
        t.add(duration / 4, -jerk);
    }
    t.close();
    t.end_.v = velocity;
    t.end_.a = 0;
    return t;
}

bool Trajectory::to_rest_in(const State &from, double target, const Limits &limits, double duration,
                            Trajectory *out)
{
    const Trajectory fastest = to_rest(from, target, limits);
    const double slack = 1e-12 * std::max(1.0, duration);
    if (fastest.duration_ > duration + slack)
        return false;
    if (fastest.duration_ >= duration - slack) {
        *out = fastest;
        return true;
    }
    /* slower with a lower velocity limit: the duration falls as the limit rises */
    Limits slower = limits;
    double lo = 0, hi = limits.v;
    Trajectory found;
    bool any = false;
    for (int i = 0; i < kMaxHalvings; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi)
            break;
        slower.v = mid;
        const Trajectory t = to_rest(from, target, slower);
        if (t.duration_ > duration) {
            lo = mid;
        } else {
            hi = mid;
            found = t;
            any = true;
        }
    }
    if (!any || std::abs(found.duration_ - duration) > 1e-9 * std::max(1.0, duration))
        return false;
    *out = found;
    return true;
}

State Trajectory::at(double t) const
{
    if (t >= duration_) {
        State s = end_;
        if (t > duration_)
            s.p += s.v * (t - duration_);
        return s;
    }
    State s = start_;
    double left = std::max(t, 0.0);
    for (std::size_t i = 0; i < count_ && left > 0; ++i) {
        const double dt = std::min(left, phases_[i].duration);
        s = advance(s, dt, phases_[i].jerk);
        left -= dt;
    }
    return s;
}

double synchronised(const State *from, const double *target, const Limits *limits, std::size_t count,
                    Trajectory *out)
{
    double duration = 0;
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = Trajectory::to_rest(from[i], target[i], limits[i]);
        duration = std::max(duration, out[i].duration());
    }
    for (std::size_t i = 0; i < count; ++i)
        Trajectory::to_rest_in(from[i], target[i], limits[i], duration, &out[i]);
    return duration;
}

} // namespace jerk
} // namespace zsim
