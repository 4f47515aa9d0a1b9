/*
 * The motion cycle: the arm's position is updated once every kCycle seconds of
 * simulated time (the motion core, motion.h), and everything that samples or
 * plans per cycle counts in it.
 */
#ifndef ZSIM_CYCLE_H
#define ZSIM_CYCLE_H

namespace zsim {

constexpr double kCycle = 0.008; /* seconds of simulated time */

} // namespace zsim

#endif /* ZSIM_CYCLE_H */
