/*
 * Starting and ending the motion forces make (force_motion.h).
 */
#include "force_motion.h"

#include <memory>

namespace zsim {

namespace {

bool force_driven(const Segment &s)
{
    return dynamic_cast<const DragSegment *>(&s) || dynamic_cast<const AdmittanceSegment *>(&s);
}

bool may_move(const Controller &rc)
{
    return rc.powered && rc.enabled && rc.fault == kOk && !rc.collision && !rc.servo_mode && !rc.moving();
}

bool any(const Joints &torques)
{
    for (double t : torques)
        if (t != 0)
            return true;
    return false;
}

/* In drag mode or under admittance control, the motion the forces now on the arm make. */
void follow_forces(Controller &rc)
{
    if (!may_move(rc))
        return;
    std::unique_ptr<Segment> motion;
    if (rc.drag) {
        if (any(rc.monitor.external()))
            motion = std::make_unique<DragSegment>(rc.monitor);
    } else if (rc.force.admittance_on && admittance_has_work(rc.force, rc.admittance_hold, rc.monitor)) {
        motion = std::make_unique<AdmittanceSegment>(rc.monitor, rc.force, rc.admittance_hold);
    }
    if (motion)
        motion::enqueue(rc, std::move(motion), rc.joints);
}

} // namespace

void feel_at_rest(Controller &rc)
{
    if (!rc.resting())
        return;
    const ErrorCode felt = rc.monitor.at_rest(rc.situation(), rc.joints);
    if (felt != kOk && rc.powered && rc.enabled && rc.fault == kOk) {
        motion::fail(rc, felt);
        return;
    }
    follow_forces(rc);
}

ErrorCode switch_admittance(Controller &rc, bool on)
{
    if (on == rc.force.admittance_on)
        return kOk;
    if (!on) {
        rc.force.admittance_on = false;
        end_force_motion(rc);
        return kOk;
    }
    if (rc.moving())
        return kBusy;
    rc.force.admittance_on = true;
    rc.admittance_hold.anchor_at(forward(rc.joints), rc.tool());
    feel_at_rest(rc);
    return kOk;
}

void end_force_motion(Controller &rc)
{
    if (rc.moving() && force_driven(*rc.queue.front().segment)) {
        motion::stop(rc, StopKind::kControlled, kOk);
        feel_at_rest(rc); /* the other mode may still be on */
    }
}

} // namespace zsim
