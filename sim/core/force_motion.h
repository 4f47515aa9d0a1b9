/*
 * When forces move the arm: the glue between what changes the forces on a
 * controller's arm (an applied wrench, the payload it really carries, drag
 * mode or admittance control switched on) and the motion they make
 * (force_segments.h), and the protective stop of an arm at rest.
 *
 * An arm at rest is not stepped, so nothing reads its joints' torques until
 * something changes them: each change reads them once (feel_at_rest). An
 * arm that moves reads them every cycle (Controller::sense).
 *
 * All of it with the library lock held.
 */
#ifndef ZSIM_FORCE_MOTION_H
#define ZSIM_FORCE_MOTION_H

#include "controller.h"

namespace zsim {

/* The forces on a resting arm changed: reads its torques; a difference
 * beyond the collision level's threshold makes the protective stop (an
 * enabled arm only); otherwise, in drag mode or under admittance control,
 * queues the motion the forces make. A moving arm reads them at its next
 * cycle. */
void feel_at_rest(Controller &rc);

/* Admittance control on (anchored at the TCP where the arm rests; kBusy
 * while it moves) or off (its motion, if any, ends). */
ErrorCode switch_admittance(Controller &rc, bool on);

/* Drag mode or admittance control went off: the motion they made ends. */
void end_force_motion(Controller &rc);

} // namespace zsim

#endif /* ZSIM_FORCE_MOTION_H */
