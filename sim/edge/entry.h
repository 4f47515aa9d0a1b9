/*
 * The one body of every exported library function.
 *
 *     ErrorCode power_on(const RobotHandle *a0)
 *     {
 *         return zsim::edge::enter<&::power_on, &zsim::api::power_on>("power_on", a0);
 *     }
 *
 * enter() runs, each step inside the exception guard (core/boundary.h):
 *   1. the call's observers: it encodes the call once as a journal line when
 *      the probe's journal or the library's debug log wants it, and hands the
 *      line to each;
 *   2. the probe's injections for this call: a callback, a delay, and an
 *      injected code or out bytes, which decide the result (the core is then
 *      not called and writes nothing);
 *   3. the core's zsim::api::<name>, with the arguments unchanged.
 * An injected callback runs between the guarded steps, from the exported
 * function's own frame (core/threads.h says why). A quiet call (journal off,
 * debug log off, nothing injected) does no more than three relaxed loads
 * before it reaches the core (four for a call that sets an arm moving: the
 * view's wait for a page, view/session.h).
 *
 * What the probe needs to know of each parameter comes from the header's own
 * parameter types (parameters.h): which ones are out-parameters, and their
 * sizes.
 */
#ifndef ZSIM_EDGE_ENTRY_H
#define ZSIM_EDGE_ENTRY_H

#include "core/api.h"
#include "core/boundary.h"
#include "core/errors.h"
#include "core/threads.h"
#include "edge/parameters.h"
#include "edge/probe.h"
#include "view/server.h"
#include "view/session.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace zsim {
namespace edge {

/* ---- what the probe learns of a function from its type -------------------- */

template <auto F, std::size_t... I>
constexpr probe::Function describe(const char *name, std::index_sequence<I...>)
{
    probe::Function f{name, 0, {}};
    ((param<F, I>::is_out ? (void)(f.out_sizes[f.out_count++] = param<F, I>::out_size) : (void)0), ...);
    return f;
}

template <auto F>
constexpr probe::Function describe(const char *name)
{
    static_assert(out_count<F>() <= probe::kMaxOuts, "raise probe::kMaxOuts");
    return describe<F>(name, std::make_index_sequence<arity<F>>{});
}

/* ---- one call ----------------------------------------------------------------- */

template <auto F, std::size_t... I, class... A>
std::string journal_line(const char *name, std::index_sequence<I...>, const A &...args)
{
    std::string line = "{\"fn\": \"";
    line += name; /* a C identifier: nothing to escape */
    line += "\", \"args\": [";
    Json j(line);
    (param<F, I>::encode(j, args), ...);
    line += "]}";
    return line;
}

/* Writes injected out bytes to the call's out-parameters (at most each one's size). */
template <auto F, std::size_t... I, class... A>
void write_outs(const probe::Injection &injected, std::index_sequence<I...>, const A &...args)
{
    std::size_t index = 0;
    const auto write = [&](void *address, std::size_t size) {
        const auto it = injected.outs.find(index++);
        if (it != injected.outs.end() && address)
            std::memcpy(address, it->second.data(), std::min(it->second.size(), size));
    };
    ((param<F, I>::is_out ? write(param<F, I>::address(args), param<F, I>::out_size) : (void)0), ...);
}

/* An injected failure is also the controller's last error, as a real one would be. */
template <class... A>
void note_injected(ErrorCode code, const RobotHandle *handle, const A &...)
{
    api::note_error(handle, code);
}
template <class... A>
void note_injected(ErrorCode, const A &...)
{
}

/* What the probe decided for one call, carried across the injected callback
 * as plain data: the frame that calls the callback has nothing to clean up
 * (core/threads.h says why). */
struct Decision {
    bool failed;                 /* the probe's side ran out of memory */
    CallBackFuncType callback;   /* an injected callback to call first, or null */
    std::int32_t callback_code;
    int delay_ms;
    probe::Injection *injected;  /* owned; what decides the result, or null */
};

/* Before anything else: set_error_handler's registration is the probe's too,
 * whatever the call then does; the first create_handler starts the view
 * ZSIM_VIEW asks for (not at load: no thread or socket inside the loader);
 * the first call that sets an arm moving waits for a page when
 * ZSIM_VIEW_WAIT asks (view/session.h). */
template <auto F>
inline constexpr bool kStartsMotion = false;
template <> inline constexpr bool kStartsMotion<&::jog> = true;
template <> inline constexpr bool kStartsMotion<&::joint_move> = true;
template <> inline constexpr bool kStartsMotion<&::joint_move_extend> = true;
template <> inline constexpr bool kStartsMotion<&::linear_move> = true;
template <> inline constexpr bool kStartsMotion<&::linear_move_extend> = true;
template <> inline constexpr bool kStartsMotion<&::circular_move> = true;
template <> inline constexpr bool kStartsMotion<&::servo_move_enable> = true;
template <> inline constexpr bool kStartsMotion<&::servo_j> = true;
template <> inline constexpr bool kStartsMotion<&::servo_j_extend> = true;
template <> inline constexpr bool kStartsMotion<&::servo_p> = true;
template <> inline constexpr bool kStartsMotion<&::servo_p_extend> = true;
template <> inline constexpr bool kStartsMotion<&::program_run> = true;
template <> inline constexpr bool kStartsMotion<&::start_torq_sensor_payload_identify> = true;

template <auto F, class... A>
void before_call(const A &...)
{
    if constexpr (kStartsMotion<F>)
        view::before_first_motion();
}
template <>
inline void before_call<&::set_error_handler>(const RobotHandle *const &, const CallBackFuncType &callback)
{
    probe::keep_error_callback(callback);
}
template <>
inline void before_call<&::create_handler>(const char *const &, RobotHandle *const &)
{
    view::serve_from_environment();
}

/* The call's observers, then the injection waiting for it. */
template <auto F, class... A>
ZSIM_OWN_FRAME Decision prepare(const char *name, const A &...args)
{
    return guarded(Decision{true, nullptr, 0, 0, nullptr}, [&] {
        before_call<F>(args...);
        const bool journal = probe::journal_on();
        const bool debug = api::debug_log_active();
        if (journal || debug) {
            std::string line = journal_line<F>(name, std::index_sequence_for<A...>{}, args...);
            if (debug)
                api::debug_log_write(line);
            if (journal)
                probe::record(std::move(line));
        }
        Decision d{false, nullptr, 0, 0, nullptr};
        auto injected = std::make_unique<probe::Injection>();
        if (!probe::anything_injected() || !probe::take_injection(name, *injected))
            return d;
        if (injected->has_callback) {
            d.callback = probe::error_callback();
            d.callback_code = injected->callback_code;
        }
        d.delay_ms = injected->delay_ms;
        if (injected->decides_result())
            d.injected = injected.release();
        return d;
    });
}

/* The injected result (out bytes written, the code as the last error), or the core's. */
template <auto F, auto Core, class... A>
ZSIM_OWN_FRAME ErrorCode finish(probe::Injection *decided, A... args)
{
    const std::unique_ptr<probe::Injection> injected(decided);
    return guarded<ErrorCode>(kInternal, [&] {
        if (!injected)
            return Core(args...);
        write_outs<F>(*injected, std::index_sequence_for<A...>{}, args...);
        note_injected(injected->code, args...);
        return injected->code;
    });
}

/* A call the probe neither records nor changes. */
template <auto F, auto Core, class... A>
ZSIM_OWN_FRAME ErrorCode quiet(A... args)
{
    return guarded<ErrorCode>(kInternal, [&] {
        before_call<F>(args...);
        return Core(args...);
    });
}

/* Inlined into each exported function, whose frame then holds nothing to
 * clean up: the guard's work is in the helpers above. */
template <auto F, auto Core, class... A>
ErrorCode enter(const char *name, A... args)
{
    static_assert(std::is_same_v<decltype(F), decltype(Core)>, "the core function has the header's type");
    if (!probe::journal_on() && !api::debug_log_active() && !probe::anything_injected())
        return quiet<F, Core>(args...);
    const Decision d = prepare<F>(name, args...);
    if (d.failed)
        return kInternal;
    if (d.callback)
        d.callback(d.callback_code);
    if (d.delay_ms > 0)
        probe::sleep_at_least(d.delay_ms);
    return finish<F, Core>(d.injected, args...);
}

} // namespace edge
} // namespace zsim

#endif /* ZSIM_EDGE_ENTRY_H */
