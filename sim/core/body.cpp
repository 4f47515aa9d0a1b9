/*
 * The arm's collision body (body.h).
 */
#include "body.h"

#include <cmath>


namespace zsim {
namespace body {

const std::array<std::array<int, 2>, kSelfPairs> kSelfPairList = {{
    {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6},
    {1, 3}, {1, 4}, {1, 5}, {1, 6},
    {2, 4}, {2, 5}, {2, 6},
    {3, 5}, {3, 6},
    {4, 6},
}};

namespace {

constexpr double kColumnFoot = 70;   /* mm above the base plane where the column's axis starts */
constexpr double kColumnRadius = 62;
constexpr double kBigHousing = 62;   /* joints 2 and 3 */
constexpr double kBigArm = 48;
constexpr double kSmallHousing = 46; /* joints 4 to 6 */
constexpr double kSmallArm = 38;

void add(Body &b, int part, const shapes::Vec &from, const shapes::Vec &to, double radius)
{
    shapes::Capsule &c = b.capsules[static_cast<std::size_t>(b.count)];
    c.a = from;
    c.b = to;
    c.radius = radius;
    b.part[static_cast<std::size_t>(b.count)] = part;
    ++b.count;
}

void sphere(Body &b, int part, const shapes::Vec &at, double radius) { add(b, part, at, at, radius); }

/* Grows the sphere (centre, radius) to hold another one; a radius below 0
 * is no sphere yet. */
void merge(shapes::Vec &centre, double &radius, const shapes::Vec &other_centre, double other_radius)
{
    if (radius < 0) {
        centre = other_centre;
        radius = other_radius;
        return;
    }
    const double apart = (other_centre - centre).norm();
    if (apart + other_radius <= radius)
        return;
    if (apart + radius <= other_radius) {
        centre = other_centre;
        radius = other_radius;
        return;
    }
    const double grown = 0.5 * (apart + radius + other_radius);
    centre += (other_centre - centre) * ((grown - radius) / apart);
    radius = grown;
}

} // namespace

shapes::Vec reach_centre(const Pose &base) { return base * shapes::Vec(0, 0, arm::kDh[0].d); }

double reach_radius(const Pose &tool)
{
    double links = kBigHousing; /* the largest radius of a capsule */
    for (std::size_t i = 1; i < arm::kDh.size(); ++i)
        links += std::abs(arm::kDh[i].a) + std::abs(arm::kDh[i].d);
    return links + tool.translation().norm();
}

Body at(const Joints &q, const Pose &tool, const Pose &base)
{
    const std::array<Pose, 7> local = link_frames(q);
    std::array<shapes::Vec, 7> o;
    std::array<shapes::Vec, 7> z;
    for (std::size_t i = 0; i < 7; ++i) {
        const Pose frame = base * local[i];
        o[i] = frame.translation();
        z[i] = frame.linear().col(2);
    }

    Body b;
    b.first[0] = 0;
    add(b, 0, o[0] + kColumnFoot * z[0], o[1], kColumnRadius);
    b.first[1] = b.count;
    sphere(b, 1, o[1], kBigHousing);
    add(b, 1, o[1], o[2], kBigArm);
    b.first[2] = b.count;
    sphere(b, 2, o[2], kBigHousing);
    add(b, 2, o[2], o[3], kBigArm);
    b.first[3] = b.count;
    sphere(b, 3, o[3], kSmallHousing);
    add(b, 3, o[3], o[4], kSmallArm);
    b.first[4] = b.count;
    sphere(b, 4, o[4], kSmallHousing);
    add(b, 4, o[4], o[5], kSmallArm);
    b.first[5] = b.count;
    sphere(b, 5, o[5], kSmallHousing);
    add(b, 5, o[5], o[6] - kSmallArm * z[6], kSmallArm);
    b.first[6] = b.count;
    const shapes::Vec tcp = base * local[6] * tool.translation();
    const double length = (tcp - o[6]).norm();
    if (length > kToolRadius)
        add(b, kTool, o[6], tcp + (o[6] - tcp) * (kToolRadius / length), kToolRadius);
    b.first[7] = b.count;

    bool any = false;
    for (int p = 0; p < kParts; ++p) {
        const std::size_t part = static_cast<std::size_t>(p);
        b.part_radius[part] = -1;
        for (int n = b.first[part]; n < b.first[part + 1]; ++n) {
            const shapes::Capsule &c = b.capsules[static_cast<std::size_t>(n)];
            merge(b.part_centre[part], b.part_radius[part], shapes::bound_centre(c), shapes::bound_radius(c));
        }
        if (b.part_radius[part] < 0)
            continue;
        if (!any) {
            b.centre = b.part_centre[part];
            b.radius = b.part_radius[part];
            any = true;
        } else {
            merge(b.centre, b.radius, b.part_centre[part], b.part_radius[part]);
        }
    }
    return b;
}

} // namespace body
} // namespace zsim
