/*
 * One virtual controller per address, and the lookup from handles to them.
 *
 * A Controller is an arm in motion (ArmMotion, motion.h) with everything the
 * library sets and reads around it: power, enable and the error state, IO,
 * frames, the recorder, the program, force control. All of it is guarded by
 * the library lock (library_lock.h).
 */
#ifndef ZSIM_CONTROLLER_H
#define ZSIM_CONTROLLER_H

#include "errors.h"
#include "force.h"
#include "force_segments.h"
#include "io.h"
#include "library_lock.h"
#include "motion.h"
#include "program_format.h"
#include "recording.h"
#include "torque_monitor.h"
#include "zandrelAPI.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace zsim {

/* A tool (flange to TCP) or user frame (base to user), as stored. */
constexpr int kFrameSlots = 16;          /* ids 0..15; id 0 is the identity, not settable */
constexpr std::size_t kFrameNameBytes = 32;
static_assert(kFrameSlots == recording::kFrameIds, "a recorded trajectory names a frame slot");

struct NamedFrame {
    CartPose data{};
    Pose pose = Pose::Identity();
    std::string name;
};

struct Controller final : ArmMotion {
    explicit Controller(std::string addr) : address(std::move(addr)) { add_observer(&recorder); }

    const std::string address;

    /* Written under library_mutex(); atomic because a call whose arguments
     * are refused reads and records them without that lock (refuse()). */
    std::atomic<bool> shut_down{false};
    std::atomic<ErrorCode> last_error{kOk};

    /* ---- guarded by library_mutex() ---- */
    bool powered = false;
    bool enabled = false;
    bool drag = false;
    ErrorCode fault = kOk;   /* non-zero: in an error state (the code that caused it) */
    bool collision = false;  /* protective stop, cleared by collision_recover */
    MessageTable messages;   /* overrides from set_errorcode_file_path */
    CallBackFuncType callback = nullptr;

    double rapid_rate = 1.0;
    std::array<NamedFrame, kFrameSlots> tools{};
    std::array<NamedFrame, kFrameSlots> user_frames{};
    int tool_id = 0;
    int user_frame_id = 0;
    IoBank io;
    ServoSettings servo;
    std::int32_t collision_level = 3;
    PayloadData payload{};

    /* programs, recording, force control, link settings (api_programs.cpp,
     * api_trajectory.cpp, api_force.cpp, api_settings.cpp) */
    ProgramSlot program;
    Recorder recorder;
    ForceControl force;
    LinkSettings link;

    /* what its joints feel, and admittance control's hold (torque_monitor.h,
     * force_segments.h, force_motion.h) */
    TorqueMonitor monitor;
    AdmittanceState admittance_hold;
    std::vector<ContactForce> contacts; /* the contact forces on the arm now (contact.h) */

    /* ---- helpers (lock held) ---- */
    const Pose &tool() const { return tools[static_cast<std::size_t>(tool_id)].pose; }
    const Pose &user() const { return user_frames[static_cast<std::size_t>(user_frame_id)].pose; }
    MotionContext context() const override { return {tool(), user(), servo, rapid_rate}; }
    /* The TCP in the current user frame for joint position q. */
    Pose tcp(const Joints &q) const { return context().tcp(q); }
    /* The flange in the base frame that puts the TCP at `pose` (current user frame). */
    Pose flange_for(const Pose &pose) const { return context().flange_for(pose); }
    std::string message(ErrorCode code) const;
    /* Nothing queued, or servo mode waiting for set-points (is_in_pos). */
    bool in_position() const { return queue.empty() || (servo_mode && holding); }
    /* The arm does not move now: nothing queued, or waiting to be fed. */
    bool resting() const { return queue.empty() || holding; }
    /* What the torque monitor reads of this controller. */
    TorqueSituation situation();

    /* The error state: the arm stops, the code is the last error and goes to
     * the error callback (a collision makes it a protective stop). */
    void stopped_by_error(ErrorCode code) override;
    /* Every cycle: the joint torques, and the protective stop when they
     * differ from what the controller expects (torque_monitor.h). */
    ErrorCode sense(const MotionContext &ctx, const Joints &before, bool from_rest) override;
};

/* ---- registry ------------------------------------------------------------------
 *
 * The registry has a mutex of its own, a leaf taken inside each of these
 * (with or without the library lock held), so that a handle can be looked up
 * without the library lock. */

/* The controller a handle belongs to, or null. */
std::shared_ptr<Controller> find_controller(const RobotHandle *handle);
std::shared_ptr<Controller> find_controller(const char *address);
/* A new handle for `address`, making (or restarting) its controller. */
RobotHandle open_handle(const char *address);
bool close_handle(RobotHandle handle);
/* The address `handle` was given out for since the last reset, open or
 * closed; null for a handle never given out. */
const std::string *issued_address(RobotHandle handle);
/* Every known controller, in address order (call with the library lock held). */
template <class F>
void each_controller(F &&f);

/* Records a failure as the controller's last error and returns it. */
inline ErrorCode note(Controller &c, ErrorCode code)
{
    if (code != kOk)
        c.last_error = code;
    return code;
}

/* kOk for a handle of a controller that is on; kUnknownHandle, or kShutDown
 * (recorded as the last error) otherwise. Takes no library lock. */
ErrorCode check_handle(const RobotHandle *handle);

/* What a call whose own arguments were refused with `refused` returns,
 * without taking the library lock or stepping the arm: the handle's own
 * failure first (check_handle), else `refused`, recorded as the last error. */
ErrorCode refuse(const RobotHandle *handle, ErrorCode refused);

/* Queues `code` for the controller's error callback (delivered by the event thread). */
void post_event(const Controller &c, ErrorCode code);

/* The body of a library function that works on a controller: looks the
 * handle up under the library lock, refuses unknown handles and shut-down
 * controllers, brings the arm to the present simulated time (motion.h),
 * runs body(controller, lock) and records a failure as the last error. The
 * body may wait on the lock (blocking moves). */
template <class Body>
ErrorCode with_controller(const RobotHandle *handle, Body &&body)
{
    Lock lock(library_mutex());
    const std::shared_ptr<Controller> c = find_controller(handle);
    if (!c)
        return kUnknownHandle;
    if (c->shut_down)
        return note(*c, kShutDown);
    motion::catch_up(*c);
    return note(*c, body(*c, lock));
}

/* The same for a call whose own arguments a pure function has checked first
 * (`checked`, what it found): a refusal neither waits for the library lock
 * nor steps the arm (refuse()). */
template <class Body>
ErrorCode with_controller(const RobotHandle *handle, ErrorCode checked, Body &&body)
{
    if (checked != kOk)
        return refuse(handle, checked);
    return with_controller(handle, std::forward<Body>(body));
}

/* Forgets every controller and handle, ending their motions (blocking callers
 * get kAborted) and numbering handles from 1 again: the registry's share of
 * zsim_reset. */
void forget_controllers();

/* ---- registry internals ------------------------------------------------------- */

namespace detail {
struct Registry;
Registry &registry();
void each(const std::function<void(Controller &)> &f);
} // namespace detail

template <class F>
void each_controller(F &&f)
{
    detail::each(std::forward<F>(f));
}

} // namespace zsim

#endif /* ZSIM_CONTROLLER_H */
