/*
 * The probe's controls of the world: the scene and the arms' bases (api.h).
 * Each checks what it is given first, without the lock, then changes the
 * world under it.
 */
#include "api.h"
#include "controller.h"
#include "json.h"
#include "world.h"

#include <cstring>

namespace zsim {
namespace api {

namespace {

constexpr std::size_t kMaxAddressBytes = 1024;

int refuse(std::string &why, std::string text)
{
    why = std::move(text);
    return -1;
}

void vector(JsonObject &o, const char *name, const Eigen::Vector3d &v) { o.numbers(name, {v.x(), v.y(), v.z()}); }

} // namespace

int set_base(const char *address, const double *pose, std::string &why)
{
    if (!address || !*address || std::strlen(address) > kMaxAddressBytes)
        return refuse(why, "address: must be 1 to " + std::to_string(kMaxAddressBytes) + " bytes");
    if (!pose)
        return refuse(why, "pose: missing");
    std::array<double, 6> p{};
    std::copy(pose, pose + 6, p.begin());
    if (!scene::valid_pose(p, "pose", why))
        return -1;
    Lock lock(library_mutex());
    world::set_base(address, p);
    return 0;
}

int set_body(const char *address, bool solid, std::string &why)
{
    if (!address || !*address || std::strlen(address) > kMaxAddressBytes)
        return refuse(why, "address: must be 1 to " + std::to_string(kMaxAddressBytes) + " bytes");
    Lock lock(library_mutex());
    world::set_body(address, solid);
    return 0;
}

int add_object(const char *json, std::string &why)
{
    if (!json)
        return refuse(why, "object: missing");
    JsonValue value;
    scene::Object object;
    if (!parse_json(json, value, why) || !scene::object_from_json(value, object, why))
        return -1;
    Lock lock(library_mutex());
    return world::add(std::move(object), why) ? 0 : -1;
}

int remove_object(const char *name, std::string &why)
{
    if (!name)
        return refuse(why, "name: missing");
    Lock lock(library_mutex());
    if (world::remove(name))
        return 0;
    return refuse(why, std::string("name: no object \"") + name + "\" in the scene");
}

void clear_scene()
{
    Lock lock(library_mutex());
    world::clear();
}

int set_scene(const char *json, std::string &why)
{
    std::vector<scene::Object> objects;
    if (!json)
        return refuse(why, "scene: missing");
    if (!scene::scene_from_json(json, objects, why))
        return -1;
    Lock lock(library_mutex());
    world::replace(std::move(objects));
    return 0;
}

int load_scene(const char *path, std::string &why)
{
    std::vector<scene::Object> objects;
    if (!path || !*path)
        return refuse(why, "path: missing");
    if (!scene::read_file(path, objects, why))
        return -1;
    Lock lock(library_mutex());
    world::replace(std::move(objects));
    return 0;
}

std::string scene_json()
{
    Lock lock(library_mutex());
    return scene::to_json(world::objects());
}

std::string bases_json()
{
    std::string out;
    Lock lock(library_mutex());
    JsonObject o(out);
    for (const auto &entry : world::bases()) {
        const std::array<double, 6> &p = entry.second;
        o.numbers(entry.first.c_str(), {p[0], p[1], p[2], p[3], p[4], p[5]});
    }
    return out;
}

bool contacts_json(const char *address, std::string &json)
{
    if (!address)
        return false;
    world::Readout copy;
    std::vector<ContactForce> forces; /* what the dynamics are given, in the same order */
    {
        Lock lock(library_mutex());
        const std::shared_ptr<Controller> c = find_controller(address);
        if (!c)
            return false;
        motion::catch_up(*c);
        copy = world::read();
        world::contact_forces(*c, forces);
    }
    std::size_t index = 0;
    while (index < copy.arms.size() && copy.arms[index].address != address)
        ++index;
    std::vector<Contact> contacts;
    world::contacts_in(copy, index, contacts);
    json = "[";
    std::size_t pushing = 0;
    for (std::size_t n = 0; n < contacts.size(); ++n) {
        const Contact &c = contacts[n];
        if (n)
            json += ", ";
        JsonObject o(json);
        o.integer("link", c.link);
        o.integer("capsule", c.capsule);
        if (c.with != Contact::With::kSelf && pushing < forces.size()) {
            vector(o, "point", forces[pushing].point);
            vector(o, "force", forces[pushing].force);
            ++pushing;
        } else {
            o.key("point") += "null";
            o.key("force") += "null";
        }
        o.number("depth", c.depth);
        vector(o, "world_point", c.point);
        vector(o, "normal", c.normal);
        o.text("with", with_name(c.with));
        o.text("other", c.other);
        o.integer("other_link", c.other_link);
    }
    json += ']';
    return true;
}

void reset_world()
{
    Lock lock(library_mutex());
    world::reset();
}

} // namespace api
} // namespace zsim
