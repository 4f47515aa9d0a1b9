/*
 * The filters a servo stream's joint command passes, once a cycle, before
 * the arm follows it: the speed look-ahead, then the filter chosen (joint
 * low-pass, multi-order moving mean or Cartesian non-linear). The joint
 * non-linear filter is not here: it lowers the limits the arm follows with
 * (servo_follower.h). docs/virtual-controller.md ("Servo mode") gives each
 * formula.
 */
#ifndef ZSIM_SERVO_FILTERS_H
#define ZSIM_SERVO_FILTERS_H

#include "segment.h"
#include "servo_follower.h"

#include <cstddef>
#include <vector>

namespace zsim {

namespace servo {
/* The longest buffer of the moving-mean filter and of the look-ahead, in
 * cycles (8 s): what an arm keeps per joint is a few of these. */
constexpr int kMaxBuffer = 1000;
} // namespace servo

/* The mean of the last n samples of each joint (n >= 1). The sum is kept
 * running and recomputed every n samples, so rounding never builds up; a
 * window full of one value gives exactly that value. */
class MovingMean {
public:
    void reset(std::size_t n, const Joints &at);
    /* Adds a sample; returns the mean of the last n. */
    Joints push(const Joints &sample);
    /* The sample `back` pushes ago (0: the last), back < n. */
    const Joints &sample(std::size_t back) const;

private:
    std::vector<Joints> ring_;
    std::size_t next_ = 0;     /* where the next sample goes */
    std::size_t pushes_ = 0;
    std::size_t same_ = 0;     /* how many of the last samples equal the last */
    Joints sum_{};
};

/* The TCP of the joint command filtered in Cartesian space, then turned back
 * into joints: its position by three trackers (x, y, z in the base frame),
 * its orientation by three more, on the rotation vector the orientation has
 * turned by (base frame). */
class CartesianFilter {
public:
    void reset(const MotionContext &ctx, const Joints &at, const std::array<double, 6> &limits);
    /* kOk, or why the filtered pose cannot be followed (kUnreachable); a
     * pose past a joint limit is cut where the joint reaches it. */
    ErrorCode step(const MotionContext &ctx, const Joints &command, double dt, Joints &out);

private:
    std::array<Tracker, 6> axes_;     /* x, y, z (mm); then the turn about x, y, z (rad) */
    jerk::Limits position_{}, rotation_{};
    Eigen::Matrix3d orientation_ = Eigen::Matrix3d::Identity(); /* of the filtered TCP, base frame */
    Joints joints_{};                 /* where the filtered pose was last solved */
    Joints last_command_{};
};

class ServoFilters {
public:
    /* For a stream that starts with the arm at rest at `at`. */
    ServoFilters(const MotionContext &ctx, const Joints &at);
    /* One cycle: `command` in, what the arm is to follow out. kOk, or why
     * the stream cannot go on (the Cartesian filter's). */
    ErrorCode step(const MotionContext &ctx, const Joints &command, double dt, Joints &out);

private:
    /* the look-ahead: off when its gain is 0 */
    std::size_t ahead_ = 0;
    double ahead_gain_ = 0;
    MovingMean ahead_window_;

    ServoFilter kind_;
    Joints lpf_{};
    std::array<MovingMean, 3> means_;
    std::array<double, 3> weights_{}; /* kp, kv, ka */
    std::size_t orders_ = 0;          /* moving means in use */
    CartesianFilter cartesian_;
};

} // namespace zsim

#endif /* ZSIM_SERVO_FILTERS_H */
