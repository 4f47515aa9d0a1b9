/*
 * Faults a test scheduled for one arm (zsim_trigger_fault_after and
 * zsim_trigger_fault_after_cycles): due at a simulated time, or after a
 * number of the arm's cycles of motion. The motion core asks before each
 * cycle of motion, and whenever a call looks at an arm at rest, whether one is
 * due (motion.h); a due fault then stops the arm as zsim_trigger_fault does.
 * So a fault scheduled in manual time, or by cycles, falls at the same point
 * of a motion on every run.
 *
 * Guarded by the library lock, like the arm it belongs to.
 */
#ifndef ZSIM_FAULT_SCHEDULE_H
#define ZSIM_FAULT_SCHEDULE_H

#include "errors.h"

#include <vector>

namespace zsim {

class FaultSchedule {
public:
    /* Due once simulated time reaches `when` (seconds, the motion core's clock). */
    void add_at(ErrorCode code, double when);
    /* Due after `cycles` cycles of motion from now: before the next cycle of
     * motion once that many have run (0: before the very next one). */
    void add_after_cycles(ErrorCode code, long cycles);
    bool empty() const { return pending_.empty(); }
    /* The code of the first fault due at `now` (kOk when none), forgotten once
     * returned; `cycle_of_motion` counts one cycle of motion towards the others. */
    ErrorCode take_due(double now, bool cycle_of_motion);
    void clear() { pending_.clear(); }

private:
    struct Pending {
        ErrorCode code;
        bool by_time;
        double when;       /* by_time */
        long cycles_left;  /* !by_time */
    };
    std::vector<Pending> pending_;
};

} // namespace zsim

#endif /* ZSIM_FAULT_SCHEDULE_H */
