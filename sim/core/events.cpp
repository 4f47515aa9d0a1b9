/*
 * The event thread. Its state is allocated once and never freed, and the
 * thread is detached: at process exit it may still sit in its wait (or inside
 * a callback that returns at once because the interpreter is gone), and no
 * static destructor ever joins it or pulls its mutex away.
 */
#include "events.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace zsim {

namespace {

struct Events {
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::pair<CallBackFuncType, ErrorCode>> pending;
    bool started = false;
};

Events &events()
{
    static Events *e = new Events; /* intentionally leaked, see above */
    return *e;
}

void deliver_forever()
{
    Events &e = events();
    for (;;) {
        std::pair<CallBackFuncType, ErrorCode> event;
        {
            std::unique_lock<std::mutex> lock(e.mutex);
            e.ready.wait(lock, [&] { return !e.pending.empty(); });
            event = e.pending.front();
            e.pending.pop_front();
        }
        event.first(event.second); /* no lock held */
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
        std::thread(deliver_forever).detach();
        e.started = true;
    }
    e.pending.emplace_back(callback, code);
    e.ready.notify_one();
}

void drop_pending_events()
{
    Events &e = events();
    std::lock_guard<std::mutex> lock(e.mutex);
    e.pending.clear();
}

} // namespace zsim
