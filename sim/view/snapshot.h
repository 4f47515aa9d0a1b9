/*
 * What the view shows of each controller, copied under the library lock and
 * turned into JSON without it.
 *
 * take_snapshot() holds the lock only to copy plain values (joints, flags,
 * frames, IO); the TCP is computed and the JSON written afterwards, so the
 * motion thread waits at most for a few copies.
 */
#ifndef ZSIM_VIEW_SNAPSHOT_H
#define ZSIM_VIEW_SNAPSHOT_H

#include "core/io.h"
#include "core/kinematics.h"
#include "zandrelAPI.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zsim {
namespace view {

struct ArmSnapshot {
    std::string address;
    Joints joints{};                 /* rad */
    CartPose tool{}, user_frame{};   /* as set: the TCP in the flange frame, the frame in the base frame */
    Pose tool_pose = Pose::Identity(), user_pose = Pose::Identity();
    std::int32_t tool_id = 0, user_frame_id = 0;
    bool has_target = false;
    Joints target{};                 /* where the current move ends, rad */

    bool shut_down = false, powered = false, enabled = false, collision = false;
    bool servo_mode = false, drag = false, in_position = true;
    ErrorCode error = 0;             /* the error state's code, 0 when none */
    std::string error_message;
    std::size_t queued = 0;          /* motions queued, the running one included */
    double rapid_rate = 1;

    std::string program;             /* the loaded program's name, empty when none */
    std::int32_t program_line = 0;
    std::uint32_t program_state = 0; /* get_program_state's code */

    IoBank io;
};

struct Snapshot {
    double time_scale = 1;
    int viewers = 0;               /* streams of the view open (filled in by the view) */
    std::vector<ArmSnapshot> arms; /* every controller, in address order */
};

/* Copies the simulation's state (takes the library lock). */
Snapshot take_snapshot();

/* {"time_scale": s, "viewers": n, "controllers": [...]}: each controller's joints, TCP (in
 * the tool and user frame in use, as get_tcp_position), frames, target,
 * flags, error, program and digital IO. */
std::string state_json(const Snapshot &snapshot);

/* The arm's geometry for drawing it: the DH table, joint limits, home, and
 * the digital IO channels of each IO type. */
std::string arm_json();

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_SNAPSHOT_H */
