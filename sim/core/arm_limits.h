/*
 * The arm's limits table: every speed, acceleration, jerk and stop
 * deceleration the motion keeps, in one place. docs/virtual-controller.md
 * ("Limits") shows the same table with the modes each number binds.
 *
 * Units: rad, mm and seconds. At a rapid rate r a move's speeds are r times,
 * its accelerations r^2 times and its jerks r^3 times these.
 */
#ifndef ZSIM_ARM_LIMITS_H
#define ZSIM_ARM_LIMITS_H

#include <array>

namespace zsim {

constexpr double kPi = 3.14159265358979323846;

constexpr double degrees(double d) { return d * kPi / 180.0; }

namespace arm {

/* ---- joints ---- */
inline constexpr std::array<double, 6> kMaxSpeed = {degrees(180), degrees(180), degrees(180),
                                                    degrees(225), degrees(225), degrees(225)}; /* rad/s */
constexpr double kDefaultJointAcc = degrees(180); /* rad/s^2: joint moves and jogs without their own */
constexpr double kMaxJointAcc = degrees(720);     /* rad/s^2: what a joint move may ask */
constexpr double kJointJerk = degrees(9000);      /* rad/s^3: every joint move, jog and controlled stop */

/* ---- the TCP along a Cartesian path ---- */
constexpr double kMaxLinearSpeed = 1500.0;    /* mm/s: Cartesian moves, and the TCP and flange in joint moves */
constexpr double kDefaultLinearAcc = 500.0;   /* mm/s^2 */
constexpr double kMaxLinearAcc = 5000.0;      /* mm/s^2 */
constexpr double kLinearJerk = 50000.0;       /* mm/s^3 along the path */

/* ---- the TCP's orientation ---- */
constexpr double kOrientationSpeed = degrees(90);  /* rad/s in linear and circular moves */
constexpr double kMaxAngularSpeed = degrees(180);  /* rad/s: Cartesian jogs that turn */
constexpr double kOrientationAcc = degrees(180);   /* rad/s^2 */
constexpr double kOrientationJerk = degrees(9000); /* rad/s^3 */

/* ---- stops ---- */
/* Quick stops (faults, protective stops, disable_robot): twice the maxima,
 * at twice the jerks. */
constexpr double kQuickJointDec = 2 * kMaxJointAcc;        /* rad/s^2 */
constexpr double kQuickLinearDec = 2 * kMaxLinearAcc;      /* mm/s^2 */
constexpr double kQuickOrientationDec = 4 * kOrientationAcc; /* rad/s^2 */
constexpr double kQuickJerkFactor = 2.0;
/* A servo stream has no acceleration of its own: leaving servo mode brings
 * it to rest at the maximum joint acceleration. */
constexpr double kServoStopDec = kMaxJointAcc;

/* On an arc the centripetal acceleration v^2/r takes at most this share of
 * the commanded acceleration; the tangential one what is left. */
constexpr double kCentripetalShare = 0.8;

} // namespace arm
} // namespace zsim

#endif /* ZSIM_ARM_LIMITS_H */
