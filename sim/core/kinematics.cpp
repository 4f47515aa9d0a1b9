/*
 * Forward and closed-form inverse kinematics of the virtual arm.
 *
 * Inverse: the wrist point p5 = p6 - d6 z6 fixes joint 1 (its distance from the
 * base axis along z1 must be d4: two solutions); the flange's offset along z1
 * fixes joint 5 (two); joint 6 follows from where z1 lies in the flange frame;
 * the planar two-link problem in the plane of joints 2 to 4 gives joints 2 and
 * 3 (elbow up or down) and joint 4 the remaining angle. Up to 8 solutions.
 */
#include "kinematics.h"

#include "errors.h"

#include <Eigen/SVD>

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

constexpr double kPi = 3.14159265358979323846;

double deg(double degrees) { return degrees * kPi / 180.0; }

} // namespace

namespace arm {

const std::array<DhRow, 6> kDh = {{
    {0.0, kPi / 2, 152.0},
    {460.0, 0.0, 0.0},
    {400.0, 0.0, 0.0},
    {0.0, kPi / 2, 128.0},
    {0.0, -kPi / 2, 102.0},
    {0.0, 0.0, 92.0},
}};

const Joints kLowerLimit = {deg(-270), deg(-180), deg(-160), deg(-270), deg(-270), deg(-360)};
const Joints kUpperLimit = {deg(270), deg(180), deg(160), deg(270), deg(270), deg(360)};
const Joints kMaxSpeed = {deg(180), deg(180), deg(180), deg(225), deg(225), deg(225)};
const Joints kHome = {0.0, deg(90), deg(-90), deg(-90), deg(-90), 0.0};

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
    const double cy = std::hypot(r(0, 0), r(1, 0));
    const double ry = std::atan2(-r(2, 0), cy);
    if (cy < 1e-12) /* pitch of +-90 degrees: only rz - rx (or rz + rx) is defined */
        return {0.0, ry, std::atan2(-r(0, 1), r(1, 1))};
    return {std::atan2(r(2, 1), r(2, 2)), ry, std::atan2(r(1, 0), r(0, 0))};
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

bool within_limits(const Joints &q)
{
    for (std::size_t i = 0; i < 6; ++i)
        if (!(q[i] >= arm::kLowerLimit[i] && q[i] <= arm::kUpperLimit[i]))
            return false;
    return true;
}

/* ---- inverse ---------------------------------------------------------------- */

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
        const double c5 = (p.dot(z1) - d4) / d6;
        if (std::abs(c5) > 1.0 + eps)
            continue;
        const double t5abs = std::acos(std::clamp(c5, -1.0, 1.0));
        for (const double t5 : {t5abs, -t5abs}) {
            const double s5 = std::sin(t5);
            double t6 = q6;
            if (std::abs(s5) > 1e-10)
                t6 = std::atan2(-r.col(1).dot(z1) / s5, r.col(0).dot(z1) / s5);
            const Pose t14 = link(0, t1).inverse() * flange * link(5, t6).inverse() *
                             link(4, t5).inverse();
            const double x = t14(0, 3), y = t14(1, 3);
            const double c3 = (x * x + y * y - a2 * a2 - a3 * a3) / (2 * a2 * a3);
            if (std::abs(c3) > 1.0 + eps)
                continue;
            const double t3abs = std::acos(std::clamp(c3, -1.0, 1.0));
            const double t234 = std::atan2(t14(1, 0), t14(0, 0));
            for (const double t3 : {t3abs, -t3abs}) {
                const double t2 =
                    std::atan2(y, x) - std::atan2(a3 * std::sin(t3), a2 + a3 * std::cos(t3));
                out[static_cast<std::size_t>(n++)] = {wrap(t1), wrap(t2),      wrap(t3),
                                                      wrap(t234 - t2 - t3), wrap(t5), wrap(t6)};
            }
        }
    }
    return n;
}

ErrorCode inverse_nearest(const Pose &flange, const Joints &ref, Joints &out)
{
    std::array<Joints, 8> all;
    const int n = inverse_all(flange, ref[5], all);
    bool solved = false, found = false;
    double best = 0.0;
    const double scale = 1.0 + flange.translation().norm();
    for (int k = 0; k < n; ++k) {
        Joints q = all[static_cast<std::size_t>(k)];
        /* Clamped near-boundary cases can give a pose that is not quite the asked one. */
        const Pose check = forward(q);
        if ((check.translation() - flange.translation()).norm() > 1e-6 * scale ||
            (check.linear() - flange.linear()).cwiseAbs().maxCoeff() > 1e-6)
            continue;
        solved = true;
        bool inside = true;
        double distance = 0.0;
        for (std::size_t j = 0; j < 6 && inside; ++j) {
            /* The whole-turn equivalent nearest the reference, then into the limits. */
            double v = q[j] + 2 * kPi * std::round((ref[j] - q[j]) / (2 * kPi));
            if (v > arm::kUpperLimit[j])
                v -= 2 * kPi;
            if (v < arm::kLowerLimit[j])
                v += 2 * kPi;
            inside = v >= arm::kLowerLimit[j] && v <= arm::kUpperLimit[j];
            q[j] = v;
            distance += (v - ref[j]) * (v - ref[j]);
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

} // namespace zsim
