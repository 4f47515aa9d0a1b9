/*
 * The motion core: a queue of segments per arm, advanced on the cycle of
 * cycle.h, in simulated time.
 *
 * Whoever wants an arm to move (an entry point, a program runner) makes a
 * segment (segment.h) and enqueues it; the core begins it at the front of the
 * queue and steps it once a cycle until it reports done. Segments run one
 * after the other, except that a running move may blend into the next one
 * (Segment::blend). After each cycle of an arm the core tells its observers:
 * the arm's own (its recorder) and those that watch every arm.
 *
 * Stops: stop() brings the arm to rest along its path (controlled or quick)
 * and ends every queued motion with its code once the arm is at rest; brake()
 * ends them at once; fail() is a quick stop that also hands the error to the
 * arm's owner (ArmMotion::stopped_by_error) at once.
 *
 * Time: simulated time runs at time_scale() times real time (1 by default,
 * ZSIM_TIME_SCALE in the environment, zsim_set_time_scale), or only when
 * advance_time() moves it (manual time). Each arm has its own cycle clock
 * from when it last started moving. The motion thread runs the cycles that
 * fall due, and so does every call that looks at an arm (catch_up), so what a
 * caller reads is always the arm at the present simulated time, however late
 * the thread is. At scale 0 every motion is run to its end inside the call
 * that started it, without sleeping. An idle core uses no CPU.
 *
 * Everything here is called with the library lock held.
 */
#ifndef ZSIM_MOTION_H
#define ZSIM_MOTION_H

#include "cycle.h"
#include "fault_schedule.h"
#include "library_lock.h"
#include "segment.h"

#include <deque>
#include <memory>
#include <vector>

namespace zsim {

struct QueuedSegment {
    std::unique_ptr<Segment> segment;
    std::shared_ptr<Completion> done;
    Joints end{};             /* where the arm stands once it has ended */
    bool begun = false;
    bool offered = false;     /* the segment behind it was offered a blend */
};

class ArmMotion;

/* Told of every cycle of an arm, after its joints were updated (lock held).
 * `segment_ended`: the front segment finished in this cycle. */
class CycleObserver {
public:
    virtual void on_cycle(const ArmMotion &arm, const MotionContext &ctx, bool segment_ended) = 0;

protected:
    ~CycleObserver() = default;
};

/* The motion state of one arm, and the two things the core needs of the
 * arm's owner: the context its segments read, and what to do when one fails. */
class ArmMotion {
public:
    ArmMotion() = default;
    ArmMotion(const ArmMotion &) = delete;
    ArmMotion &operator=(const ArmMotion &) = delete;

    /* ---- guarded by library_mutex() ---- */
    Joints joints = arm::kHome;      /* where the arm stands now */
    std::deque<QueuedSegment> queue;
    bool holding = false;            /* the front segment waits to be fed (servo mode) */
    bool servo_mode = false;
    Joints planned_end = arm::kHome; /* where the arm stands once the queue is done */
    bool gone = false;               /* detached: whoever still waits on it lets go */
    /* A stop is under way: once the arm rests, every motion it ended gets stop_code. */
    bool stopping = false;
    ErrorCode stop_code = kOk;
    std::vector<std::shared_ptr<Completion>> ending; /* motions the stop took off the queue */
    double next_cycle = 0;           /* simulated time of its next cycle, while it moves */
    bool from_rest = true;           /* its next cycle is the first since it rested */
    FaultSchedule faults;            /* what a test scheduled (fault_schedule.h) */

    bool moving() const { return !queue.empty(); }
    /* A queued segment owns the arm (a program, a payload identification). */
    bool owned() const;

    /* Observers of this arm's cycles; they must outlive it (members of its owner). */
    void add_observer(CycleObserver *observer) { observers_.push_back(observer); }
    const std::vector<CycleObserver *> &observers() const { return observers_; }

    virtual MotionContext context() const = 0;
    /* A segment failed with `code` (or a fault was raised): the error state. */
    virtual void stopped_by_error(ErrorCode code) = 0;
    /* After each cycle: the arm moved from `before` to `joints` (`from_rest`:
     * the first cycle of a motion). A non-zero code fails the motion with it
     * (motion::fail): the protective stop of collision detection. */
    virtual ErrorCode sense(const MotionContext &, const Joints & /* before */, bool /* from_rest */) { return kOk; }

protected:
    ~ArmMotion() = default;

private:
    std::vector<CycleObserver *> observers_;
};

namespace motion {

constexpr std::size_t kMaxQueued = 64;

/* The core steps the arm from now on. */
void attach(ArmMotion &arm);
/* ... and no longer: its motion ends at once (kAborted) and it is gone. */
void detach(ArmMotion &arm);

/* Observers of every attached arm (a view of the simulation). */
void add_observer(CycleObserver *observer);
void remove_observer(CycleObserver *observer);

/* Appends a segment that leaves the arm at `end`; wakes the motion thread (or
 * at scale 0 runs the queue to its end now). Returns null when the queue is
 * full. */
std::shared_ptr<Completion> enqueue(ArmMotion &arm, std::unique_ptr<Segment> segment, const Joints &end);

/* The front segment has new work (servo set-points): step it again. */
void feed(ArmMotion &arm);

/* Runs the arm's cycles that are due at the present simulated time. */
void catch_up(ArmMotion &arm);
/* Seconds of simulated time until the arm's next cycle, 0 to one cycle (a
 * whole cycle when it is not being stepped: its next cycle starts then). */
double until_next_cycle(const ArmMotion &arm);

/* Waits, releasing the lock, until `done` has finished; returns its code
 * (kAborted when the arm was detached first). */
ErrorCode wait(Lock &lock, ArmMotion &arm, const std::shared_ptr<Completion> &done);

/* Brings the arm to rest along its path; every queued motion ends with `why`
 * once it rests (at once when nothing moves). Servo mode ends at once. */
void stop(ArmMotion &arm, StopKind kind, ErrorCode why);
/* The front segment alone comes to rest and ends as usual (jog_stop). */
void stop_front(ArmMotion &arm);
/* Ends every queued motion with `why` at once, where the arm stands (brakes). */
void brake(ArmMotion &arm, ErrorCode why);
/* A fault: the owner's error state now (stopped_by_error) and a quick stop
 * that ends every queued motion with `code`. */
void fail(ArmMotion &arm, ErrorCode code);

/* Simulated time now, seconds (the clock every arm's cycles are counted on). */
double now();
double time_scale();
/* factor >= 0; leaves manual time; at 0 runs every queue to its end. */
void set_time_scale(double factor);
/* Manual time: simulated time stands still except that this moves it on by
 * `seconds` (>= 0); arms catch up when something looks at them. */
void advance_time(double seconds);
/* Back to the default (ZSIM_TIME_SCALE, else 1): the core's share of zsim_reset. */
void reset_time_scale();

} // namespace motion

} // namespace zsim

#endif /* ZSIM_MOTION_H */
