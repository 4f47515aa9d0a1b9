/*
 * What the view shows of each controller: their readouts (core/readout.h),
 * taken under the library lock, and turned into JSON without it.
 *
 * take_snapshot() holds the lock only to copy plain values (joints, flags,
 * frames, IO); the TCP is computed and the JSON written afterwards, so the
 * motion thread waits at most for a few copies.
 */
#ifndef ZSIM_VIEW_SNAPSHOT_H
#define ZSIM_VIEW_SNAPSHOT_H

#include "core/readout.h"

#include <string>

namespace zsim {
namespace view {

struct Snapshot {
    SimulationReadout simulation; /* every controller, in address order */
    int viewers = 0;              /* streams of the view open (filled in by the view) */
    bool script_ended = false;    /* the process is past its script, serving on (filled in by the view) */
};

/* Copies the simulation's state (takes the library lock). */
Snapshot take_snapshot();

/* {"time_scale": s, "viewers": n, "scene": [...], "script": "running",
 * "controllers": [...]}: the scene's objects, and each controller's joints
 * (and when it stood there), the joints at a limit, TCP (in the tool and user
 * frame in use, as get_tcp_position), frames, target, flags, error, program,
 * its base, body and contacts, and digital IO. */
std::string state_json(const Snapshot &snapshot);

/* The arm's geometry for drawing it: the DH table, joint limits and
 * maximum speeds, home, and the digital IO channels of each IO type. */
std::string arm_json();

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_SNAPSHOT_H */
