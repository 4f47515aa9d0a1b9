/*
 * The controls a test drives the simulation with (zsim_probe.h), the debug
 * log's observer hooks and each unit's share of zsim_reset (api.h).
 */
#include "api.h"
#include "controller.h"
#include "debug_log.h"
#include "events.h"
#include "files.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zsim {
namespace api {

namespace {

/* body(controller) under the library lock, or -1 for an unknown address. */
template <class Body>
int on_address(const char *address, Body &&body)
{
    Lock lock(library_mutex());
    const std::shared_ptr<Controller> c = find_controller(address);
    if (!c)
        return -1;
    return body(*c);
}

/* A hold of the library lock (hold_library_lock). Its mutex is a leaf: the
 * holder waits on it with the library lock held, nobody takes the library
 * lock while holding it. */
struct LockHold {
    std::mutex mutex;
    std::condition_variable changed;
    bool active = false;   /* a holder thread runs */
    bool held = false;     /* ... and has the library lock */
    bool release = false;  /* it is asked to let it go */
    bool expired = false;  /* the latest hold ended by its time, unasked */
};

LockHold &lock_hold()
{
    static LockHold *h = new LockHold; /* never destroyed: its thread may outlive static destructors */
    return *h;
}

void hold_until_released(std::chrono::milliseconds longest)
{
    LockHold &h = lock_hold();
    Lock library(library_mutex());
    std::unique_lock<std::mutex> lock(h.mutex);
    h.held = true;
    h.changed.notify_all();
    h.expired = !h.changed.wait_for(lock, longest, [&h] { return h.release; });
    h.held = h.active = false;
    h.changed.notify_all();
}

} // namespace

int hold_library_lock(int milliseconds)
{
    LockHold &h = lock_hold();
    std::unique_lock<std::mutex> lock(h.mutex);
    if (milliseconds <= 0) {
        if (!h.active) {
            const int expired = h.expired ? 1 : -1;
            h.expired = false;
            return expired;
        }
        h.release = true;
        h.changed.notify_all();
        h.changed.wait(lock, [&h] { return !h.active; });
        return 0;
    }
    if (h.active)
        return -1;
    h.release = h.expired = false;
    std::thread(hold_until_released, std::chrono::milliseconds(milliseconds)).detach();
    h.active = true;
    h.changed.wait(lock, [&h] { return h.held || !h.active; }); /* a very short hold may be over already */
    return 0;
}

void end_library_lock_hold() { hold_library_lock(0); }

int set_time_scale(double factor)
{
    if (!std::isfinite(factor) || factor < 0)
        return -1;
    Lock lock(library_mutex());
    motion::set_time_scale(factor);
    return 0;
}

int advance_time(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return -1;
    Lock lock(library_mutex());
    motion::advance_time(seconds);
    return 0;
}

int set_digital_input(const char *address, int iotype, int index, int value)
{
    return on_address(address, [&](Controller &c) {
        if (!io_valid(iotype, kDigitalIn, index))
            return -1;
        c.io.digital_in[static_cast<std::size_t>(iotype)][static_cast<std::size_t>(index)] = value != 0;
        return 0;
    });
}

int set_analog_input(const char *address, int iotype, int index, float value)
{
    return on_address(address, [&](Controller &c) {
        if (!io_valid(iotype, kAnalogIn, index) || !std::isfinite(value))
            return -1;
        c.io.analog_in[static_cast<std::size_t>(iotype)][static_cast<std::size_t>(index)] = value;
        return 0;
    });
}

int trigger_fault(const char *address, int code)
{
    return on_address(address, [&](Controller &c) {
        if (code == 0 || c.shut_down)
            return -1;
        motion::catch_up(c);
        motion::fail(c, code);
        return 0;
    });
}

int trigger_fault_after(const char *address, int code, double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        return -1;
    return on_address(address, [&](Controller &c) {
        if (code == 0 || c.shut_down)
            return -1;
        motion::catch_up(c);
        c.faults.add_at(code, motion::now() + seconds);
        motion::catch_up(c); /* an arm at rest takes one due now at once */
        return 0;
    });
}

int trigger_fault_after_cycles(const char *address, int code, long cycles)
{
    if (cycles < 0)
        return -1;
    return on_address(address, [&](Controller &c) {
        if (code == 0 || c.shut_down)
            return -1;
        motion::catch_up(c);
        c.faults.add_after_cycles(code, cycles);
        return 0;
    });
}

double simulated_time()
{
    Lock lock(library_mutex());
    return motion::now();
}

bool handle_address(int handle, std::string &address)
{
    Lock lock(library_mutex());
    const std::string *issued = issued_address(handle);
    if (issued)
        address = *issued;
    return issued != nullptr;
}

bool home(std::string &text)
{
    const files::Home found = files::home();
    text = found.path.empty() ? found.problem : found.path.u8string();
    return !found.path.empty();
}

void note_error(const RobotHandle *handle, ErrorCode code)
{
    if (code == kOk)
        return;
    Lock lock(library_mutex());
    if (const std::shared_ptr<Controller> c = find_controller(handle))
        c->last_error = code;
}

bool debug_log_active() { return debug_log::active(); }

void debug_log_write(const std::string &journal_line) { debug_log::write(journal_line); }

void forget_controllers()
{
    Lock lock(library_mutex());
    zsim::forget_controllers();
}

void reset_time_scale()
{
    Lock lock(library_mutex());
    motion::reset_time_scale();
}

void drop_pending_events() { zsim::drop_pending_events(); }

void reset_debug_log() { debug_log::reset(); }

} // namespace api
} // namespace zsim
