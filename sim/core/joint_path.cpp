/*
 * The joints along a Cartesian path (joint_path.h).
 *
 * Between neighbouring samples the mean of q' is exact (the chord); q'' is
 * known at each inner sample from the two chords beside it. A stretch takes
 * the largest |q''| of the four estimates around it, with a margin, and
 * |q'| at most the chord's plus half the stretch times that. Where those
 * estimates disagree (q'' changes fast: near a singularity, or where q' has
 * a corner) and they could bind the path's speed, the stretches are halved
 * until they agree or are too short to matter.
 */
#include "joint_path.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zsim {

namespace {

/* Of each joint's maximum acceleration, the share q'' u_dot^2 may take at a
 * stretch's top speed; q' u_ddot has the rest. */
constexpr double kCurvatureShare = 0.75;
/* Of the joints' maxima, what the speed limit plans with: the bounds between
 * samples are estimates. */
constexpr double kJointMargin = 0.98;
/* The largest q'' estimate around a stretch, times this, bounds it on the stretch. */
constexpr double kCurvatureMargin = 1.1;
/* A stretch where the joints allow less than this share of the path's speed is singular. */
constexpr double kSingularShare = 0.01;
/* No joint moves further than this between neighbouring samples (rad): the
 * samples stay on the branch the arm follows. */
constexpr double kMaxJointStep = 0.05;
/* Neighbouring q'' estimates agree when they differ by at most this share of the largest. */
constexpr double kAgreement = 0.25;
/* Curvature this small against what would bind the path's speed is not refined. */
constexpr double kNegligibleCurvature = 0.05;
/* Neighbouring stretches whose limits differ by at most this factor are one. */
constexpr double kMergeFactor = 1.05;
/* Samples are halved no finer than this share of the step, and no more than this often or this many. */
constexpr double kFinest = 1e-4;
constexpr int kMaxHalvings = 48;
constexpr std::size_t kMaxSamples = 4096;
/* Bisections that find where a path stops being followable. */
constexpr int kWallHalvings = 60;

constexpr double kUnbounded = std::numeric_limits<double>::infinity();
/* Where no joint bounds it, a stretch allows this many times the path's own
 * acceleration (the profile caps it at the move's). */
constexpr double kAccHeadroom = 1000;

/* On a stretch, a joint's first derivative by the path parameter, q', and its
 * second, q'', each within these. */
struct Bounds {
    double slope_low, slope_high;
    double bend_low, bend_high;
};

/* The stretch ending at `end` with top speed `speed`: what the joints allow
 * it, none of its accelerations above `ceiling`. A joint's acceleration is
 * q' u_ddot + q'' u_dot^2, within +-A: speeding up (u_ddot = a > 0) the
 * largest q' and q'' bound it from above and the smallest from below, slowing
 * down (u_ddot = -a) the other way round, so that a curvature pulling the
 * joint the way the path's acceleration does not counts against it, and one
 * pulling against it counts for it. Each bound is a straight line in
 * u_dot^2: taken at rest and at `speed` (Stretch::acc_at). A quick stop's
 * deceleration holds at any speed, so it takes the worse of the two ends. */
Stretch allowances(const std::array<Bounds, 6> &joint, double end, double speed, double ceiling)
{
    const double w = speed * speed, most = kJointMargin * arm::kMaxJointAcc,
                 quick_most = kJointMargin * arm::kQuickJointDec;
    Stretch s{end, speed, ceiling, ceiling, ceiling, ceiling};
    for (const Bounds &b : joint) {
        if (b.slope_high > 0) {
            s.acc = std::min(s.acc, (most - b.bend_high * w) / b.slope_high);
            s.dec = std::min(s.dec, (most + b.bend_low * w) / b.slope_high);
            s.quick_acc = std::min(s.quick_acc, (quick_most + std::min(b.bend_low, 0.0) * w) / b.slope_high);
        }
        if (b.slope_low < 0) {
            s.acc = std::min(s.acc, (most + b.bend_low * w) / -b.slope_low);
            s.dec = std::min(s.dec, (most - b.bend_high * w) / -b.slope_low);
            s.quick_acc = std::min(s.quick_acc, (quick_most - std::max(b.bend_high, 0.0) * w) / -b.slope_low);
        }
        const double slope = std::max(b.slope_high, -b.slope_low);
        if (slope > 0)
            s.rest_acc = std::min(s.rest_acc, most / slope);
    }
    return s;
}

} // namespace

void JointPath::begin(Geometry flange_at, const Joints &start, double end, const Pace &pace)
{
    flange_at_ = std::move(flange_at);
    pace_ = pace;
    end_ = end;
    samples_.assign(1, Sample{0, start});
    raw_.clear();
    limit_.clear();
    reach_ = 0;
    wall_ = kOk;
    if (std::isfinite(end))
        extend(end);
}

void JointPath::extend(double u)
{
    if (wall_ != kOk || samples_.back().u >= std::min(u, end_))
        return;
    const std::size_t from = samples_.size() > 3 ? samples_.size() - 3 : 0;
    sample_to(std::min(u, end_));
    refine(from);
    limit_from(from);
}

const Joints &JointPath::near(double u) const
{
    auto it = std::upper_bound(samples_.begin(), samples_.end(), u,
                               [](double value, const Sample &s) { return value < s.u; });
    return it == samples_.begin() ? samples_.front().q : std::prev(it)->q;
}

void JointPath::set_wall(ErrorCode why, double u, const Joints &q)
{
    wall_ = why;
    reach_ = u;
    wall_joints_ = q;
}

void JointPath::sample_to(double u)
{
    while (wall_ == kOk && samples_.back().u < u) {
        const Sample &last = samples_.back();
        /* no step much shorter than the others: a sliver of a step left over by
         * rounding would make its chord's slope, and every curvature next to
         * it, mere rounding */
        const double next = u - last.u < 1.5 * pace_.step ? u : last.u + pace_.step;
        Joints q;
        const ErrorCode code = follow(flange_at_(next), last.q, q);
        if (code == kOk) {
            samples_.push_back({next, q});
            continue;
        }
        /* where it stops being followable: by bisection */
        double good = last.u, bad = next;
        Joints at_good = last.q;
        for (int i = 0; i < kWallHalvings && bad - good > 1e-12 * std::max(1.0, bad); ++i) {
            const double middle = 0.5 * (good + bad);
            Joints trial;
            if (follow(flange_at_(middle), at_good, trial) == kOk) {
                good = middle;
                at_good = trial;
            } else {
                bad = middle;
            }
        }
        if (good > last.u)
            samples_.push_back({good, at_good});
        Joints standing = at_good; /* on a joint limit: the joints exactly on it */
        if (code == kJointLimit)
            follow(flange_at_(bad), at_good, standing);
        set_wall(code, good, standing);
    }
}

void JointPath::refine(std::size_t from)
{
    const double finest = kFinest * pace_.step;
    std::vector<double> curvature; /* per inner sample, per joint */
    for (int pass = 0; pass < kMaxHalvings && samples_.size() >= 3 && samples_.size() < kMaxSamples; ++pass) {
        const std::size_t n = samples_.size();
        curvature.assign(6 * n, 0.0);
        for (std::size_t k = 1; k + 1 < n; ++k) {
            const Sample &a = samples_[k - 1], &b = samples_[k], &c = samples_[k + 1];
            for (std::size_t j = 0; j < 6; ++j)
                curvature[6 * k + j] = 2 * ((c.q[j] - b.q[j]) / (c.u - b.u) - (b.q[j] - a.q[j]) / (b.u - a.u)) /
                                       (c.u - a.u);
        }
        std::vector<bool> halve(n - 1, false);
        bool any = false;
        for (std::size_t i = from > 0 ? from - 1 : 0; i + 1 < n; ++i) {
            const Sample &a = samples_[i], &b = samples_[i + 1];
            if (b.u - a.u <= finest)
                continue;
            bool split = false;
            for (std::size_t j = 0; j < 6 && !split; ++j) {
                if (std::abs(b.q[j] - a.q[j]) > kMaxJointStep) {
                    split = true;
                    break;
                }
                const double binding = kCurvatureShare * arm::kMaxJointAcc / (4 * pace_.speed * pace_.speed);
                double low = kUnbounded, high = -kUnbounded, largest = 0;
                for (std::size_t k = i > 0 ? i - 1 : 1; k <= i + 2 && k + 1 < n; ++k) {
                    if (k == 0)
                        continue;
                    const double c = curvature[6 * k + j];
                    low = std::min(low, c);
                    high = std::max(high, c);
                    largest = std::max(largest, std::abs(c));
                }
                split = largest > binding && high - low > kAgreement * largest + kNegligibleCurvature * binding;
            }
            if (split) {
                halve[i] = true;
                any = true;
            }
        }
        if (!any)
            return;
        std::vector<Sample> finer;
        finer.reserve(n + n / 2);
        for (std::size_t i = 0; i < n; ++i) {
            finer.push_back(samples_[i]);
            if (i + 1 == n || !halve[i] || finer.size() >= kMaxSamples)
                continue;
            const double middle = 0.5 * (samples_[i].u + samples_[i + 1].u);
            Joints q;
            const ErrorCode code = follow(flange_at_(middle), samples_[i].q, q);
            if (code != kOk) { /* not followable between two samples that were: the path ends here */
                samples_ = std::move(finer);
                set_wall(code, samples_.back().u, samples_.back().q);
                return;
            }
            finer.push_back({middle, q});
        }
        samples_ = std::move(finer);
    }
}

void JointPath::limit_from(std::size_t from)
{
    const std::size_t n = samples_.size();
    /* the curvature at each inner sample; a path still growing keeps its last
     * stretches out of the limit until samples beyond them are known */
    const bool complete = wall_ != kOk || samples_.back().u >= end_;
    const std::size_t known = complete ? n - 1 : (n > 3 ? n - 3 : 0);
    raw_.resize(std::min(raw_.size(), from));
    const auto curvature = [&](std::size_t k, std::size_t j) {
        if (k == 0 || k + 1 >= n)
            return 0.0;
        const Sample &a = samples_[k - 1], &b = samples_[k], &c = samples_[k + 1];
        return 2 * ((c.q[j] - b.q[j]) / (c.u - b.u) - (b.q[j] - a.q[j]) / (b.u - a.u)) / (c.u - a.u);
    };
    for (std::size_t i = raw_.size(); i < known; ++i) {
        const Sample &a = samples_[i], &b = samples_[i + 1];
        const double h = b.u - a.u;
        std::array<Bounds, 6> joint{};
        double speed = pace_.speed;
        for (std::size_t j = 0; j < 6; ++j) {
            double low = kUnbounded, high = -kUnbounded, largest = 0;
            for (std::size_t k = i > 0 ? i - 1 : 0; k <= i + 2; ++k) {
                const double c = curvature(k, j);
                low = std::min(low, c);
                high = std::max(high, c);
                largest = std::max(largest, std::abs(c));
            }
            const double bend = kCurvatureMargin * largest, chord = (b.q[j] - a.q[j]) / h;
            joint[j] = {chord - bend * h / 2, chord + bend * h / 2, low - (bend - largest), high + (bend - largest)};
            const double slope = std::max(-joint[j].slope_low, joint[j].slope_high);
            if (slope > 0)
                speed = std::min(speed, kJointMargin * arm::kMaxSpeed[j] / slope);
            if (bend > 0)
                speed = std::min(speed, std::sqrt(kCurvatureShare * kJointMargin * arm::kMaxJointAcc / bend));
        }
        if (speed < kSingularShare * pace_.speed) { /* singular: the path ends before this stretch */
            samples_.resize(i + 1);
            set_wall(kSingularity, a.u, a.q);
            break;
        }
        raw_.push_back(allowances(joint, b.u, speed, kAccHeadroom * pace_.acc));
    }
    /* neighbours alike are one stretch, at the lower of their limits */
    limit_.clear();
    double top_speed = 0;
    for (const Stretch &s : raw_) {
        if (!limit_.empty()) {
            Stretch &last = limit_.back();
            const double speed_hi = std::max(top_speed, s.speed), speed_lo = std::min(last.speed, s.speed);
            /* the acceleration alone never splits: each boundary between stretches
             * is crossed with no acceleration, which costs more than the lower
             * acceleration of the two */
            if (speed_hi <= kMergeFactor * speed_lo) {
                /* each one's allowances are at least their straight lines, so the
                 * straight lines between the lower ends at rest and at speed_lo stay under both */
                last = {s.end,
                        speed_lo,
                        std::min(last.acc_at(speed_lo, true), s.acc_at(speed_lo, true)),
                        std::min(last.acc_at(speed_lo, false), s.acc_at(speed_lo, false)),
                        std::min(last.quick_acc, s.quick_acc),
                        std::min(last.rest_acc, s.rest_acc)};
                top_speed = speed_hi;
                continue;
            }
        }
        limit_.push_back(s);
        top_speed = s.speed;
    }
    if (wall_ == kOk)
        reach_ = raw_.empty() ? 0 : raw_.back().end;
}

} // namespace zsim
