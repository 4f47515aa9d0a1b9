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

/* The last moment in [0, longest] at which the change that ends a
 * trajectory can begin: all of `longest` when even then `short_of` (the
 * distance still short of the target, signed toward it) is not negative,
 * else the moment it turns negative, by bisection. */
template <class ShortOf>
double last_moment(double longest, const ShortOf &short_of)
{
    if (short_of(longest) >= 0)
        return longest;
    double lo = 0, hi = longest;
    for (int i = 0; i < kMaxHalvings; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi)
            break;
        (short_of(mid) >= 0 ? lo : hi) = mid;
    }
    return lo;
}

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

void Trajectory::add_first(const Trajectory &other, double seconds)
{
    double left = seconds;
    for (std::size_t i = 0; i < other.count_ && left > 0; ++i) {
        add(std::min(left, other.phases_[i].duration), other.phases_[i].jerk);
        left -= other.phases_[i].duration;
    }
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
        const double tau = last_moment(push.duration_, short_of);
        /* at the velocity limit for the rest, when the whole push falls short */
        const double cruise = tau < push.duration_ ? 0 : short_of(tau) / limits.v;
        out.start_ = from;
        out.add_first(push, tau);
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

bool Trajectory::to_passing(const State &from, double target, double velocity, const Limits &limits,
                            Trajectory *out)
{
    const double distance = target - from.p;
    const double cruise = std::max(limits.v, velocity);
    const Trajectory change = to_velocity(from, velocity, limits);
    const double changed = change.end_.p - from.p;
    const double scale = std::max({std::abs(distance), std::abs(changed), cruise * cruise / limits.a,
                                   std::abs(target)}); /* positions are good to their rounding */
    if (changed > distance + 1e-12 * scale)
        return false;
    Trajectory way;
    if (changed >= distance - 1e-14 * scale) {
        way = change;
    } else {
        /* push toward the cruise velocity; change to `velocity` at the last moment */
        const Trajectory push = to_velocity(from, cruise, limits);
        const auto short_of = [&](double tau) {
            return distance - (to_velocity(push.at(tau), velocity, limits).end_.p - from.p);
        };
        const double tau = last_moment(push.duration_, short_of);
        const double coast = tau < push.duration_ ? 0 : short_of(tau) / cruise;
        way.start_ = from;
        way.add_first(push, tau);
        way.add(coast, 0);
        way.add_velocity_change(velocity, limits.a, limits.j);
    }
    way.end_ = State{target, velocity, 0};
    *out = way;
    return true;
}

double Trajectory::change_way(double v, double w, double acc, double jerk)
{
    const double dv = std::abs(w - v);
    const double time = dv >= acc * acc / jerk ? dv / acc + acc / jerk : 2 * std::sqrt(dv / jerk);
    return (v + w) / 2 * time;
}

double Trajectory::reachable(double v, double way, double acc, double jerk)
{
    if (!(way > 0))
        return v;
    if (!std::isfinite(way) || !std::isfinite(acc))
        return std::numeric_limits<double>::infinity();
    /* a change too small to reach `acc`: (2v + dv) sqrt(dv / jerk) = way, a
     * cubic in s = sqrt(dv), s^3 + 2 v s = way sqrt(jerk), convex and rising:
     * Newton's steps from above converge */
    const double c = way * std::sqrt(jerk);
    double s = std::cbrt(c);
    if (v > 0)
        s = std::min(s, c / (2 * v));
    for (int i = 0; i < 60; ++i) {
        const double f = s * (s * s + 2 * v) - c;
        const double next = s - f / (3 * s * s + 2 * v);
        if (!(next < s))
            break;
        s = next;
    }
    double dv = s * s;
    if (dv > acc * acc / jerk) { /* reaches acc: dv^2 / (2 acc) + dv (v / acc + acc / (2 jerk)) + v acc / jerk = way */
        const double qa = 1 / (2 * acc), qb = v / acc + acc / (2 * jerk), qc = v * acc / jerk - way;
        dv = 2 * -qc / (qb + std::sqrt(std::max(0.0, qb * qb - 4 * qa * qc)));
    }
    return v + std::max(0.0, dv);
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

/* ---- to rest within bounds that need not be symmetric ------------------------------- */

namespace zsim {
namespace jerk {

namespace {

/* A few phases of constant jerk from a start state: toward_rest's own small
 * trajectory (the same shape as Trajectory's, with bounds per direction). */
struct Plan {
    State start{};
    std::array<double, 8> duration{}, jerk{};
    std::size_t count = 0;
    double total = 0;

    void add(double d, double j)
    {
        if (!(d > 0) || count == duration.size())
            return;
        duration[count] = d;
        jerk[count++] = j;
        total += d;
    }
    State at(double t) const
    {
        State s = start;
        double left = std::max(t, 0.0);
        for (std::size_t i = 0; i < count && left > 0; ++i) {
            const double d = std::min(left, duration[i]);
            s = advance(s, d, jerk[i]);
            left -= d;
        }
        return s;
    }
    State end() const { return at(total); }
};

/* Adds the fastest change from the end of `plan` to `velocity` with no
 * acceleration: the acceleration turns toward its peak (at most the bound of
 * that direction), holds and turns back. */
void change_velocity(Plan &plan, double velocity, const Bounds &b)
{
    const State s = plan.end();
    const double v0 = s.v, a0 = s.a;
    const double settle = v0 + a0 * std::abs(a0) / (2 * b.j);
    const double scale = std::max({std::abs(velocity), std::abs(v0), a0 * a0 / b.j});
    const double way = sign(velocity - settle);
    if (way == 0 || std::abs(velocity - settle) <= 1e-15 * scale) {
        plan.add(std::abs(a0) / b.j, -sign(a0) * b.j);
        return;
    }
    const double acc = way > 0 ? b.a_hi : -b.a_lo;
    double peak;
    if (sign(a0) == way && std::abs(a0) >= acc) {
        peak = way * acc; /* beyond the bound: back to it first */
    } else {
        const double peak2 = way * b.j * (velocity - v0) + a0 * a0 / 2;
        peak = way * std::min(acc, std::sqrt(std::max(0.0, peak2)));
    }
    const double t1 = std::abs(peak - a0) / b.j;
    const double t3 = std::abs(peak) / b.j;
    const double gained = (a0 + peak) / 2 * t1 + peak / 2 * t3;
    const double t2 = peak != 0 ? std::max(0.0, (velocity - v0 - gained) / peak) : 0.0;
    plan.add(t1, sign(peak - a0) * b.j);
    plan.add(t2, 0);
    plan.add(t3, -way * b.j);
}

/* Where braking from `s` at once comes to rest: the same three phases as
 * change_velocity to 0, integrated straight away (it runs in the root
 * search of every cycle). */
double braked_from(const State &s, const Bounds &b)
{
    const double settle = s.v + s.a * std::abs(s.a) / (2 * b.j);
    const double scale = std::max(std::abs(s.v), s.a * s.a / b.j);
    const double way = sign(-settle);
    if (way == 0 || std::abs(settle) <= 1e-15 * scale)
        return advance(s, std::abs(s.a) / b.j, -sign(s.a) * b.j).p;
    const double acc = way > 0 ? b.a_hi : -b.a_lo;
    double peak;
    if (sign(s.a) == way && std::abs(s.a) >= acc)
        peak = way * acc;
    else
        peak = way * std::min(acc, std::sqrt(std::max(0.0, way * b.j * -s.v + s.a * s.a / 2)));
    const double t1 = std::abs(peak - s.a) / b.j;
    const double t3 = std::abs(peak) / b.j;
    const double gained = (s.a + peak) / 2 * t1 + peak / 2 * t3;
    const double t2 = peak != 0 ? std::max(0.0, (-s.v - gained) / peak) : 0.0;
    State at = advance(s, t1, sign(peak - s.a) * b.j);
    at = advance(at, t2, 0);
    return advance(at, t3, -way * b.j).p;
}

/* Whether three phases of dt/3, each of a constant jerk within the bounds,
 * bring `s` to rest at 0, every state on the way within the bounds: then
 * the fastest way is no longer than dt either. A cheap answer for a
 * follower that is on its command, where most cycles end at rest on it. */
bool at_rest_within(const State &s, const Bounds &b, double dt)
{
    const double h = dt / 3;
    const double a = -s.a / h;
    const double v = -(s.v + 3 * h * s.a) / (h * h);
    const double p = -(s.p + 3 * h * s.v + 4.5 * h * h * s.a) / (h * h * h);
    const double j1 = p - v + a / 3, j2 = 3 * v - 2 * p - 7 * a / 6, j3 = p - 2 * v + 11 * a / 6;
    if (std::max({std::abs(j1), std::abs(j2), std::abs(j3)}) > b.j)
        return false;
    const State s1 = advance(s, h, j1), s2 = advance(s1, h, j2);
    const double turn = h * std::max({std::abs(s.a), std::abs(s1.a), std::abs(s2.a)}); /* most a phase adds */
    for (const State &k : {s, s1, s2})
        if (k.a < b.a_lo || k.a > b.a_hi || k.v - turn < b.v_lo || k.v + turn > b.v_hi)
            return false;
    return true;
}

} // namespace

State toward_rest(const State &from, const Bounds &b, double dt)
{
    if ((from.p == 0 && from.v == 0 && from.a == 0) || at_rest_within(from, b, dt))
        return {};
    Plan brake;
    brake.start = from;
    change_velocity(brake, 0, b);
    const double braked = brake.end().p;
    const double scale = std::max(std::abs(from.p), std::abs(braked));
    Plan plan = brake;
    if (std::abs(braked) > 1e-14 * scale) {
        /* push toward 0 (or back, when braking at once overshoots), then brake */
        const double way = braked < 0 ? 1.0 : -1.0;
        const double push_velocity = way > 0 ? b.v_hi : b.v_lo;
        Plan push;
        push.start = from;
        change_velocity(push, push_velocity, b);
        /* how far braking after `tau` seconds of pushing stays short of 0, signed `way` */
        const auto short_of = [&](double tau) { return -way * braked_from(push.at(tau), b); };
        /* Pushing through the whole cycle: when braking starts does not matter yet. */
        double hi = push.total, f_hi = 0;
        if (dt < push.total) {
            f_hi = short_of(dt);
            if (f_hi >= 0)
                return push.at(dt);
            hi = dt;
        } else {
            f_hi = short_of(push.total);
        }
        double tau = push.total, cruise = 0;
        if (f_hi >= 0) {
            cruise = f_hi / std::abs(push_velocity); /* at the bound for the rest of the way */
        } else {
            /* Braking starts inside [0, hi]. Near 0 the push and the brake
             * it leads to undo each other up to the third order (or
             * entirely, while the brake would first push the same way), so
             * the root is sought in tau^3: regula falsi there, Illinois
             * variant, until tau is known to a part in 1e9 or the way to
             * a femto-unit. */
            double s_lo = 0, s_hi = hi * hi * hi, f_lo = -way * braked;
            int side = 0;
            for (int i = 0; i < 100 && s_hi - s_lo > 1e-9 * s_hi; ++i) {
                double x = (s_lo * f_hi - s_hi * f_lo) / (f_hi - f_lo);
                if (!(x > s_lo && x < s_hi))
                    x = 0.5 * (s_lo + s_hi);
                const double fx = short_of(std::cbrt(x));
                if (fx >= 0) {
                    s_lo = x;
                    f_lo = fx;
                    if (side > 0)
                        f_hi *= 0.5;
                    side = 1;
                } else {
                    s_hi = x;
                    f_hi = fx;
                    if (side < 0)
                        f_lo *= 0.5;
                    side = -1;
                }
                if (std::abs(fx) <= 1e-15 * std::max(scale, 1.0)) {
                    s_lo = x;
                    break;
                }
            }
            tau = std::cbrt(s_lo);
        }
        plan = Plan();
        plan.start = from;
        double left = tau;
        for (std::size_t i = 0; i < push.count && left > 0; ++i) {
            plan.add(std::min(left, push.duration[i]), push.jerk[i]);
            left -= push.duration[i];
        }
        plan.add(cruise, 0);
        change_velocity(plan, 0, b);
    }
    if (plan.total <= dt)
        return {};
    return plan.at(dt);
}

} // namespace jerk
} // namespace zsim
