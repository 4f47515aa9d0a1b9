/*
 * Readouts of controllers (readout.h): the one place that copies what a
 * controller shows out of it.
 */
#include "readout.h"

#include "controller.h"
#include "cycle.h"
#include "procedures.h"
#include "segment.h"
#include "torque_monitor.h"
#include "world.h"

namespace zsim {

namespace {

/* Where the front motion ends, when that is known: a continuous jog runs
 * until stopped (jogs are not told apart, so no jog shows a target), a
 * program or payload identification moves on its own, and a servo stream
 * heads for its latest set-point. */
std::optional<Joints> current_target(const Controller &c)
{
    if (c.queue.empty())
        return std::nullopt;
    if (c.servo_mode)
        return c.planned_end;
    const QueuedSegment &front = c.queue.front();
    if (front.segment->owns_arm() || front.segment->jog_axis() >= 0)
        return std::nullopt;
    return front.end;
}

FrameInUse frame_in_use(const std::array<NamedFrame, kFrameSlots> &frames, int id)
{
    const NamedFrame &f = frames[static_cast<std::size_t>(id)];
    return {id, f.data, f.pose};
}

ProgramReadout program_of(const Controller &c)
{
    ProgramReadout p;
    if (c.program.loaded)
        p.name = c.program.loaded->name;
    p.line = c.program.line;
    p.state = program_state(c.program);
    return p;
}

SettingsReadout settings_of(const Controller &c)
{
    SettingsReadout s;
    s.collision_level = c.collision_level;
    s.payload = c.payload;
    s.link = c.link;
    s.force = c.force; /* the plain settings, without the identification's motion */
    s.identify_status = identify_status(c.force);
    s.recording.active = c.recorder.active;
    if (c.recorder.active)
        s.recording.name = c.recorder.name;
    s.recording.samples = c.recorder.taken.samples.size();
    return s;
}

/* The world's part of each readout, from a copy of the world (no lock needed). */
void fill_world(std::vector<ControllerReadout> &readouts, const world::Readout &copy)
{
    for (std::size_t n = 0; n < copy.arms.size(); ++n) {
        const world::ArmInWorld &arm = copy.arms[n];
        for (ControllerReadout &r : readouts) {
            if (r.address != arm.address || !(r.parts & kReadWorld))
                continue;
            r.world.placed = arm.placed;
            r.world.base = arm.base;
            r.world.solid = !arm.ghost;
            if (!arm.ghost)
                r.world.body = world::body_of(arm);
            world::contacts_in(copy, n, r.world.contacts);
        }
    }
}

} // namespace

Pose ControllerReadout::tcp() const
{
    static const ServoSettings kNoServo;
    return MotionContext{tool.pose, user_frame.pose, kNoServo, rapid_rate}.tcp(joints);
}

ControllerReadout readout_of(const Controller &c, unsigned parts)
{
    ControllerReadout r;
    r.parts = parts;
    r.address = c.address;
    r.joints = c.joints;
    r.joints_time = c.next_cycle - kCycle;
    r.target = current_target(c);
    r.tool = frame_in_use(c.tools, c.tool_id);
    r.user_frame = frame_in_use(c.user_frames, c.user_frame_id);
    r.shut_down = c.shut_down;
    r.powered = c.powered;
    r.enabled = c.enabled;
    r.collision = c.collision;
    r.servo_mode = c.servo_mode;
    r.drag = c.drag;
    r.in_position = c.in_position();
    r.error = c.fault;
    if (c.fault != kOk)
        r.error_message = c.message(c.fault);
    r.queued = c.queue.size();
    r.rapid_rate = c.rapid_rate;
    if (parts & kReadIo)
        r.io = c.io;
    if (parts & kReadProgram)
        r.program = program_of(c);
    if (parts & kReadSettings)
        r.settings = settings_of(c);
    if (parts & kReadTorques)
        r.torques = {c.monitor.torques(), c.monitor.difference(), collision_threshold(c.collision_level)};
    return r;
}

bool read_controller(const char *address, unsigned parts, ControllerReadout &out)
{
    world::Readout copy;
    {
        Lock lock(library_mutex());
        const std::shared_ptr<Controller> c = find_controller(address);
        if (!c)
            return false;
        out = readout_of(*c, parts);
        if (parts & kReadWorld)
            copy = world::read();
    }
    if (parts & kReadWorld) {
        std::vector<ControllerReadout> one(1, std::move(out));
        fill_world(one, copy);
        out = std::move(one.front());
    }
    return true;
}

SimulationReadout read_simulation(unsigned parts)
{
    SimulationReadout s;
    world::Readout copy;
    {
        Lock lock(library_mutex());
        s.time_scale = motion::time_scale();
        each_controller([&s, parts](const Controller &c) { s.controllers.push_back(readout_of(c, parts)); });
        if (parts & kReadWorld)
            copy = world::read();
    }
    if (parts & kReadWorld) { /* the bodies and contacts are computed without the lock */
        fill_world(s.controllers, copy);
        s.scene = std::move(copy.objects);
    }
    return s;
}

} // namespace zsim
