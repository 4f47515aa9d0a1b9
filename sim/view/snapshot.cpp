/*
 * The view's copy of the simulation, and its JSON (snapshot.h).
 */
#include "view/snapshot.h"

#include "core/arm_limits.h"
#include "core/io.h"
#include "core/json.h"
#include "core/kinematics.h"
#include "core/readout.h"

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
    return Snapshot{read_simulation(kReadIo | kReadProgram), 0};
}

std::string state_json(const Snapshot &snapshot)
{
    const std::vector<ControllerReadout> &arms = snapshot.simulation.controllers;
    std::string out;
    out.reserve(1024 + 1536 * arms.size());
    JsonObject o(out);
    o.number("time_scale", snapshot.simulation.time_scale);
    o.integer("viewers", snapshot.viewers);
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
