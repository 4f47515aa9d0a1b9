/*
 * Scene objects: their checks and their JSON form (scene.h).
 */
#include "scene.h"

#include "json.h"
#include "kinematics.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>

namespace zsim {
namespace scene {

namespace {

using Type = JsonValue::Type;

/* What is wrong and the line of the value it is about. */
struct Complaint {
    std::string what;
    int line = 0;
};

bool complain(Complaint &c, const JsonValue &v, std::string what)
{
    c.what = std::move(what);
    c.line = v.line;
    return false;
}

std::string shown(double x);

std::string describe(const JsonValue &v)
{
    switch (v.type) {
    case Type::kNull: return "null";
    case Type::kBool: return v.boolean ? "true" : "false";
    case Type::kString: return "a string";
    case Type::kArray: return "a list";
    case Type::kObject: return "an object";
    case Type::kNumber: break;
    }
    return shown(v.number);
}

std::string shown(double x)
{
    if (std::isnan(x))
        return "nan";
    if (std::isinf(x))
        return x > 0 ? "inf" : "-inf";
    if (x == std::floor(x) && std::abs(x) < 1e15)
        return std::to_string(static_cast<long long>(x));
    std::string out;
    Json(out).number(x);
    return out;
}

/* A number of `field` within [low, high]; positive: above 0 too. */
bool number_in(const JsonValue &v, const std::string &field, double low, double high, bool positive, double &out,
               Complaint &c)
{
    if (v.type != Type::kNumber)
        return complain(c, v, field + ": must be a number (got " + describe(v) + ")");
    const double x = v.number;
    if (!std::isfinite(x))
        return complain(c, v, field + ": must be a finite number (got " + shown(x) + ")");
    if (positive && !(x > 0 && x <= high))
        return complain(c, v, field + ": must be a positive number up to " + shown(high) + " (got " + shown(x) + ")");
    if (!positive && !(x >= low && x <= high))
        return complain(c, v, field + ": must be a number from " + shown(low) + " to " + shown(high) + " (got " +
                                  shown(x) + ")");
    out = x;
    return true;
}

bool numbers(const JsonValue &v, const std::string &field, std::size_t count, std::array<double, 6> &out,
             bool positive, std::size_t finite_only_from, Complaint &c)
{
    if (v.type != Type::kArray || v.items.size() != count)
        return complain(c, v, field + ": must be a list of " + std::to_string(count) + " numbers (got " +
                                  (v.type == Type::kArray ? std::to_string(v.items.size()) + " items" : describe(v)) +
                                  ")");
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = field + "[" + std::to_string(i) + "]";
        const double limit = i < finite_only_from ? kMaxCoordinate : HUGE_VAL;
        if (!number_in(v.items[i], name, -limit, limit, positive, out[i], c))
            return false;
    }
    return true;
}

/* Plain constant data, never destroyed: the view's threads describe the
 * scene while the process runs its exit routines (the view's hold at exit),
 * after a static with a destructor would be gone. */
struct ShapeInfo {
    const char *name;
    shapes::SolidKind kind;
    std::array<const char *, 3> field_slots; /* after name and shape */
    std::size_t field_count;

    const char *const *begin() const { return field_slots.data(); }
    const char *const *end() const { return field_slots.data() + field_count; }
};

constexpr std::array<ShapeInfo, 4> kShapes = {{
    {"box", shapes::SolidKind::kBox, {{"pose", "size", nullptr}}, 2},
    {"cylinder", shapes::SolidKind::kCylinder, {{"pose", "radius", "length"}}, 3},
    {"sphere", shapes::SolidKind::kSphere, {{"centre", "radius", nullptr}}, 2},
    {"plane", shapes::SolidKind::kHalfSpace, {{"pose", nullptr, nullptr}}, 1},
}};

const std::array<ShapeInfo, 4> &shape_table() { return kShapes; }

const ShapeInfo &info(shapes::SolidKind kind)
{
    for (const ShapeInfo &s : shape_table())
        if (s.kind == kind)
            return s;
    return shape_table().front();
}

std::string field_list(const ShapeInfo &s)
{
    std::string out = "name, shape";
    for (const char *f : s)
        out += std::string(", ") + f;
    return out;
}

bool parse_object(const JsonValue &v, Object &out, Complaint &c)
{
    if (v.type != Type::kObject)
        return complain(c, v, "an object must be a JSON object with name and shape (got " + describe(v) + ")");
    const JsonValue *name = v.find("name");
    if (!name)
        return complain(c, v, "name: missing");
    if (name->type != Type::kString)
        return complain(c, *name, "name: must be a string (got " + describe(*name) + ")");
    if (name->text.empty() || name->text.size() > kMaxNameBytes)
        return complain(c, *name, "name: must be 1 to " + std::to_string(kMaxNameBytes) + " bytes of text");
    const JsonValue *shape = v.find("shape");
    if (!shape)
        return complain(c, v, "shape: missing (box, cylinder, sphere or plane)");
    const ShapeInfo *kind = nullptr;
    for (const ShapeInfo &s : shape_table())
        if (shape->type == Type::kString && shape->text == s.name)
            kind = &s;
    if (!kind)
        return complain(c, *shape, "shape: must be box, cylinder, sphere or plane (got " +
                                       (shape->type == Type::kString ? "\"" + shape->text + "\"" : describe(*shape)) +
                                       ")");
    for (const auto &member : v.members) {
        bool known = member.first == "name" || member.first == "shape";
        for (const char *f : *kind)
            known = known || member.first == f;
        if (!known)
            return complain(c, member.second, "unknown member \"" + member.first + "\" (a " + kind->name +
                                                  " has " + field_list(*kind) + ")");
    }
    for (const char *f : *kind)
        if (!v.find(f))
            return complain(c, v, std::string(f) + ": missing (a " + kind->name + " has " + field_list(*kind) + ")");

    Object o;
    o.name = name->text;
    o.kind = kind->kind;
    std::array<double, 6> three{};
    switch (o.kind) {
    case shapes::SolidKind::kBox:
        if (!numbers(*v.find("pose"), "pose", 6, o.pose, false, 3, c) ||
            !numbers(*v.find("size"), "size", 3, three, true, 3, c))
            return false;
        o.size = {three[0], three[1], three[2]};
        o.solid = shapes::make_box(to_pose(o.pose), shapes::Vec(three[0], three[1], three[2]));
        break;
    case shapes::SolidKind::kCylinder:
        if (!numbers(*v.find("pose"), "pose", 6, o.pose, false, 3, c) ||
            !number_in(*v.find("radius"), "radius", 0, kMaxCoordinate, true, o.radius, c) ||
            !number_in(*v.find("length"), "length", 0, kMaxCoordinate, true, o.length, c))
            return false;
        o.solid = shapes::make_cylinder(to_pose(o.pose), o.radius, o.length);
        break;
    case shapes::SolidKind::kSphere:
        if (!numbers(*v.find("centre"), "centre", 3, o.pose, false, 3, c) ||
            !number_in(*v.find("radius"), "radius", 0, kMaxCoordinate, true, o.radius, c))
            return false;
        o.solid = shapes::make_sphere(shapes::Vec(o.pose[0], o.pose[1], o.pose[2]), o.radius);
        break;
    case shapes::SolidKind::kHalfSpace:
        if (!numbers(*v.find("pose"), "pose", 6, o.pose, false, 3, c))
            return false;
        o.solid = shapes::make_half_space(to_pose(o.pose));
        break;
    }
    out = std::move(o);
    return true;
}

void six(JsonObject &o, const char *name, const std::array<double, 6> &v, std::size_t count)
{
    Json j(o.key(name));
    j.begin_array();
    for (std::size_t i = 0; i < count; ++i)
        j.number(v[i]);
    j.end_array();
}

} // namespace

Object floor()
{
    Object o;
    o.name = "floor";
    o.kind = shapes::SolidKind::kHalfSpace;
    o.solid = shapes::make_half_space(shapes::Pose::Identity());
    return o;
}

shapes::Pose to_pose(const std::array<double, 6> &pose)
{
    shapes::Pose p = shapes::Pose::Identity();
    p.linear() = rpy_matrix(pose[3], pose[4], pose[5]);
    p.translation() = shapes::Vec(pose[0], pose[1], pose[2]);
    return p;
}

bool valid_pose(const std::array<double, 6> &pose, const char *field, std::string &why)
{
    for (std::size_t i = 0; i < 6; ++i) {
        const std::string name = std::string(field) + "[" + std::to_string(i) + "]";
        if (!std::isfinite(pose[i])) {
            why = name + ": must be a finite number (got " + shown(pose[i]) + ")";
            return false;
        }
        if (i < 3 && std::abs(pose[i]) > kMaxCoordinate) {
            why = name + ": must be a number from " + shown(-kMaxCoordinate) + " to " + shown(kMaxCoordinate) +
                  " (got " + shown(pose[i]) + ")";
            return false;
        }
    }
    return true;
}

bool object_from_json(const JsonValue &value, Object &out, std::string &why)
{
    Complaint c;
    if (parse_object(value, out, c))
        return true;
    why = c.what;
    return false;
}

bool scene_from_json(const std::string &text, std::vector<Object> &out, std::string &why)
{
    JsonValue v;
    if (!parse_json(text, v, why))
        return false;
    if (v.type != JsonValue::Type::kArray) {
        why = "line " + std::to_string(v.line) + ": a scene must be a JSON list of objects (got " + describe(v) + ")";
        return false;
    }
    if (v.items.size() > kMaxObjects) {
        why = "line " + std::to_string(v.line) + ": more than " + std::to_string(kMaxObjects) + " objects";
        return false;
    }
    std::vector<Object> objects;
    std::set<std::string> names;
    for (std::size_t i = 0; i < v.items.size(); ++i) {
        Object o;
        Complaint c;
        const bool ok = parse_object(v.items[i], o, c);
        if (ok && !names.insert(o.name).second) {
            c.what = "name: \"" + o.name + "\" is in the scene already";
            c.line = v.items[i].find("name")->line;
        }
        if (!ok || !c.what.empty()) {
            why = "line " + std::to_string(c.line) + ": object " + std::to_string(i + 1) + ": " + c.what;
            return false;
        }
        objects.push_back(std::move(o));
    }
    out = std::move(objects);
    return true;
}

bool read_file(const std::string &path, std::vector<Object> &out, std::string &why)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) {
        why = path + ": cannot be read";
        return false;
    }
    std::string text;
    char buffer[8192];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > kMaxFileBytes) {
            why = path + ": larger than " + std::to_string(kMaxFileBytes) + " bytes";
            return false;
        }
    }
    if (in.bad()) {
        why = path + ": cannot be read";
        return false;
    }
    if (!scene_from_json(text, out, why)) {
        why = path + ", " + why;
        return false;
    }
    return true;
}

void write_object(std::string &out, const Object &object)
{
    JsonObject o(out);
    o.text("name", object.name);
    o.text("shape", info(object.kind).name);
    switch (object.kind) {
    case shapes::SolidKind::kBox:
        six(o, "pose", object.pose, 6);
        o.numbers("size", {object.size[0], object.size[1], object.size[2]});
        break;
    case shapes::SolidKind::kCylinder:
        six(o, "pose", object.pose, 6);
        o.number("radius", object.radius);
        o.number("length", object.length);
        break;
    case shapes::SolidKind::kSphere:
        six(o, "centre", object.pose, 3);
        o.number("radius", object.radius);
        break;
    case shapes::SolidKind::kHalfSpace:
        six(o, "pose", object.pose, 6);
        break;
    }
}

std::string to_json(const std::vector<Object> &objects)
{
    std::string out = "[";
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (i)
            out += ", ";
        write_object(out, objects[i]);
    }
    out += ']';
    return out;
}

} // namespace scene
} // namespace zsim
