/*
 * The objects of the scene as data: what each is, its checks, and its plain
 * form, the JSON object that the probe takes and gives back and that a
 * scene file (ZSIM_SCENE) lists:
 *
 *   {"name": "table", "shape": "box", "pose": [x, y, z, rx, ry, rz], "size": [sx, sy, sz]}
 *   {"name": "post", "shape": "cylinder", "pose": [...], "radius": r, "length": l}
 *   {"name": "ball", "shape": "sphere", "centre": [x, y, z], "radius": r}
 *   {"name": "floor", "shape": "plane", "pose": [...]}
 *
 * Poses are in the world frame (mm, rad, roll-pitch-yaw as everywhere): a
 * box or cylinder is centred on its pose (a cylinder's axis along the pose's
 * z), a plane is the solid half-space below the xy plane of its pose.
 *
 * Pure functions: no lock.
 */
#ifndef ZSIM_SCENE_H
#define ZSIM_SCENE_H

#include "json_reader.h"
#include "shapes.h"

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace zsim {
namespace scene {

constexpr std::size_t kMaxObjects = 256;
constexpr std::size_t kMaxNameBytes = 64;
constexpr double kMaxCoordinate = 1e5;     /* mm: every position coordinate and size */
constexpr std::size_t kMaxFileBytes = 1u << 20;

struct Object {
    std::string name;
    shapes::SolidKind kind = shapes::SolidKind::kBox;
    std::array<double, 6> pose{};   /* as given (a sphere: its centre, no turn) */
    std::array<double, 3> size{};   /* a box's edges */
    double radius = 0;              /* a cylinder's or a sphere's */
    double length = 0;              /* a cylinder's */
    shapes::Solid solid;            /* made from the above */
};

/* The floor: the plane z = 0 of the world, named "floor". */
Object floor();

/* An object from its JSON form. False, with why ("size[2]: must be a
 * positive number up to 100000 (got -1)"), for anything that is not one. */
bool object_from_json(const JsonValue &value, Object &out, std::string &why);

/* A whole scene from JSON text (a list of objects, names unique, at most
 * kMaxObjects). False with why; for text with lines, why names the line. */
bool scene_from_json(const std::string &text, std::vector<Object> &out, std::string &why);

/* A scene file: at most kMaxFileBytes of UTF-8 JSON (path in UTF-8). False
 * with why, which names the file. */
bool read_file(const std::string &path, std::vector<Object> &out, std::string &why);

/* The JSON form of an object, appended to `out`; of a scene, a list. */
void write_object(std::string &out, const Object &object);
std::string to_json(const std::vector<Object> &objects);

/* A pose given as six numbers (x, y, z mm within kMaxCoordinate, angles
 * finite): false with why naming `field`'s element. */
bool valid_pose(const std::array<double, 6> &pose, const char *field, std::string &why);

/* The pose of six numbers (roll-pitch-yaw). */
shapes::Pose to_pose(const std::array<double, 6> &pose);

} // namespace scene
} // namespace zsim

#endif /* ZSIM_SCENE_H */
