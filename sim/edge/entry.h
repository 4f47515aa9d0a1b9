/*
 * The one body of every exported library function.
 *
 *     ErrorCode power_on(const RobotHandle *a0)
 *     {
 *         return zsim::edge::enter<&::power_on, &zsim::api::power_on>("power_on", a0);
 *     }
 *
 * enter() runs, inside the exception guard (core/boundary.h):
 *   1. the call's observers: it encodes the call once as a journal line when
 *      the probe's journal or the library's debug log wants it, and hands the
 *      line to each;
 *   2. the probe's injections for this call: a callback, a delay, and an
 *      injected code or out bytes, which decide the result (the core is then
 *      not called and writes nothing);
 *   3. the core's zsim::api::<name>, with the arguments unchanged.
 * A quiet call (journal off, debug log off, nothing injected) does no more
 * than three relaxed loads before it reaches the core.
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
#include "edge/parameters.h"
#include "edge/probe.h"

#include <algorithm>
#include <cstring>
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

/* The probe's side of one call; true when it decided the result (in `code`). */
template <auto F, class... A>
bool observe_and_inject(const char *name, ErrorCode &code, const A &...args)
{
    const bool journal = probe::journal_on();
    const bool debug = api::debug_log_active();
    if (journal || debug) {
        std::string line = journal_line<F>(name, std::index_sequence_for<A...>{}, args...);
        if (debug)
            api::debug_log_write(line);
        if (journal)
            probe::record(std::move(line));
    }
    probe::Injection injected;
    if (!probe::anything_injected() || !probe::take_injection(name, injected))
        return false;
    if (injected.has_callback)
        if (const CallBackFuncType callback = probe::error_callback())
            callback(injected.callback_code);
    if (injected.delay_ms > 0)
        probe::sleep_at_least(injected.delay_ms);
    if (!injected.decides_result())
        return false;
    write_outs<F>(injected, std::index_sequence_for<A...>{}, args...);
    code = injected.code;
    note_injected(code, args...);
    return true;
}

/* Before anything else: set_error_handler's registration is the probe's too,
 * whatever the call then does. */
template <auto F, class... A>
void before_call(const A &...)
{
}
template <>
inline void before_call<&::set_error_handler>(const RobotHandle *const &, const CallBackFuncType &callback)
{
    probe::keep_error_callback(callback);
}

template <auto F, auto Core, class... A>
ErrorCode enter(const char *name, A... args)
{
    static_assert(std::is_same_v<decltype(F), decltype(Core)>, "the core function has the header's type");
    return guarded<ErrorCode>(kInternal, [&] {
        before_call<F>(args...);
        ErrorCode code = kOk;
        if ((probe::journal_on() || api::debug_log_active() || probe::anything_injected()) &&
            observe_and_inject<F>(name, code, args...))
            return code;
        return Core(args...);
    });
}

} // namespace edge
} // namespace zsim

#endif /* ZSIM_EDGE_ENTRY_H */
