/*
 * What the files of the library functions (api_*.cpp) share. Most functions
 * have this shape:
 *
 *     ErrorCode set_rapidrate(const RobotHandle *handle, double rapid_rate)
 *     {
 *         const ErrorCode checked = zsim::check(zsim::positive(rapid_rate) && rapid_rate <= 1);
 *         return zsim::with_controller(handle, checked, [&](zsim::Controller &rc, zsim::Lock &) {
 *             ...                                     // under the library lock
 *         });
 *     }
 *
 * the others go through a shared helper of their file that does the same.
 * The call's own arguments are checked first, by a pure function of them (no
 * lock, no controller): a refused call returns its code at once, without
 * waiting for the library lock and without stepping the arm. The
 * controller's state is checked under the lock, then the call acts.
 * Out-parameters are written only on success. The export layer (edge/) has
 * already recorded the call and applied the probe's injections.
 */
#ifndef ZSIM_API_SUPPORT_H
#define ZSIM_API_SUPPORT_H

#include "api.h"
#include "controller.h"
#include "motion.h"
#include "segments.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <utility>

namespace zsim {

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
        return kErrorState;
    if (c.servo_mode)
        return kServoActive;
    if (c.drag || c.force.admittance_on || c.owned() || c.stopping) /* stopping: until the arm rests */
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

/* What a check of a call's own arguments found: kOk when they are valid. */
inline ErrorCode check(bool valid) { return valid ? kOk : kInvalidArgument; }
/* A pointer the call needs. */
inline ErrorCode present(const void *p) { return check(p != nullptr); }

/* Copies text with its NUL into a buffer of `size` bytes, cut to fit before
 * a character (never inside one: the module decodes it as strict UTF-8). */
inline void put_text(char *out, std::size_t size, const std::string &text)
{
    const std::size_t n = text::fitting_length(text, size - 1);
    std::memcpy(out, text.data(), n);
    std::memset(out + n, 0, size - n);
}

} // namespace zsim

#endif /* ZSIM_API_SUPPORT_H */
