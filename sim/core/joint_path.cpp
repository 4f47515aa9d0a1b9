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
        std::array<double, 6> slope{}, bend{};
        double speed = pace_.speed;
        for (std::size_t j = 0; j < 6; ++j) {
            for (std::size_t k = i > 0 ? i - 1 : 0; k <= i + 2; ++k)
                bend[j] = std::max(bend[j], std::abs(curvature(k, j)));
            bend[j] *= kCurvatureMargin;
            slope[j] = std::abs(b.q[j] - a.q[j]) / h + bend[j] * h / 2;
            if (slope[j] > 0)
                speed = std::min(speed, kJointMargin * arm::kMaxSpeed[j] / slope[j]);
            if (bend[j] > 0)
                speed = std::min(speed, std::sqrt(kCurvatureShare * kJointMargin * arm::kMaxJointAcc / bend[j]));
        }
        if (speed < kSingularShare * pace_.speed) { /* singular: the path ends before this stretch */
            samples_.resize(i + 1);
            set_wall(kSingularity, a.u, a.q);
            break;
        }
        /* a joint's acceleration allowance at speed v, (A - bend v^2) / slope, falls
         * along a straight line in v^2; their least is concave in v^2, so the straight
         * line between its values at rest and at `speed` (Stretch::acc_at) stays under it */
        double acc = pace_.acc, rest_acc = pace_.acc, quick = kUnbounded;
        for (std::size_t j = 0; j < 6; ++j) {
            if (slope[j] <= 0)
                continue;
            const double bent = bend[j] * speed * speed;
            acc = std::min(acc, (kJointMargin * arm::kMaxJointAcc - bent) / slope[j]);
            rest_acc = std::min(rest_acc, kJointMargin * arm::kMaxJointAcc / slope[j]);
            quick = std::min(quick, (kJointMargin * arm::kQuickJointDec - bent) / slope[j]);
        }
        raw_.push_back({b.u, speed, acc, quick, rest_acc});
    }
    /* neighbours alike are one stretch, at the lower of their limits */
    limit_.clear();
    double top_speed = 0, top_acc = 0;
    for (const Stretch &s : raw_) {
        if (!limit_.empty()) {
            Stretch &last = limit_.back();
            const double speed_hi = std::max(top_speed, s.speed), speed_lo = std::min(last.speed, s.speed);
            const double acc_hi = std::max(top_acc, s.acc), acc_lo = std::min(last.acc, s.acc);
            /* the acceleration alone never splits: each boundary between stretches
             * is crossed with no acceleration, which costs more than the lower
             * acceleration of the two */
            if (speed_hi <= kMergeFactor * speed_lo) {
                /* each one's allowance falls as it speeds up: at speed_lo it is at least
                 * its `acc`, so the line between the lower ends stays under both */
                last = {s.end, speed_lo, acc_lo, std::min(last.quick_acc, s.quick_acc),
                        std::min(last.rest_acc, s.rest_acc)};
                top_speed = speed_hi;
                top_acc = acc_hi;
                continue;
            }
        }
        limit_.push_back(s);
        top_speed = s.speed;
        top_acc = s.acc;
    }
    if (wall_ == kOk)
        reach_ = raw_.empty() ? 0 : raw_.back().end;
}

} // namespace zsim
