/*
 * Forward and closed-form inverse kinematics of the virtual arm.
 *
 * Inverse: the wrist point p5 = p6 - d6 z6 fixes joint 1 (its distance from the
 * base axis along z1 must be d4: two solutions); where z1 lies in the flange
 * frame fixes joint 5 (two) and joint 6, which is free at the wrist
 * singularity; the planar two-link problem in the plane of joints 2 to 4 gives
 * joints 2 and 3 (elbow up or down) and joint 4 the remaining angle. Up to 8
 * solutions.
 *
 * Along a path (follow) the arm keeps the solution its joints reach soonest,
 * each angle next to where it is: the same branch and turn.
 */
#include "kinematics.h"

#include "errors.h"

#include <Eigen/SVD>

#include <algorithm>
#include <cmath>
#include <limits>

namespace zsim {

namespace arm {

const std::array<DhRow, 6> kDh = {{
    {0.0, kPi / 2, 152.0},
    {460.0, 0.0, 0.0},
    {400.0, 0.0, 0.0},
    {0.0, kPi / 2, 128.0},
    {0.0, -kPi / 2, 102.0},
    {0.0, 0.0, 92.0},
}};

const Joints kLowerLimit = {degrees(-270), degrees(-180), degrees(-160), degrees(-270), degrees(-270), degrees(-360)};
const Joints kUpperLimit = {degrees(270), degrees(180), degrees(160), degrees(270), degrees(270), degrees(360)};
const Joints kHome = {0.0, degrees(90), degrees(-90), degrees(-90), degrees(-90), 0.0};

bool at_limit(std::size_t joint, double q)
{
    return q <= kLowerLimit[joint] + kAtLimit || q >= kUpperLimit[joint] - kAtLimit;
}

} // namespace arm

/* ---- conversions ---------------------------------------------------------- */

Eigen::Matrix3d rpy_matrix(double rx, double ry, double rz)
{
    using Eigen::AngleAxisd;
    using Eigen::Vector3d;
    return (AngleAxisd(rz, Vector3d::UnitZ()) * AngleAxisd(ry, Vector3d::UnitY()) *
            AngleAxisd(rx, Vector3d::UnitX()))
        .toRotationMatrix();
}

Eigen::Vector3d matrix_rpy(const Eigen::Matrix3d &r)
{
    using Eigen::AngleAxisd;
    using Eigen::Vector3d;
    const double cy = std::hypot(r(0, 0), r(1, 0));
    const double ry = std::atan2(-r(2, 0), cy);
    const Eigen::Matrix3d undo_ry = AngleAxisd(ry, Vector3d::UnitY()).toRotationMatrix().transpose();
    if (cy < kGimbalLock) { /* only rz - rx (or rz + rx) is defined: rx = 0 */
        const Eigen::Matrix3d turn = r * undo_ry;
        return {0.0, ry, std::atan2(turn(1, 0), turn(0, 0))};
    }
    /* Near the lock rz is ill-conditioned; rx is taken from what remains once
     * rz and ry are undone, so that the three always give r back. */
    const double rz = std::atan2(r(1, 0), r(0, 0));
    const Eigen::Matrix3d roll =
        undo_ry * AngleAxisd(rz, Vector3d::UnitZ()).toRotationMatrix().transpose() * r;
    return {std::atan2(roll(2, 1), roll(1, 1)), ry, rz};
}

Pose to_pose(const CartPose &p)
{
    Pose pose = Pose::Identity();
    pose.linear() = rpy_matrix(p.rpy.rx, p.rpy.ry, p.rpy.rz);
    pose.translation() = Eigen::Vector3d(p.tran.x, p.tran.y, p.tran.z);
    return pose;
}

CartPose to_cart(const Pose &p)
{
    const Eigen::Vector3d t = p.translation();
    const Eigen::Vector3d rpy = matrix_rpy(p.linear());
    return CartPose{{t.x(), t.y(), t.z()}, {rpy.x(), rpy.y(), rpy.z()}};
}

Eigen::Matrix3d to_matrix(const RotationMatrix &m)
{
    Eigen::Matrix3d r;
    r << m.x.x, m.x.y, m.x.z, m.y.x, m.y.y, m.y.z, m.z.x, m.z.y, m.z.z;
    return r;
}

RotationMatrix to_record(const Eigen::Matrix3d &r)
{
    return RotationMatrix{{r(0, 0), r(0, 1), r(0, 2)},
                          {r(1, 0), r(1, 1), r(1, 2)},
                          {r(2, 0), r(2, 1), r(2, 2)}};
}

bool as_rotation(const RotationMatrix &m, Eigen::Matrix3d &out)
{
    const Eigen::Matrix3d r = to_matrix(m);
    if (!r.allFinite())
        return false;
    if ((r.transpose() * r - Eigen::Matrix3d::Identity()).cwiseAbs().maxCoeff() > 1e-3 ||
        r.determinant() <= 0)
        return false;
    Eigen::JacobiSVD<Eigen::Matrix3d> svd(r, Eigen::ComputeFullU | Eigen::ComputeFullV);
    out = svd.matrixU() * svd.matrixV().transpose();
    return true;
}

bool finite(const Joints &q)
{
    return std::all_of(q.begin(), q.end(), [](double v) { return std::isfinite(v); });
}

bool finite(const CartPose &p)
{
    const double v[] = {p.tran.x, p.tran.y, p.tran.z, p.rpy.rx, p.rpy.ry, p.rpy.rz};
    return std::all_of(std::begin(v), std::end(v), [](double x) { return std::isfinite(x); });
}

Joints to_joints(const JointVector &v)
{
    Joints q;
    std::copy(std::begin(v.jVal), std::end(v.jVal), q.begin());
    return q;
}

JointVector to_vector(const Joints &q)
{
    JointVector v;
    std::copy(q.begin(), q.end(), std::begin(v.jVal));
    return v;
}

/* ---- forward ---------------------------------------------------------------- */

namespace {

/* Standard DH: Rz(theta) * Tz(d) * Tx(a) * Rx(alpha). */
Pose link(int i, double theta)
{
    const arm::DhRow &row = arm::kDh[static_cast<std::size_t>(i)];
    const double ct = std::cos(theta), st = std::sin(theta);
    const double ca = std::cos(row.alpha), sa = std::sin(row.alpha);
    Pose t = Pose::Identity();
    t.matrix() << ct, -st * ca, st * sa, row.a * ct,
                  st, ct * ca, -ct * sa, row.a * st,
                  0, sa, ca, row.d,
                  0, 0, 0, 1;
    return t;
}

double wrap(double angle) /* into (-pi, pi] */
{
    angle = std::remainder(angle, 2 * kPi);
    return angle <= -kPi ? angle + 2 * kPi : angle;
}

} // namespace

Pose forward(const Joints &q)
{
    Pose t = Pose::Identity();
    for (int i = 0; i < 6; ++i)
        t = t * link(i, q[static_cast<std::size_t>(i)]);
    return t;
}

std::array<Pose, 7> link_frames(const Joints &q)
{
    std::array<Pose, 7> frames;
    frames[0] = Pose::Identity();
    for (std::size_t i = 0; i < 6; ++i)
        frames[i + 1] = frames[i] * link(static_cast<int>(i), q[i]);
    return frames;
}

bool within_limits(const Joints &q)
{
    for (std::size_t i = 0; i < 6; ++i)
        if (!(q[i] >= arm::kLowerLimit[i] && q[i] <= arm::kUpperLimit[i]))
            return false;
    return true;
}

/* ---- inverse ---------------------------------------------------------------- */

namespace {

/* Joint 4's frame in joint 1's, for joints 1, 5 and 6: its origin lies in the
 * plane of joints 2 to 4, and the two-link problem of joints 2 and 3 reaches
 * for it. */
Pose wrist_in_plane(const Pose &flange, double t1, double t5, double t6)
{
    return link(0, t1).inverse() * flange * link(5, t6).inverse() * link(4, t5).inverse();
}

/* Squared distances from joint 2 to joint 4 that joints 2 and 3 span with
 * joint 3 inside its limits (stretched out to folded at the limit). */
double longest_reach2()
{
    const double a2 = arm::kDh[1].a, a3 = arm::kDh[2].a;
    return (a2 + a3) * (a2 + a3);
}

double shortest_reach2()
{
    const double a2 = arm::kDh[1].a, a3 = arm::kDh[2].a;
    return a2 * a2 + a3 * a3 + 2 * a2 * a3 * std::cos(arm::kUpperLimit[2]);
}

/* Whether joints 2 and 3 reach joint 4's origin for these joints 1, 5 and
 * 6, joint 3 inside its limits. */
bool reaches(const Pose &flange, double t1, double t5, double t6)
{
    const Pose w = wrist_in_plane(flange, t1, t5, t6);
    const double r2 = w(0, 3) * w(0, 3) + w(1, 3) * w(1, 3);
    return r2 <= longest_reach2() * (1 + 1e-12) && r2 >= shortest_reach2() * (1 - 1e-12);
}

/* Joint 6 where the pose does not fix it. Its axis is then parallel to those
 * of joints 2 to 4, and turning it swings joint 4's origin around a circle in
 * their plane: only values that keep that origin within the reach of joints 2
 * and 3 solve the pose. The value inside joint 6's limits nearest `hint`
 * among them (usually `hint`, clamped into the limits, itself). */
double nearest_reaching_joint6(const Pose &flange, double t1, double t5, double hint)
{
    const double lo = arm::kLowerLimit[5], hi = arm::kUpperLimit[5];
    const double target = std::clamp(hint, lo, hi);
    if (reaches(flange, t1, t5, target))
        return target;
    /* origin(t6) = centre + cos(t6) u + sin(t6) v, |u| = |v| and u, v
     * orthogonal, so its squared length is a + b cos(t6 - theta). */
    const auto origin = [&](double t6) {
        const Pose w = wrist_in_plane(flange, t1, t5, t6);
        return Eigen::Vector2d(w(0, 3), w(1, 3));
    };
    const Eigen::Vector2d at0 = origin(0.0), at_half = origin(kPi / 2), at_pi = origin(kPi);
    const Eigen::Vector2d centre = 0.5 * (at0 + at_pi), u = 0.5 * (at0 - at_pi), v = at_half - centre;
    const double a = centre.squaredNorm() + 0.5 * (u.squaredNorm() + v.squaredNorm());
    const double b = 2 * std::hypot(centre.dot(u), centre.dot(v));
    const double theta = std::atan2(centre.dot(v), centre.dot(u));
    if (b < 1e-12)
        return target;
    double best = target, nearest = std::numeric_limits<double>::infinity();
    for (const double reach : {shortest_reach2(), longest_reach2()}) {
        const double c = (reach - a) / b;
        if (std::abs(c) > 1.0 + 1e-9) /* beyond rounding: that reach is never met */
            continue;
        const double half = std::acos(std::clamp(c, -1.0, 1.0));
        for (const double edge : {theta + half, theta - half}) {
            /* Every whole-turn value of the edge inside the limits. */
            const double first = edge + 2 * kPi * std::ceil((lo - edge) / (2 * kPi));
            for (double t6 = first; t6 <= hi; t6 += 2 * kPi)
                if (std::abs(t6 - target) < nearest) {
                    nearest = std::abs(t6 - target);
                    best = t6;
                }
        }
    }
    return best;
}

/* Joint 6 from the orientation: z1 seen from the flange is (s5 c6, -s5 s6,
 * c5). Near the singularity that fixes joint 6 only to 1e-16 / |s5|; within
 * that, take a value with which joints 2 and 3 reach (stretched out, or joint
 * 3 at its limit, the rounding would otherwise leave them just short). */
double joint6(const Pose &flange, double t1, double t5, double x, double y, double s5)
{
    const double t6 = std::atan2(-y / s5, x / s5);
    if (std::abs(s5) >= 1e-6 || reaches(flange, t1, t5, t6))
        return t6;
    const double reaching = nearest_reaching_joint6(flange, t1, t5, t6);
    return std::abs(reaching - t6) * std::abs(s5) <= 1e-12 ? reaching : t6;
}

} // namespace

int inverse_all(const Pose &flange, double q6, std::array<Joints, 8> &out)
{
    const double a2 = arm::kDh[1].a, a3 = arm::kDh[2].a;
    const double d4 = arm::kDh[3].d, d6 = arm::kDh[5].d;
    const Eigen::Matrix3d r = flange.linear();
    const Eigen::Vector3d p = flange.translation();
    const Eigen::Vector3d p5 = p - d6 * r.col(2);
    constexpr double eps = 1e-9;

    int n = 0;
    const double radius = std::hypot(p5.x(), p5.y());
    if (radius < std::abs(d4) - eps || radius < eps)
        return 0;
    const double phi = std::atan2(p5.y(), p5.x());
    const double lean = std::asin(std::clamp(d4 / radius, -1.0, 1.0));
    for (const double t1 : {phi + lean, phi + kPi - lean}) {
        const double s1 = std::sin(t1), c1 = std::cos(t1);
        const Eigen::Vector3d z1(s1, -c1, 0.0);
        /* z1 seen from the flange is a unit vector: joint 5 is its polar angle
         * and joint 6 its azimuth. atan2 keeps joint 5 exact near 0 and 180
         * degrees, where acos of the cosine would lose half the digits. */
        const double x = r.col(0).dot(z1), y = r.col(1).dot(z1), c5 = r.col(2).dot(z1);
        const double s5abs = std::hypot(x, y);
        for (const double sign : {1.0, -1.0}) {
            const double t5 = std::atan2(sign * s5abs, c5);
            const double t6 = s5abs > kFreeWrist ? joint6(flange, t1, t5, x, y, sign * s5abs)
                                                 : nearest_reaching_joint6(flange, t1, t5, q6);
            const Pose t14 = wrist_in_plane(flange, t1, t5, t6);
            const double px = t14(0, 3), py = t14(1, 3);
            const double c3 = (px * px + py * py - a2 * a2 - a3 * a3) / (2 * a2 * a3);
            if (std::abs(c3) > 1.0 + eps)
                continue;
            const double t3abs = std::acos(std::clamp(c3, -1.0, 1.0));
            const double t234 = std::atan2(t14(1, 0), t14(0, 0));
            for (const double t3 : {t3abs, -t3abs}) {
                const double t2 =
                    std::atan2(py, px) - std::atan2(a3 * std::sin(t3), a2 + a3 * std::cos(t3));
                /* The free joint 6 keeps its value; wrapping would move it by
                 * a rounding error. */
                const double j6 = s5abs > kFreeWrist ? wrap(t6) : t6;
                out[static_cast<std::size_t>(n++)] = {wrap(t1), wrap(t2),      wrap(t3),
                                                      wrap(t234 - t2 - t3), wrap(t5), j6};
            }
        }
    }
    return n;
}

namespace {

/* A joint may pass its limit by this much (rounding) and is then put on it. */
constexpr double kLimitSlack = 1e-12;

/* Clamped near-boundary cases can give a pose that is not quite the asked one. */
bool solves(const Pose &flange, const Joints &q)
{
    const Pose check = forward(q);
    const double scale = 1.0 + flange.translation().norm();
    return (check.translation() - flange.translation()).norm() <= 1e-6 * scale &&
           (check.linear() - flange.linear()).cwiseAbs().maxCoeff() <= 1e-6;
}

/* v moved by whole turns to the value nearest `ref` inside [lo, hi]; false
 * when no whole-turn equivalent of v lies inside. */
bool nearest_turn_inside(double v, double ref, double lo, double hi, double &out)
{
    const double turn = 2 * kPi;
    const double fewest = std::ceil((lo - kLimitSlack - v) / turn);
    const double most = std::floor((hi + kLimitSlack - v) / turn);
    if (fewest > most)
        return false;
    /* The distance to ref is convex in the number of turns: the unconstrained
     * best, clamped, is the best inside. */
    const double turns = std::clamp(std::round((ref - v) / turn), fewest, most);
    out = std::clamp(v + turns * turn, lo, hi);
    return true;
}

double nearest_turn(double v, double ref) { return v + 2 * kPi * std::round((ref - v) / (2 * kPi)); }

/* Puts joints that passed a limit by rounding on it; false when one is beyond. */
bool into_limits(Joints &q)
{
    for (std::size_t j = 0; j < 6; ++j) {
        if (q[j] < arm::kLowerLimit[j] - kLimitSlack || q[j] > arm::kUpperLimit[j] + kLimitSlack)
            return false;
        q[j] = std::clamp(q[j], arm::kLowerLimit[j], arm::kUpperLimit[j]);
    }
    return true;
}

} // namespace

ErrorCode inverse_nearest(const Pose &flange, const Joints &ref, Joints &out)
{
    std::array<Joints, 8> all;
    const int n = inverse_all(flange, ref[5], all);
    bool solved = false, found = false;
    double best = 0.0;
    for (int k = 0; k < n; ++k) {
        Joints q = all[static_cast<std::size_t>(k)];
        if (!solves(flange, q))
            continue;
        solved = true;
        bool inside = true;
        double distance = 0.0;
        for (std::size_t j = 0; j < 6 && inside; ++j) {
            inside = nearest_turn_inside(q[j], ref[j], arm::kLowerLimit[j], arm::kUpperLimit[j], q[j]);
            distance += (q[j] - ref[j]) * (q[j] - ref[j]);
        }
        if (inside && (!found || distance < best)) {
            found = true;
            best = distance;
            out = q;
        }
    }
    if (found)
        return kOk;
    return solved ? kJointLimit : kUnreachable;
}

bool inverse_continued(const Pose &flange, const Joints &from, Joints &out)
{
    std::array<Joints, 8> all;
    const int n = inverse_all(flange, from[5], all);
    bool found = false;
    double soonest = 0.0;
    for (int k = 0; k < n; ++k) {
        Joints q = all[static_cast<std::size_t>(k)];
        if (!solves(flange, q))
            continue;
        double time = 0.0;
        for (std::size_t j = 0; j < 6; ++j) {
            q[j] = nearest_turn(q[j], from[j]);
            time = std::max(time, std::abs(q[j] - from[j]) / arm::kMaxSpeed[j]);
        }
        if (!found || time < soonest) {
            found = true;
            soonest = time;
            out = q;
        }
    }
    return found;
}

ErrorCode follow(const Pose &flange, const Joints &from, Joints &out)
{
    Joints next;
    if (!inverse_continued(flange, from, next))
        return kUnreachable;
    if (into_limits(next)) {
        out = next;
        return kOk;
    }
    /* A joint passes its limit during this step: find where, by bisection on
     * the straight step from where the arm is. */
    const Pose start = forward(from);
    const Eigen::Quaterniond turn_from(start.linear()), turn_to(flange.linear());
    const Eigen::Vector3d move_from = start.translation(), move_to = flange.translation();
    Joints inside = from;
    bool reachable_at_hi = true;
    double lo = 0.0, hi = 1.0;
    for (int i = 0; i < 60 && lo < hi; ++i) {
        const double mid = 0.5 * (lo + hi);
        Pose at = Pose::Identity();
        at.linear() = turn_from.slerp(mid, turn_to).toRotationMatrix();
        at.translation() = move_from + mid * (move_to - move_from);
        Joints q;
        const bool reachable = inverse_continued(at, from, q);
        if (reachable && into_limits(q)) {
            lo = mid;
            inside = q;
        } else {
            hi = mid;
            reachable_at_hi = reachable;
        }
    }
    if (!reachable_at_hi)
        return kUnreachable;
    /* Put the joint that stops the arm exactly on its limit. */
    for (std::size_t j = 0; j < 6; ++j) {
        if (next[j] > arm::kUpperLimit[j] && arm::kUpperLimit[j] - inside[j] < 1e-9)
            inside[j] = arm::kUpperLimit[j];
        if (next[j] < arm::kLowerLimit[j] && inside[j] - arm::kLowerLimit[j] < 1e-9)
            inside[j] = arm::kLowerLimit[j];
    }
    out = inside;
    return kJointLimit;
}

} // namespace zsim
