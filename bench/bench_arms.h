/*
 * Arms moving back and forth in manual time, for the C++ benchmark programs
 * that time what the library spends on them.
 */
#ifndef BENCH_ARMS_H
#define BENCH_ARMS_H

#include "bench_stats.h"
#include "zandrelAPI.h"
#include "zsim_probe.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

/* Two working poses; the joint path between them keeps every part at least
 * 8 mm from the floor and 130 mm from the other objects of world_cost's cell. */
const JointVector kPoses[2] = {{{-0.5, 1.3, -1.2, -1.6, -1.5, 0.2}}, {{0.5, 1.5, -1.4, -1.5, -1.6, -0.2}}};

struct Arm {
    std::string address;
    RobotHandle handle = -1;
    int next = 0; /* the pose it goes to next */
};

/* CPU seconds of this thread per simulated second, for `seconds` of the arms
 * (`moving`: between the two poses, else at rest). */
inline double library_share(std::vector<Arm> &arms, double seconds, bool moving)
{
    const long cycles = std::lround(seconds / 0.008);
    const double start = thread_seconds();
    for (long c = 0; c < cycles; ++c) {
        zsim_advance_time(0.008);
        for (Arm &a : arms) {
            JointVector q{};
            get_joint_position(&a.handle, &q); /* runs the arm's cycle that fell due */
            int32_t in_pos = 0;
            if (moving && is_in_pos(&a.handle, &in_pos) == 0 && in_pos) {
                joint_move(&a.handle, &kPoses[a.next], 0, 0, 1.5);
                a.next ^= 1;
            }
        }
    }
    return (thread_seconds() - start) / seconds;
}

} // namespace bench

#endif /* BENCH_ARMS_H */
