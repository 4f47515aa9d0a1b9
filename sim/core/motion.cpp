/*
 * The motion core and its thread.
 *
 * The thread is started on the first motion and never joined (its state is
 * leaked on purpose, like the event thread's): it waits on a condition
 * variable whenever no arm has anything to do.
 *
 * Simulated time: sim_now() is simulated time, from an anchor (a real instant
 * and the simulated time then) at the time scale, or frozen in manual time.
 * An arm that starts moving schedules its first cycle one cycle later;
 * thereafter cycle after cycle. Whoever looks at an arm first runs its cycles
 * that are due (at most kCatchUp at once in real time, so a stalled process
 * loses that time instead of replaying seconds of motion in one go): the
 * thread, a caller through with_controller, a blocking caller when woken.
 * The thread lets go of the lock between arms and every few cycles, so that
 * no caller waits for more than a few cycles of one arm.
 */
#include "motion.h"

#include "boundary.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <thread>
#include <utility>

namespace zsim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kCatchUp = 250;             /* cycles an arm runs at most at once in real time */
constexpr long kSettleCycles = 1000000;    /* cycles a call runs at scale 0 (2.2 h of motion) */
constexpr long kChunk = 2000;              /* cycles the thread runs per lock hold at scale 0 */
constexpr long kCyclesPerHold = 4;         /* cycles of one arm the thread runs per lock hold */

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
    bool manual = false;           /* time moves only through advance_time */
    double sim_base = 0;           /* simulated time at real_base (in manual time: now) */
    Clock::time_point real_base = Clock::now();
    std::vector<ArmMotion *> arms;               /* attached, in the order they came */
    std::vector<CycleObserver *> observers;      /* of every arm */
};

Core &core()
{
    static Core *c = new Core; /* never destroyed: the thread outlives static destructors */
    return *c;
}

double sim_now()
{
    const Core &k = core();
    if (k.manual || k.scale <= 0)
        return k.sim_base;
    return k.sim_base + std::chrono::duration<double>(Clock::now() - k.real_base).count() * k.scale;
}

/* Scale 0: every motion runs to its end inside the call that starts it. */
bool instant() { return !core().manual && core().scale <= 0; }

bool active(const ArmMotion &a) { return !a.queue.empty() && !a.holding; }

/* An arm that was at rest and now has work has its first cycle one cycle on. */
void start_clock(ArmMotion &a, bool was_active)
{
    if (!was_active && active(a)) {
        a.next_cycle = sim_now() + kCycle;
        a.from_rest = true;
    }
}

void finish(Completion &c, ErrorCode code)
{
    c.finished = true;
    c.code = code;
}

void finish_front(ArmMotion &a, ErrorCode code)
{
    finish(*a.queue.front().done, code);
    a.queue.pop_front();
    a.holding = false;
    if (a.queue.empty())
        a.planned_end = a.joints;
}

/* Every motion ends with `code`: the queue and those a stop took off it. */
void end_all(ArmMotion &a, ErrorCode code)
{
    while (!a.queue.empty())
        finish_front(a, code);
    for (const std::shared_ptr<Completion> &c : a.ending)
        finish(*c, code);
    a.ending.clear();
    a.stopping = false;
    a.holding = false;
    a.planned_end = a.joints;
    core().done.notify_all();
}

void tell_observers(const ArmMotion &a, const MotionContext &ctx, bool ended)
{
    for (CycleObserver *o : a.observers())
        o->on_cycle(a, ctx, ended);
    for (CycleObserver *o : core().observers)
        o->on_cycle(a, ctx, ended);
}

/* The running segment may blend into the one behind it: offered once. */
void offer_blend(ArmMotion &a, const MotionContext &ctx)
{
    if (a.stopping || a.queue.size() < 2)
        return;
    QueuedSegment &front = a.queue[0];
    QueuedSegment &next = a.queue[1];
    if (front.offered || next.begun)
        return;
    front.offered = true;
    if (front.segment->blend(*next.segment, ctx, front.end))
        next.begun = true;
}

/* A fault scheduled for this moment (fault_schedule.h) stops the arm as
 * zsim_trigger_fault does; `cycle_of_motion`: the arm is about to run one. */
void fire_scheduled_fault(ArmMotion &a, double at, bool cycle_of_motion)
{
    if (a.faults.empty())
        return;
    const ErrorCode code = a.faults.take_due(at, cycle_of_motion);
    if (code != kOk)
        motion::fail(a, code);
}

/* The segments' share of one cycle of one arm. */
void advance(ArmMotion &a, const MotionContext &ctx)
{
    QueuedSegment &front = a.queue.front();
    if (!front.begun) {
        front.begun = true;
        const ErrorCode code = front.segment->begin(ctx, a.joints);
        if (code != kOk) {
            motion::brake(a, code);
            a.stopped_by_error(code);
            return;
        }
    }
    offer_blend(a, ctx);
    Joints q = a.joints;
    const StepResult result = front.segment->step(ctx, kCycle, q);
    a.joints = q;
    const bool ended = result.state == StepResult::kDone;
    tell_observers(a, ctx, ended);
    if (result.state == StepResult::kFault) {
        motion::fail(a, result.error);
        return;
    }
    if (result.error != kOk) { /* at rest where the path ends for it, or unable to follow at all */
        motion::brake(a, result.error);
        a.stopped_by_error(result.error);
        return;
    }
    if (ended) {
        if (!a.stopping) {
            finish_front(a, kOk);
            return;
        }
        finish_front(a, a.stop_code);
        if (a.queue.empty() || !a.queue.front().begun) /* nothing left moving: at rest */
            end_all(a, a.stop_code);
    } else if (result.state == StepResult::kHolding) {
        a.holding = true;
    }
}

/* One cycle of one arm: its segments move it, then its owner senses what
 * that did (a protective stop comes after the cycle, whatever the queue). */
void step(ArmMotion &a)
{
    if (!active(a))
        return;
    fire_scheduled_fault(a, instant() ? sim_now() : a.next_cycle, true);
    if (!active(a))
        return;
    const MotionContext ctx = a.context();
    const Joints before = a.joints;
    advance(a, ctx);
    if (const ErrorCode felt = a.sense(ctx, before, std::exchange(a.from_rest, false)))
        motion::fail(a, felt);
}

/* Runs up to `limit` of the arm's cycles that are due; how many ran. */
long run_due(ArmMotion &a, long limit)
{
    Core &k = core();
    if (instant() || !active(a))
        return 0;
    const double behind = std::floor((sim_now() - a.next_cycle) / kCycle + 1e-9) + 1;
    if (behind < 1)
        return 0;
    long due = behind > 1e9 ? 1000000000L : static_cast<long>(behind);
    if (!k.manual && due > kCatchUp) { /* stalled: that time is lost, not replayed in a burst */
        a.next_cycle += static_cast<double>(due - kCatchUp) * kCycle;
        due = kCatchUp;
    }
    long ran = 0;
    while (ran < due && ran < limit && active(a)) {
        step(a);
        a.next_cycle += kCycle;
        ++ran;
    }
    if (ran > 0)
        k.done.notify_all();
    return ran;
}

/* One cycle of every arm (scale 0). */
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

/* Real time: each arm catches up in turn; the lock is let go between arms
 * and every kCyclesPerHold cycles (arms may come and go meanwhile, hence the
 * index). Then sleeps until the earliest next cycle. */
void run_real_time(Lock &lock)
{
    Core &k = core();
    for (std::size_t i = 0; i < k.arms.size(); ++i) {
        while (guarded(0L, [&] { return run_due(*k.arms[i], kCyclesPerHold); }) == kCyclesPerHold) {
            lock.unlock();
            lock.lock();
            if (i >= k.arms.size() || k.manual || k.scale <= 0)
                return;
        }
        lock.unlock();
        lock.lock();
        if (k.manual || k.scale <= 0)
            return;
    }
    double next = std::numeric_limits<double>::infinity();
    for (const ArmMotion *a : k.arms)
        if (active(*a))
            next = std::min(next, a->next_cycle);
    if (!std::isfinite(next))
        return;
    const auto when = k.real_base + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>((next - k.sim_base) / k.scale));
    k.work.wait_until(lock, when);
}

void run_forever()
{
    Core &k = core();
    Lock lock(library_mutex());
    for (;;) {
        if (k.manual || !any_active()) {
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
        run_real_time(lock);
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

/* After a change that may have given the arm work. */
void resume(ArmMotion &arm, bool was_active)
{
    start_clock(arm, was_active);
    if (instant())
        settle(arm);
    if (active(arm))
        wake();
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
    brake(arm, kAborted);
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
    const bool was_active = active(arm);
    auto done = std::make_shared<Completion>();
    QueuedSegment queued;
    queued.segment = std::move(segment);
    queued.done = done;
    queued.end = end;
    arm.queue.push_back(std::move(queued));
    arm.planned_end = end;
    resume(arm, was_active);
    core().done.notify_all();
    return done;
}

void feed(ArmMotion &arm)
{
    const bool was_active = active(arm);
    arm.holding = false;
    resume(arm, was_active);
}

void catch_up(ArmMotion &arm)
{
    run_due(arm, LONG_MAX);
    if (!active(arm)) /* at rest: a fault due by time falls when someone looks */
        fire_scheduled_fault(arm, sim_now(), false);
}

double until_next_cycle(const ArmMotion &arm)
{
    if (instant() || !active(arm))
        return kCycle;
    return std::min(kCycle, std::max(0.0, arm.next_cycle - sim_now()));
}

ErrorCode wait(Lock &lock, ArmMotion &arm, const std::shared_ptr<Completion> &done)
{
    for (;;) {
        if (done->finished)
            return done->code;
        if (arm.gone)
            return kAborted;
        run_due(arm, LONG_MAX); /* in manual time nobody else does */
        if (done->finished || arm.gone)
            continue;
        core().done.wait(lock);
    }
}

void stop(ArmMotion &arm, StopKind kind, ErrorCode why)
{
    arm.servo_mode = false;
    if (arm.queue.empty())
        return;
    const bool was_active = active(arm);
    if (!arm.stopping || kind == StopKind::kQuick)
        arm.stop_code = why; /* a fault's code wins over an abort's */
    arm.stopping = true;
    while (arm.queue.size() > 1 && !arm.queue.back().begun) {
        arm.ending.push_back(arm.queue.back().done);
        arm.queue.pop_back();
    }
    for (const std::shared_ptr<Completion> &c : arm.ending) {
        c->stopping = true;
        c->code = arm.stop_code;
    }
    arm.holding = false;
    bool at_rest = true;
    for (QueuedSegment &s : arm.queue) {
        s.done->stopping = true;
        s.done->code = arm.stop_code;
        if (s.begun)
            at_rest = s.segment->request_stop(kind) && at_rest;
    }
    if (!arm.queue.front().begun || at_rest) {
        end_all(arm, arm.stop_code);
        return;
    }
    resume(arm, was_active);
}

void stop_front(ArmMotion &arm)
{
    if (arm.queue.empty())
        return;
    const bool was_active = active(arm);
    QueuedSegment &front = arm.queue.front();
    if (!front.begun || front.segment->request_stop(StopKind::kControlled)) {
        finish_front(arm, kOk);
        core().done.notify_all();
        return;
    }
    arm.holding = false;
    resume(arm, was_active);
}

void brake(ArmMotion &arm, ErrorCode why)
{
    end_all(arm, why);
    arm.servo_mode = false;
}

void fail(ArmMotion &arm, ErrorCode code)
{
    stop(arm, StopKind::kQuick, code);
    arm.stopped_by_error(code);
}

double now() { return sim_now(); }

double time_scale() { return core().scale; }

void set_time_scale(double factor)
{
    Core &k = core();
    k.sim_base = sim_now();
    k.real_base = Clock::now();
    k.manual = false;
    k.scale = factor;
    if (factor <= 0)
        for (ArmMotion *a : k.arms)
            settle(*a);
    k.done.notify_all();
    if (any_active())
        wake();
}

void advance_time(double seconds)
{
    Core &k = core();
    if (!k.manual) {
        k.sim_base = sim_now();
        k.manual = true;
    }
    k.sim_base += seconds;
    k.done.notify_all();
}

void reset_time_scale() { set_time_scale(default_scale()); }

} // namespace motion

} // namespace zsim
