/*
 * One virtual controller per address, and the lookup from handles to them.
 *
 * Lock discipline: one library mutex (library_mutex()) guards every member of
 * every Controller marked "guarded" below, the registry, and the motion queues.
 * It is held for short work only: an entry point takes it, does its work and
 * releases it; a blocking move waits on a condition variable, which releases
 * it while waiting. It is never held while an error callback runs (callbacks
 * go through the event thread, events.h) and nothing under it waits for the
 * interpreter lock. The probe's mutex (probe.cpp) is separate: an entry point
 * is done with zsim::Call before it takes the library lock, so the two are
 * never held together.
 */
#ifndef ZSIM_CONTROLLER_H
#define ZSIM_CONTROLLER_H

#include "errors.h"
#include "force.h"
#include "io.h"
#include "kinematics.h"
#include "program_format.h"
#include "recording.h"
#include "zandrelAPI.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace zsim {

class Segment;

using Lock = std::unique_lock<std::mutex>;

/* The library lock (never destroyed: threads may still use it at exit). */
std::mutex &library_mutex();

/* How a queued motion ended; shared between the queue and a blocking caller. */
struct Completion {
    bool finished = false;
    ErrorCode code = kOk;
};

struct QueuedSegment {
    std::unique_ptr<Segment> segment;
    std::shared_ptr<Completion> done;
    bool begun = false;
};

/* A tool (flange to TCP) or user frame (base to user), as stored. */
constexpr int kFrameSlots = 16;          /* ids 0..15; id 0 is the identity, not settable */
constexpr std::size_t kFrameNameBytes = 32;

struct NamedFrame {
    CartPose data{};
    Pose pose = Pose::Identity();
    std::string name;
};

/* Servo filters: which one is in use and the parameters each was given. */
enum class ServoFilter { kNone, kJointLowPass, kJointNonLinear, kCartesianNonLinear, kJointMultiOrder };

struct ServoSettings {
    ServoFilter filter = ServoFilter::kNone;
    double lpf_cutoff = 0.0;                /* Hz */
    std::array<double, 3> joint_nlf{};      /* max_vr, max_ar, max_jr */
    std::array<double, 6> carte_nlf{};      /* max_vp, max_ap, max_jp, max_vr, max_ar, max_jr */
    std::int32_t mmf_buffer = 0;
    std::array<double, 3> mmf{};            /* kp, kv, ka */
    std::int32_t foresight_buffer = 0;
    double foresight_kp = 0.0;
};

struct Controller {
    explicit Controller(std::string addr) : address(std::move(addr)) {}

    const std::string address;

    /* ---- guarded by library_mutex() ---- */
    bool gone = false;       /* forgotten by zsim_reset: whoever still holds it lets go */
    bool shut_down = false;
    bool powered = false;
    bool enabled = false;
    bool drag = false;
    ErrorCode fault = kOk;   /* non-zero: in an error state (the code that caused it) */
    bool collision = false;  /* protective stop, cleared by collision_recover */
    ErrorCode last_error = kOk;
    MessageTable messages;   /* overrides from set_errorcode_file_path */
    CallBackFuncType callback = nullptr;

    Joints joints = arm::kHome; /* where the arm stands now */
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
    /* A queued program or payload identification that owns the arm: other
     * motion is refused (kBusy) until it has left the queue. */
    const Segment *owner = nullptr;

    /* motion (motion.cpp) */
    std::deque<QueuedSegment> queue;
    bool holding = false;       /* the front segment waits to be fed (servo mode) */
    bool servo_mode = false;
    Joints planned_end = arm::kHome; /* where the arm stands once the queue is done */

    /* ---- helpers (lock held) ---- */
    const Pose &tool() const { return tools[static_cast<std::size_t>(tool_id)].pose; }
    const Pose &user() const { return user_frames[static_cast<std::size_t>(user_frame_id)].pose; }
    /* The TCP in the current user frame for joint position q. */
    Pose tcp(const Joints &q) const { return user().inverse() * forward(q) * tool(); }
    /* The flange in the base frame that puts the TCP at `pose` (current user frame). */
    Pose flange_for(const Pose &pose) const { return user() * pose * tool().inverse(); }
    /* The TCP in the base frame. */
    Pose tcp_in_base(const Joints &q) const { return forward(q) * tool(); }
    bool moving() const { return !queue.empty(); }
    std::string message(ErrorCode code) const;
};

/* ---- registry (lock held for all of these) ----------------------------------- */

/* The controller a handle belongs to, or null. */
std::shared_ptr<Controller> find_controller(const RobotHandle *handle);
std::shared_ptr<Controller> find_controller(const char *address);
/* A new handle for `address`, making (or restarting) its controller. */
RobotHandle open_handle(const char *address);
bool close_handle(RobotHandle handle);
/* Every known controller, in address order. */
template <class F>
void each_controller(F &&f);

/* Records a failure as the controller's last error and returns it. */
inline ErrorCode note(Controller &c, ErrorCode code)
{
    if (code != kOk)
        c.last_error = code;
    return code;
}

/* Queues `code` for the controller's error callback (delivered by the event thread). */
void post_event(const Controller &c, ErrorCode code);

/* The body of an entry point that works on a controller: looks the handle up
 * under the library lock, refuses unknown handles and shut-down controllers,
 * runs body(controller, lock) and records a failure as the last error. The
 * body may wait on the lock (blocking moves). Never throws. */
template <class Body>
ErrorCode with_controller(const RobotHandle *handle, Body &&body) noexcept
{
    try {
        Lock lock(library_mutex());
        const std::shared_ptr<Controller> c = find_controller(handle);
        if (!c)
            return kUnknownHandle;
        if (c->shut_down)
            return note(*c, kShutDown);
        return note(*c, body(*c, lock));
    } catch (...) {
        return kInternal;
    }
}

/* Forgets every controller and handle (zsim_reset), ending their motions. */
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
