/*
 * Contacts: where an arm's body touches the world around it, and the forces
 * that push it back. The world (world.h: the scene, the arms' bases, their
 * bodies) answers these queries; whatever turns forces into joint torques
 * and decides a protective stop from them calls them once a cycle.
 *
 * A contact pushes back: where a part of an arm's body (body.h: links 0..5
 * and the tool) overlaps a scene object or the body of another placed arm
 * by a depth d, a penalty force of kContactStiffness * d acts on that part,
 * at the contact point, along the direction that separates the two fastest.
 * Two placed arms that touch push each other: each gets the force on its
 * own part, equal and opposite. An arm never pushes itself: its geometric
 * self-collision check (stop_on_self_collision) stops it, with a margin,
 * before two of its parts touch.
 *
 * Everything here is called with the library lock held. A query costs a
 * few bounding-sphere tests when nothing is near.
 */
#ifndef ZSIM_CONTACT_H
#define ZSIM_CONTACT_H

#include "kinematics.h"

#include <Eigen/Core>

#include <string>
#include <vector>

namespace zsim {

class ArmMotion;

/* The parts of an arm's body a contact acts on. */
constexpr int kLinkParts = 6;          /* 0..5: the link joint part+1 moves */
constexpr int kToolPart = 6;           /* the tool in use */
constexpr int kBodyParts = 7;

/* The penalty force per millimetre of overlap, N/mm. */
constexpr double kContactStiffness = 10.0;

struct ContactForce {
    int link;               /* 0..5: the link joint link+1 moves; 6: the tool */
    Eigen::Vector3d point;  /* where it acts, in the arm's base frame, mm */
    Eigen::Vector3d force;  /* N, in the arm's base frame, acting on the arm */
};

/* A contact as the view shows it: the touching part, where, how deep, and
 * what it touches. Self contacts are the pairs of parts that the
 * self-collision check found within its margin. */
struct Contact {
    enum class With { kObject, kArm, kSelf };

    int link = 0;                     /* 0..6, as in ContactForce */
    int capsule = 0;                  /* which capsule of the body (body.h) */
    Eigen::Vector3d point{0, 0, 0};   /* world frame, mm */
    Eigen::Vector3d normal{0, 0, 1};  /* world frame, unit: pushes this part out */
    double depth = 0;                 /* mm of overlap (a self pair stopped before touching: minus the gap) */
    With with = With::kObject;
    std::string other;                /* the object's name, the other arm's address, "" for self */
    int other_link = -1;              /* the other arm's part, or this arm's (self); -1 for an object */
};

/* What a contact touches, as the library's and the view's JSON name it. */
inline const char *with_name(Contact::With with)
{
    switch (with) {
    case Contact::With::kObject: return "object";
    case Contact::With::kArm: return "arm";
    case Contact::With::kSelf: return "self";
    }
    return "";
}

namespace world {

/* The contact forces on `arm` with its joints at q (its tool in use, its
 * base in the world): one for each capsule of its body (body.h) and each
 * object or capsule of another arm it overlaps, in `out` (cleared first).
 * Nothing when nothing touches. */
void contact_forces(const ArmMotion &arm, const Joints &q, std::vector<ContactForce> &out);

/* The same at the arm's joints now (arm.joints). */
void contact_forces(const ArmMotion &arm, std::vector<ContactForce> &out);

/* The geometric self-collision check, once a cycle after the arm moved:
 * when two of its parts that are not neighbours come within the margin (and
 * the distance they would close while stopping), the arm makes its
 * protective stop (motion::fail with kCollision: a quick stop, the error
 * state, is_in_collision 1, the error callback). True when it stopped the
 * arm now. Parts moving apart never stop it, so an arm stopped close to
 * itself can be moved away after collision_recover. */
bool stop_on_self_collision(ArmMotion &arm);

} // namespace world
} // namespace zsim

#endif /* ZSIM_CONTACT_H */
