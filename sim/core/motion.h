/*
 * The motion core: a queue of segments per arm, advanced by one motion thread
 * on the cycle of cycle.h, in simulated time.
 *
 * Whoever wants an arm to move (an entry point, a program runner) makes a
 * segment (segment.h) and enqueues it; the core begins it at the front of the
 * queue and steps it once a cycle until it reports done. Segments run one
 * after the other; a segment that reports an error stops the arm, ends the
 * queue and hands the error to the arm's owner (ArmMotion::stopped_by_error).
 * After each cycle of an arm the core tells its observers: the arm's own
 * (its recorder) and those that watch every arm.
 *
 * Time: simulated time runs at time_scale() times real time (1 by default,
 * ZSIM_TIME_SCALE in the environment, zsim_set_time_scale). At scale 0 every
 * motion is run to its end inside the call that started it, without sleeping.
 * An idle core waits on a condition variable and uses no CPU.
 *
 * Everything here is called with the library lock held.
 */
#ifndef ZSIM_MOTION_H
#define ZSIM_MOTION_H

#include "cycle.h"
#include "library_lock.h"
#include "segment.h"

#include <deque>
#include <memory>
#include <vector>

namespace zsim {

struct QueuedSegment {
    std::unique_ptr<Segment> segment;
    std::shared_ptr<Completion> done;
    bool begun = false;
    Joints end{}; /* where the arm stands when it is done, as given to enqueue */
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

    bool moving() const { return !queue.empty(); }
    /* A queued segment owns the arm (a program, a payload identification). */
    bool owned() const;

    /* Observers of this arm's cycles; they must outlive it (members of its owner). */
    void add_observer(CycleObserver *observer) { observers_.push_back(observer); }
    const std::vector<CycleObserver *> &observers() const { return observers_; }

    virtual MotionContext context() const = 0;
    /* A segment failed with `code`; the queue has already been ended. */
    virtual void stopped_by_error(ErrorCode code) = 0;

protected:
    ~ArmMotion() = default;

private:
    std::vector<CycleObserver *> observers_;
};

namespace motion {

constexpr std::size_t kMaxQueued = 64;

/* The core steps the arm from now on. */
void attach(ArmMotion &arm);
/* ... and no longer: its motion ends (kAborted) and it is gone. */
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

/* Waits, releasing the lock, until `done` has finished; returns its code
 * (kAborted when the arm was detached first). */
ErrorCode wait(Lock &lock, const ArmMotion &arm, const std::shared_ptr<Completion> &done);

/* Ends every queued segment with `why` (kAborted for motion_abort); servo mode ends. */
void abort(ArmMotion &arm, ErrorCode why);

/* Ends the queue with `code` and hands it to the arm's owner. */
void fail(ArmMotion &arm, ErrorCode code);

double time_scale();
/* factor >= 0; re-anchors simulated time; at 0 runs every queue to its end. */
void set_time_scale(double factor);
/* Back to the default (ZSIM_TIME_SCALE, else 1): the core's share of zsim_reset. */
void reset_time_scale();

} // namespace motion

} // namespace zsim

#endif /* ZSIM_MOTION_H */
