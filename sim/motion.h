/*
 * The motion core: a queue of segments per controller, advanced by one motion
 * thread on an 8 ms cycle of simulated time.
 *
 * A Segment is one piece of motion (a joint move, a Cartesian path, a jog, the
 * servo stream). Whoever wants the arm to move (an entry point, later a
 * program runner) makes a segment and enqueues it; the core calls begin() when
 * it reaches the front of the queue and step() once a cycle until it reports
 * done. Segments run one after the other; a segment that reports an error
 * stops the arm, ends the queue and puts the controller in its error state.
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

#include "controller.h"

#include <memory>

namespace zsim {

constexpr double kCycle = 0.008; /* seconds of simulated time */

struct StepResult {
    enum State { kRunning, kDone, kHolding } state = kRunning;
    ErrorCode error = kOk; /* non-zero: stop the arm with this error */
};

class Segment {
public:
    virtual ~Segment() = default;
    /* At the front of the queue, before its first step, with the arm at `now`.
     * A non-zero code fails the segment as if a step had. */
    virtual ErrorCode begin(Controller &c, const Joints &now) = 0;
    /* One cycle. dt is the segment's own time step: the cycle, scaled by the
     * rapid rate when follows_rapid_rate(). Writes the new position into q
     * (which holds the current one); on an error q must stay a valid position.
     * kHolding: nothing to do until fed (the core stops stepping it until
     * motion::feed). */
    virtual StepResult step(Controller &c, double dt, Joints &q) = 0;
    virtual bool follows_rapid_rate() const { return true; }
    /* jog_stop: come to rest and finish. */
    virtual void request_stop() {}
    /* The axis a jog segment moves (0..5), or -1 for any other segment. */
    virtual int jog_axis() const { return -1; }
};

namespace motion {

constexpr std::size_t kMaxQueued = 64;

/* Appends a segment that leaves the arm at `end`; wakes the motion thread (or
 * at scale 0 runs the queue to its end now). Returns null when the queue is
 * full. */
std::shared_ptr<Completion> enqueue(Controller &c, std::unique_ptr<Segment> segment,
                                    const Joints &end);

/* The front segment has new work (servo set-points): step it again. */
void feed(Controller &c);

/* Waits, releasing the lock, until `done` has finished; returns its code. */
ErrorCode wait(Lock &lock, const Controller &c, const std::shared_ptr<Completion> &done);

/* Ends every queued segment with `why` (kAborted for motion_abort); servo mode ends. */
void abort(Controller &c, ErrorCode why);

/* Stops the arm in an error state with `code` and posts the event. */
void fail(Controller &c, ErrorCode code);

double time_scale();
/* factor >= 0; re-anchors simulated time; at 0 runs every queue to its end. */
void set_time_scale(double factor);
/* Back to the default (ZSIM_TIME_SCALE, else 1). */
void reset_time_scale();

} // namespace motion

} // namespace zsim

#endif /* ZSIM_MOTION_H */
