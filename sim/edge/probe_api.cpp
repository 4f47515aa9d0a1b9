/*
 * The probe's C interface (zsim_probe.h). Each function runs inside the
 * exception guard (core/boundary.h); a failure inside is its failure value.
 * Each is a use of the probe: the first one starts the journal (probe.h).
 */
#include "core/api.h"
#include "core/boundary.h"
#include "core/threads.h"
#include "edge/probe.h"
#include "view/server.h"
#include "zsim_probe.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

using zsim::guarded;
namespace probe = zsim::probe;
namespace api = zsim::api;

/* Copies text into buf, cut to size-1 bytes; returns the text's full length. */
int copy_out(const std::string &text, char *buf, int size)
{
    if (buf && size > 0) {
        const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buf, text.data(), n);
        buf[n] = '\0';
    }
    return static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
}

int inject_code(const char *function, std::size_t first, std::size_t count, int code)
{
    return probe::inject(function, first, count, [code](probe::Injection &in, const probe::Function &) {
        in.has_code = true;
        in.code = code;
        return 0;
    });
}

ZSIM_OWN_FRAME CallBackFuncType registered_callback()
{
    return guarded<CallBackFuncType>(nullptr, [] { return probe::error_callback(); });
}

struct PendingCall {
    CallBackFuncType callback;
    int code;
};

void call_pending(void *memory)
{
    PendingCall *pending = static_cast<PendingCall *>(memory);
    const PendingCall call = *pending;
    delete pending;
    call.callback(call.code);
}

/* callback(code) on a new thread, waited for or detached: false when no
 * thread could be started. */
ZSIM_OWN_FRAME bool call_on_thread(CallBackFuncType callback, int code, bool wait)
{
    return guarded(false, [&] {
        PendingCall *pending = new PendingCall{callback, code};
        const bool started = wait ? zsim::threads::run_joined(call_pending, pending)
                                  : zsim::threads::start_detached(call_pending, pending);
        if (!started)
            delete pending;
        return started;
    });
}

/* 0, or -1 with the reason copied into why. */
template <class Change>
int change_world(char *why, int size, Change &&change)
{
    return guarded(-1, [&] {
        std::string reason;
        const int result = change(reason);
        if (result != 0)
            copy_out(reason, why, size);
        return result;
    });
}

} // namespace

extern "C" {

/* The units forget what they keep in this order: the probe first (so that no
 * injection or journal line outlives the reset), then a test's hold of the
 * library lock (everything after needs the lock), then the controllers, whose
 * motions end and wake their blocking callers, then the world (its scene and
 * bases), then the time scale, then the events those endings may have
 * queued, and last the debug log. */
void zsim_reset(void)
{
    probe::note_use();
    guarded([] {
        probe::reset();
        api::end_library_lock_hold();
        api::forget_controllers();
        api::reset_world();
        api::reset_time_scale();
        api::drop_pending_events();
        api::reset_debug_log();
    });
}

void zsim_journal_enable(int on)
{
    probe::note_use();
    guarded([on] { probe::enable_journal(on != 0); });
}

int zsim_journal_count(void)
{
    probe::note_use();
    return guarded(0, [] { return static_cast<int>(std::min<std::uint64_t>(probe::journal_count(), INT_MAX)); });
}

int zsim_journal_entry(int index, char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] {
        std::string line;
        if (index < 0 || !probe::journal_entry(static_cast<std::size_t>(index), line))
            return -1;
        return copy_out(line, buf, size);
    });
}

void zsim_journal_clear(void)
{
    probe::note_use();
    guarded([] { probe::clear_journal(); });
}

int zsim_inject(const char *function, int code)
{
    probe::note_use();
    return guarded(-1, [&] { return inject_code(function, 0, 1, code); });
}

int zsim_inject_calls(const char *function, int code, int skip, int times)
{
    probe::note_use();
    if (skip < 0 || times < 1)
        return -1;
    return guarded(-1, [&] {
        return inject_code(function, static_cast<std::size_t>(skip), static_cast<std::size_t>(times), code);
    });
}

int zsim_inject_out(const char *function, int out_index, const void *bytes, int size)
{
    probe::note_use();
    if (size < 0 || (size > 0 && !bytes))
        return -1;
    return guarded(-1, [&] {
        return probe::inject(function, 0, 1, [&](probe::Injection &in, const probe::Function &f) {
            if (out_index < 0 || static_cast<std::size_t>(out_index) >= f.out_count)
                return -1;
            const auto index = static_cast<std::size_t>(out_index);
            const auto *first = static_cast<const unsigned char *>(bytes);
            const std::size_t n = std::min(static_cast<std::size_t>(size), f.out_sizes[index]);
            in.outs[index].assign(first, first + n);
            return 0;
        });
    });
}

/* The callback is called outside the guard, from this function's own frame,
 * which has nothing to clean up (core/threads.h says why). */
int zsim_raise_error(int code, int mode)
{
    probe::note_use();
    const CallBackFuncType callback = registered_callback();
    if (!callback || mode < 0 || mode > 2)
        return -1;
    if (mode == 0) {
        callback(code);
        return 0;
    }
    return call_on_thread(callback, code, mode == 1) ? 0 : -1;
}

int zsim_inject_callback(const char *function, int code)
{
    probe::note_use();
    return guarded(-1, [&] {
        return probe::inject(function, 0, 1, [code](probe::Injection &in, const probe::Function &) {
            in.has_callback = true;
            in.callback_code = code;
            return 0;
        });
    });
}

int zsim_inject_delay(const char *function, int milliseconds)
{
    probe::note_use();
    return guarded(-1, [&] {
        return probe::inject(function, 0, 1, [milliseconds](probe::Injection &in, const probe::Function &) {
            in.delay_ms = std::max(milliseconds, 0);
            return 0;
        });
    });
}

int zsim_set_time_scale(double factor)
{
    probe::note_use();
    return guarded(-1, [factor] { return api::set_time_scale(factor); });
}

int zsim_advance_time(double seconds)
{
    probe::note_use();
    return guarded(-1, [seconds] { return api::advance_time(seconds); });
}

int zsim_hold_library_lock(int milliseconds)
{
    probe::note_use();
    return guarded(-1, [milliseconds] { return api::hold_library_lock(milliseconds); });
}

int zsim_set_digital_input(const char *address, int iotype, int index, int value)
{
    probe::note_use();
    return guarded(-1, [&] { return api::set_digital_input(address, iotype, index, value); });
}

int zsim_set_analog_input(const char *address, int iotype, int index, float value)
{
    probe::note_use();
    return guarded(-1, [&] { return api::set_analog_input(address, iotype, index, value); });
}

int zsim_trigger_fault(const char *address, int code)
{
    probe::note_use();
    return guarded(-1, [&] { return api::trigger_fault(address, code); });
}

int zsim_joint_torques(const char *address, double torques[6])
{
    probe::note_use();
    return guarded(-1, [&] { return api::joint_torques(address, torques); });
}

int zsim_set_actual_payload(const char *address, const double *payload)
{
    probe::note_use();
    return guarded(-1, [&] { return api::set_actual_payload(address, payload); });
}

int zsim_apply_wrench(const char *address, const double *force, const double *torque)
{
    probe::note_use();
    return guarded(-1, [&] { return api::apply_wrench(address, force, torque); });
}

int zsim_inverse_dynamics(const double q[6], const double v[6], const double a[6], const double payload[4],
                          const double gravity[3], const double *forces, int count, double torques[6])
{
    probe::note_use();
    return guarded(-1, [&] { return api::inverse_dynamics(q, v, a, payload, gravity, forces, count, torques); });
}

int zsim_set_base(const char *address, const double *pose, char *why, int size)
{
    probe::note_use();
    return change_world(why, size, [&](std::string &reason) { return api::set_base(address, pose, reason); });
}

int zsim_set_body(const char *address, int solid, char *why, int size)
{
    probe::note_use();
    return change_world(why, size, [&](std::string &reason) { return api::set_body(address, solid != 0, reason); });
}

int zsim_scene_add(const char *object_json, char *why, int size)
{
    probe::note_use();
    return change_world(why, size, [&](std::string &reason) { return api::add_object(object_json, reason); });
}

int zsim_scene_remove(const char *name, char *why, int size)
{
    probe::note_use();
    return change_world(why, size, [&](std::string &reason) { return api::remove_object(name, reason); });
}

void zsim_scene_clear(void)
{
    probe::note_use();
    guarded([] { api::clear_scene(); });
}

int zsim_scene_set(const char *scene_json, char *why, int size)
{
    probe::note_use();
    return change_world(why, size, [&](std::string &reason) { return api::set_scene(scene_json, reason); });
}

int zsim_scene_load(const char *path, char *why, int size)
{
    probe::note_use();
    return change_world(why, size, [&](std::string &reason) { return api::load_scene(path, reason); });
}

int zsim_scene(char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] { return copy_out(api::scene_json(), buf, size); });
}

int zsim_bases(char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] { return copy_out(api::bases_json(), buf, size); });
}

int zsim_contacts(const char *address, char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] {
        std::string json;
        return api::contacts_json(address, json) ? copy_out(json, buf, size) : -1;
    });
}

int zsim_trigger_fault_after(const char *address, int code, double seconds)
{
    probe::note_use();
    return guarded(-1, [&] { return api::trigger_fault_after(address, code, seconds); });
}

int zsim_trigger_fault_after_cycles(const char *address, int code, int cycles)
{
    probe::note_use();
    return guarded(-1, [&] { return api::trigger_fault_after_cycles(address, code, cycles); });
}

/* Not a use of the probe: velmo_arm's recorder reads the clock in scripts
 * that never use the probe, and must not start the journal for them. */
double zsim_time(void)
{
    return guarded(-1.0, [] { return api::simulated_time(); });
}

int zsim_handle_address(int handle, char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] {
        std::string address;
        return api::handle_address(handle, address) ? copy_out(address, buf, size) : -1;
    });
}

int zsim_home(char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] {
        std::string home;
        return api::home(home) ? copy_out(home, buf, size) : -1;
    });
}

int zsim_home_problem(char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] {
        std::string problem;
        return api::home(problem) ? copy_out(std::string(), buf, size) : copy_out(problem, buf, size);
    });
}

int zsim_settings(const char *address, char *buf, int size)
{
    probe::note_use();
    return guarded(-1, [&] {
        std::string json;
        return api::describe_settings(address, json) ? copy_out(json, buf, size) : -1;
    });
}

int zsim_serve_view(const char *host, int port, int allow_remote, char *buf, int size)
{
    probe::note_use();
    if (!host || port < 0 || port > 65535)
        return -1;
    return guarded(-1, [&] {
        std::string text;
        const zsim::view::ServeResult result = zsim::view::serve(host, port, allow_remote != 0, text);
        copy_out(text, buf, size);
        return static_cast<int>(result);
    });
}

} // extern "C"
