/*
 * Connection and controller state: handles, power, enable, faults and their
 * recovery, the error callback and the last error.
 *
 * State machine of one controller (one per address):
 *   shut down --create_handler--> off --power_on--> powered --enable_robot--> enabled
 *   disable_robot: enabled -> powered;  power_off: -> off;  shut_down: -> shut down
 * Moves need "enabled". An error during motion (joint limit, unreachable
 * path, singularity, a probe fault) stops the arm and leaves the controller
 * in its error state until clear_error; a collision (protective stop) until
 * collision_recover. Stops (motion.h, docs/virtual-controller.md "Stops"):
 * motion_abort is a controlled stop along the path, disable_robot a quick
 * one (the drives are off for new moves at once), power_off and shut_down
 * stop at once (brakes). Every queued motion ends with kAborted; a blocking
 * caller gets it once the arm is at rest.
 */
#include "api_support.h"
#include "events.h"

#include <algorithm>
#include <cstring>

using zsim::Controller;
using zsim::Lock;

namespace zsim {
namespace api {

ErrorCode create_handler(const char *ip, RobotHandle *handle)
{
    if (!ip || !*ip || !handle)
        return zsim::kInvalidArgument;
    Lock lock(zsim::library_mutex());
    *handle = zsim::open_handle(ip);
    return zsim::kOk;
}

ErrorCode destory_handler(const RobotHandle *handle)
{
    if (!handle)
        return zsim::kUnknownHandle;
    Lock lock(zsim::library_mutex());
    return zsim::close_handle(*handle) ? zsim::kOk : zsim::kUnknownHandle;
}

ErrorCode power_on(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        rc.powered = true;
        return zsim::kOk;
    });
}

ErrorCode power_off(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        zsim::motion::brake(rc, zsim::kAborted);
        rc.powered = rc.enabled = rc.drag = false;
        return zsim::kOk;
    });
}

ErrorCode shut_down(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        zsim::motion::brake(rc, zsim::kAborted);
        rc.powered = rc.enabled = rc.drag = false;
        rc.shut_down = true;
        rc.faults.clear(); /* a scheduled fault does not outlive the controller's run */
        return zsim::kOk;
    });
}

ErrorCode enable_robot(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        if (!rc.powered)
            return zsim::kNotPowered;
        rc.enabled = true;
        return zsim::kOk;
    });
}

ErrorCode disable_robot(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        zsim::motion::stop(rc, zsim::StopKind::kQuick, zsim::kAborted);
        rc.enabled = rc.drag = false;
        return zsim::kOk;
    });
}

ErrorCode clear_error(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        if (rc.collision)
            return zsim::kCollision; /* a protective stop needs collision_recover */
        rc.fault = rc.last_error = zsim::kOk;
        return zsim::kOk;
    });
}

ErrorCode collision_recover(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        if (rc.collision) {
            rc.collision = false;
            if (rc.fault == zsim::kCollision)
                rc.fault = zsim::kOk;
            if (rc.last_error == zsim::kCollision)
                rc.last_error = zsim::kOk;
        }
        return zsim::kOk;
    });
}

ErrorCode motion_abort(const RobotHandle *handle)
{
    return zsim::with_controller(handle, [](Controller &rc, Lock &) {
        zsim::motion::stop(rc, zsim::StopKind::kControlled, zsim::kAborted);
        return zsim::kOk;
    });
}

ErrorCode set_error_handler(const RobotHandle *handle, CallBackFuncType func)
{
    return zsim::with_controller(handle, [func](Controller &rc, Lock &) {
        rc.callback = func;
        return zsim::kOk;
    });
}

ErrorCode get_last_error(const RobotHandle *handle, LastErrorRecord *last_error)
{
    return zsim::with_controller(handle, zsim::present(last_error), [last_error](Controller &rc, Lock &) {
        LastErrorRecord record{};
        record.code = rc.last_error;
        zsim::put_text(record.message, sizeof record.message, rc.message(static_cast<ErrorCode>(record.code)));
        *last_error = record;
        return zsim::kOk;
    });
}

ErrorCode set_errorcode_file_path(const RobotHandle *handle, const char *path)
{
    zsim::MessageTable table;
    const ErrorCode read = zsim::read_message_file(path, table); /* file work outside the library lock */
    return zsim::with_controller(handle, read, [&](Controller &rc, Lock &) {
        rc.messages = std::move(table);
        return zsim::kOk;
    });
}

} // namespace api
} // namespace zsim
