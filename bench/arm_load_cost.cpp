/*
 * What the arms' dynamics and collision detection cost per cycle.
 *
 *   arm_load_cost [--arms N] [--seconds S] [--repeats R] [--objects K]
 *
 * The library: N arms (default 100) move back and forth by joint moves in
 * manual time; each 8 ms of simulated time every arm runs its cycle (the
 * motion, its joint torques, the detection, and the world's checks where
 * the library has a world). The thread's CPU time per simulated second is
 * the share of a core the arms need in real time, less the same calls on
 * arms at rest. Two cases: the payload declared right and nothing pushing
 * (one inverse dynamics a cycle), and the payload declared 1 kg off with a
 * wrench at the TCP (two, and the wrench's J^T f; collision level 5, so the
 * arms keep moving), and that in a scene of the floor and `objects` boxes
 * (default 20) around the arms, near their paths (the whole budget).
 *
 * The core alone: ns per TorqueMonitor::cycle and per inverse_dynamics,
 * compiled from the core's own sources into this program.
 *
 * Times are the thread's CPU time (a loaded machine does not inflate them).
 * Prints "name median p25 p75 unit" lines. Built by build_refs.sh; never shipped.
 */
#include "core/dynamics.h"
#include "core/torque_monitor.h"
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

/* `count` boxes around the arms (with the floor), near their paths, touching none. */
void add_objects(int count)
{
    for (int i = 0; i < count; ++i) {
        const double angle = 6.283185307179586 * i / count;
        const std::string box = "{\"name\": \"box" + std::to_string(i) + "\", \"shape\": \"box\", \"pose\": [" +
                                std::to_string(1000 * std::cos(angle)) + ", " + std::to_string(1000 * std::sin(angle)) +
                                ", 300, 0, 0, " + std::to_string(angle) + "], \"size\": [200, 300, 600]}";
        char why[256];
        if (zsim_scene_add(box.c_str(), why, sizeof why) != 0) {
            std::fprintf(stderr, "scene: %s\n", why);
            std::exit(1);
        }
    }
}

std::vector<Arm> arms_logged_in(int count, bool loaded, int objects)
{
    zsim_reset();
    zsim_journal_enable(0);
    zsim_advance_time(0);
    add_objects(objects);
    std::vector<Arm> arms(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Arm &a = arms[static_cast<size_t>(i)];
        a.address = "10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
        if (create_handler(a.address.c_str(), &a.handle) != 0 || power_on(&a.handle) != 0 ||
            enable_robot(&a.handle) != 0)
            std::exit(1);
        const PayloadData declared{2.0, {0, 0, 50}};
        set_payload(&a.handle, &declared);
        if (loaded) {
            set_collision_level(&a.handle, 5);
            const double actual[4] = {3.0, 0, 0, 50}, force[3] = {5, 0, -5}, torque[3] = {0, 0.2, 0};
            zsim_set_actual_payload(a.address.c_str(), actual);
            zsim_apply_wrench(a.address.c_str(), force, torque);
        }
    }
    return arms;
}

/* ns per TorqueMonitor::cycle over a sine of every joint, on the core's own code. */
double monitor_ns(bool loaded, long calls)
{
    zsim::TorqueMonitor monitor;
    const PayloadData declared{2.0, {0, 0, 50}};
    const zsim::Pose tool = zsim::Pose::Identity();
    std::vector<zsim::ContactForce> contacts;
    if (loaded) {
        monitor.carry(PayloadData{3.0, {0, 0, 50}});
        monitor.apply(Eigen::Vector3d(5, 0, -5), Eigen::Vector3d(0, 0.2, 0));
        contacts.push_back({2, Eigen::Vector3d(300, 0, 400), Eigen::Vector3d(0, 0, 20)});
    }
    const zsim::TorqueSituation s{declared, tool, 5, zsim::ForceOwner::kNone,
                                  Eigen::Vector3d(0, 0, -zsim::dynamics::kGravity), contacts};
    zsim::Joints before{}, now{};
    const double start = thread_seconds();
    for (long n = 0; n < calls; ++n) {
        for (size_t j = 0; j < 6; ++j)
            now[j] = 0.5 * std::sin(0.01 * static_cast<double>(n) + static_cast<double>(j));
        monitor.cycle(s, before, now, 0.008, n == 0);
        before = now;
    }
    return (thread_seconds() - start) * 1e9 / static_cast<double>(calls);
}

double dynamics_ns(long calls)
{
    zsim::dynamics::Load load;
    load.payload_mass = 2.0;
    load.payload_centre = Eigen::Vector3d(0, 0, 50);
    zsim::Joints q{}, v{}, a{};
    double sink = 0;
    const double start = thread_seconds();
    for (long n = 0; n < calls; ++n) {
        for (size_t j = 0; j < 6; ++j) {
            q[j] = 0.5 * std::sin(0.01 * static_cast<double>(n) + static_cast<double>(j));
            v[j] = 0.1 * static_cast<double>(j);
            a[j] = 0.2;
        }
        sink += zsim::dynamics::inverse_dynamics(q, v, a, load)[1];
    }
    if (sink == 42.0)
        std::puts("");
    return (thread_seconds() - start) * 1e9 / static_cast<double>(calls);
}

} // namespace

int main(int argc, char **argv)
{
    int count = 100, repeats = 5, objects = 20;
    double seconds = 2.0;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--arms") && i + 1 < argc)
            count = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--repeats") && i + 1 < argc)
            repeats = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--objects") && i + 1 < argc)
            objects = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: %s [--arms N] [--seconds S] [--repeats R] [--objects K]\n", argv[0]);
            return 2;
        }
    }
    struct LibraryCase {
        const char *name;
        bool loaded;
        int objects;
    };
    const LibraryCase cases[] = {{"library_plain", false, 0}, {"library_loaded", true, 0},
                                 {"library_scene", true, objects}};
    std::vector<double> share[3];
    for (int r = 0; r < repeats; ++r) /* interleaved, so that a busier moment of the machine hits every case */
        for (std::size_t n = 0; n < 3; ++n) {
            std::vector<Arm> arms = arms_logged_in(count, cases[n].loaded, cases[n].objects);
            const double idle = library_share(arms, 0.5, false); /* the calls alone, arms at rest */
            library_share(arms, 0.25, true);                     /* under way */
            share[n].push_back(100.0 * (library_share(arms, seconds, true) - idle));
        }
    for (std::size_t n = 0; n < 3; ++n)
        report(cases[n].name, share[n], "%core");
    for (bool loaded : {false, true}) {
        std::vector<double> ns;
        for (int r = 0; r < repeats; ++r)
            ns.push_back(monitor_ns(loaded, 200000));
        report(loaded ? "monitor_loaded" : "monitor_plain", ns, "ns");
    }
    std::vector<double> ns;
    for (int r = 0; r < repeats; ++r)
        ns.push_back(dynamics_ns(200000));
    report("inverse_dynamics", ns, "ns");
    zsim_reset();
    return 0;
}
