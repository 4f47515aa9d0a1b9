/*
 * Positions and state: what a script reads back, and the status snapshot.
 *
 * get_robot_status fills (field: meaning):
 *   status_0   the error state's code, 0 when none
 *   status_1   1 when in position (no motion queued, or servo mode waiting for set-points)
 *   status_2   1 when powered
 *   status_3   1 when enabled
 *   status_4   rapid rate (0..1]
 *   status_5   1 during a protective stop (collision)
 *   status_6   1 while servo mode is on
 *   status_7   tool id in use
 *   status_8   user frame id in use
 *   status_9   motion segments queued (the running one included)
 *   status_10  cabinet digital outputs (channels from 0; the rest 0)
 *   status_11  cabinet digital inputs
 *   status_12  cabinet analog inputs
 *   status_13  cabinet analog outputs
 *   status_14  tool digital outputs
 *   status_15  tool digital inputs
 *   status_16  tool analog inputs
 *   status_17  extension digital outputs
 *   status_18  joint positions, rad
 *   status_19  TCP pose in the current tool and user frame (mm, rad)
 * Everything else (the reserved bytes) is 0.
 */
#include "api_support.h"
#include "force_motion.h"
#include "readout.h"

#include <cstring>

using zsim::Controller;
using zsim::Lock;

namespace {

template <class Out, class Fill>
ErrorCode read_state(const RobotHandle *handle, Out *out, Fill &&fill)
{
    return zsim::with_controller(handle, [&](Controller &rc, Lock &) {
        if (!out)
            return zsim::kInvalidArgument;
        fill(rc, *out);
        return zsim::kOk;
    });
}

template <class T, std::size_t N, class From>
void copy_channels(T (&to)[N], const From &from)
{
    for (std::size_t i = 0; i < N && i < from.size(); ++i)
        to[i] = static_cast<T>(from[i]);
}

} // namespace

namespace zsim {
namespace api {

/* Drag mode (hand guiding): needs an enabled arm at rest; moves are refused
 * (kBusy) while it is on. The arm then moves by the outside forces on it
 * (force_motion.h). */
ErrorCode drag_mode_enable(const RobotHandle *handle, int32_t enable)
{
    return zsim::with_controller(handle, [enable](Controller &rc, Lock &) {
        if (!enable) {
            rc.drag = false;
            zsim::end_force_motion(rc);
            return zsim::kOk;
        }
        if (!rc.powered)
            return zsim::kNotPowered;
        if (!rc.enabled)
            return zsim::kNotEnabled;
        if (rc.servo_mode)
            return zsim::kServoActive;
        if (rc.moving())
            return zsim::kBusy;
        rc.drag = true;
        zsim::feel_at_rest(rc); /* a wrench applied already moves it */
        return zsim::kOk;
    });
}

ErrorCode get_robot_state(const RobotHandle *handle, RobotStateRecord *state)
{
    return read_state(handle, state, [](const Controller &rc, RobotStateRecord &s) {
        s.emergency_stop = 0;
        s.power_on = rc.powered;
        s.servo_enabled = rc.enabled;
    });
}

ErrorCode get_tcp_position(const RobotHandle *handle, CartPose *tcp_position)
{
    return read_state(handle, tcp_position,
                      [](const Controller &rc, CartPose &p) { p = zsim::to_cart(rc.tcp(rc.joints)); });
}

ErrorCode get_joint_position(const RobotHandle *handle, JointVector *joint_pos)
{
    return read_state(handle, joint_pos,
                      [](const Controller &rc, JointVector &v) { v = zsim::to_vector(rc.joints); });
}

ErrorCode is_in_collision(const RobotHandle *handle, int32_t *in_collision)
{
    return read_state(handle, in_collision, [](const Controller &rc, int32_t &v) { v = rc.collision; });
}

ErrorCode is_in_drag_mode(const RobotHandle *handle, int32_t *in_drag)
{
    return read_state(handle, in_drag, [](const Controller &rc, int32_t &v) { v = rc.drag; });
}

/* 1 when a joint stands at one of its limits (arm::at_limit). */
ErrorCode is_on_limit(const RobotHandle *handle, int32_t *on_limit)
{
    return read_state(handle, on_limit, [](const Controller &rc, int32_t &v) {
        v = 0;
        for (std::size_t j = 0; j < 6; ++j)
            if (zsim::arm::at_limit(j, rc.joints[j]))
                v = 1;
    });
}

ErrorCode is_in_pos(const RobotHandle *handle, int32_t *in_pos)
{
    return read_state(handle, in_pos, [](const Controller &rc, int32_t &v) { v = rc.in_position(); });
}

/* Copied under the lock; the record is filled (and the TCP computed) after it. */
ErrorCode get_robot_status(const RobotHandle *handle, RobotStatusRecord *status)
{
    zsim::ControllerReadout r;
    const ErrorCode code = read_state(handle, status, [&r](const Controller &rc, RobotStatusRecord &) {
        r = zsim::readout_of(rc, zsim::kReadIo);
    });
    if (code != zsim::kOk)
        return code;
    RobotStatusRecord s;
    std::memset(&s, 0, sizeof s);
    s.status_0 = r.error;
    s.status_1 = r.in_position;
    s.status_2 = r.powered;
    s.status_3 = r.enabled;
    s.status_4 = r.rapid_rate;
    s.status_5 = r.collision;
    s.status_6 = r.servo_mode;
    s.status_7 = static_cast<uint32_t>(r.tool.id);
    s.status_8 = static_cast<uint32_t>(r.user_frame.id);
    s.status_9 = static_cast<uint32_t>(r.queued);
    copy_channels(s.status_10, r.io.digital_out[zsim::kIoCabinet]);
    copy_channels(s.status_11, r.io.digital_in[zsim::kIoCabinet]);
    copy_channels(s.status_12, r.io.analog_in[zsim::kIoCabinet]);
    copy_channels(s.status_13, r.io.analog_out[zsim::kIoCabinet]);
    copy_channels(s.status_14, r.io.digital_out[zsim::kIoTool]);
    copy_channels(s.status_15, r.io.digital_in[zsim::kIoTool]);
    copy_channels(s.status_16, r.io.analog_in[zsim::kIoTool]);
    copy_channels(s.status_17, r.io.digital_out[zsim::kIoExtension]);
    const CartPose tcp = zsim::to_cart(r.tcp());
    const double pose[6] = {tcp.tran.x, tcp.tran.y, tcp.tran.z, tcp.rpy.rx, tcp.rpy.ry, tcp.rpy.rz};
    for (std::size_t j = 0; j < 6; ++j) {
        s.status_18[j] = r.joints[j];
        s.status_19[j] = pose[j];
    }
    *status = s;
    return zsim::kOk;
}

} // namespace api
} // namespace zsim
