/*
 * The virtual controller's own cost per call: the benchmarked library
 * functions called straight from C++, no Python involved, on a fresh
 * controller (reset, one login, nothing else) with the journal off unless
 * --journal is given. Subtracting this from a binding's time per call leaves
 * what the binding itself costs.
 *
 *   sim_cost [--journal] [--repeats R] [--calls N] [--only FUNCTION]
 *
 * Prints one line per function: name, median, 25th and 75th percentile of
 * ns per call over R runs of N calls, and the code the last call returned.
 * Built by build_refs.sh; never shipped.
 */
#include "zandrelAPI.h"
#include "zsim_probe.h"

#include <algorithm>
#include <chrono>
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

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    double at = p * static_cast<double>(v.size() - 1);
    size_t i = static_cast<size_t>(at);
    double frac = at - static_cast<double>(i);
    return i + 1 < v.size() ? v[i] * (1 - frac) + v[i + 1] * frac : v[i];
}

} // namespace

int main(int argc, char **argv)
{
    bool journal = false;
    int repeats = 15;
    long calls = 0;
    const char *only = nullptr;
    for (int i = 1; i < argc; i++) {
        if (!std::strcmp(argv[i], "--journal"))
            journal = true;
        else if (!std::strcmp(argv[i], "--repeats") && i + 1 < argc)
            repeats = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--calls") && i + 1 < argc)
            calls = std::atol(argv[++i]);
        else if (!std::strcmp(argv[i], "--only") && i + 1 < argc)
            only = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--journal] [--repeats R] [--calls N] [--only FUNCTION]\n", argv[0]);
            return 2;
        }
    }

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
