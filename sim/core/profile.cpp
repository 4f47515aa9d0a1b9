/*
 * The speed profile (profile.h): jerk-limited trajectories one after the
 * other (speeding up, cruising, a blend's ramp, the way to rest).
 *
 * Under a speed limit along the way a plan is made stretch by stretch, as a
 * machine tool's look-ahead plans the corners of its path: the speed at each
 * boundary between stretches is at most what both stretches allow, what the
 * way ahead can still slow down from (a backward pass) and what the way
 * behind can speed up to (a forward pass); each stretch is then crossed the
 * fastest way from its entry speed to its exit speed, with no acceleration
 * at either end, so that each stretch's acceleration limit holds on it.
 */
#include "profile.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zsim {

namespace {

/* Accelerations this close to a limit count as within it (rounding). */
constexpr double kLimitSlack = 1.0 + 1e-9;

constexpr double kUnbounded = std::numeric_limits<double>::infinity();

/* A stop's deceleration is found again this many times at most as the
 * stretches its longer way crosses lower it. */
constexpr int kStopRefinements = 12;

/* Slices of speed in which a zone's acceleration near its peak speed is checked. */
constexpr int kSpeedSlices = 8;

jerk::Limits generator_limits(const Profile::Limits &l) { return {l.speed, l.acc, l.jerk}; }

/* To rest at `at` without passing it: at the limits when they can stop in
 * time, harder (acceleration and jerk raised together) when they cannot.
 * Limits lower than the present acceleration are raised to it, and a jerk
 * too small to turn a braking acceleration before the speed reaches zero is
 * raised to one that can: cutting the acceleration takes time while the
 * speed runs on, and a braking arm would turn back (a lower rapid rate
 * while slowing down scales the jerk by r^3). */
jerk::Trajectory to_rest_short_of(const jerk::State &here, double at, jerk::Limits gl)
{
    gl.v = std::max(gl.v, std::abs(here.v));
    gl.a = std::max(gl.a, std::abs(here.a));
    if (here.a < 0)
        gl.j = std::max(gl.j, here.a * here.a / (2 * std::max(here.v, 1e-12)) * (1 + 1e-9));
    for (int i = 0; i < 80 && jerk::Trajectory::to_velocity(here, 0, gl).end().p > at; ++i) {
        gl.a *= 1.25;
        gl.j *= 1.25;
    }
    return jerk::Trajectory::to_rest(here, at, gl);
}

/* A ramp by dv over `time` within an acceleration and jerk. */
bool ramp_fits(double dv, double time, double acc, double jerk)
{
    return time > 0 && jerk::Trajectory::ramp_acc(dv, time) <= acc * kLimitSlack &&
           jerk::Trajectory::ramp_jerk(dv, time) <= jerk * kLimitSlack;
}

/* One stretch of a plan's way: to `end`, no faster than `speed`, at most
 * `acc`: at first what its stretches allow at any speed, either way; at most
 * `most`, the highest they allow at some speed. */
struct Zone {
    double end, speed, acc, most;
};

/* Zone `a` and the zone after it as one, to b's end, at the lower of their limits. */
Zone merged(const Zone &a, const Zone &b)
{
    return {b.end, std::min(a.speed, b.speed), std::min(a.acc, b.acc), std::min(a.most, b.most)};
}

/* Neighbouring zones are one, at the lower of their limits, where no plan
 * from `start` (no faster than `start_speed`) to `until` (at `velocity`) at
 * accelerations up to `acc` can come up to the lower of their speeds: their
 * speed limits do not bind, and crossing from one to the next with no
 * acceleration would cost time for nothing. (Always within the limits: only
 * a slower plan, were the speed reached after all.) */
void merge_unreached(std::vector<Zone> &zones, double start, double start_speed, double until, double velocity,
                     double acc)
{
    /* the fastest at x: speeding up from the start, and able to slow down to the end */
    const auto fastest = [&](double x) {
        return std::sqrt(std::min(start_speed * start_speed + 2 * acc * (x - start),
                                  velocity * velocity + 2 * acc * (until - x)));
    };
    const double crossing = (velocity * velocity - start_speed * start_speed + 2 * acc * (until + start)) / (4 * acc);
    std::size_t kept = 0;
    double kept_begin = start;
    for (std::size_t k = 1; k < zones.size(); ++k) {
        Zone &last = zones[kept];
        const Zone &z = zones[k];
        if (fastest(std::clamp(crossing, kept_begin, z.end)) <= std::min(last.speed, z.speed)) {
            last = merged(last, z);
            continue;
        }
        kept_begin = last.end;
        zones[++kept] = z;
    }
    zones.resize(kept + 1);
}

/* The highest speed a zone from `begin` to zone.end can reach, entered at
 * `in` and left at `out` (no faster than those when not `exact`), at
 * acceleration `acc` and jerk `jerk`. With both ends exact, the fastest
 * jerk-limited way; else at most what the acceleration alone allows. */
double zone_peak(const Zone &zone, double begin, double in, bool in_exact, double out, bool out_exact, double acc,
                 double jerk)
{
    const double length = zone.end - begin;
    const double envelope = std::min(zone.speed, std::sqrt(0.5 * (in * in + out * out) + acc * length));
    if (!in_exact || !out_exact)
        return envelope;
    const auto way = [&](double top) {
        return (top > in ? jerk::Trajectory::change_way(in, top, acc, jerk) : 0.0) +
               (top > out ? jerk::Trajectory::change_way(top, out, acc, jerk) : 0.0);
    };
    double lo = std::max(in, out), hi = envelope;
    if (way(hi) <= length)
        return hi;
    for (int i = 0; i < 40 && hi - lo > 1e-9 * hi; ++i) {
        const double mid = 0.5 * (lo + hi);
        (way(mid) <= length ? lo : hi) = mid;
    }
    return hi;
}

/* How far a change between `speed` and `top` (> speed) covers at most, from or
 * to the speed a zone is entered or left at: that speed exactly when `exact`,
 * else any speed up to `speed` (a change from v to w <= top covers
 * (v + w) / 2 times its duration, at most top times the longest duration). */
double change_reach(double top, bool exact, double speed, double acc, double jerk)
{
    if (exact)
        return top > speed ? jerk::Trajectory::change_way(speed, top, acc, jerk) : 0.0;
    return 2 * jerk::Trajectory::change_way(0, top, acc, jerk);
}

/* Whether a zone planned at acceleration `acc` and jerk `jerk` keeps stretch
 * `s` of the speed limit speeding up (`up`) or slowing down, crossing it no
 * faster than `fastest` in a zone it never crosses faster than `peak`. At
 * speed v the stretch allows s.acc_at(v); the plan's acceleration is at most
 * acc, and at most sqrt(2 jerk (peak - v)): speeding up, it must turn to zero
 * before the speed passes the peak; slowing down, it has turned from zero
 * since the speed last was at the peak. Near the peak the two are checked on
 * slices of speed, each at its slowest plan acceleration's bound against the
 * least the stretch allows in the slice (a straight line in the square of the
 * speed: at one of its ends). */
bool keeps_stretch(const Stretch &s, bool up, double acc, double fastest, double peak, double jerk,
                   const Profile::Limits &limits)
{
    const auto allowed = [&](double from, double to) {
        const double least =
            std::min(s.acc_at(from / limits.speed_scale, up), s.acc_at(to / limits.speed_scale, up));
        return std::min(limits.acc, least * limits.acc_scale) * kLimitSlack;
    };
    const double full = peak - acc * acc / (2 * jerk); /* below this speed the acceleration may be full */
    if (fastest <= full)
        return acc <= allowed(0, fastest);
    if (full > 0 && acc > allowed(0, full))
        return false;
    const double from = std::max(full, 0.0), slice = (fastest - from) / kSpeedSlices;
    for (int i = 0; i < kSpeedSlices; ++i) {
        const double v = from + i * slice;
        if (std::min(acc, std::sqrt(2 * jerk * std::max(peak - v, 0.0))) > allowed(v, v + slice))
            return false;
    }
    return true;
}

/* Raises each zone's acceleration from the least its stretches allow at any
 * speed towards the most (`entry`: the speed at the start of each zone, and
 * at the end of the last, at the most). The joints' curvature takes more of
 * their acceleration the faster the path goes, or gives some back, by the
 * way it pulls, so a zone need not plan with the least. At a trial
 * acceleration a, no plan is faster at x than sqrt(in^2 + 2 a (x - begin))
 * nor than sqrt(out^2 + 2 a (end - x)) (a change of speed covers at least
 * (w^2 - v^2) / (2 a) whatever the jerk), nor than the zone's peak. It speeds
 * up only as far from its entry as that change can cover, slows down only as
 * near its exit, and cruises between (where the speed limit alone keeps the
 * joints); each finer stretch is checked for the ways it is crossed, at the
 * fastest it can be there, and the zone plans with the highest a all allow.
 * A start still accelerating keeps the least. */
void raise_accelerations(std::vector<Zone> &zones, const std::vector<double> &entry, const SpeedLimit &detail,
                         const jerk::State &from, double start_top, const Profile::Limits &limits)
{
    const std::size_t count = zones.size();
    const double jerk = limits.jerk;
    auto first = detail.begin();
    for (std::size_t k = 0; k < count; ++k) {
        Zone &z = zones[k];
        const double begin = k == 0 ? from.p : zones[k - 1].end;
        while (first != detail.end() && first->end <= begin)
            ++first;
        if (z.most <= z.acc || (k == 0 && from.a != 0))
            continue;
        /* the first zone may be left still slowing: the next entered as fast as the start */
        const double in = k == 1 ? std::max(entry[k], start_top) : entry[k], out = entry[k + 1];
        const auto allows = [&](double acc) {
            const double top = zone_peak(z, begin, in, k == 0, out, k + 1 == count, acc, jerk);
            const double up_until = begin + change_reach(top, k == 0, in, acc, jerk);
            /* entered faster than its speed, or still slowing from a moving start, it
             * slows down from its beginning */
            const bool slows_first = in > z.speed || (k == 1 && from.v > 0);
            const double down_from =
                slows_first ? begin : z.end - change_reach(top, k + 1 == count, out, acc, jerk);
            const double peak = std::max({top, in, out});
            double at = begin;
            for (auto s = first; s != detail.end() && at < z.end; at = s->end, ++s) {
                const double until = std::min(s->end, z.end);
                const double fastest =
                    std::max({in, out,
                              std::min({z.speed, std::sqrt(in * in + 2 * acc * (until - begin)),
                                        std::sqrt(out * out + 2 * acc * (z.end - at))})});
                const double v = std::min(fastest, peak);
                if ((at < up_until && !keeps_stretch(*s, true, acc, v, peak, jerk, limits)) ||
                    (until > down_from && !keeps_stretch(*s, false, acc, v, peak, jerk, limits)))
                    return false;
            }
            return true;
        };
        double lo = z.acc, hi = z.most;
        if (allows(hi)) {
            z.acc = hi;
            continue;
        }
        for (int i = 0; i < 50 && hi - lo > 1e-9 * hi; ++i) {
            const double mid = 0.5 * (lo + hi);
            (allows(mid) ? lo : hi) = mid;
        }
        z.acc = lo;
    }
}

/* The first time (within [0, t.duration()]) at which `t` reaches `at`. */
double time_to(const jerk::Trajectory &t, double at)
{
    double lo = 0, hi = t.duration();
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (mid <= lo || mid >= hi)
            break;
        (t.at(mid).p < at ? lo : hi) = mid;
    }
    return hi;
}

} // namespace

void Profile::rebase()
{
    t_ = 0;
    end_ = 0;
    current_ = 0;
    parts_.clear();
}

void Profile::append(double begin, const jerk::Trajectory &path)
{
    parts_.push_back({begin, path});
    end_ = begin + path.duration();
}

void Profile::evaluate()
{
    if (parts_.empty())
        return;
    while (current_ + 1 < parts_.size() && parts_[current_ + 1].begin <= t_)
        ++current_;
    const Part &part = parts_[current_];
    state_ = part.path.at(t_ - part.begin);
    if (t_ >= end_) /* at rest where the plan ends, exactly */
        state_ = jerk::State{rest_, 0, 0};
}

void Profile::bounds(double from, double to, const Limits &limits, double *speed, double *acc) const
{
    *speed = limits.speed;
    *acc = limits.acc;
    if (!limit_)
        return;
    double begin = 0;
    for (const Stretch &s : *limit_) {
        if (s.end >= from && begin <= to) {
            *speed = std::min(*speed, s.speed * limits.speed_scale);
            *acc = std::min(*acc, s.least() * limits.acc_scale);
        }
        begin = s.end;
        if (begin > to)
            break;
    }
}

bool Profile::append_way(double begin, const jerk::State &from, double until, double velocity, const Limits &limits)
{
    /* the stretches of the way, as zones under these limits (neighbours alike merged) */
    std::vector<Zone> zones;
    /* zones shorter than the rounding of positions join their neighbour, at the lower limits */
    const double tiny = 1e-12 * std::max({1.0, std::abs(from.p), std::abs(until)});
    const auto add_zone = [&](double end, double speed, double acc, double most) {
        const double begin = zones.empty() ? from.p : zones.back().end;
        if (!zones.empty() &&
            ((zones.back().speed == speed && zones.back().acc == acc && zones.back().most == most) ||
             end - begin <= tiny)) {
            zones.back() = merged(zones.back(), {end, speed, acc, most});
        } else if (end - begin > tiny) {
            zones.push_back({end, speed, acc, most});
        } else if (zones.empty()) { /* the way is shorter than the rounding: at these limits */
            zones.push_back({std::max(end, begin), speed, acc, most});
        }
    };
    if (limit_) {
        for (const Stretch &s : *limit_) {
            if (s.end <= from.p)
                continue;
            const double speed = std::min(limits.speed, s.speed * limits.speed_scale), v = speed / limits.speed_scale;
            const double up = s.acc_at(v, true), down = s.acc_at(v, false);
            add_zone(std::min(s.end, until), speed,
                     std::min(limits.acc, std::min({s.rest_acc, up, down}) * limits.acc_scale),
                     std::min(limits.acc, std::max({s.rest_acc, up, down}) * limits.acc_scale));
            if (s.end >= until)
                break;
        }
    }
    if (zones.empty() || zones.back().end < until)
        add_zone(until, limits.speed, limits.acc, limits.acc);
    if (zones.empty()) { /* already there */
        if (std::abs(from.v - velocity) > 0 || from.a != 0)
            return false;
        append(begin, jerk::Trajectory(until));
        return true;
    }
    const double jerk = limits.jerk;
    /* the fastest the start can get before its acceleration is turned */
    const double start_top = from.v + (from.a > 0 ? from.a * from.a / (2 * jerk) : 0);
    merge_unreached(zones, from.p, start_top, until, velocity, limits.acc);
    const std::size_t count = zones.size();
    if (velocity > zones.back().speed * kLimitSlack)
        return false;

    /* the speed at the start of each zone (entry[count]: at `until`): backward, then forward */
    std::vector<double> entry(count + 1);
    const auto entries = [&](double Zone::*acc) {
        entry[count] = velocity;
        for (std::size_t k = count - 1; k > 0; --k) {
            const double length = zones[k].end - zones[k - 1].end;
            entry[k] = std::min({zones[k - 1].speed, zones[k].speed,
                                 jerk::Trajectory::reachable(entry[k + 1], length, zones[k].*acc, jerk)});
        }
        entry[0] = from.v;
        for (std::size_t k = 1; k < count; ++k) {
            const double length = zones[k - 1].end - (k == 1 ? from.p : zones[k - 2].end);
            if (k > 1 || from.a == 0)
                entry[k] =
                    std::min(entry[k], jerk::Trajectory::reachable(entry[k - 1], length, zones[k - 1].*acc, jerk));
        }
    };
    if (detail_ && !detail_->empty()) {
        entries(&Zone::most);
        raise_accelerations(zones, entry, *detail_, from, start_top, limits);
    }
    entries(&Zone::acc);

    std::vector<Part> parts;
    double t = begin;
    jerk::State here = from;
    for (std::size_t k = 0; k < count; ++k) {
        const Zone &z = zones[k];
        const jerk::Limits gl{z.speed, z.acc, jerk};
        double exit = entry[k + 1];
        jerk::Trajectory way;
        bool fits = jerk::Trajectory::to_passing(here, z.end, exit, gl, &way);
        if (!fits && k + 1 < count) {
            /* from a moving start: the fastest exit it reaches, or the slowest it can slow to */
            double lo = 0, hi = exit;
            bool any = jerk::Trajectory::to_passing(here, z.end, 0, gl, &way);
            for (int i = 0; any && i < 60; ++i) {
                const double mid = 0.5 * (lo + hi);
                jerk::Trajectory trial;
                if (jerk::Trajectory::to_passing(here, z.end, mid, gl, &trial)) {
                    lo = mid;
                    way = trial;
                } else {
                    hi = mid;
                }
            }
            if (any) {
                exit = lo;
                fits = true;
            } else { /* too fast to slow down in time: it crosses into the next zone still slowing */
                const jerk::Trajectory down = jerk::Trajectory::to_velocity(here, exit, gl);
                const double cross = time_to(down, z.end);
                parts.push_back({t, down});
                t += cross;
                here = down.at(cross);
                continue;
            }
        }
        if (!fits) {
            return false;
        }
        parts.push_back({t, way});
        t += way.duration();
        here = {z.end, exit, 0};
    }
    for (const Part &p : parts)
        append(p.begin, p.path);
    return true;
}

void Profile::plan(double length, const Limits &limits)
{
    length_ = rest_ = std::max(length, 0.0);
    limits_ = limits;
    stopping_ = false;
    state_ = {};
    rebase();
    if (!append_way(0, state_, length_, 0, limits))
        append(0, jerk::Trajectory::to_rest(state_, length_, generator_limits(slowest(limits))));
    evaluate();
}

bool Profile::plan_with_head(double length, const Limits &limits, double wait, double speed, double time)
{
    double top_speed, top_acc; /* the head stays on its first stretch's limits */
    bounds(0, speed * time / 2, limits, &top_speed, &top_acc);
    if (speed > top_speed * kLimitSlack || !ramp_fits(speed, time, top_acc, limits.jerk))
        return false;
    const jerk::Trajectory head = jerk::Trajectory::ramp({}, speed, time);
    Profile p;
    p.limit_ = limit_;
    p.length_ = p.rest_ = length;
    p.limits_ = limits;
    wait = std::max(wait, 0.0);
    p.append(0, jerk::Trajectory(0));
    p.append(wait, head);
    if (!p.append_way(wait + time, head.end(), length, 0, limits))
        return false;
    p.evaluate();
    *this = p;
    return true;
}

void Profile::retime(const Limits &limits, const Limits &transition)
{
    const bool done = finished();
    limits_ = limits;
    if (stopping_ || done)
        return;
    const jerk::State here = state_;
    rebase();
    if (!limit_) { /* one stretch: to rest the fastest way at the new limits */
        retime_unlimited(here, limits, transition);
        return;
    }
    double speed_here, acc_here;
    bounds(here.p, here.p, limits, &speed_here, &acc_here);
    if (here.v > speed_here) { /* down to the new speed at the transition's rates, then on */
        double unused, down_acc;
        bounds(here.p, here.p, transition, &unused, &down_acc);
        const jerk::Limits down{speed_here, std::max(down_acc, std::abs(here.a)), transition.jerk};
        const jerk::Trajectory change = jerk::Trajectory::to_velocity(here, speed_here, down);
        if (change.end().p <= rest_) {
            append(0, change);
            if (append_way(change.duration(), change.end(), rest_, 0, limits)) {
                evaluate();
                return;
            }
        }
        rebase(); /* too near a slower stretch or the end for that: at the transition's rates */
        Limits mixed = transition;
        mixed.speed = limits.speed;
        mixed.speed_scale = limits.speed_scale;
        if (!append_way(0, here, rest_, 0, mixed))
            append(0, to_rest_short_of(here, rest_, generator_limits(slowest(mixed))));
    } else if (!append_way(0, here, rest_, 0, limits)) {
        append(0, to_rest_short_of(here, rest_, generator_limits(slowest(limits))));
    }
    evaluate();
}

void Profile::retime_unlimited(const jerk::State &here, const Limits &limits, const Limits &transition)
{
    const jerk::Limits gl = generator_limits(limits);
    if (here.v > limits.speed) { /* down to the new speed at the transition's rates, then on */
        const jerk::Limits down{limits.speed, std::max(transition.acc, std::abs(here.a)), transition.jerk};
        const jerk::Trajectory change = jerk::Trajectory::to_velocity(here, limits.speed, down);
        if (jerk::Trajectory::to_velocity(change.end(), 0, gl).end().p <= rest_) {
            append(0, change);
            append(change.duration(), to_rest_short_of(change.end(), rest_, gl));
        } else { /* too near the end for that: to rest at the transition's rates */
            append(0, to_rest_short_of(here, rest_, down));
        }
    } else {
        append(0, to_rest_short_of(here, rest_, gl));
    }
    evaluate();
}

double Profile::end_with_tail(double speed, double time)
{
    if (stopping_ || finished() || rest_ < length_ || speed <= 0)
        return -1;
    const double tail_from = length_ - speed * time / 2;
    double top_speed, top_acc; /* the tail stays on its stretch's limits */
    bounds(tail_from, length_, limits_, &top_speed, &top_acc);
    if (speed > top_speed * kLimitSlack || !ramp_fits(speed, time, top_acc, limits_.jerk) || tail_from < state_.p)
        return -1;
    const jerk::State here = state_;
    Profile p = *this;
    p.rebase();
    if (!p.append_way(0, here, tail_from, speed, limits_))
        return -1;
    const double tail_start = p.end_;
    p.append(tail_start, jerk::Trajectory::ramp({tail_from, speed, 0}, 0, time));
    p.evaluate();
    *this = p;
    return tail_start;
}

Profile::Limits Profile::slowest(const Limits &limits) const
{
    Limits l = limits;
    if (limit_)
        for (const Stretch &s : *limit_) {
            l.speed = std::min(l.speed, s.speed * limits.speed_scale);
            l.acc = std::min(l.acc, s.least() * limits.acc_scale);
        }
    return l;
}

double Profile::stop_dec(double dec, double jerk, bool quick, double scale) const
{
    if (!limit_)
        return dec;
    for (int i = 0; i < kStopRefinements; ++i) {
        const double way = jerk::Trajectory::to_velocity(state_, 0, {kUnbounded, dec, jerk}).end().p;
        double least = dec, begin = 0;
        for (const Stretch &s : *limit_) {
            if (s.end > state_.p && begin <= way)
                least = std::min(least, (quick ? s.quick_acc : std::min(s.dec, s.rest_acc)) * scale);
            begin = s.end;
            if (begin > way)
                break;
        }
        if (least >= dec)
            break;
        dec = least;
    }
    return dec;
}

void Profile::stop(double dec, double jerk, bool quick)
{
    const bool done = finished();
    stopping_ = true;
    if (done)
        return;
    const jerk::State here = state_;
    const jerk::Trajectory brake =
        jerk::Trajectory::to_velocity(here, 0, {kUnbounded, stop_dec(dec, jerk, quick, 1.0), jerk});
    if (brake.end().p >= rest_)
        return; /* the plan comes to rest sooner */
    rebase();
    rest_ = brake.end().p;
    append(0, brake);
    evaluate();
}

void Profile::pause(double dec, double jerk)
{
    if (!stopping_)
        resume_rest_ = rest_;
    stop(dec, jerk);
}

void Profile::resume(const Limits &limits)
{
    stopping_ = false;
    limits_ = limits;
    rest_ = std::max(resume_rest_, state_.p);
    const jerk::State here = state_;
    rebase();
    if (!append_way(0, here, rest_, 0, limits))
        append(0, to_rest_short_of(here, rest_, generator_limits(slowest(limits))));
    evaluate();
}

void Profile::extend(double length)
{
    if (stopping_ || finished() || length <= length_)
        return;
    length_ = rest_ = length;
    const jerk::State here = state_;
    rebase();
    if (!append_way(0, here, length, 0, limits_))
        append(0, to_rest_short_of(here, length, generator_limits(slowest(limits_))));
    evaluate();
}

void Profile::stop_at(double at)
{
    at = std::clamp(at, state_.p, rest_);
    const jerk::State here = state_;
    rebase();
    rest_ = at;
    if (!append_way(0, here, at, 0, limits_))
        append(0, to_rest_short_of(here, at, generator_limits(slowest(limits_))));
    evaluate();
}

void Profile::brake(double speed, double dec, double jerk)
{
    const jerk::Trajectory brake = jerk::Trajectory::to_velocity({0, speed, 0}, 0, {kUnbounded, dec, jerk});
    length_ = rest_ = brake.end().p;
    limits_ = {std::max(speed, 1e-12), dec, jerk};
    limit_ = nullptr;
    stopping_ = true;
    state_ = {0, speed, 0};
    rebase();
    append(0, brake);
    evaluate();
}

double Profile::braked() const
{
    if (finished())
        return rest_;
    const double dec = stop_dec(limits_.acc, limits_.jerk, false, limits_.acc_scale);
    return jerk::Trajectory::to_velocity(state_, 0, {kUnbounded, dec, limits_.jerk}).end().p;
}

void Profile::advance(double dt)
{
    t_ += dt;
    evaluate();
}

} // namespace zsim
