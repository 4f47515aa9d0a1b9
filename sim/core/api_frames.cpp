/*
 * Tools and user frames, stored per controller.
 *
 * Ids 0..15. Id 0 is the identity (the flange itself, the base itself) and
 * cannot be changed; ids 1..15 start as the identity with an empty name.
 * Names are at most 32 bytes. A tool is the TCP pose in the flange frame, a
 * user frame its pose in the base frame (mm, rpy rad). The frames in use may
 * not change while the arm moves (kBusy).
 */
#include "api_support.h"
#include "force_motion.h"

#include <cstring>

using zsim::Controller;
using zsim::Lock;

namespace {

bool valid_id(int32_t id) { return id >= 0 && id < zsim::kFrameSlots; }

ErrorCode store(const RobotHandle *handle, std::array<zsim::NamedFrame, zsim::kFrameSlots> Controller::*slots,
                int Controller::*in_use, int32_t id, const CartPose *pose, const char *name)
{
    const ErrorCode checked = zsim::check(id >= 1 && id < zsim::kFrameSlots && pose && zsim::finite(*pose) && name &&
                                          std::strlen(name) <= zsim::kFrameNameBytes);
    return zsim::with_controller(handle, checked, [&](Controller &rc, Lock &) {
        if (rc.*in_use == id && rc.moving())
            return zsim::kBusy;
        zsim::NamedFrame &frame = (rc.*slots)[static_cast<std::size_t>(id)];
        frame.data = *pose;
        frame.pose = zsim::to_pose(*pose);
        frame.name = name;
        return zsim::kOk;
    });
}

ErrorCode select(const RobotHandle *handle, int Controller::*in_use, int32_t id)
{
    return zsim::with_controller(handle, zsim::check(valid_id(id)), [&](Controller &rc, Lock &) {
        if (rc.*in_use != id && rc.moving())
            return zsim::kBusy;
        rc.*in_use = id;
        return zsim::kOk;
    });
}

ErrorCode read_id(const RobotHandle *handle, int Controller::*in_use, int32_t *id)
{
    return zsim::with_controller(handle, zsim::present(id), [&](Controller &rc, Lock &) {
        *id = rc.*in_use;
        return zsim::kOk;
    });
}

ErrorCode read(const RobotHandle *handle, std::array<zsim::NamedFrame, zsim::kFrameSlots> Controller::*slots,
               int32_t id, CartPose *pose)
{
    return zsim::with_controller(handle, zsim::check(valid_id(id) && pose), [&](Controller &rc, Lock &) {
        *pose = (rc.*slots)[static_cast<std::size_t>(id)].data;
        return zsim::kOk;
    });
}

} // namespace

namespace zsim {
namespace api {

ErrorCode set_tool_data(const RobotHandle *handle, int32_t id, const CartPose *tcp,
                        const char *name)
{
    return store(handle, &Controller::tools, &Controller::tool_id, id, tcp, name);
}

ErrorCode set_tool_id(const RobotHandle *handle, int32_t id)
{
    return select(handle, &Controller::tool_id, id);
}

ErrorCode get_tool_id(const RobotHandle *handle, int32_t *id)
{
    return read_id(handle, &Controller::tool_id, id);
}

ErrorCode get_tool_data(const RobotHandle *handle, int32_t id, CartPose *tcp)
{
    return read(handle, &Controller::tools, id, tcp);
}

ErrorCode set_user_frame_data(const RobotHandle *handle, int32_t id, const CartPose *user_frame,
                              const char *name)
{
    return store(handle, &Controller::user_frames, &Controller::user_frame_id, id, user_frame, name);
}

ErrorCode set_user_frame_id(const RobotHandle *handle, int32_t id)
{
    return select(handle, &Controller::user_frame_id, id);
}

ErrorCode get_user_frame_id(const RobotHandle *handle, int32_t *id)
{
    return read_id(handle, &Controller::user_frame_id, id);
}

ErrorCode get_user_frame_data(const RobotHandle *handle, int32_t id, CartPose *user_frame)
{
    return read(handle, &Controller::user_frames, id, user_frame);
}

/* ---- payload ---------------------------------------------------------------------- */

/* The load the controller expects the arm to carry: 0..10 kg (kMaxPayload),
 * centroid in mm in the flange frame. Reported back; collision detection
 * compares the joint torques with it (torque_monitor.h), and the arm really
 * carries it unless the probe says otherwise. */
ErrorCode set_payload(const RobotHandle *handle, const PayloadData *payload)
{
    const ErrorCode checked = zsim::check(payload && zsim::valid_payload(*payload));
    return zsim::with_controller(handle, checked, [payload](Controller &rc, Lock &) {
        rc.payload = *payload;
        zsim::feel_at_rest(rc); /* what it expects changed */
        return zsim::kOk;
    });
}

ErrorCode get_payload(const RobotHandle *handle, PayloadData *payload)
{
    return zsim::with_controller(handle, zsim::present(payload), [payload](Controller &rc, Lock &) {
        *payload = rc.payload;
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim
