/*
 * What the entry point files share. Most entry points have this shape:
 *
 *     ErrorCode get_rapidrate(const RobotHandle *handle, double *rapid_rate)
 *     {
 *         const zsim::Call call(__func__, handle, rapid_rate);   // journal and injections
 *         return zsim::on_controller(call, handle, [&](zsim::Controller &rc, zsim::Lock &) {
 *             ...                                                 // under the library lock
 *         });
 *     }
 *
 * The others open the same way, `if (c.overridden()) return c.code();`, and
 * then go on through a shared helper of their file.
 *
 * Entry points without behaviour of their own yet stay one-line stand-ins:
 * `return zsim::call(__func__, args...);` (zero the outputs, return 0).
 * Out-parameters are written only on success.
 */
#ifndef ZSIM_API_SUPPORT_H
#define ZSIM_API_SUPPORT_H

#include "controller.h"
#include "motion.h"
#include "probe.h"
#include "segments.h"

#include <cmath>
#include <memory>
#include <utility>

namespace zsim {

/* The probe sees the call first and may decide its result (an injected
 * code); otherwise body runs on the handle's controller (with_controller). */
template <class Body>
ErrorCode on_controller(const Call &call, const RobotHandle *handle, Body &&body) noexcept
{
    if (call.overridden())
        return call.code();
    return with_controller(handle, std::forward<Body>(body));
}

/* kOk when the arm may start an ordinary move. */
inline ErrorCode ready_to_move(const Controller &c)
{
    if (!c.powered)
        return kNotPowered;
    if (!c.enabled)
        return kNotEnabled;
    if (c.collision)
        return kCollision;
    if (c.fault != kOk)
        return kFaultActive;
    if (c.servo_mode)
        return kServoActive;
    if (c.drag || c.owner)
        return kBusy;
    return kOk;
}

/* Queues a segment that leaves the arm at `end`; a blocking caller waits for
 * it (releasing the lock) and gets its code. */
inline ErrorCode start_motion(Controller &c, Lock &lock, std::unique_ptr<Segment> segment,
                              const Joints &end, bool block)
{
    const std::shared_ptr<Completion> done = motion::enqueue(c, std::move(segment), end);
    if (!done)
        return kBusy;
    return block ? motion::wait(lock, c, done) : kOk;
}

inline bool positive(double v) { return std::isfinite(v) && v > 0; }

} // namespace zsim

#endif /* ZSIM_API_SUPPORT_H */
