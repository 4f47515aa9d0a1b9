/*
 * The event thread. Its state is allocated once and never freed, and the
 * thread is detached: at process exit it may still sit in its wait (or inside
 * a callback that the interpreter ends), and no static destructor ever joins
 * it or pulls its mutex away. It starts from a plain routine and calls each
 * callback from a frame with nothing to clean up (threads.h).
 */
#include "events.h"

#include "boundary.h"
#include "threads.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>

namespace zsim {

namespace {

struct Event {
    CallBackFuncType callback;
    ErrorCode code;
};

struct Events {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Event> pending;
    bool started = false;
};

Events &events()
{
    static Events *e = new Events; /* intentionally leaked, see above */
    return *e;
}

/* The next event, waiting for one; a null callback when waiting failed. */
ZSIM_OWN_FRAME Event next_event()
{
    return guarded(Event{nullptr, 0}, [] {
        Events &e = events();
        std::unique_lock<std::mutex> lock(e.mutex);
        e.ready.wait(lock, [&] { return !e.pending.empty(); });
        const Event event = e.pending.front();
        e.pending.pop_front();
        return event;
    });
}

void deliver_forever(void *)
{
    for (;;) {
        const Event event = next_event();
        if (event.callback)
            event.callback(event.code); /* no lock held, nothing to clean up here */
    }
}

} // namespace

void post_callback(CallBackFuncType callback, ErrorCode code)
{
    if (!callback)
        return;
    Events &e = events();
    std::lock_guard<std::mutex> lock(e.mutex);
    if (!e.started) {
        if (!threads::start_detached(deliver_forever, nullptr))
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                    "no event thread");
        e.started = true;
    }
    e.pending.push_back(Event{callback, code});
    e.ready.notify_one();
}

void drop_pending_events()
{
    Events &e = events();
    std::lock_guard<std::mutex> lock(e.mutex);
    e.pending.clear();
}

} // namespace zsim
