/*
 * The motion core and its thread.
 *
 * The thread is started on the first motion and never joined (its state is
 * leaked on purpose, like the event thread's): it waits on a condition
 * variable whenever no controller has anything to do.
 *
 * Simulated time: the thread counts cycles from an anchor (a real instant at
 * which a count of 0 was due). With scale s, cycle n is due at
 * anchor + n * kCycle / s. Each wake-up runs every cycle that is due (at most
 * kCatchUp at once, so a stalled process does not replay seconds of motion in
 * one go) and sleeps until the next one is due, or until new work arrives.
 */
#include "motion.h"

#include "events.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <thread>

namespace zsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kCatchUp = 250;             /* cycles run at most per wake-up */
constexpr long kSettleCycles = 1000000;    /* cycles a call runs at scale 0 (2.2 h of motion) */
constexpr long kChunk = 2000;              /* cycles the thread runs per lock hold at scale 0 */

double default_scale()
{
    static const double scale = [] {
        const char *text = std::getenv("ZSIM_TIME_SCALE");
        if (!text || !*text)
            return 1.0;
        char *end = nullptr;
        const double value = std::strtod(text, &end);
        return (end && *end == '\0' && std::isfinite(value) && value >= 0) ? value : 1.0;
    }();
    return scale;
}

struct Core {
    std::condition_variable work;  /* the thread waits here */
    std::condition_variable done;  /* blocking callers wait here */
    bool started = false;
    double scale = default_scale();
    Clock::time_point anchor = Clock::now();
    long cycles = 0;               /* cycles run since the anchor */
    bool anchored = false;
};

Core &core()
{
    static Core *c = new Core; /* never destroyed: the thread outlives static destructors */
    return *c;
}

bool active(const Controller &c) { return !c.queue.empty() && !c.holding; }

void finish_front(Controller &c, ErrorCode code)
{
    QueuedSegment &front = c.queue.front();
    front.done->finished = true;
    front.done->code = code;
    c.queue.pop_front();
    c.holding = false;
    if (c.queue.empty())
        c.planned_end = c.joints;
}

/* One cycle of one controller. */
void step(Controller &c)
{
    if (!active(c))
        return;
    QueuedSegment &front = c.queue.front();
    if (!front.begun) {
        front.begun = true;
        const ErrorCode code = front.segment->begin(c, c.joints);
        if (code != kOk) {
            motion::fail(c, code);
            return;
        }
    }
    const double dt = front.segment->follows_rapid_rate() ? kCycle * c.rapid_rate : kCycle;
    Joints q = c.joints;
    const StepResult result = front.segment->step(c, dt, q);
    c.joints = q;
    recording::observe(c, result.state == StepResult::kDone);
    if (result.error != kOk) {
        motion::fail(c, result.error);
        return;
    }
    if (result.state == StepResult::kDone)
        finish_front(c, kOk);
    else if (result.state == StepResult::kHolding)
        c.holding = true;
}

/* Runs the controller's queue until it is empty or waits to be fed. */
void settle(Controller &c)
{
    for (long n = 0; n < kSettleCycles && active(c); ++n)
        step(c);
}

bool any_active()
{
    bool found = false;
    each_controller([&](Controller &c) { found = found || active(c); });
    return found;
}

void run_forever()
{
    Core &k = core();
    Lock lock(library_mutex());
    for (;;) {
        if (!any_active()) {
            k.anchored = false;
            k.work.wait(lock);
            continue;
        }
        if (k.scale <= 0) {
            for (long n = 0; n < kChunk && any_active(); ++n)
                each_controller(step);
            k.done.notify_all();
            lock.unlock();
            std::this_thread::yield();
            lock.lock();
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (!k.anchored) {
            k.anchor = now;
            k.cycles = 0;
            k.anchored = true;
        }
        const double elapsed = std::chrono::duration<double>(now - k.anchor).count();
        const long due = static_cast<long>(std::floor(elapsed * k.scale / kCycle));
        if (due - k.cycles > kCatchUp)
            k.cycles = due - kCatchUp;
        bool ran = false;
        while (k.cycles < due) {
            each_controller(step);
            ++k.cycles;
            ran = true;
        }
        if (ran)
            k.done.notify_all();
        const auto next = k.anchor + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>((k.cycles + 1) * kCycle / k.scale));
        k.work.wait_until(lock, next);
    }
}

void wake()
{
    Core &k = core();
    if (!k.started) {
        std::thread(run_forever).detach();
        k.started = true;
    }
    k.work.notify_one();
}

} // namespace

namespace motion {

std::shared_ptr<Completion> enqueue(Controller &c, std::unique_ptr<Segment> segment,
                                    const Joints &end)
{
    if (c.queue.size() >= kMaxQueued)
        return nullptr;
    auto done = std::make_shared<Completion>();
    c.queue.push_back(QueuedSegment{std::move(segment), done, false});
    c.planned_end = end;
    if (core().scale <= 0)
        settle(c);
    if (active(c))
        wake();
    core().done.notify_all();
    return done;
}

void feed(Controller &c)
{
    c.holding = false;
    if (core().scale <= 0)
        settle(c);
    if (active(c))
        wake();
}

ErrorCode wait(Lock &lock, const Controller &c, const std::shared_ptr<Completion> &done)
{
    core().done.wait(lock, [&] { return done->finished || c.gone; });
    return done->finished ? done->code : kAborted;
}

void abort(Controller &c, ErrorCode why)
{
    const bool any = !c.queue.empty();
    while (!c.queue.empty())
        finish_front(c, why);
    c.servo_mode = false;
    c.holding = false;
    c.planned_end = c.joints;
    if (any)
        core().done.notify_all();
}

void fail(Controller &c, ErrorCode code)
{
    abort(c, code);
    c.fault = code;
    if (code == kCollision)
        c.collision = true;
    c.last_error = code;
    post_event(c, code);
}

double time_scale() { return core().scale; }

void set_time_scale(double factor)
{
    Core &k = core();
    k.scale = factor;
    k.anchored = false; /* the thread re-anchors at its next wake-up */
    if (factor <= 0)
        each_controller(settle);
    k.done.notify_all();
    if (any_active())
        wake();
}

void reset_time_scale() { set_time_scale(default_scale()); }

} // namespace motion

} // namespace zsim
