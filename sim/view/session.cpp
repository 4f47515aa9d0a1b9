/*
 * The wait before the first motion and the hold at exit (session.h).
 */
#include "view/session.h"

#include "core/boundary.h"
#include "view/sampler.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#if defined(_WIN32)
#include <corecrt_startup.h>
#endif

namespace zsim {
namespace view {

namespace {

/* Seconds from an environment variable: 0 when unset or not a number from
 * 0 to kLongestWait (then said on standard error). */
double seconds_from(const char *name)
{
    const char *text = std::getenv(name);
    if (!text || !*text)
        return 0;
    char *end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (*end || !std::isfinite(seconds) || seconds < 0 || seconds > kLongestWait) {
        std::fprintf(stderr, "zsim view: %s=%s ignored: expected seconds from 0 to %g\n", name, text, kLongestWait);
        std::fflush(stderr);
        return 0;
    }
    return seconds;
}

std::chrono::milliseconds duration_of(double seconds)
{
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

/* The view, once it runs (set once, then only read). */
std::atomic<Sampler *> view_sampler{nullptr};
const std::string *view_url = nullptr;
double hold_seconds = 0;

void serve_on_after_the_script()
{
    guarded([] {
        Sampler *sampler = view_sampler.load(std::memory_order_acquire);
        sampler->end_script();
        const std::string &url = *view_url;
        std::fprintf(stderr, "zsim view: the script has ended; %s serves on until its last page closes, at most %g s\n",
                     url.c_str(), hold_seconds);
        std::fflush(stderr);
        sampler->wait_until_unwatched(duration_of(hold_seconds));
    });
}

#if defined(_WIN32)
/* The process's own list of exit routines (the UCRT's), which exit() runs
 * before the process's threads end: a DLL's atexit() list runs after they
 * have all been stopped, when the view could no longer answer anyone. */
void at_exit_while_threads_run(void (*routine)()) { _crt_atexit(routine); }
#else
void at_exit_while_threads_run(void (*routine)()) { std::atexit(routine); }
#endif

} // namespace

void before_first_motion()
{
    static std::atomic<bool> done{false}; /* after the first: one relaxed load */
    if (done.load(std::memory_order_relaxed))
        return;
    static std::once_flag once;
    std::call_once(once, [] {
        guarded([] {
            Sampler *sampler = view_sampler.load(std::memory_order_acquire);
            const double seconds = sampler ? seconds_from("ZSIM_VIEW_WAIT") : 0;
            if (seconds <= 0)
                return;
            std::fprintf(stderr, "zsim view: the first motion waits for a page at %s, at most %g s\n",
                         view_url->c_str(), seconds);
            std::fflush(stderr);
            const bool watched = sampler->wait_for_viewer(duration_of(seconds));
            std::fprintf(stderr, watched ? "zsim view: a page watches; the motion starts\n"
                                         : "zsim view: no page came; the motion starts\n");
            std::fflush(stderr);
        });
    });
    done.store(true, std::memory_order_relaxed);
}

void view_started(Sampler &sampler, const std::string &url)
{
    view_url = new std::string(url); /* never freed: read at exit */
    hold_seconds = seconds_from("ZSIM_VIEW_HOLD");
    view_sampler.store(&sampler, std::memory_order_release);
    if (hold_seconds > 0)
        at_exit_while_threads_run(serve_on_after_the_script);
}

} // namespace view
} // namespace zsim
