/*
 * The motion core and its thread.
 *
 * The thread is started on the first motion and never joined (its state is
 * leaked on purpose, like the event thread's): it waits on a condition
 * variable whenever no arm has anything to do.
 *
 * Simulated time: the thread counts cycles from an anchor (a real instant at
 * which a count of 0 was due). With scale s, cycle n is due at
 * anchor + n * kCycle / s. Each wake-up runs every cycle that is due (at most
 * kCatchUp at once, so a stalled process does not replay seconds of motion in
 * one go) and sleeps until the next one is due, or until new work arrives.
 */
#include "motion.h"

#include "boundary.h"

#include <algorithm>
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
    std::vector<ArmMotion *> arms;               /* attached, in the order they came */
    std::vector<CycleObserver *> observers;      /* of every arm */
};

Core &core()
{
    static Core *c = new Core; /* never destroyed: the thread outlives static destructors */
    return *c;
}

bool active(const ArmMotion &a) { return !a.queue.empty() && !a.holding; }

void finish_front(ArmMotion &a, ErrorCode code)
{
    QueuedSegment &front = a.queue.front();
    front.done->finished = true;
    front.done->code = code;
    a.queue.pop_front();
    a.holding = false;
    if (a.queue.empty())
        a.planned_end = a.joints;
}

void tell_observers(const ArmMotion &a, const MotionContext &ctx, bool ended)
{
    for (CycleObserver *o : a.observers())
        o->on_cycle(a, ctx, ended);
    for (CycleObserver *o : core().observers)
        o->on_cycle(a, ctx, ended);
}

/* One cycle of one arm. */
void step(ArmMotion &a)
{
    if (!active(a))
        return;
    QueuedSegment &front = a.queue.front();
    const MotionContext ctx = a.context();
    if (!front.begun) {
        front.begun = true;
        const ErrorCode code = front.segment->begin(ctx, a.joints);
        if (code != kOk) {
            motion::fail(a, code);
            return;
        }
    }
    const double dt = front.segment->follows_rapid_rate() ? kCycle * ctx.rapid_rate : kCycle;
    Joints q = a.joints;
    const StepResult result = front.segment->step(ctx, dt, q);
    a.joints = q;
    tell_observers(a, ctx, result.state == StepResult::kDone);
    if (result.error != kOk) {
        motion::fail(a, result.error);
        return;
    }
    if (result.state == StepResult::kDone)
        finish_front(a, kOk);
    else if (result.state == StepResult::kHolding)
        a.holding = true;
}

/* One cycle of every arm. */
void step_all()
{
    for (ArmMotion *a : core().arms)
        step(*a);
}

/* Runs the arm's queue until it is empty or waits to be fed. */
void settle(ArmMotion &a)
{
    for (long n = 0; n < kSettleCycles && active(a); ++n)
        step(a);
}

bool any_active()
{
    const std::vector<ArmMotion *> &arms = core().arms;
    return std::any_of(arms.begin(), arms.end(), [](const ArmMotion *a) { return active(*a); });
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
                guarded(step_all);
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
            guarded(step_all); /* a cycle that ran out of memory is lost, not the thread */
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

bool ArmMotion::owned() const
{
    return std::any_of(queue.begin(), queue.end(), [](const QueuedSegment &s) { return s.segment->owns_arm(); });
}

namespace motion {

void attach(ArmMotion &arm)
{
    arm.gone = false;
    core().arms.push_back(&arm);
}

void detach(ArmMotion &arm)
{
    abort(arm, kAborted);
    arm.gone = true;
    std::vector<ArmMotion *> &arms = core().arms;
    arms.erase(std::remove(arms.begin(), arms.end(), &arm), arms.end());
    core().done.notify_all();
}

void add_observer(CycleObserver *observer) { core().observers.push_back(observer); }

void remove_observer(CycleObserver *observer)
{
    std::vector<CycleObserver *> &all = core().observers;
    all.erase(std::remove(all.begin(), all.end(), observer), all.end());
}

std::shared_ptr<Completion> enqueue(ArmMotion &arm, std::unique_ptr<Segment> segment, const Joints &end)
{
    if (arm.queue.size() >= kMaxQueued)
        return nullptr;
    auto done = std::make_shared<Completion>();
    arm.queue.push_back(QueuedSegment{std::move(segment), done, false, end});
    arm.planned_end = end;
    if (core().scale <= 0)
        settle(arm);
    if (active(arm))
        wake();
    core().done.notify_all();
    return done;
}

void feed(ArmMotion &arm)
{
    arm.holding = false;
    if (core().scale <= 0)
        settle(arm);
    if (active(arm))
        wake();
}

ErrorCode wait(Lock &lock, const ArmMotion &arm, const std::shared_ptr<Completion> &done)
{
    core().done.wait(lock, [&] { return done->finished || arm.gone; });
    return done->finished ? done->code : kAborted;
}

void abort(ArmMotion &arm, ErrorCode why)
{
    const bool any = !arm.queue.empty();
    while (!arm.queue.empty())
        finish_front(arm, why);
    arm.servo_mode = false;
    arm.holding = false;
    arm.planned_end = arm.joints;
    if (any)
        core().done.notify_all();
}

void fail(ArmMotion &arm, ErrorCode code)
{
    abort(arm, code);
    arm.stopped_by_error(code);
}

double time_scale() { return core().scale; }

void set_time_scale(double factor)
{
    Core &k = core();
    k.scale = factor;
    k.anchored = false; /* the thread re-anchors at its next wake-up */
    if (factor <= 0)
        for (ArmMotion *a : k.arms)
            settle(*a);
    k.done.notify_all();
    if (any_active())
        wake();
}

void reset_time_scale() { set_time_scale(default_scale()); }

} // namespace motion

} // namespace zsim
