/*
 * What an arm's joints feel, cycle by cycle, and the protective stop that
 * follows from it: collision detection as a collaborative controller does
 * it, from torques.
 *
 * Two arms are compared. The actual one carries the payload it really
 * carries (by default the declared one) and is pushed by the forces from
 * outside (contacts, a wrench applied at the TCP); the expected one is what
 * the controller believes: the declared payload, nothing pushing. Both move
 * alike: joint velocity and acceleration by backward differences of the
 * arm's positions over its cycles (a motion's first cycle starts from rest).
 * Where, on any joint, the actual arm's torque differs from the expected
 * one by more than the collision level's threshold, the arm stops.
 *
 * After such a stop the arm rests in the contact that stopped it: the next
 * motion allows each joint the difference it starts with (and a tenth of
 * the threshold more), until the difference falls back under the
 * threshold. So the arm can be moved out of the contact, not further in.
 *
 * The monitor is owned by its controller and used under the library lock.
 */
#ifndef ZSIM_TORQUE_MONITOR_H
#define ZSIM_TORQUE_MONITOR_H

#include "contact.h"
#include "dynamics.h"
#include "errors.h"
#include "zandrelAPI.h"

#include <vector>

namespace zsim {

/* Which of the outside forces the detection leaves to force control. */
enum class ForceOwner {
    kNone,      /* every force counts */
    kHand,      /* drag mode: the applied wrench is the hand that guides the arm */
    kSensor,    /* admittance control: the forces on the tool are the sensor's business */
};

/* The controller's side of a cycle: what the monitor reads. */
struct TorqueSituation {
    const PayloadData &declared;   /* set_payload */
    const Pose &tool;              /* flange to TCP */
    int collision_level;           /* 0: detection off */
    ForceOwner owner;
    Eigen::Vector3d gravity;       /* m/s^2, in the arm's base frame */
    const std::vector<ContactForce> &contacts; /* on the arm now (contact.h) */
};

/* The torque difference (N m) each collision level allows a joint; level 0
 * detects nothing. */
Joints collision_threshold(int level);

class TorqueMonitor {
public:
    /* ---- what the probe sets ---- */
    /* The payload the arm really carries; following the declared one by default. */
    void carry(const PayloadData &actual) { actual_ = actual, follows_declared_ = false; }
    void carry_declared() { follows_declared_ = true; }
    const PayloadData &actual(const PayloadData &declared) const { return follows_declared_ ? declared : actual_; }
    /* A wrench applied at the TCP (base frame) until replaced; zeros clear it. */
    void apply(const Eigen::Vector3d &force, const Eigen::Vector3d &moment) { force_ = force, moment_ = moment; }
    bool applied() const { return !force_.isZero(0) || !moment_.isZero(0); }

    /* ---- the cycle ---- */
    /* The arm moved from `before` to `now` over dt seconds; `from_rest`: the
     * first cycle of a motion. Returns kCollision when the arm must stop. */
    ErrorCode cycle(const TorqueSituation &s, const Joints &before, const Joints &now, double dt, bool from_rest);
    /* The arm rests at q: the same reading with no motion (after a change of
     * payload or wrench). */
    ErrorCode at_rest(const TorqueSituation &s, const Joints &q);

    /* ---- what it felt (at the last cycle or rest reading) ---- */
    const Joints &torques() const { return torques_; }       /* the actual arm's */
    const Joints &difference() const { return difference_; } /* actual less expected, as detected */
    const Joints &external() const { return external_; }     /* of every outside force: sum of J^T f */
    /* The outside forces on the tool (and the flange), as one wrench at the
     * TCP: the force (N) and its moment about the TCP (N m), base frame. */
    const Eigen::Vector3d &tool_force() const { return tool_force_; }
    const Eigen::Vector3d &tool_moment() const { return tool_moment_; }
    const Eigen::Vector3d &gravity() const { return gravity_; }
    /* The actual arm's torques at q at rest, now (the same forces). */
    Joints torques_at_rest(const TorqueSituation &s, const Joints &q);

private:
    /* Reads the arm at q, v, a into the members. */
    void read(const TorqueSituation &s, const Joints &q, const Joints &v, const Joints &a);
    ErrorCode judge(const TorqueSituation &s);

    PayloadData actual_{};
    bool follows_declared_ = true;
    Eigen::Vector3d force_ = Eigen::Vector3d::Zero(), moment_ = Eigen::Vector3d::Zero();

    Joints velocity_{};
    Joints torques_{}, difference_{}, external_{};
    Eigen::Vector3d tool_force_ = Eigen::Vector3d::Zero(), tool_moment_ = Eigen::Vector3d::Zero();
    Eigen::Vector3d gravity_ = Eigen::Vector3d(0, 0, -dynamics::kGravity);
    Joints allowed_{};       /* beyond the threshold: what the contact the arm stopped in gives */
    bool stopped_ = false;   /* the monitor stopped the arm: the next motion starts in contact */
    std::vector<dynamics::ExternalForce> forces_; /* this cycle's: contacts and the applied wrench */
};

} // namespace zsim

#endif /* ZSIM_TORQUE_MONITOR_H */
