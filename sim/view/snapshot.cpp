/*
 * The view's copy of the simulation, and its JSON (snapshot.h).
 */
#include "view/snapshot.h"

#include "core/controller.h"
#include "core/json.h"
#include "core/procedures.h"
#include "core/segments.h"

namespace zsim {
namespace view {

namespace {

/* Where the front motion ends, when that is known: a continuous jog runs
 * until stopped (jogs are not told apart, so no jog shows a target), a
 * program or payload identification moves on its own, and a servo stream
 * heads for its latest set-point. */
bool current_target(const Controller &c, Joints &target)
{
    if (c.queue.empty())
        return false;
    if (c.servo_mode) {
        target = c.planned_end;
        return true;
    }
    const QueuedSegment &front = c.queue.front();
    if (front.segment->owns_arm() || front.segment->jog_axis() >= 0)
        return false;
    target = front.end;
    return true;
}

ArmSnapshot copy_of(const Controller &c)
{
    ArmSnapshot a;
    a.address = c.address;
    a.joints = c.joints;
    a.tool_id = c.tool_id;
    a.user_frame_id = c.user_frame_id;
    const NamedFrame &tool = c.tools[static_cast<std::size_t>(c.tool_id)];
    const NamedFrame &user = c.user_frames[static_cast<std::size_t>(c.user_frame_id)];
    a.tool = tool.data;
    a.tool_pose = tool.pose;
    a.user_frame = user.data;
    a.user_pose = user.pose;
    a.has_target = current_target(c, a.target);
    a.shut_down = c.shut_down;
    a.powered = c.powered;
    a.enabled = c.enabled;
    a.collision = c.collision;
    a.servo_mode = c.servo_mode;
    a.drag = c.drag;
    a.error = c.fault;
    if (c.fault != kOk)
        a.error_message = c.message(c.fault);
    a.in_position = c.in_position();
    a.queued = c.queue.size();
    a.rapid_rate = c.rapid_rate;
    if (c.program.loaded)
        a.program = c.program.loaded->name;
    a.program_line = c.program.line;
    a.program_state = program_state(c.program);
    a.io = c.io;
    return a;
}

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

void write_arm(std::string &out, const ArmSnapshot &a)
{
    JsonObject o(out);
    o.text("address", a.address);
    six(o, "joints", a.joints);
    static const ServoSettings kNoServo;
    const MotionContext ctx{a.tool_pose, a.user_pose, kNoServo, a.rapid_rate};
    six(o, "tcp", to_cart(ctx.tcp(a.joints)));
    o.integer("tool_id", a.tool_id);
    six(o, "tool", a.tool);
    o.integer("user_frame_id", a.user_frame_id);
    six(o, "user_frame", a.user_frame);
    if (a.has_target)
        six(o, "target", a.target);
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
        p.text("name", a.program);
        p.integer("line", a.program_line);
        p.integer("state", a.program_state);
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
    Snapshot s;
    Lock lock(library_mutex());
    s.time_scale = motion::time_scale();
    each_controller([&s](const Controller &c) { s.arms.push_back(copy_of(c)); });
    return s;
}

std::string state_json(const Snapshot &snapshot)
{
    std::string out;
    out.reserve(1024 + 1536 * snapshot.arms.size());
    JsonObject o(out);
    o.number("time_scale", snapshot.time_scale);
    o.integer("viewers", snapshot.viewers);
    std::string &list = o.key("controllers");
    list += '[';
    for (std::size_t n = 0; n < snapshot.arms.size(); ++n) {
        if (n)
            list += ", ";
        write_arm(list, snapshot.arms[n]);
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
    six(o, "home", arm::kHome);
    JsonObject io(o.key("io"));
    for (int type = 0; type < kIoTypes; ++type)
        io.numbers(kIoNames[type], {static_cast<double>(kIoChannels[type][kDigitalIn]),
                                    static_cast<double>(kIoChannels[type][kDigitalOut])});
    return out;
}

} // namespace view
} // namespace zsim
