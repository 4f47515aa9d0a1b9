/*
 * Distances between capsules and solids (shapes.h).
 *
 * Each query works in the solid's own frame, on the capsule's axis p(t) =
 * p0 + t d, t in [0, 1]: the capsule is the set of points within its radius
 * of the axis, so its signed distance to a convex solid is the least signed
 * distance of an axis point, less the radius. That least value is found
 * exactly for boxes (the squared distance to a box is quadratic between the
 * points where the axis crosses a face plane; inside, the depth is piecewise
 * linear), in closed form for spheres and half-spaces, and by a golden-section
 * search (the signed distance to a convex solid is convex along a line) for
 * cylinders.
 */
#include "shapes.h"

#include <algorithm>
#include <utility>
#include <array>
#include <cmath>
#include <limits>

namespace zsim {
namespace shapes {

namespace {

constexpr double kTiny = 1e-12; /* mm^2: a segment this short is a point */

double clamp01(double t) { return std::min(1.0, std::max(0.0, t)); }

/* Any unit vector perpendicular to v (z when v is nothing). */
Vec perpendicular(const Vec &v)
{
    if (v.squaredNorm() < kTiny)
        return Vec::UnitZ();
    const Vec other = std::abs(v.x()) < 0.9 * v.norm() ? Vec::UnitX() : Vec::UnitY();
    return v.cross(other).normalized();
}

/* The parameters s, t of the closest points of two segments (p1 + s d1,
 * p2 + t d2), as in Ericson, Real-Time Collision Detection, 5.1.9. */
void closest_on_segments(const Vec &p1, const Vec &d1, const Vec &p2, const Vec &d2, double &s, double &t)
{
    const Vec r = p1 - p2;
    const double a = d1.squaredNorm(), e = d2.squaredNorm(), f = d2.dot(r);
    if (a <= kTiny && e <= kTiny) {
        s = t = 0;
        return;
    }
    if (a <= kTiny) {
        s = 0;
        t = clamp01(f / e);
        return;
    }
    const double c = d1.dot(r);
    if (e <= kTiny) {
        t = 0;
        s = clamp01(-c / a);
        return;
    }
    const double b = d1.dot(d2), denominator = a * e - b * b;
    s = denominator > 0 ? clamp01((b * f - c * e) / denominator) : 0;
    t = (b * s + f) / e;
    if (t < 0) {
        t = 0;
        s = clamp01(-c / a);
    } else if (t > 1) {
        t = 1;
        s = clamp01((b - c) / a);
    }
}

/* From a point p of the axis (solid frame) at signed distance `depth` from the
 * solid, its nearest solid point q and the outward normal n there (solid
 * frame): the separation in the world. */
Separation finish(const Solid &solid, double radius, const Vec &p, const Vec &q, const Vec &n, double signed_gap)
{
    Separation s;
    s.normal = solid.pose.linear() * n;
    s.on_other = solid.pose * q;
    s.on_capsule = solid.pose * p - radius * s.normal;
    s.distance = signed_gap - radius;
    return s;
}

/* ---- box: exact ---- */

Separation box_separation(const Capsule &c, const Solid &box)
{
    const Vec p0 = box.to_local * c.a;
    const Vec d = box.to_local.linear() * (c.b - c.a);
    const Vec &h = box.half;

    /* Outside: the squared distance is a quadratic between the points where
     * the axis crosses a face plane; its least value on each piece. */
    std::array<double, 8> cuts{};
    std::size_t n_cuts = 0;
    cuts[n_cuts++] = 0;
    cuts[n_cuts++] = 1;
    for (int k = 0; k < 3; ++k) {
        if (d[k] == 0)
            continue;
        for (double side : {-h[k], h[k]}) {
            const double t = (side - p0[k]) / d[k];
            if (t > 0 && t < 1)
                cuts[n_cuts++] = t;
        }
    }
    for (std::size_t i = 1; i < n_cuts; ++i) /* at most 8: insertion */
        for (std::size_t j = i; j > 0 && cuts[j - 1] > cuts[j]; --j)
            std::swap(cuts[j - 1], cuts[j]);
    double best_t = 0, best_f = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i + 1 < n_cuts; ++i) {
        const double t0 = cuts[i], t1 = cuts[i + 1], mid = 0.5 * (t0 + t1);
        double qa = 0, qb = 0, qc = 0; /* f(t) = qa t^2 + qb t + qc on this piece */
        for (int k = 0; k < 3; ++k) {
            const double at = p0[k] + mid * d[k];
            double alpha = 0, beta = 0;
            if (at > h[k]) {
                alpha = p0[k] - h[k];
                beta = d[k];
            } else if (at < -h[k]) {
                alpha = -p0[k] - h[k];
                beta = -d[k];
            }
            qa += beta * beta;
            qb += 2 * alpha * beta;
            qc += alpha * alpha;
        }
        double candidates[3] = {t0, t1, t0};
        if (qa > 0)
            candidates[2] = std::min(t1, std::max(t0, -qb / (2 * qa)));
        for (double t : candidates) {
            const double f = std::max(0.0, (qa * t + qb) * t + qc);
            if (f < best_f) {
                best_f = f;
                best_t = t;
            }
        }
    }
    if (best_f > 0) {
        const Vec p = p0 + best_t * d;
        const Vec q = p.cwiseMax(-h).cwiseMin(h);
        const double gap = (p - q).norm();
        if (gap > 0)
            return finish(box, c.radius, p, q, (p - q) / gap, gap);
    }

    /* The axis reaches the box: the depth of a point, max_k(|p_k| - h_k), is
     * piecewise linear along it; its least value lies at an end, where a
     * coordinate is 0, or where two faces are equally near. */
    auto depth = [&](double t, int &axis) {
        const Vec p = p0 + t * d;
        double worst = -std::numeric_limits<double>::infinity();
        for (int k = 0; k < 3; ++k) {
            const double v = std::abs(p[k]) - h[k];
            if (v > worst) {
                worst = v;
                axis = k;
            }
        }
        return worst;
    };
    int axis = 0;
    double best_depth_t = 0, best_g = depth(0, axis);
    auto consider = [&](double t) {
        if (!(t >= 0 && t <= 1))
            return;
        int a = 0;
        const double g = depth(t, a);
        if (g < best_g) {
            best_g = g;
            best_depth_t = t;
        }
    };
    consider(1);
    for (int k = 0; k < 3; ++k)
        if (d[k] != 0)
            consider(-p0[k] / d[k]);
    for (int j = 0; j < 3; ++j)
        for (int k = j + 1; k < 3; ++k)
            for (double sj : {-1.0, 1.0})
                for (double sk : {-1.0, 1.0}) {
                    const double slope = sj * d[j] - sk * d[k];
                    if (slope != 0)
                        consider((sk * p0[k] - h[k] - sj * p0[j] + h[j]) / slope);
                }
    const Vec p = p0 + best_depth_t * d;
    best_g = depth(best_depth_t, axis);
    Vec n = Vec::Zero();
    n[axis] = p[axis] < 0 ? -1 : 1;
    Vec q = p;
    q[axis] = n[axis] * h[axis];
    return finish(box, c.radius, p, q, n, best_g);
}

/* ---- cylinder: a line search ---- */

double cylinder_depth(const Vec &p, double radius, double half_length)
{
    const double radial = std::hypot(p.x(), p.y()) - radius;
    const double axial = std::abs(p.z()) - half_length;
    const double outside = std::hypot(std::max(radial, 0.0), std::max(axial, 0.0));
    return std::min(std::max(radial, axial), 0.0) + outside;
}

Separation cylinder_separation(const Capsule &c, const Solid &cyl)
{
    const Vec p0 = cyl.to_local * c.a;
    const Vec d = cyl.to_local.linear() * (c.b - c.a);
    const double radius = cyl.half.x(), half_length = cyl.half.z();
    auto f = [&](double t) { return cylinder_depth(p0 + t * d, radius, half_length); };

    /* Golden section: the signed distance to a convex solid is convex along a line. */
    constexpr double kRatio = 0.6180339887498949;
    double lo = 0, hi = 1;
    double x1 = hi - kRatio * (hi - lo), x2 = lo + kRatio * (hi - lo);
    double f1 = f(x1), f2 = f(x2);
    while (hi - lo > 1e-9) {
        if (f1 <= f2) {
            hi = x2;
            x2 = x1;
            f2 = f1;
            x1 = hi - kRatio * (hi - lo);
            f1 = f(x1);
        } else {
            lo = x1;
            x1 = x2;
            f1 = f2;
            x2 = lo + kRatio * (hi - lo);
            f2 = f(x2);
        }
    }
    double t = 0.5 * (lo + hi);
    for (double end : {0.0, 1.0}) /* the search never evaluates the ends themselves */
        if (f(end) <= f(t))
            t = end;

    const Vec p = p0 + t * d;
    const double rho = std::hypot(p.x(), p.y());
    const Vec radial = rho > 0 ? Vec(p.x() / rho, p.y() / rho, 0) : Vec::UnitX();
    const double gap = f(t);
    Vec q, n;
    if (gap > 0) {
        q = Vec(0, 0, std::min(half_length, std::max(-half_length, p.z()))) + std::min(rho, radius) * radial;
        n = (p - q).normalized();
    } else if (radius - rho <= half_length - std::abs(p.z())) {
        n = radial;
        q = Vec(0, 0, p.z()) + radius * radial;
    } else {
        n = Vec(0, 0, p.z() < 0 ? -1 : 1);
        q = Vec(p.x(), p.y(), n.z() * half_length);
    }
    return finish(cyl, c.radius, p, q, n, gap);
}

/* ---- sphere and half-space: closed form ---- */

Separation sphere_separation(const Capsule &c, const Solid &sphere)
{
    const Vec centre = sphere.pose.translation();
    const Vec d = c.b - c.a;
    const double length2 = d.squaredNorm();
    const double t = length2 > kTiny ? clamp01((centre - c.a).dot(d) / length2) : 0;
    const Vec p = c.a + t * d;
    const double gap = (p - centre).norm();
    const Vec n = gap > 0 ? Vec((p - centre) / gap) : perpendicular(d);
    Separation s;
    s.normal = n;
    s.on_capsule = p - c.radius * n;
    s.on_other = centre + sphere.half.x() * n;
    s.distance = gap - c.radius - sphere.half.x();
    return s;
}

Separation half_space_separation(const Capsule &c, const Solid &plane)
{
    const Vec a = plane.to_local * c.a, b = plane.to_local * c.b;
    const Vec &p = a.z() <= b.z() ? a : b;
    return finish(plane, c.radius, p, Vec(p.x(), p.y(), 0), Vec::UnitZ(), p.z());
}

} // namespace

Solid make_box(const Pose &pose, const Vec &size)
{
    Solid s;
    s.kind = SolidKind::kBox;
    s.pose = pose;
    s.to_local = pose.inverse();
    s.half = 0.5 * size;
    s.bound_centre = pose.translation();
    s.bound_radius = s.half.norm();
    return s;
}

Solid make_cylinder(const Pose &pose, double radius, double length)
{
    Solid s;
    s.kind = SolidKind::kCylinder;
    s.pose = pose;
    s.to_local = pose.inverse();
    s.half = Vec(radius, radius, 0.5 * length);
    s.bound_centre = pose.translation();
    s.bound_radius = std::hypot(radius, 0.5 * length);
    return s;
}

Solid make_sphere(const Vec &centre, double radius)
{
    Solid s;
    s.kind = SolidKind::kSphere;
    s.pose = Pose::Identity();
    s.pose.translation() = centre;
    s.to_local = s.pose.inverse();
    s.half = Vec(radius, radius, radius);
    s.bound_centre = centre;
    s.bound_radius = radius;
    return s;
}

Solid make_half_space(const Pose &pose)
{
    Solid s;
    s.kind = SolidKind::kHalfSpace;
    s.pose = pose;
    s.to_local = pose.inverse();
    s.bound_centre = pose.translation();
    s.bound_radius = std::numeric_limits<double>::infinity();
    return s;
}

Separation separation(const Capsule &capsule, const Solid &solid)
{
    switch (solid.kind) {
    case SolidKind::kBox:
        return box_separation(capsule, solid);
    case SolidKind::kCylinder:
        return cylinder_separation(capsule, solid);
    case SolidKind::kSphere:
        return sphere_separation(capsule, solid);
    case SolidKind::kHalfSpace:
        return half_space_separation(capsule, solid);
    }
    return {};
}

Separation separation(const Capsule &capsule, const Capsule &other)
{
    const Vec d1 = capsule.b - capsule.a, d2 = other.b - other.a;
    double s = 0, t = 0;
    closest_on_segments(capsule.a, d1, other.a, d2, s, t);
    const Vec p1 = capsule.a + s * d1, p2 = other.a + t * d2;
    const double gap = (p1 - p2).norm();
    Vec n;
    if (gap > 0)
        n = (p1 - p2) / gap;
    else if (d1.cross(d2).squaredNorm() > kTiny)
        n = d1.cross(d2).normalized();
    else
        n = perpendicular(d1.squaredNorm() > kTiny ? d1 : d2);
    Separation r;
    r.normal = n;
    r.on_capsule = p1 - capsule.radius * n;
    r.on_other = p2 + other.radius * n;
    r.distance = gap - capsule.radius - other.radius;
    return r;
}

double sphere_bound(const Vec &centre, double radius, const Solid &solid)
{
    const Vec p = solid.to_local * centre;
    switch (solid.kind) {
    case SolidKind::kBox: {
        const Vec excess = p.cwiseAbs() - solid.half;
        return excess.cwiseMax(0.0).norm() + std::min(excess.maxCoeff(), 0.0) - radius;
    }
    case SolidKind::kCylinder:
        return cylinder_depth(p, solid.half.x(), solid.half.z()) - radius;
    case SolidKind::kSphere:
        return p.norm() - solid.half.x() - radius;
    case SolidKind::kHalfSpace:
        return p.z() - radius;
    }
    return -std::numeric_limits<double>::infinity();
}

double distance_bound(const Capsule &capsule, const Solid &solid)
{
    if (solid.kind == SolidKind::kHalfSpace)
        return std::min((solid.to_local * capsule.a).z(), (solid.to_local * capsule.b).z()) - capsule.radius;
    return sphere_bound(bound_centre(capsule), bound_radius(capsule), solid);
}

} // namespace shapes
} // namespace zsim
