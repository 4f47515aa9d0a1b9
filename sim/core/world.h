/*
 * The world: one per process. It holds the scene (scene.h: the floor and
 * the objects a test or a scene file put there), the base of every arm a
 * test placed, and the arms themselves (each controller enters it when it is
 * made), and answers the contact queries of contact.h.
 *
 * An arm whose base was placed (set_base) stands there and touches the
 * other placed arms; an arm never placed stands at the world's origin and
 * sees only the scene, so that scripts with several controllers, which
 * all stand at the origin, keep working.
 *
 * The scene a process starts with is the floor alone, or the file named by
 * ZSIM_SCENE in the environment (read once, at the first use of the world;
 * a file that cannot be used is reported on standard error and the scene
 * is the floor). reset() returns to it and forgets every base.
 *
 * Everything here is called with the library lock held, but for the pure
 * functions over a Readout, which need no lock.
 */
#ifndef ZSIM_WORLD_H
#define ZSIM_WORLD_H

#include "body.h"
#include "contact.h"
#include "scene.h"

#include <array>
#include <map>
#include <string>
#include <vector>

namespace zsim {
namespace world {

/* ---- the arms (controller.cpp) ------------------------------------------ */

void enter(ArmMotion &arm, const std::string &address);
void leave(ArmMotion &arm);

/* ---- the scene and the bases: arguments checked by the caller (api_world.cpp) ---- */

/* Places the arm of `address` (now or when it is made). */
void set_base(const std::string &address, const std::array<double, 6> &pose);
const std::map<std::string, std::array<double, 6>> &bases();

/* An arm without a body touches nothing and never stops for itself: it
 * moves through the scene, itself and the other arms as before the world
 * existed (tests of motion alone). Every arm has one after reset(). */
void set_body(const std::string &address, bool solid);

/* False with why when the name is taken or the scene is full. */
bool add(scene::Object object, std::string &why);
/* False when no object has that name. */
bool remove(const std::string &name);
void clear();
void replace(std::vector<scene::Object> objects);
const std::vector<scene::Object> &objects();

/* The scene the process started with, no bases, every arm solid: the
 * world's share of zsim_reset. */
void reset();

/* ---- the self-collision check's numbers (docs/virtual-controller.md, "The body") ---- */

constexpr double kSelfMargin = 10;       /* mm between two parts that are not neighbours */
constexpr double kSelfLookAhead = 0.1;   /* s: the distance closed in this time is added to the margin */
constexpr double kSelfWatch = 250;       /* mm: pairs farther apart than this (by their bounding spheres) are not measured */

/* After every cycle of an arm (its controller's sense, before it reads
 * the joint torques): the self-collision check, and the arm's contacts
 * found and kept for contact_forces. */
void after_cycle(ArmMotion &arm);

/* ---- what the view shows: a copy, and what follows from it ---------------- */

struct ArmInWorld {
    std::string address;
    bool placed = false;
    bool ghost = false;             /* no body (set_body) */
    std::array<double, 6> base{};   /* as given (zeros when not placed) */
    Joints joints{};
    Pose tool = Pose::Identity();   /* flange to TCP in use */
    /* The two parts whose nearness made the arm's latest protective stop, until it moves again. */
    bool self_stopped = false;
    Contact self_stop;
};

struct Readout {
    std::vector<scene::Object> objects;
    std::vector<ArmInWorld> arms;   /* in the order they entered */
};

/* A copy of the world (lock held): plain data, nothing that needs the lock. */
Readout read();

/* No lock: an arm's body, and its contacts with the scene and the other
 * placed arms of the readout (world frame); its self stop, if any, last. */
body::Body body_of(const ArmInWorld &arm);
void contacts_in(const Readout &world, std::size_t arm, std::vector<Contact> &out);

} // namespace world
} // namespace zsim

#endif /* ZSIM_WORLD_H */
