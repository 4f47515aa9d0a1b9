/*
 * What a body touches: the capsules of an arm's body (body.h) that overlap
 * the scene's objects or another body, and the nearest two parts of one.
 *
 * Each search goes from cheap to exact: a sphere round the whole body
 * against each object (its signed distance from the sphere's centre), then
 * a sphere round each part, then each capsule's, and only then the capsule
 * itself. A body far from everything costs a handful of these per object.
 *
 * Pure functions: no lock, no allocation (the sinks may).
 */
#ifndef ZSIM_TOUCH_H
#define ZSIM_TOUCH_H

#include "body.h"
#include "scene.h"
#include "shapes.h"

#include <limits>
#include <vector>

namespace zsim {
namespace touch {

using shapes::Separation;

inline double sphere_gap(const shapes::Vec &a, double ra, const shapes::Vec &b, double rb)
{
    return (a - b).norm() - ra - rb;
}

/* Every capsule of `b` that overlaps an object: sink(capsule, separation, object). */
template <class Sink>
void with_objects(const body::Body &b, const std::vector<scene::Object> &objects, Sink &&sink)
{
    for (const scene::Object &o : objects) {
        if (shapes::sphere_bound(b.centre, b.radius, o.solid) >= 0)
            continue;
        for (int p = 0; p < body::kParts; ++p) {
            const std::size_t part = static_cast<std::size_t>(p);
            if (b.part_radius[part] < 0 || shapes::sphere_bound(b.part_centre[part], b.part_radius[part], o.solid) >= 0)
                continue;
            for (int n = b.first[part]; n < b.first[part + 1]; ++n) {
                const shapes::Capsule &c = b.capsules[static_cast<std::size_t>(n)];
                if (shapes::distance_bound(c, o.solid) >= 0)
                    continue;
                const Separation s = shapes::separation(c, o.solid);
                if (s.distance < 0)
                    sink(n, s, o);
            }
        }
    }
}

/* Every capsule of `b` that overlaps one of `other`: sink(capsule, separation, other's part). */
template <class Sink>
void with_body(const body::Body &b, const body::Body &other, Sink &&sink)
{
    if (sphere_gap(b.centre, b.radius, other.centre, other.radius) >= 0)
        return;
    for (int p = 0; p < body::kParts; ++p) {
        const std::size_t part = static_cast<std::size_t>(p);
        if (b.part_radius[part] < 0 || sphere_gap(b.part_centre[part], b.part_radius[part], other.centre, other.radius) >= 0)
            continue;
        for (int q = 0; q < body::kParts; ++q) {
            const std::size_t oq = static_cast<std::size_t>(q);
            if (other.part_radius[oq] < 0 ||
                sphere_gap(b.part_centre[part], b.part_radius[part], other.part_centre[oq], other.part_radius[oq]) >= 0)
                continue;
            for (int n = b.first[part]; n < b.first[part + 1]; ++n)
                for (int k = other.first[oq]; k < other.first[oq + 1]; ++k) {
                    const Separation s = shapes::separation(b.capsules[static_cast<std::size_t>(n)],
                                                            other.capsules[static_cast<std::size_t>(k)]);
                    if (s.distance < 0)
                        sink(n, s, q);
                }
        }
    }
}

/* The nearest two capsules of parts i and j of one body. */
inline Separation nearest(const body::Body &b, int i, int j)
{
    Separation best;
    best.distance = std::numeric_limits<double>::infinity();
    for (int n = b.first[static_cast<std::size_t>(i)]; n < b.first[static_cast<std::size_t>(i) + 1]; ++n)
        for (int k = b.first[static_cast<std::size_t>(j)]; k < b.first[static_cast<std::size_t>(j) + 1]; ++k) {
            const Separation s = shapes::separation(b.capsules[static_cast<std::size_t>(n)],
                                                    b.capsules[static_cast<std::size_t>(k)]);
            if (s.distance < best.distance)
                best = s;
        }
    return best;
}

} // namespace touch
} // namespace zsim

#endif /* ZSIM_TOUCH_H */
