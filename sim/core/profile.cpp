/*
 * The speed profile (profile.h): a few jerk-limited trajectories one after
 * the other (speeding up, cruising, a blend's ramp, the way to rest).
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

/* A ramp by dv over `time` within the acceleration and jerk of `l`. */
bool ramp_fits(double dv, double time, const Profile::Limits &l)
{
    return time > 0 && jerk::Trajectory::ramp_acc(dv, time) <= l.acc * kLimitSlack &&
           jerk::Trajectory::ramp_jerk(dv, time) <= l.jerk * kLimitSlack;
}

} // namespace

void Profile::rebase()
{
    t_ = 0;
    end_ = 0;
    count_ = 0;
}

void Profile::append(double begin, const jerk::Trajectory &path)
{
    if (count_ == kMaxParts)
        return;
    parts_[static_cast<std::size_t>(count_++)] = {begin, path};
    end_ = begin + path.duration();
}

void Profile::evaluate()
{
    int i = count_ - 1;
    while (i > 0 && parts_[static_cast<std::size_t>(i)].begin > t_)
        --i;
    if (i < 0)
        return;
    const Part &part = parts_[static_cast<std::size_t>(i)];
    state_ = part.path.at(t_ - part.begin);
    if (t_ >= end_) { /* at rest where the plan ends, exactly */
        state_ = jerk::State{rest_, 0, 0};
    }
}

void Profile::plan(double length, const Limits &limits)
{
    length_ = rest_ = std::max(length, 0.0);
    limits_ = limits;
    stopping_ = false;
    state_ = {};
    rebase();
    append(0, jerk::Trajectory::to_rest(state_, length_, generator_limits(limits)));
    evaluate();
}

bool Profile::plan_with_head(double length, const Limits &limits, double wait, double speed, double time)
{
    if (speed > limits.speed * kLimitSlack || !ramp_fits(speed, time, limits))
        return false;
    const jerk::Trajectory head = jerk::Trajectory::ramp({}, speed, time);
    const jerk::Limits gl = generator_limits(limits);
    /* the rest of the way must leave room to slow down without turning back */
    if (jerk::Trajectory::to_velocity(head.end(), 0, gl).end().p > length)
        return false;
    Profile p;
    p.length_ = p.rest_ = length;
    p.limits_ = limits;
    wait = std::max(wait, 0.0);
    p.append(0, jerk::Trajectory(0));
    p.append(wait, head);
    p.append(wait + time, jerk::Trajectory::to_rest(head.end(), length, gl));
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
    const jerk::Limits gl = generator_limits(limits);
    rebase();
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
    if (stopping_ || finished() || rest_ < length_ || !ramp_fits(speed, time, limits_) || speed <= 0)
        return -1;
    const double tail_from = length_ - speed * time / 2;
    const jerk::Limits gl = generator_limits(limits_);
    const jerk::State here = state_;
    Profile p = *this;
    p.rebase();
    /* at cruise speed as long as it can, down to the blend's speed just in
     * time; else down to it at once and on at that speed */
    const auto way_left = [&](double peak) {
        return tail_from - jerk::Trajectory::to_velocity(here, peak, gl).end().p -
               jerk::Trajectory::to_velocity({0, peak, 0}, speed, gl).end().p;
    };
    double cruise = std::max(limits_.speed, speed);
    if (way_left(cruise) < 0 && cruise > speed && way_left(speed) >= 0) {
        /* too short for the cruise speed: the fastest peak that still comes
         * down to the blend's speed in time, not the blend's speed all along */
        double fits = speed, fails = cruise;
        for (int n = 0; n < 60 && fails - fits > 1e-9 * fails; ++n) {
            const double mid = (fits + fails) / 2;
            (way_left(mid) >= 0 ? fits : fails) = mid;
        }
        cruise = fits;
    }
    const jerk::Trajectory up = jerk::Trajectory::to_velocity(here, cruise, gl);
    const double down_way = jerk::Trajectory::to_velocity({0, cruise, 0}, speed, gl).end().p;
    const double cruise_way = tail_from - up.end().p - down_way;
    double tail_start;
    if (cruise_way >= 0) {
        p.append(0, up);
        const double down_at = up.duration() + cruise_way / cruise;
        const jerk::Trajectory down =
            jerk::Trajectory::to_velocity({up.end().p + cruise_way, cruise, 0}, speed, gl);
        p.append(down_at, down);
        tail_start = down_at + down.duration();
    } else {
        const jerk::Trajectory down = jerk::Trajectory::to_velocity(here, speed, gl);
        const double on_way = tail_from - down.end().p;
        if (on_way < 0)
            return -1;
        p.append(0, down);
        tail_start = down.duration() + on_way / speed;
    }
    p.append(tail_start, jerk::Trajectory::ramp({tail_from, speed, 0}, 0, time));
    p.evaluate();
    *this = p;
    return tail_start;
}

void Profile::stop(double dec, double jerk)
{
    const bool done = finished();
    stopping_ = true;
    if (done)
        return;
    const jerk::State here = state_;
    const jerk::Trajectory brake = jerk::Trajectory::to_velocity(here, 0, {kUnbounded, dec, jerk});
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
    append(0, to_rest_short_of(here, rest_, generator_limits(limits)));
    evaluate();
}

void Profile::stop_at(double at)
{
    at = std::clamp(at, state_.p, rest_);
    const jerk::State here = state_;
    rebase();
    rest_ = at;
    append(0, to_rest_short_of(here, at, generator_limits(limits_)));
    evaluate();
}

void Profile::brake(double speed, double dec, double jerk)
{
    const jerk::Trajectory brake = jerk::Trajectory::to_velocity({0, speed, 0}, 0, {kUnbounded, dec, jerk});
    length_ = rest_ = brake.end().p;
    limits_ = {std::max(speed, 1e-12), dec, jerk};
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
    return jerk::Trajectory::to_velocity(state_, 0, {kUnbounded, limits_.acc, limits_.jerk}).end().p;
}

void Profile::advance(double dt)
{
    t_ += dt;
    evaluate();
}

} // namespace zsim
