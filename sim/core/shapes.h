/*
 * Solid shapes and how far apart they are: the geometry of the world
 * (world.h) and of the arms' bodies (body.h).
 *
 * An arm's body is made of capsules (a segment swept by a ball; a sphere
 * when the segment has no length). The scene is made of solids: boxes,
 * cylinders, spheres and half-spaces (the floor). separation() gives the
 * signed distance between a capsule and another shape, with the points and
 * the direction that realise it.
 *
 * Signed distance: positive, the gap between the two; negative, they
 * overlap, and -distance is how far the capsule must move (along `normal`)
 * to be clear, as long as its axis stays outside the other shape. Once the
 * axis itself is inside, -distance is the depth of the axis's deepest point
 * plus the radius (how far that point must move out), which can be less
 * than the whole overlap. Millimetres throughout; exact (to rounding) for
 * every pair but capsule and cylinder, whose distance is found by a convex
 * line search to within 1e-9 of the capsule's length.
 *
 * Pure functions: no lock, no allocation.
 */
#ifndef ZSIM_SHAPES_H
#define ZSIM_SHAPES_H

#include <Eigen/Geometry>

namespace zsim {
namespace shapes {

using Vec = Eigen::Vector3d;
using Pose = Eigen::Isometry3d;

struct Capsule {
    Vec a{0, 0, 0}, b{0, 0, 0}; /* the axis's ends */
    double radius = 0;
};

enum class SolidKind {
    kBox,       /* centred on its pose, edges along its axes */
    kCylinder,  /* centred on its pose, its axis along the pose's z */
    kSphere,    /* centred on its pose */
    kHalfSpace, /* everything below the xy plane of its pose (the side its z points away from) */
};

struct Solid {
    SolidKind kind = SolidKind::kSphere;
    Pose pose = Pose::Identity();
    Pose to_local = Pose::Identity(); /* pose's inverse */
    Vec half{0, 0, 0};                /* box: half its edges; cylinder: radius, radius, half length;
                                         sphere: radius, radius, radius */
    Vec bound_centre{0, 0, 0};        /* a sphere that holds it (none for a half-space) */
    double bound_radius = 0;
};

Solid make_box(const Pose &pose, const Vec &size);
Solid make_cylinder(const Pose &pose, double radius, double length);
Solid make_sphere(const Vec &centre, double radius);
Solid make_half_space(const Pose &pose);

/* The signed distance between a capsule and another shape, and where. */
struct Separation {
    double distance = 0;           /* mm; negative: they overlap */
    Vec on_capsule{0, 0, 0};       /* the capsule's point nearest the other shape (deepest in it) */
    Vec on_other{0, 0, 0};         /* the other shape's point nearest the capsule */
    Vec normal{0, 0, 1};           /* unit, from the other shape towards the capsule */
};

Separation separation(const Capsule &capsule, const Solid &solid);
Separation separation(const Capsule &capsule, const Capsule &other);

/* Lower bounds of the distance between a sphere (or the sphere round a
 * capsule) and the solid: the signed distance of its centre, less its
 * radius (exact for a capsule and a half-space). Cheap, for skipping what
 * is far. */
double sphere_bound(const Vec &centre, double radius, const Solid &solid);
double distance_bound(const Capsule &capsule, const Solid &solid);

/* The centre and radius of a sphere that holds the capsule. */
inline Vec bound_centre(const Capsule &c) { return 0.5 * (c.a + c.b); }
inline double bound_radius(const Capsule &c) { return 0.5 * (c.b - c.a).norm() + c.radius; }

} // namespace shapes
} // namespace zsim

#endif /* ZSIM_SHAPES_H */
