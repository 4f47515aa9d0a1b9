/*
 * The arm's body: the solid it is for collisions, as capsules on its six
 * links and its tool, placed in the world by its joints, its tool and its
 * base (docs/virtual-controller.md, "The body", has the table).
 *
 * Frame i is the DH frame at the end of link i (link_frames), o_i its
 * origin, z_i its z axis; frame 0 is the base. Each link's joint housing is
 * a sphere on the joint's axis and its arm a capsule along the DH line,
 * with the radii the live view draws:
 *
 *   part 0 (joint 1 moves it)  the column: o0 + 70 z0 .. o1, radius 62 (its
 *                              foot 8 mm above the plane the base stands on)
 *   part 1 (joint 2)           shoulder sphere at o1, 62; upper arm o1 .. o2, 48
 *   part 2 (joint 3)           elbow sphere at o2, 62; forearm o2 .. o3, 48
 *   part 3 (joint 4)           wrist 1 sphere at o3, 46; o3 .. o4, 38
 *   part 4 (joint 5)           wrist 2 sphere at o4, 46; o4 .. o5, 38
 *   part 5 (joint 6)           wrist 3 sphere at o5, 46; o5 .. 38 mm short of
 *                              the flange, 38 (so it ends at the flange face)
 *   part 6, the tool           from the flange centre towards the TCP,
 *                              radius 20, ending at the TCP; none when the
 *                              TCP is within 20 mm of the flange centre
 *
 * Parts next to each other in this list (and the tool with part 5) are
 * neighbours: they meet at a joint, so they overlap by design and are never
 * checked against each other.
 *
 * Pure functions: no lock, no allocation.
 */
#ifndef ZSIM_BODY_H
#define ZSIM_BODY_H

#include "kinematics.h"
#include "shapes.h"

#include <array>

namespace zsim {
namespace body {

constexpr int kParts = 7;           /* links 0..5, the tool */
constexpr int kTool = 6;
constexpr int kMaxCapsules = 13;
constexpr double kToolRadius = 20;  /* mm */

struct Body {
    std::array<shapes::Capsule, kMaxCapsules> capsules{};
    std::array<int, kMaxCapsules> part{};   /* the part each capsule belongs to */
    int count = 0;
    /* Per part: the range of its capsules and a sphere holding them (radius
     * -1: the part has none, as a tool too short to have a body). */
    std::array<int, kParts + 1> first{};    /* capsules of part p: first[p] .. first[p+1]-1 */
    std::array<shapes::Vec, kParts> part_centre{};
    std::array<double, kParts> part_radius{};
    /* A sphere holding the whole body. */
    shapes::Vec centre{0, 0, 0};
    double radius = 0;
};

/* The body for joints q, tool `tool` (flange to TCP) and base `base` (the
 * arm's base in the world): capsules in the world frame. */
Body at(const Joints &q, const Pose &tool, const Pose &base);

/* A sphere that holds the body whatever its joints: round the shoulder
 * (o1), its radius the links' lengths from there plus the largest capsule
 * radius, plus the tool's length. Cheaper than a body, for skipping arms
 * that are far. */
shapes::Vec reach_centre(const Pose &base);
double reach_radius(const Pose &tool);

/* Two parts that meet at a joint (or the same part). */
constexpr bool neighbours(int a, int b) { return a - b <= 1 && b - a <= 1; }

/* The pairs of parts an arm's self-collision check watches: every pair
 * that are not neighbours. */
constexpr int kSelfPairs = 15;
extern const std::array<std::array<int, 2>, kSelfPairs> kSelfPairList;

} // namespace body
} // namespace zsim

#endif /* ZSIM_BODY_H */
