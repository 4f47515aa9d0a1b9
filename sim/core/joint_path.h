/*
 * The joints along a Cartesian path, and the speed limit they set on it.
 *
 * A path (a line, an arc, a jog's ray) is a function from its parameter u to
 * the flange's pose. Followed by inverse kinematics the way the arm follows
 * it (on its branch and turn), it is also a path of the joints, q(u), whose
 * derivatives by u fix what any timing u(t) asks of them:
 *
 *   joint speed          q'(u) u_dot
 *   joint acceleration   q'(u) u_ddot + q''(u) u_dot^2
 *   joint jerk           q'(u) u_dddot + 3 q''(u) u_dot u_ddot + q'''(u) u_dot^3
 *
 * JointPath samples q(u) ahead of the arm, finer where q'' changes fast
 * (near a singularity), and bounds q' and q'' on each stretch between
 * samples. From those bounds it gives the speed limit of profile.h: on each
 * stretch the highest u_dot that keeps every joint within its maximum speed
 * and leaves a share of its maximum acceleration to q'' u_dot^2, and the
 * u_ddot the rest allows speeding up and slowing down (q' u_ddot and
 * q'' u_dot^2 taken with their signs: a curvature pulling a joint against
 * the path's acceleration leaves it more); the quick-stop deceleration
 * likewise at twice the joint acceleration. A profile within those limits
 * keeps every joint within its speed and acceleration maxima.
 *
 * Where the path cannot be followed the samples end and say why: out of reach
 * (6), a joint limit (7, the joints standing on it), or a singularity (15):
 * a stretch where the joints would allow the path less than a hundredth of
 * its speed (at a velocity corner, where the path passes a singularity and
 * q' jumps, no speed is small enough).
 *
 * Nothing here locks; sampling allocates (once per move, and as a jog goes on).
 */
#ifndef ZSIM_JOINT_PATH_H
#define ZSIM_JOINT_PATH_H

#include "errors.h"
#include "kinematics.h"
#include "profile.h"

#include <functional>
#include <vector>

namespace zsim {

class JointPath {
public:
    /* The flange (base frame) at path parameter u. */
    using Geometry = std::function<Pose(double)>;

    struct Pace {
        double speed;     /* the path's own highest speed, path units/s: the samples are
                             finer where the joints would limit it, and a stretch where
                             they allow less than a hundredth of it is a singularity */
        double acc;       /* the path's own acceleration, path units/s^2 */
        double step;      /* the samples' spacing where nothing needs them finer, path units */
    };

    /* Samples the path from u = 0, where the joints are `start`, to `end`
     * (or, for a path without end, as far as extend() asks). */
    void begin(Geometry flange_at, const Joints &start, double end, const Pace &pace);
    /* Samples on to `u` (a path without end; nothing once the samples end
     * short of it). The speed limit then reaches there too. */
    void extend(double u);

    /* How far the path is known to be followable: its end, or where it
     * cannot be followed (wall()). */
    double reach() const { return reach_; }
    /* kOk when the path is followable as far as it is sampled; else why it
     * cannot be followed beyond reach(). */
    ErrorCode wall() const { return wall_; }
    /* At a joint-limit wall: the joints standing on the limit. */
    const Joints &wall_joints() const { return wall_joints_; }
    /* The joints at the last sample at or before u: where the arm continues from to u. */
    const Joints &near(double u) const;
    /* The speed limit of the sampled part (profile.h), at rapid rate 1. */
    const SpeedLimit &limit() const { return limit_; }
    /* The same stretch by stretch between samples, unmerged: where in a
     * stretch of limit() its acceleration binds (profile.h's detail). */
    const SpeedLimit &detail() const { return raw_; }

private:
    struct Sample {
        double u;
        Joints q;
    };

    /* Uniform steps from the last sample on to `u`; a wall ends them. */
    void sample_to(double u);
    /* Samples between those whose neighbourhood says the second derivative
     * is not yet known well enough (or a joint moves too far between two). */
    void refine(std::size_t from);
    /* The speed limit of the stretches from sample `from` on; a singular stretch ends the samples. */
    void limit_from(std::size_t from);
    void set_wall(ErrorCode why, double u, const Joints &q);

    Geometry flange_at_;
    Pace pace_{1, 1, 1};
    double end_ = 0;
    std::vector<Sample> samples_;
    std::vector<Stretch> raw_;   /* one per pair of neighbouring samples, before merging */
    SpeedLimit limit_;
    double reach_ = 0;
    ErrorCode wall_ = kOk;
    Joints wall_joints_{};
};

} // namespace zsim

#endif /* ZSIM_JOINT_PATH_H */
