/*
 * The virtual controller's own cost per call: the benchmarked library
 * functions called straight from C++, no Python involved, on a fresh
 * controller (reset, one login, nothing else) with the journal off unless
 * --journal is given. Subtracting this from a binding's time per call leaves
 * what the binding itself costs.
 *
 *   sim_cost [--journal] [--repeats R] [--calls N] [--only FUNCTION]
 *   sim_cost --arms N [--cycles C] [--repeats R]
 *   sim_cost --plans [--repeats R]
 *
 * Prints one line per function: name, median, 25th and 75th percentile of
 * ns per call over R runs of N calls, and the code the last call returned.
 *
 * --arms: the motion's cost instead. N arms move at once in manual time,
 * half of them along lines back and forth (400 mm/s, 200 mm, blended), half
 * following a servo stream of one set-point per cycle; prints "arm-cycle",
 * then median, 25th and 75th percentile of ns per arm and cycle over R runs
 * of C cycles, in processor time (the calls that feed and read the arms
 * included).
 *
 * --plans: what planning one line costs (the call and the cycle that starts
 * it), for a line the joints leave free and one they time, near the
 * shoulder singularity: median, 25th and 75th percentile of ns over R plans.
 * Built by build_refs.sh; never shipped.
 */
#include "zandrelAPI.h"
#include "zsim_probe.h"

#include "bench_stats.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Case {
    const char *name;
    long calls; /* per run, unless --calls */
    std::function<ErrorCode()> call;
};

using bench::percentile;

/* N arms in manual time, lines and servo streams mixed: ns per arm-cycle. */
int arm_cycles(int arms, long cycles, int repeats)
{
    zsim_reset();
    zsim_journal_enable(0);
    zsim_advance_time(0); /* manual time from here */
    std::vector<RobotHandle> handles(static_cast<std::size_t>(arms));
    for (int i = 0; i < arms; ++i) {
        const std::string ip = "10.0." + std::to_string(i / 200) + "." + std::to_string(i % 200 + 1);
        RobotHandle &h = handles[static_cast<std::size_t>(i)];
        if (create_handler(ip.c_str(), &h) != 0 || power_on(&h) != 0 || enable_robot(&h) != 0)
            return 1;
        if (i % 2 == 1 && servo_move_enable(&h, 1) != 0)
            return 1;
    }
    const CartPose forth = {200, 0, 0, 0, 0, 0}, back = {-200, 0, 0, 0, 0, 0};
    std::vector<int> legs(static_cast<std::size_t>(arms), 0);
    std::vector<double> ns;
    long tick = 0;
    for (int r = 0; r < repeats; ++r) {
        const std::clock_t start = std::clock(); /* processor time: the motion thread idles in manual time */
        for (long c = 0; c < cycles; ++c, ++tick) {
            zsim_advance_time(0.008);
            for (int i = 0; i < arms; ++i) {
                RobotHandle &h = handles[static_cast<std::size_t>(i)];
                if (i % 2 == 1) {
                    const double s = 0.3 * std::sin(0.008 * static_cast<double>(tick) * (1.0 + 0.01 * i));
                    const JointVector q = {{s, 1.5708 + s, -1.5708, -1.5708, -1.5708, s}};
                    servo_j(&h, &q, 0);
                    continue;
                }
                int in_pos = 0;
                is_in_pos(&h, &in_pos);
                if (in_pos) { /* two blended lines, there and back */
                    int &leg = legs[static_cast<std::size_t>(i)];
                    linear_move_extend(&h, leg % 2 ? &back : &forth, 1, 0, 400, 2000, 20, nullptr);
                    linear_move_extend(&h, leg % 2 ? &forth : &back, 1, 0, 400, 2000, 0, nullptr);
                    ++leg;
                }
            }
        }
        const std::clock_t stop = std::clock();
        ns.push_back(1e9 * static_cast<double>(stop - start) / CLOCKS_PER_SEC / static_cast<double>(cycles * arms));
    }
    std::printf("arm-cycle %.1f %.1f %.1f %d\n", percentile(ns, 0.5), percentile(ns, 0.25), percentile(ns, 0.75),
                arms);
    zsim_reset();
    return 0;
}

/* Until the arm rests where its motion ends, in manual time. */
bool settle(const RobotHandle &h)
{
    for (int c = 0; c < 5000; ++c) {
        int in_pos = 0;
        if (is_in_pos(&h, &in_pos) == 0 && in_pos)
            return true;
        zsim_advance_time(0.008);
    }
    return false;
}

/* One arm: what planning a line costs, the call and the cycle that starts
 * the move (which samples the path by inverse kinematics and times it), in
 * processor time: for a line the joints leave free and one passing the
 * shoulder singularity 20 mm away (the path sampled finest, the joints
 * timing it). */
int plans(int repeats)
{
    zsim_reset();
    zsim_journal_enable(0);
    zsim_advance_time(0);
    RobotHandle h = -1;
    if (create_handler("127.0.0.1", &h) != 0 || power_on(&h) != 0 || enable_robot(&h) != 0)
        return 1;
    const double pi = std::acos(-1.0), shoulder = 128.0 + 20.0; /* d4 and the clearance, mm */
    const JointVector home = {{0, pi / 2, -pi / 2, -pi / 2, -pi / 2, 0}};
    struct Line {
        const char *name;
        bool from_home; /* `from` is home's TCP, `to` an offset from it */
        CartPose from, to; /* absolute; `from` reached by a joint move */
    } lines[] = {
        {"line-free", true, {}, {{200, -100, -150}, {0, 0, 0}}},
        {"line-near-singularity", false, {{shoulder, -300, 328}, {pi, 0, 0}}, {{shoulder, 300, 328}, {pi, 0, 0}}},
    };
    CartPose at_home;
    if (kine_forward(&h, &home, &at_home) != 0)
        return 1;
    for (Line &line : lines) {
        if (line.from_home) {
            line.from = at_home;
            line.to.tran = {at_home.tran.x + line.to.tran.x, at_home.tran.y + line.to.tran.y,
                            at_home.tran.z + line.to.tran.z};
            line.to.rpy = at_home.rpy;
        }
        JointVector start;
        if (kine_inverse(&h, &home, &line.from, &start) != 0)
            return 1;
        std::vector<double> ns;
        for (int r = 0; r < repeats; ++r) {
            if (joint_move(&h, &start, 0, 0, 3.0) != 0 || !settle(h))
                return 1;
            const std::clock_t begin = std::clock();
            const ErrorCode code = linear_move_extend(&h, &line.to, 0, 0, 1500, 5000, 0, nullptr);
            zsim_advance_time(0.008);
            const std::clock_t end = std::clock();
            if (code != 0)
                return 1;
            ns.push_back(1e9 * static_cast<double>(end - begin) / CLOCKS_PER_SEC);
            motion_abort(&h);
            if (!settle(h))
                return 1;
        }
        std::printf("%s %.1f %.1f %.1f 0\n", line.name, percentile(ns, 0.5), percentile(ns, 0.25),
                    percentile(ns, 0.75));
    }
    zsim_reset();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bool journal = false;
    int repeats = 15;
    long calls = 0;
    const char *only = nullptr;
    int arms = 0;
    long cycles = 500;
    bool plan = false;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--journal"))
            journal = true;
        else if (!std::strcmp(argv[i], "--repeats") && i + 1 < argc)
            repeats = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--calls") && i + 1 < argc)
            calls = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = argv[++i];
        else if (!std::strcmp(argv[i], "--arms") && i + 1 < argc)
            arms = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--cycles") && i + 1 < argc)
            cycles = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--plans"))
            plan = true;
        else {
            std::fprintf(stderr, "usage: %s [--journal] [--repeats R] [--calls N] [--only FUNCTION]\n"
                                 "       %s --arms N [--cycles C] [--repeats R]\n"
                                 "       %s --plans [--repeats R]\n", argv[0], argv[0], argv[0]);
            return 2;
        }
    }

    if (arms > 0)
        return arm_cycles(arms, cycles, repeats);
    if (plan)
        return plans(repeats);

    zsim_reset();
    RobotHandle handle = -1;
    if (create_handler("127.0.0.1", &handle) != 0) {
        std::fprintf(stderr, "create_handler failed\n");
        return 1;
    }
    zsim_journal_enable(journal ? 1 : 0);

    const JointVector joints = {{0.0, 0.5, 1.0, 0.0, 1.57, -0.25}};
    auto *files = static_cast<TrajectoryFileList *>(std::calloc(1, sizeof(TrajectoryFileList)));
    if (!files)
        return 1;
    std::vector<Case> cases = {
        {"servo_j", 1000000, [&] { return servo_j(&handle, &joints, 0); }},
        {"get_joint_position", 1000000, [&] {
             JointVector out{};
             return get_joint_position(&handle, &out);
         }},
        {"get_robot_status", 200000, [&] {
             RobotStatusRecord out{};
             return get_robot_status(&handle, &out);
         }},
        {"joint_move", 1000000, [&] { return joint_move(&handle, &joints, 0, 0, 1.0); }},
        {"get_exist_traj_file_name", 2000, [&] { return get_exist_traj_file_name(&handle, files); }},
    };

    for (const Case &c : cases) {
        if (only && std::strcmp(only, c.name))
            continue;
        const long n = calls > 0 ? calls : c.calls;
        std::vector<double> ns;
        ErrorCode code = 0;
        for (int r = 0; r < repeats; r++) {
            auto start = std::chrono::steady_clock::now();
            for (long i = 0; i < n; i++)
                code = c.call();
            auto stop = std::chrono::steady_clock::now();
            ns.push_back(std::chrono::duration<double, std::nano>(stop - start).count() / static_cast<double>(n));
        }
        std::printf("%s %.1f %.1f %.1f %d\n", c.name, percentile(ns, 0.5), percentile(ns, 0.25),
                    percentile(ns, 0.75), code);
    }
    std::free(files);
    zsim_reset();
    return 0;
}
