/*
 * The view's copy of the simulation, and its JSON (snapshot.h).
 */
#include "view/snapshot.h"

#include "core/arm_limits.h"
#include "core/io.h"
#include "core/json.h"
#include "core/kinematics.h"
#include "core/readout.h"
#include "core/scene.h"

namespace zsim {
namespace view {

namespace {

void six(JsonObject &o, const char *name, const Joints &q)
{
    o.numbers(name, {q[0], q[1], q[2], q[3], q[4], q[5]});
}

void six(JsonObject &o, const char *name, const CartPose &p)
{
    o.numbers(name, {p.tran.x, p.tran.y, p.tran.z, p.rpy.rx, p.rpy.ry, p.rpy.rz});
}

void flag(JsonObject &o, const char *name, bool value) { o.key(name) += value ? "true" : "false"; }

void lamps(JsonObject &o, const char *name, const std::array<std::int32_t, kMaxChannels> &values, int count)
{
    Json j(o.key(name));
    j.begin_array();
    for (int n = 0; n < count; ++n)
        j.integer(values[static_cast<std::size_t>(n)] != 0);
    j.end_array();
}

constexpr const char *kIoNames[kIoTypes] = {"cabinet", "tool", "extension"};

void point(JsonObject &o, const char *name, const Eigen::Vector3d &v) { o.numbers(name, {v.x(), v.y(), v.z()}); }

/* The arm's place in the world: its base, its body's capsules and its contacts (world frame). */
void write_world(JsonObject &o, const WorldReadout &w)
{
    if (w.placed)
        o.numbers("base", {w.base[0], w.base[1], w.base[2], w.base[3], w.base[4], w.base[5]});
    else
        o.key("base") += "null";
    std::string &body = o.key("body");
    body += '[';
    for (int n = 0; n < w.body.count; ++n) {
        if (n)
            body += ", ";
        const shapes::Capsule &c = w.body.capsules[static_cast<std::size_t>(n)];
        JsonObject capsule(body);
        capsule.integer("link", w.body.part[static_cast<std::size_t>(n)]);
        point(capsule, "from", c.a);
        point(capsule, "to", c.b);
        capsule.number("radius", c.radius);
    }
    body += ']';
    std::string &contacts = o.key("contacts");
    contacts += '[';
    for (std::size_t n = 0; n < w.contacts.size(); ++n) {
        if (n)
            contacts += ", ";
        const Contact &c = w.contacts[n];
        JsonObject contact(contacts);
        contact.integer("link", c.link);
        point(contact, "point", c.point);
        point(contact, "normal", c.normal);
        contact.number("depth", c.depth);
        contact.text("with", with_name(c.with));
        contact.text("other", c.other);
        contact.integer("other_link", c.other_link);
    }
    contacts += ']';
}

void write_arm(std::string &out, const ControllerReadout &a)
{
    JsonObject o(out);
    o.text("address", a.address);
    six(o, "joints", a.joints);
    o.number("joints_time", a.joints_time);
    {
        Json limits(o.key("at_limit"));
        limits.begin_array();
        for (std::size_t j = 0; j < 6; ++j)
            limits.boolean(arm::at_limit(j, a.joints[j]));
        limits.end_array();
    }
    six(o, "tcp", to_cart(a.tcp()));
    o.integer("tool_id", a.tool.id);
    six(o, "tool", a.tool.data);
    o.integer("user_frame_id", a.user_frame.id);
    six(o, "user_frame", a.user_frame.data);
    if (a.target)
        six(o, "target", *a.target);
    else
        o.key("target") += "null";
    flag(o, "shut_down", a.shut_down);
    flag(o, "powered", a.powered);
    flag(o, "enabled", a.enabled);
    flag(o, "collision", a.collision);
    flag(o, "servo_mode", a.servo_mode);
    flag(o, "drag", a.drag);
    flag(o, "in_position", a.in_position);
    o.integer("queued", static_cast<long long>(a.queued));
    o.number("rapid_rate", a.rapid_rate);
    {
        JsonObject e(o.key("error"));
        e.integer("code", a.error);
        e.text("message", a.error_message);
    }
    {
        JsonObject p(o.key("program"));
        p.text("name", a.program.name);
        p.integer("line", a.program.line);
        p.integer("state", a.program.state);
    }
    write_world(o, a.world);
    {
        JsonObject t(o.key("torques"));
        six(t, "joints", a.torques.torques);
        six(t, "difference", a.torques.difference);
        six(t, "threshold", a.torques.threshold);
    }
    JsonObject io(o.key("io"));
    for (int type = 0; type < kIoTypes; ++type) {
        JsonObject t(io.key(kIoNames[type]));
        lamps(t, "in", a.io.digital_in[static_cast<std::size_t>(type)], kIoChannels[type][kDigitalIn]);
        lamps(t, "out", a.io.digital_out[static_cast<std::size_t>(type)], kIoChannels[type][kDigitalOut]);
    }
}

} // namespace

Snapshot take_snapshot()
{
    return Snapshot{read_simulation(kReadIo | kReadProgram | kReadWorld | kReadTorques), 0};
}

std::string state_json(const Snapshot &snapshot)
{
    const std::vector<ControllerReadout> &arms = snapshot.simulation.controllers;
    std::string out;
    out.reserve(1024 + 1536 * arms.size());
    JsonObject o(out);
    o.number("time_scale", snapshot.simulation.time_scale);
    o.integer("viewers", snapshot.viewers);
    o.key("scene") += scene::to_json(snapshot.simulation.scene);
    o.text("script", snapshot.script_ended ? "ended" : "running");
    std::string &list = o.key("controllers");
    list += '[';
    for (std::size_t n = 0; n < arms.size(); ++n) {
        if (n)
            list += ", ";
        write_arm(list, arms[n]);
    }
    list += ']';
    return out;
}

std::string arm_json()
{
    std::string out;
    JsonObject o(out);
    {
        Json rows(o.key("dh"));
        rows.begin_array();
        for (const arm::DhRow &row : arm::kDh) {
            rows.begin_array();
            rows.number(row.a);
            rows.number(row.alpha);
            rows.number(row.d);
            rows.end_array();
        }
        rows.end_array();
    }
    six(o, "lower_limit", arm::kLowerLimit);
    six(o, "upper_limit", arm::kUpperLimit);
    six(o, "max_speed", arm::kMaxSpeed);
    six(o, "home", arm::kHome);
    JsonObject io(o.key("io"));
    for (int type = 0; type < kIoTypes; ++type)
        io.numbers(kIoNames[type], {static_cast<double>(kIoChannels[type][kDigitalIn]),
                                    static_cast<double>(kIoChannels[type][kDigitalOut])});
    return out;
}

} // namespace view
} // namespace zsim
