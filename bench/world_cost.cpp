/*
 * What the world's checks cost: the arms' bodies against a scene, against
 * each other and against themselves, every cycle.
 *
 *   world_cost [--arms N] [--seconds S] [--repeats R]
 *
 * The library: N arms (default 100) move back and forth by joint moves in
 * manual time, in a cell of 20 objects round the origin (the floor, a
 * table with six parts on it, a shelf, a conveyor, a wall, four posts, five
 * balls), each 8 ms of simulated time every arm running its cycle. The
 * thread's CPU time per simulated second is the share of a core the arms
 * need in real time, less the same calls on arms at rest. Three cases: every
 * arm at the origin (none placed: each sees the scene and itself), every arm
 * placed on a 10-wide grid 2.5 m apart, the first at the origin (each also
 * sees the others; the cell is round the first), and the
 * same arms without bodies (the motion alone: what the world adds is the
 * difference).
 *
 * The core alone: ns per capsule-to-shape distance and per body, compiled
 * from the core's own sources into this program.
 *
 * Times are the thread's CPU time (a loaded machine does not inflate them).
 * Prints "name median p25 p75 unit" lines. Built by build_refs.sh; never shipped.
 */
#include "core/body.h"
#include "core/shapes.h"
#include "zandrelAPI.h"
#include "zsim_probe.h"

#include "bench_arms.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using namespace bench; /* the shared arms and clock (bench_arms.h) */

const char *const kCell =
    "[{\"name\": \"floor\", \"shape\": \"plane\", \"pose\": [0, 0, 0, 0, 0, 0]},"
    " {\"name\": \"table\", \"shape\": \"box\", \"pose\": [550, 0, 200, 0, 0, 0], \"size\": [500, 1000, 400]},"
    " {\"name\": \"shelf\", \"shape\": \"box\", \"pose\": [300, 0, 1300, 0, 0, 0], \"size\": [800, 800, 40]},"
    " {\"name\": \"conveyor\", \"shape\": \"box\", \"pose\": [-600, 0, 300, 0, 0, 0], \"size\": [300, 1500, 100]},"
    " {\"name\": \"wall\", \"shape\": \"plane\", \"pose\": [0, 1200, 0, 1.5707963267948966, 0, 0]},"
    " {\"name\": \"part 0\", \"shape\": \"box\", \"pose\": [700, -375, 450, 0, 0, 0], \"size\": [100, 100, 100]},"
    " {\"name\": \"part 1\", \"shape\": \"box\", \"pose\": [700, -225, 450, 0, 0, 0.3], \"size\": [100, 100, 100]},"
    " {\"name\": \"part 2\", \"shape\": \"box\", \"pose\": [700, -75, 450, 0, 0, 0.6], \"size\": [100, 100, 100]},"
    " {\"name\": \"part 3\", \"shape\": \"box\", \"pose\": [700, 75, 450, 0, 0, 0.9], \"size\": [100, 100, 100]},"
    " {\"name\": \"part 4\", \"shape\": \"box\", \"pose\": [700, 225, 450, 0, 0, 1.2], \"size\": [100, 100, 100]},"
    " {\"name\": \"part 5\", \"shape\": \"box\", \"pose\": [700, 375, 450, 0, 0, 1.5], \"size\": [100, 100, 100]},"
    " {\"name\": \"post 0\", \"shape\": \"cylinder\", \"pose\": [900, 900, 750, 0, 0, 0], \"radius\": 50, \"length\": 1500},"
    " {\"name\": \"post 1\", \"shape\": \"cylinder\", \"pose\": [900, -900, 750, 0, 0, 0], \"radius\": 50, \"length\": 1500},"
    " {\"name\": \"post 2\", \"shape\": \"cylinder\", \"pose\": [-900, 900, 750, 0, 0, 0], \"radius\": 50, \"length\": 1500},"
    " {\"name\": \"post 3\", \"shape\": \"cylinder\", \"pose\": [-900, -900, 750, 0, 0, 0], \"radius\": 50, \"length\": 1500},"
    " {\"name\": \"ball 0\", \"shape\": \"sphere\", \"centre\": [-600, 500, 450], \"radius\": 80},"
    " {\"name\": \"ball 1\", \"shape\": \"sphere\", \"centre\": [-600, -500, 450], \"radius\": 80},"
    " {\"name\": \"ball 2\", \"shape\": \"sphere\", \"centre\": [0, 800, 400], \"radius\": 80},"
    " {\"name\": \"ball 3\", \"shape\": \"sphere\", \"centre\": [0, -800, 400], \"radius\": 80},"
    " {\"name\": \"ball 4\", \"shape\": \"sphere\", \"centre\": [600, 700, 700], \"radius\": 80}]";

enum class Setting { kOrigin, kPlaced, kNoBody };

std::vector<Arm> arms_in_the_cell(int count, Setting setting)
{
    zsim_reset();
    zsim_journal_enable(0);
    zsim_advance_time(0);
    char why[256];
    if (zsim_scene_set(kCell, why, sizeof why) != 0) {
        std::fprintf(stderr, "the cell: %s\n", why);
        std::exit(1);
    }
    std::vector<Arm> arms(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Arm &a = arms[static_cast<size_t>(i)];
        a.address = "10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
        const double base[6] = {2500.0 * (i % 10), -2500.0 * (i / 10), 0, 0, 0, 0}; /* clear of the wall */
        if ((setting == Setting::kPlaced && zsim_set_base(a.address.c_str(), base, why, sizeof why) != 0) ||
            (setting == Setting::kNoBody && zsim_set_body(a.address.c_str(), 0, why, sizeof why) != 0) ||
            create_handler(a.address.c_str(), &a.handle) != 0 || power_on(&a.handle) != 0 ||
            enable_robot(&a.handle) != 0 || joint_move(&a.handle, &kPoses[1], 0, 0, 3.0) != 0)
            std::exit(1);
    }
    zsim_advance_time(5);
    for (Arm &a : arms) { /* every arm at its first pose: the cycles that fell due run now, not while measured */
        JointVector q{};
        get_joint_position(&a.handle, &q);
    }
    return arms;
}

/* ns per call of f over `calls` calls. */
template <class F>
double ns_per(long calls, F &&f)
{
    const double start = thread_seconds();
    for (long n = 0; n < calls; ++n)
        f(n);
    return (thread_seconds() - start) * 1e9 / static_cast<double>(calls);
}

} // namespace

int main(int argc, char **argv)
{
    int count = 100, repeats = 5;
    double seconds = 2.0;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--arms") && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--repeats") && i + 1 < argc)
            repeats = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--arms N] [--seconds S] [--repeats R]\n", argv[0]);
            return 2;
        }
    }
    const std::pair<const char *, Setting> settings[] = {
        {"cell_origin", Setting::kOrigin}, {"cell_placed", Setting::kPlaced}, {"no_body", Setting::kNoBody}};
    for (const auto &s : settings) {
        std::vector<double> share;
        for (int r = 0; r < repeats; ++r) {
            std::vector<Arm> arms = arms_in_the_cell(count, s.second);
            const double idle = library_share(arms, 0.5, false); /* the calls alone, arms at rest */
            share.push_back(100.0 * (library_share(arms, seconds, true) - idle));
        }
        report(s.first, share, "%core");
    }

    using namespace zsim;
    const shapes::Capsule capsule{shapes::Vec(10, 20, 30), shapes::Vec(400, -50, 250), 48};
    const Pose turned = Pose(Eigen::AngleAxisd(0.4, Eigen::Vector3d(1, 2, 3).normalized()));
    Pose placed = turned;
    placed.translation() = shapes::Vec(250, 60, 200);
    const std::pair<const char *, shapes::Solid> solids[] = {
        {"capsule_box", shapes::make_box(placed, shapes::Vec(120, 300, 80))},
        {"capsule_cylinder", shapes::make_cylinder(placed, 60, 300)},
        {"capsule_sphere", shapes::make_sphere(shapes::Vec(250, 60, 200), 70)},
        {"capsule_plane", shapes::make_half_space(placed)},
    };
    double sink = 0;
    for (const auto &solid : solids) {
        std::vector<double> ns;
        for (int r = 0; r < repeats; ++r)
            ns.push_back(ns_per(200000, [&](long n) {
                shapes::Capsule c = capsule;
                c.a.x() += 1e-3 * static_cast<double>(n % 100);
                sink += shapes::separation(c, solid.second).distance;
            }));
        report(solid.first, ns, "ns");
    }
    std::vector<double> ns;
    const shapes::Capsule other{shapes::Vec(300, 300, 0), shapes::Vec(-100, 50, 400), 38};
    for (int r = 0; r < repeats; ++r)
        ns.push_back(ns_per(200000, [&](long n) {
            shapes::Capsule c = capsule;
            c.a.x() += 1e-3 * static_cast<double>(n % 100);
            sink += shapes::separation(c, other).distance;
        }));
    report("capsule_capsule", ns, "ns");
    ns.clear();
    for (int r = 0; r < repeats; ++r)
        ns.push_back(ns_per(200000, [&](long n) {
            Joints q{0.1, 1.3, -1.2, -1.6, -1.5, 0.2};
            q[0] += 1e-4 * static_cast<double>(n % 100);
            sink += body::at(q, Pose::Identity(), turned).radius;
        }));
    report("body", ns, "ns");
    if (sink == 42.0)
        std::puts("");
    zsim_reset();
    return 0;
}
