/*
 * The speed profile (profile.h).
 */
#include "profile.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* Accelerations this close to a limit count as within it (rounding). */
constexpr double kLimitSlack = 1.0 + 1e-9;

} // namespace

/* ---- profile ------------------------------------------------------------------ */

void Profile::rebase()
{
    u0_ = u_;
    w0_ = w_;
    t_ = 0;
    total_ = 0;
    count_ = 0;
}

void Profile::append(double duration, double acc)
{
    if (!(duration > 0) || count_ == kMaxPieces)
        return;
    pieces_[static_cast<std::size_t>(count_++)] = {duration, acc};
    total_ += duration;
}

void Profile::evaluate()
{
    if (t_ >= total_) { /* at rest where the plan ends, exactly */
        u_ = rest_;
        w_ = 0;
        return;
    }
    double u = u0_, w = w0_, left = t_;
    for (int i = 0; i < count_ && left > 0; ++i) {
        const Piece &p = pieces_[static_cast<std::size_t>(i)];
        const double d = std::min(left, p.duration);
        u += w * d + 0.5 * p.acc * d * d;
        w += p.acc * d;
        left -= d;
    }
    u_ = u;
    w_ = std::max(w, 0.0);
}

bool Profile::add_ramp(double d, double w0, double w1, const Limits &limits)
{
    if (d <= 0 || w0 + w1 <= 0)
        return std::abs(w1 - w0) <= 1e-12;
    const double a = (w1 * w1 - w0 * w0) / (2 * d);
    append(2 * d / (w0 + w1), a);
    return a >= 0 ? a <= limits.acc * kLimitSlack : -a <= limits.dec * kLimitSlack;
}

bool Profile::add_trapezoid(double d, double w0, double w1, const Limits &limits, double first_dec)
{
    d = std::max(d, 0.0);
    const double v = limits.speed;
    if (w0 > v) { /* faster than the cruise speed (a lower rapid rate): come down first */
        const double down = (w0 * w0 - v * v) / (2 * first_dec);
        const double last = (v * v - w1 * w1) / (2 * limits.dec);
        if (w1 <= v && d >= down + last) {
            append((w0 - v) / first_dec, -first_dec);
            append((d - down - last) / v, 0);
            append((v - w1) / limits.dec, -limits.dec);
            return true;
        }
        Limits harder = limits;
        harder.dec = std::max(limits.dec, first_dec);
        return add_ramp(d, w0, w1, harder);
    }
    /* Speed up to the peak, cruise, slow down: the peak the distance allows. */
    const double peak2 =
        (2 * limits.acc * limits.dec * d + limits.dec * w0 * w0 + limits.acc * w1 * w1) / (limits.acc + limits.dec);
    const double top = std::max(w0, w1);
    if (peak2 < top * top || w1 > v)
        return add_ramp(d, w0, w1, limits);
    const double peak = std::min(v, std::sqrt(peak2));
    if (peak <= 0)
        return true;
    const double up = (peak * peak - w0 * w0) / (2 * limits.acc);
    const double down = (peak * peak - w1 * w1) / (2 * limits.dec);
    append((peak - w0) / limits.acc, limits.acc);
    append(std::max(0.0, d - up - down) / peak, 0);
    append((peak - w1) / limits.dec, -limits.dec);
    return true;
}

void Profile::plan(double length, const Limits &limits)
{
    length_ = rest_ = std::max(length, 0.0);
    limits_ = limits;
    stopping_ = false;
    u_ = w_ = 0;
    rebase();
    add_trapezoid(length_, 0, 0, limits, limits.dec);
    evaluate();
}

bool Profile::plan_with_head(double length, const Limits &limits, double wait, double speed, double time)
{
    if (!(time > 0) || speed > limits.speed * kLimitSlack || speed / time > limits.acc * kLimitSlack)
        return false;
    Profile p;
    p.length_ = p.rest_ = length;
    p.limits_ = limits;
    p.append(std::max(wait, 0.0), 0);
    p.append(time, speed / time);
    const double rest = length - speed * time / 2;
    if (rest < 0 || !p.add_trapezoid(rest, speed, 0, limits, limits.dec))
        return false;
    p.evaluate();
    *this = p;
    return true;
}

void Profile::retime(const Limits &limits, double transition)
{
    const bool done = finished();
    limits_ = limits;
    if (stopping_ || done)
        return;
    rebase();
    add_trapezoid(rest_ - u_, w_, 0, limits, transition);
    evaluate();
}

double Profile::end_with_tail(double speed, double time)
{
    if (stopping_ || finished() || rest_ < length_ || !(time > 0))
        return -1;
    Profile p = *this;
    p.rebase();
    const double d = p.length_ - speed * time / 2 - p.u_;
    if (d < 0 || !p.add_trapezoid(d, p.w_, speed, p.limits_, p.limits_.dec))
        return -1;
    const double start = p.total_;
    p.append(time, -speed / time);
    p.evaluate();
    *this = p;
    return start;
}

void Profile::stop(double dec)
{
    const bool done = finished();
    stopping_ = true;
    if (done)
        return;
    const double to = u_ + w_ * w_ / (2 * dec);
    if (to >= rest_)
        return; /* the plan comes to rest sooner */
    rebase();
    append(w_ / dec, -dec);
    rest_ = to;
    evaluate();
}

void Profile::stop_at(double at)
{
    at = std::clamp(at, u_, rest_);
    rebase();
    add_trapezoid(at - u_, w_, 0, limits_, limits_.dec); /* harder than the limits only when it must */
    rest_ = at;
    evaluate();
}

void Profile::brake(double speed, double dec)
{
    length_ = rest_ = speed * speed / (2 * dec);
    limits_ = {std::max(speed, 1e-12), dec, dec};
    stopping_ = true;
    u_ = 0;
    w_ = speed;
    rebase();
    append(speed / dec, -dec);
    evaluate();
}

void Profile::advance(double dt)
{
    t_ += dt;
    evaluate();
}

} // namespace zsim
