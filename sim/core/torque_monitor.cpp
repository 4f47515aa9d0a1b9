/*
 * The torque monitor (torque_monitor.h).
 *
 * Inverse dynamics is linear in the outside forces, so a cycle runs it once
 * for the actual arm without them, once more for the expected arm only when
 * the payloads differ, and adds the forces as J^T f: with the right payload
 * and nothing pushing, the difference is exactly zero and the arm moves as
 * it always did.
 */
#include "torque_monitor.h"

#include <algorithm>
#include <cmath>

namespace zsim {

namespace {

/* Level 1, the most sensitive: N m per joint; level n allows kFactor[n] times as much. */
constexpr Joints kSensitive = {15.0, 15.0, 10.0, 4.0, 4.0, 4.0};
constexpr double kFactor[6] = {0.0, 1.0, 1.5, 2.0, 3.0, 4.0};
/* A path out of a contact seldom eases every joint at once: a motion that
 * starts in contact may press a joint this share of its threshold harder. */
constexpr double kEasing = 0.1;

bool same_payload(const PayloadData &a, const PayloadData &b)
{
    return a.mass == b.mass && a.centroid.x == b.centroid.x && a.centroid.y == b.centroid.y &&
           a.centroid.z == b.centroid.z;
}

dynamics::Load load_of(const PayloadData &p, const Eigen::Vector3d &gravity)
{
    dynamics::Load load;
    load.payload_mass = p.mass;
    load.payload_centre = Eigen::Vector3d(p.centroid.x, p.centroid.y, p.centroid.z);
    load.gravity = gravity;
    return load;
}

bool on_tool(const dynamics::ExternalForce &f) { return f.body >= 5; }

} // namespace

Joints collision_threshold(int level)
{
    Joints t{};
    if (level < 1 || level > 5)
        return t;
    for (std::size_t j = 0; j < 6; ++j)
        t[j] = kSensitive[j] * kFactor[level];
    return t;
}

void TorqueMonitor::read(const TorqueSituation &s, const Joints &q, const Joints &v, const Joints &a)
{
    gravity_ = s.gravity;
    const PayloadData &carried = actual(s.declared);
    const dynamics::Chain chain = dynamics::chain(q);

    /* The outside forces: the contacts, then the applied wrench at the TCP. */
    forces_.clear();
    for (const ContactForce &contact : s.contacts) {
        dynamics::ExternalForce pushed;
        pushed.body = contact.link;
        pushed.point = contact.point;
        pushed.force = contact.force;
        forces_.push_back(pushed);
    }
    const Eigen::Vector3d flange_mm = chain.flange_origin * 1000.0;
    const Eigen::Vector3d tcp = flange_mm + chain.flange_rotation * s.tool.translation();
    const bool hand = applied();
    if (hand) {
        dynamics::ExternalForce wrench;
        wrench.body = dynamics::kToolBody;
        wrench.point = tcp;
        wrench.force = force_;
        wrench.moment = moment_;
        forces_.push_back(wrench);
    }

    const Joints moving = dynamics::inverse_dynamics(chain, v, a, load_of(carried, s.gravity));
    const Joints expected = same_payload(carried, s.declared)
                                ? moving
                                : dynamics::inverse_dynamics(chain, v, a, load_of(s.declared, s.gravity));
    external_ = forces_.empty() ? Joints{} : dynamics::external_torques(chain, forces_.data(), forces_.size());

    /* What force control handles itself is not a collision. */
    Joints counted = external_;
    const std::size_t contact_count = s.contacts.size();
    for (std::size_t k = 0; k < forces_.size(); ++k) {
        const bool is_hand = k >= contact_count;
        const bool left_out = (s.owner == ForceOwner::kHand && is_hand) ||
                              (s.owner == ForceOwner::kSensor && on_tool(forces_[k]));
        if (!left_out)
            continue;
        const Joints own = dynamics::external_torques(chain, &forces_[k], 1);
        for (std::size_t j = 0; j < 6; ++j)
            counted[j] -= own[j];
    }

    tool_force_.setZero();
    tool_moment_.setZero();
    for (const dynamics::ExternalForce &f : forces_) {
        if (!on_tool(f))
            continue;
        tool_force_ += f.force;
        tool_moment_ += (f.point - tcp).cross(f.force) * 1e-3 + f.moment;
    }

    for (std::size_t j = 0; j < 6; ++j) {
        torques_[j] = moving[j] - external_[j];
        difference_[j] = moving[j] - expected[j] - counted[j];
    }
}

ErrorCode TorqueMonitor::judge(const TorqueSituation &s)
{
    if (s.collision_level < 1)
        return kOk;
    const Joints threshold = collision_threshold(s.collision_level);
    bool hit = false;
    for (std::size_t j = 0; j < 6; ++j) {
        const double size = std::abs(difference_[j]);
        if (size <= threshold[j])
            allowed_[j] = 0; /* out of the contact it stopped in */
        else if (size > std::max(threshold[j], allowed_[j]))
            hit = true;
    }
    if (!hit)
        return kOk;
    stopped_ = true;
    return kCollision;
}

ErrorCode TorqueMonitor::cycle(const TorqueSituation &s, const Joints &before, const Joints &now, double dt,
                               bool from_rest)
{
    if (from_rest) {
        velocity_ = Joints{};
        if (stopped_) { /* the motion starts in the contact the arm stopped in */
            read(s, before, Joints{}, Joints{});
            const Joints threshold = collision_threshold(s.collision_level);
            for (std::size_t j = 0; j < 6; ++j)
                allowed_[j] = std::abs(difference_[j]) + kEasing * threshold[j];
            stopped_ = false;
        }
    }
    Joints v{}, a{};
    for (std::size_t j = 0; j < 6; ++j) {
        v[j] = (now[j] - before[j]) / dt;
        a[j] = (v[j] - velocity_[j]) / dt;
    }
    velocity_ = v;
    read(s, now, v, a);
    return judge(s);
}

ErrorCode TorqueMonitor::at_rest(const TorqueSituation &s, const Joints &q)
{
    velocity_ = Joints{};
    read(s, q, Joints{}, Joints{});
    return judge(s);
}

Joints TorqueMonitor::torques_at_rest(const TorqueSituation &s, const Joints &q)
{
    read(s, q, Joints{}, Joints{});
    return torques_;
}

} // namespace zsim
