/*
 * What a call or a program line may ask of a motion, beyond "a finite number
 * greater than 0": the lower bounds on speeds, accelerations and the rapid
 * rate, and the longest wait and servo interpolation. With them every motion
 * the controller accepts ends within a bounded time, also at time scale 0,
 * where it runs inside the call that starts it (docs/virtual-controller.md,
 * "Bounds"). Speeds above a maximum are not refused: moves cap them
 * (kinematics.h, segments.h).
 */
#ifndef ZSIM_MOTION_BOUNDS_H
#define ZSIM_MOTION_BOUNDS_H

#include <limits>

namespace zsim {
namespace bounds {

constexpr double kMinJointSpeed = 0.01;   /* rad/s: joint moves, joint jogs, rotation jogs */
constexpr double kMinJointAcc = 0.01;     /* rad/s^2 */
constexpr double kMinLinearSpeed = 1.0;   /* mm/s: linear and circular moves, translation jogs */
constexpr double kMinLinearAcc = 1.0;     /* mm/s^2 */
constexpr double kMinRapidRate = 0.01;    /* the slowest pace a rapid rate sets: 1% */
constexpr double kMaxWaitSeconds = 86400; /* a program's `wait`: a day */
constexpr int kMaxServoSteps = 12500;     /* cycles a servo set-point is spread over: 100 s */

/* A finite number at least `least` (NaN and infinities are not). */
inline bool at_least(double value, double least)
{
    return value >= least && value <= std::numeric_limits<double>::max();
}

} // namespace bounds
} // namespace zsim

#endif /* ZSIM_MOTION_BOUNDS_H */
