/*
 * Servo mode: a stream of set-points the arm follows on its 8 ms cycle.
 *
 * servo_move_enable(1) needs an enabled arm at rest; while it is on, ordinary
 * moves and jogs are refused with kServoActive. Each set-point is reached over
 * `step_num` cycles (1 for servo_j and servo_p; at most 12500, 100 s) by linear interpolation,
 * beginning when it arrives in simulated time (or when the one before it is
 * reached); the newest set-point supersedes one not begun yet (ServoSegment,
 * servo_segment.h), so a stream faster than the cycle never builds up a
 * backlog and is never refused for it. The arm follows the filtered command
 * within every joint's speed, acceleration and jerk; one that falls a
 * quarter turn behind ends the stream with kFollowingError. Relative
 * set-points (mode 1) add to the previous set-point. servo_p takes a TCP pose
 * in the current tool and user frame and converts it by inverse kinematics,
 * following on from the previous set-point (same branch and turn); a pose
 * past a joint limit is cut where the joint reaches the limit (the arm goes
 * there, the call returns kJointLimit). A set-point beyond a joint limit
 * (kJointLimit), out of reach (kUnreachable) or needing more than a joint's
 * maximum speed over its steps (kSpeedLimit) is refused and the stream goes
 * on from the previous one. servo_move_enable(0) drops the set-points not
 * reached yet and brings the arm to a controlled stop from its present
 * speed and acceleration; servo mode is off at once, new moves wait until
 * the arm rests (kBusy).
 *
 * Filters (servo_filters.h): chosen while servo mode is off; the buffers of
 * the moving mean and the look-ahead hold at most servo::kMaxBuffer cycles.
 */
#include "api_support.h"
#include "motion_bounds.h"
#include "servo_segment.h"

using zsim::Controller;
using zsim::Joints;
using zsim::Lock;
using zsim::Pose;

namespace {

zsim::ServoSegment *servo_of(const Controller &rc)
{
    if (!rc.servo_mode || rc.queue.empty())
        return nullptr;
    return dynamic_cast<zsim::ServoSegment *>(rc.queue.front().segment.get());
}

/* The servo stream's last set-point, or the arm's position. */
Joints servo_last_target(const Controller &rc)
{
    const zsim::ServoSegment *servo = servo_of(rc);
    return servo ? servo->last_target() : rc.joints;
}

/* Adds a set-point to the servo stream (servo mode on). */
ErrorCode servo_add(Controller &rc, const Joints &target, int steps)
{
    zsim::ServoSegment *servo = servo_of(rc);
    if (!servo)
        return zsim::kServoInactive;
    const ErrorCode code = servo->add(target, steps, zsim::motion::until_next_cycle(rc));
    if (code == zsim::kOk) {
        rc.planned_end = target;
        zsim::motion::feed(rc);
    }
    return code;
}

bool valid_set_point(int32_t mode, int32_t steps)
{
    return (mode == 0 || mode == 1) && steps >= 1 && steps <= zsim::bounds::kMaxServoSteps;
}

ErrorCode servo_joints(const RobotHandle *handle, const JointVector *joint_pos, int32_t mode,
                       int32_t steps)
{
    const ErrorCode checked =
        zsim::check(joint_pos && zsim::finite(zsim::to_joints(*joint_pos)) && valid_set_point(mode, steps));
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        const Joints given = zsim::to_joints(*joint_pos);
        if (!rc.servo_mode)
            return zsim::kServoInactive;
        Joints target = given;
        if (mode == 1) {
            const Joints last = servo_last_target(rc);
            for (std::size_t j = 0; j < 6; ++j)
                target[j] = last[j] + given[j];
        }
        return servo_add(rc, target, steps);
    });
}

ErrorCode servo_pose(const RobotHandle *handle, const CartPose *pose, int32_t mode, int32_t steps)
{
    const ErrorCode checked = zsim::check(pose && zsim::finite(*pose) && valid_set_point(mode, steps));
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        if (!rc.servo_mode)
            return zsim::kServoInactive;
        const Joints last = servo_last_target(rc);
        Pose target = zsim::to_pose(*pose);
        if (mode == 1) {
            const Pose from = rc.tcp(last);
            const Pose delta = target;
            target = from;
            target.translation() += delta.translation();
            target.linear() = delta.linear() * from.linear();
        }
        /* On the previous set-point's branch and turn; a pose past a joint
         * limit takes the arm to the limit on the way, and says so. */
        Joints q;
        const ErrorCode code = zsim::follow(rc.flange_for(target), last, q);
        if (code != zsim::kOk && code != zsim::kJointLimit)
            return code;
        const ErrorCode added = servo_add(rc, q, steps);
        return added != zsim::kOk ? added : code;
    });
}

/* Stores a filter choice; refused while servo mode is on. */
template <class Store>
ErrorCode choose_filter(const RobotHandle *handle, bool valid, Store &&store)
{
    return zsim::with_controller(handle, zsim::check(valid), [&](Controller &rc, Lock &) {
        if (rc.servo_mode)
            return zsim::kServoActive;
        store(rc.servo);
        return zsim::kOk;
    });
}

bool at_least_zero(double v) { return std::isfinite(v) && v >= 0; }

} // namespace

namespace zsim {
namespace api {

ErrorCode servo_move_enable(const RobotHandle *handle, int32_t enable)
{
    return zsim::with_controller(handle, [enable](Controller &rc, Lock &lock) {
        if (!enable) {
            if (rc.servo_mode)
                zsim::motion::stop(rc, zsim::StopKind::kControlled, zsim::kOk);
            return zsim::kOk;
        }
        if (rc.servo_mode)
            return zsim::kOk;
        if (const ErrorCode refused = zsim::ready_to_move(rc))
            return refused;
        if (rc.moving())
            return zsim::kBusy;
        const ErrorCode code = zsim::start_motion(
            rc, lock, std::make_unique<zsim::ServoSegment>(rc.joints), rc.joints, false);
        if (code == zsim::kOk)
            rc.servo_mode = true;
        return code;
    });
}

ErrorCode servo_j(const RobotHandle *handle, const JointVector *joint_pos, int32_t move_mode)
{
    return servo_joints(handle, joint_pos, move_mode, 1);
}

ErrorCode servo_j_extend(const RobotHandle *handle, const JointVector *joint_pos,
                         int32_t move_mode, int32_t step_num)
{
    return servo_joints(handle, joint_pos, move_mode, step_num);
}

ErrorCode servo_p(const RobotHandle *handle, const CartPose *cartesian_pose, int32_t move_mode)
{
    return servo_pose(handle, cartesian_pose, move_mode, 1);
}

ErrorCode servo_p_extend(const RobotHandle *handle, const CartPose *end_pos, int32_t move_mode,
                         int32_t step_num)
{
    return servo_pose(handle, end_pos, move_mode, step_num);
}

ErrorCode servo_move_use_none_filter(const RobotHandle *handle)
{
    return choose_filter(handle, true, [](zsim::ServoSettings &s) { s.filter = zsim::ServoFilter::kNone; });
}

ErrorCode servo_move_use_joint_LPF(const RobotHandle *handle, double cutoffFreq)
{
    return choose_filter(handle, zsim::positive(cutoffFreq), [&](zsim::ServoSettings &s) {
        s.filter = zsim::ServoFilter::kJointLowPass;
        s.lpf_cutoff = cutoffFreq;
    });
}

ErrorCode servo_move_use_joint_NLF(const RobotHandle *handle, double max_vr, double max_ar,
                                   double max_jr)
{
    const bool valid = zsim::positive(max_vr) && zsim::positive(max_ar) && zsim::positive(max_jr);
    return choose_filter(handle, valid, [&](zsim::ServoSettings &s) {
        s.filter = zsim::ServoFilter::kJointNonLinear;
        s.joint_nlf = {max_vr, max_ar, max_jr};
    });
}

ErrorCode servo_move_use_carte_NLF(const RobotHandle *handle, double max_vp, double max_ap,
                                   double max_jp, double max_vr, double max_ar, double max_jr)
{
    const bool valid = zsim::positive(max_vp) && zsim::positive(max_ap) && zsim::positive(max_jp) &&
                       zsim::positive(max_vr) && zsim::positive(max_ar) && zsim::positive(max_jr);
    return choose_filter(handle, valid, [&](zsim::ServoSettings &s) {
        s.filter = zsim::ServoFilter::kCartesianNonLinear;
        s.carte_nlf = {max_vp, max_ap, max_jp, max_vr, max_ar, max_jr};
    });
}

ErrorCode servo_move_use_joint_MMF(const RobotHandle *handle, int32_t max_buf, double kp,
                                   double kv, double ka)
{
    const bool valid = max_buf >= 1 && max_buf <= zsim::servo::kMaxBuffer && at_least_zero(kp) && at_least_zero(kv) &&
                       at_least_zero(ka);
    return choose_filter(handle, valid, [&](zsim::ServoSettings &s) {
        s.filter = zsim::ServoFilter::kJointMultiOrder;
        s.mmf_buffer = max_buf;
        s.mmf = {kp, kv, ka};
    });
}

/* Stored alongside the filter (it does not replace it). */
ErrorCode servo_speed_foresight(const RobotHandle *handle, int32_t max_buf, double kp)
{
    const bool valid = max_buf >= 1 && max_buf <= zsim::servo::kMaxBuffer && at_least_zero(kp);
    return choose_filter(handle, valid, [&](zsim::ServoSettings &s) {
        s.foresight_buffer = max_buf;
        s.foresight_kp = kp;
    });
}

} // namespace api
} // namespace zsim
