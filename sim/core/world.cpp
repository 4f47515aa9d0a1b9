/*
 * The world and its contact queries (world.h, contact.h).
 *
 * Bodies are kept per arm for the joints, tool and base they were made for,
 * so that an arm's body is made once a cycle however many others look at
 * it. The contact forces found after a cycle are kept too, with the joints,
 * tool and world edit count they were found for: asked again for the same
 * (the dynamics in the same cycle), they are not searched again.
 */
#include "world.h"

#include "cycle.h"
#include "errors.h"
#include "motion.h"
#include "touch.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <set>
#include <unordered_map>

namespace zsim {
namespace world {

namespace {

using shapes::Separation;
using shapes::Vec;

struct Member {
    ArmMotion *arm = nullptr;
    std::string address;
    bool placed = false;
    bool ghost = false;            /* no body: touches nothing, never stops for itself */
    Pose base = Pose::Identity();

    /* the body last made, and what for */
    bool body_made = false;
    Joints body_joints{};
    Pose body_tool = Pose::Identity();
    Pose body_base = Pose::Identity();
    body::Body body;

    /* the self-collision check: each pair's distance at the previous cycle */
    std::array<double, body::kSelfPairs> last_distance{};
    std::array<bool, body::kSelfPairs> known{};
    Pose checked_tool = Pose::Identity();
    bool self_stopped = false;
    Contact self_stop;

    /* the contact forces found after the latest cycle, and what for */
    bool forces_found = false;
    Joints forces_joints{};
    Pose forces_tool = Pose::Identity();
    unsigned long long forces_edit = 0;
    std::vector<ContactForce> forces;
};

struct World {
    std::vector<scene::Object> objects;
    std::vector<scene::Object> starting;   /* the floor, or ZSIM_SCENE's */
    std::map<std::string, std::array<double, 6>> bases;
    std::set<std::string> ghosts;          /* addresses whose arms have no body */
    std::vector<std::unique_ptr<Member>> members;
    std::unordered_map<const ArmMotion *, Member *> member_of_arm;
    /* Counts what changes contacts besides an arm's own joints and tool: scene
     * and base edits, and every cycle of a placed arm (it may touch another). */
    unsigned long long edits = 0;
};

std::vector<scene::Object> starting_scene()
{
    const char *path = std::getenv("ZSIM_SCENE");
    if (path && *path) {
        std::vector<scene::Object> objects;
        std::string why;
        if (scene::read_file(path, objects, why))
            return objects;
        std::fprintf(stderr, "zsim scene: %s; the scene is the floor alone\n", why.c_str());
    }
    return {scene::floor()};
}

World &the_world()
{
    static World *w = [] { /* never destroyed: the motion thread may use it at exit */
        World *made = new World;
        made->starting = starting_scene();
        made->objects = made->starting;
        return made;
    }();
    return *w;
}

Member *member_of(const ArmMotion &arm)
{
    const auto &all = the_world().member_of_arm;
    const auto it = all.find(&arm);
    return it == all.end() ? nullptr : it->second;
}

bool same(const Pose &a, const Pose &b) { return a.matrix() == b.matrix(); }

/* The arm's tool in use (the context refers to its owner's frames). */
const Pose &tool_of(const ArmMotion &arm) { return arm.context().tool; }

const body::Body &body_now(Member &m, const Joints &q, const Pose &tool)
{
    if (!m.body_made || m.body_joints != q || !same(m.body_tool, tool) || !same(m.body_base, m.base)) {
        m.body = body::at(q, tool, m.base);
        m.body_made = true;
        m.body_joints = q;
        m.body_tool = tool;
        m.body_base = m.base;
    }
    return m.body;
}

Contact contact_from(const body::Body &b, int capsule, const Separation &s, Contact::With with,
                     const std::string &other, int other_part)
{
    Contact c;
    c.link = b.part[static_cast<std::size_t>(capsule)];
    c.capsule = capsule;
    c.point = 0.5 * (s.on_capsule + s.on_other);
    c.normal = s.normal;
    c.depth = -s.distance;
    c.with = with;
    c.other = other;
    c.other_link = other_part;
    return c;
}

/* The penalty force of an overlap of a capsule of `b`, in the arm's base frame. */
ContactForce force_from(const body::Body &b, int capsule, const Separation &s, const Pose &base)
{
    ContactForce f;
    f.link = b.part[static_cast<std::size_t>(capsule)];
    f.point = base.inverse() * (0.5 * (s.on_capsule + s.on_other));
    f.force = base.linear().transpose() * (kContactStiffness * -s.distance * s.normal);
    return f;
}

void find_forces(Member &m, const Joints &q, const Pose &tool, std::vector<ContactForce> &out)
{
    out.clear();
    if (m.ghost)
        return;
    World &w = the_world();
    const body::Body &b = body_now(m, q, tool);
    touch::with_objects(b, w.objects, [&](int capsule, const Separation &s, const scene::Object &) {
        out.push_back(force_from(b, capsule, s, m.base));
    });
    if (!m.placed)
        return;
    for (const std::unique_ptr<Member> &other : w.members) {
        if (other.get() == &m || !other->placed || other->ghost)
            continue;
        const Pose &other_tool = tool_of(*other->arm);
        if (touch::sphere_gap(b.centre, b.radius, body::reach_centre(other->base), body::reach_radius(other_tool)) >= 0)
            continue;
        const body::Body &ob = body_now(*other, other->arm->joints, other_tool);
        touch::with_body(m.body, ob,
                   [&](int capsule, const Separation &s, int) { out.push_back(force_from(m.body, capsule, s, m.base)); });
    }
}

void set_placement(Member &m)
{
    const World &w = the_world();
    const auto it = w.bases.find(m.address);
    m.placed = it != w.bases.end();
    m.base = m.placed ? scene::to_pose(it->second) : Pose::Identity();
    m.ghost = w.ghosts.count(m.address) > 0;
}

void edited()
{
    ++the_world().edits;
}

} // namespace

/* ---- the arms ---- */

void enter(ArmMotion &arm, const std::string &address)
{
    World &w = the_world();
    auto m = std::make_unique<Member>();
    m->arm = &arm;
    m->address = address;
    set_placement(*m);
    w.member_of_arm[&arm] = m.get();
    w.members.push_back(std::move(m));
    edited();
}

void leave(ArmMotion &arm)
{
    the_world().member_of_arm.erase(&arm);
    std::vector<std::unique_ptr<Member>> &all = the_world().members;
    all.erase(std::remove_if(all.begin(), all.end(), [&](const std::unique_ptr<Member> &m) { return m->arm == &arm; }),
              all.end());
    edited();
}

/* ---- edits ---- */

void set_base(const std::string &address, const std::array<double, 6> &pose)
{
    World &w = the_world();
    w.bases[address] = pose;
    for (const std::unique_ptr<Member> &m : w.members)
        if (m->address == address)
            set_placement(*m);
    edited();
}

const std::map<std::string, std::array<double, 6>> &bases() { return the_world().bases; }

void set_body(const std::string &address, bool solid)
{
    World &w = the_world();
    if (solid)
        w.ghosts.erase(address);
    else
        w.ghosts.insert(address);
    for (const std::unique_ptr<Member> &m : w.members)
        if (m->address == address)
            set_placement(*m);
    edited();
}

bool add(scene::Object object, std::string &why)
{
    World &w = the_world();
    for (const scene::Object &o : w.objects)
        if (o.name == object.name) {
            why = "name: \"" + object.name + "\" is in the scene already";
            return false;
        }
    if (w.objects.size() >= scene::kMaxObjects) {
        why = "the scene is full (" + std::to_string(scene::kMaxObjects) + " objects)";
        return false;
    }
    w.objects.push_back(std::move(object));
    edited();
    return true;
}

bool remove(const std::string &name)
{
    std::vector<scene::Object> &objects = the_world().objects;
    const auto it = std::find_if(objects.begin(), objects.end(), [&](const scene::Object &o) { return o.name == name; });
    if (it == objects.end())
        return false;
    objects.erase(it);
    edited();
    return true;
}

void clear()
{
    the_world().objects.clear();
    edited();
}

void replace(std::vector<scene::Object> objects)
{
    the_world().objects = std::move(objects);
    edited();
}

const std::vector<scene::Object> &objects() { return the_world().objects; }

void reset()
{
    World &w = the_world();
    w.objects = w.starting;
    w.bases.clear();
    w.ghosts.clear();
    for (const std::unique_ptr<Member> &m : w.members)
        set_placement(*m);
    edited();
}

/* ---- contacts ---- */

void contact_forces(const ArmMotion &arm, const Joints &q, std::vector<ContactForce> &out)
{
    out.clear();
    if (Member *m = member_of(arm))
        find_forces(*m, q, tool_of(arm), out);
}

void contact_forces(const ArmMotion &arm, std::vector<ContactForce> &out)
{
    Member *m = member_of(arm);
    if (!m) {
        out.clear();
        return;
    }
    const Pose &tool = tool_of(arm);
    if (m->forces_found && m->forces_joints == arm.joints && same(m->forces_tool, tool) &&
        m->forces_edit == the_world().edits) {
        out = m->forces;
        return;
    }
    find_forces(*m, arm.joints, tool, out);
}

namespace {

/* The self-collision check of an arm's member (stop_on_self_collision). */
bool check_self(ArmMotion &arm, Member *m)
{
    if (!m || m->ghost)
        return false;
    const Pose &tool = tool_of(arm);
    if (!same(m->checked_tool, tool)) { /* another tool: its distances start afresh */
        m->known.fill(false);
        m->checked_tool = tool;
    }
    const bool stopping_already = arm.stopping && arm.stop_code == kCollision;
    if (!arm.stopping && arm.moving()) /* a new motion: the latest stop is history */
        m->self_stopped = false;
    const body::Body &b = body_now(*m, arm.joints, tool);
    int hit = -1;
    double worst = kSelfMargin;
    Separation hit_at;
    for (int p = 0; p < body::kSelfPairs; ++p) {
        const std::size_t pair = static_cast<std::size_t>(p);
        const std::size_t i = static_cast<std::size_t>(body::kSelfPairList[pair][0]);
        const std::size_t j = static_cast<std::size_t>(body::kSelfPairList[pair][1]);
        if (b.part_radius[i] < 0 || b.part_radius[j] < 0 ||
            touch::sphere_gap(b.part_centre[i], b.part_radius[i], b.part_centre[j], b.part_radius[j]) > kSelfWatch) {
            m->known[pair] = false;
            continue;
        }
        const Separation s = touch::nearest(b, static_cast<int>(i), static_cast<int>(j));
        const double closing = m->known[pair] ? (m->last_distance[pair] - s.distance) / kCycle : 0;
        m->last_distance[pair] = s.distance;
        m->known[pair] = true;
        if (closing <= 0)
            continue;
        const double ahead = s.distance - closing * kSelfLookAhead;
        if (ahead < worst) {
            worst = ahead;
            hit = p;
            hit_at = s;
        }
    }
    if (hit < 0 || stopping_already)
        return false;
    const auto &pair = body::kSelfPairList[static_cast<std::size_t>(hit)];
    m->self_stopped = true;
    m->self_stop = contact_from(b, b.first[static_cast<std::size_t>(pair[0])], hit_at, Contact::With::kSelf,
                                std::string(), pair[1]);
    motion::fail(arm, kCollision);
    return true;
}

} // namespace

bool stop_on_self_collision(ArmMotion &arm) { return check_self(arm, member_of(arm)); }

void after_cycle(ArmMotion &arm)
{
    Member *m = member_of(arm);
    if (!m)
        return;
    check_self(arm, m);
    if (m->placed)
        edited();
    const Pose &tool = tool_of(arm);
    find_forces(*m, arm.joints, tool, m->forces);
    m->forces_found = true;
    m->forces_joints = arm.joints;
    m->forces_tool = tool;
    m->forces_edit = the_world().edits;
}

/* ---- the view's copy ---- */

Readout read()
{
    const World &w = the_world();
    Readout r;
    r.objects = w.objects;
    r.arms.reserve(w.members.size());
    for (const std::unique_ptr<Member> &m : w.members) {
        ArmInWorld a;
        a.address = m->address;
        a.placed = m->placed;
        a.ghost = m->ghost;
        if (m->placed)
            a.base = w.bases.at(m->address);
        a.joints = m->arm->joints;
        a.tool = tool_of(*m->arm);
        a.self_stopped = m->self_stopped;
        a.self_stop = m->self_stop;
        r.arms.push_back(std::move(a));
    }
    return r;
}

body::Body body_of(const ArmInWorld &arm)
{
    return body::at(arm.joints, arm.tool, arm.placed ? scene::to_pose(arm.base) : Pose::Identity());
}

void contacts_in(const Readout &world, std::size_t arm, std::vector<Contact> &out)
{
    out.clear();
    if (arm >= world.arms.size())
        return;
    const ArmInWorld &me = world.arms[arm];
    if (me.ghost)
        return;
    const body::Body b = body_of(me);
    touch::with_objects(b, world.objects, [&](int capsule, const Separation &s, const scene::Object &o) {
        out.push_back(contact_from(b, capsule, s, Contact::With::kObject, o.name, -1));
    });
    if (me.placed)
        for (std::size_t n = 0; n < world.arms.size(); ++n) {
            const ArmInWorld &other = world.arms[n];
            if (n == arm || !other.placed || other.ghost)
                continue;
            touch::with_body(b, body_of(other), [&](int capsule, const Separation &s, int other_part) {
                out.push_back(contact_from(b, capsule, s, Contact::With::kArm, other.address, other_part));
            });
        }
    if (me.self_stopped)
        out.push_back(me.self_stop);
}

} // namespace world
} // namespace zsim
