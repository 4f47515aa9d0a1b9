/*
 * The faults scheduled for an arm (fault_schedule.h).
 */
#include "fault_schedule.h"

namespace zsim {

void FaultSchedule::add_at(ErrorCode code, double when) { pending_.push_back({code, true, when, 0}); }

void FaultSchedule::add_after_cycles(ErrorCode code, long cycles) { pending_.push_back({code, false, 0, cycles}); }

ErrorCode FaultSchedule::take_due(double now, bool cycle_of_motion)
{
    ErrorCode fired = kOk;
    for (auto it = pending_.begin(); it != pending_.end();) {
        const bool due = it->by_time ? now >= it->when : cycle_of_motion && it->cycles_left == 0;
        if (due && fired == kOk) {
            fired = it->code;
            it = pending_.erase(it);
            continue;
        }
        if (cycle_of_motion && !it->by_time && it->cycles_left > 0) /* this cycle counts towards it */
            --it->cycles_left;
        ++it;
    }
    return fired;
}

} // namespace zsim
