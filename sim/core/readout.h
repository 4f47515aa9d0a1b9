/*
 * What a controller shows: one read-only copy of its state, taken under the
 * library lock, that every reader of "how is the arm" reads: the status
 * record (get_robot_status), the settings report (zsim_settings) and the
 * live view. None of them reads a controller field by field.
 *
 * A readout is plain data: it holds no pointer into the controller, and
 * nothing in it needs the lock once it is taken, so a reader copies under
 * the lock and computes and formats afterwards (tcp() below, the view's
 * JSON). It is made of parts; a reader asks for the optional ones it shows,
 * so that get_robot_status does not copy the force settings.
 *
 * To show something more: put it in the part it belongs to (or a new part:
 * its member, its bit in Part, its copy in readout.cpp), then write it
 * where it is shown. Something of the whole simulation rather than of one
 * controller goes into SimulationReadout.
 */
#ifndef ZSIM_READOUT_H
#define ZSIM_READOUT_H

#include "body.h"
#include "contact.h"
#include "errors.h"
#include "force.h"
#include "io.h"
#include "kinematics.h"
#include "scene.h"
#include "zandrelAPI.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zsim {

struct Controller;

/* The optional parts of a readout, as bits; the basics (below) are always taken. */
enum ReadoutPart : unsigned {
    kReadIo = 1u << 0,       /* the IO bank */
    kReadProgram = 1u << 1,  /* the loaded program and where it runs */
    kReadSettings = 1u << 2, /* what no library getter reports (force control, payload, link, recorder) */
    kReadWorld = 1u << 3,    /* where the arm stands in the world: its base, body, contacts; the scene */
    kReadTorques = 1u << 4,  /* what its joints feel: the torque monitor's latest reading */
    kReadEverything = ~0u,
};

/* A tool (flange to TCP) or user frame (base to the user frame) in use. */
struct FrameInUse {
    std::int32_t id = 0;
    CartPose data{};          /* as set (mm, rad) */
    Pose pose = Pose::Identity();
};

struct ProgramReadout {
    std::string name;         /* the loaded program's, empty when none */
    std::int32_t line = 0;    /* the line running, or where the latest run stopped */
    std::uint32_t state = 0;  /* get_program_state's code */
};

struct RecorderReadout {
    bool active = false;
    std::string name;         /* the trajectory being recorded, empty when none */
    std::size_t samples = 0;  /* taken so far, or by the latest recording */
};

struct SettingsReadout {
    std::int32_t collision_level = 0;
    PayloadData payload{};
    LinkSettings link;
    ForceSettings force;
    std::int32_t identify_status = 0; /* get_torq_sensor_identify_staus's code */
    RecorderReadout recording;
};

/* The arm in the world (world.h, body.h): computed from a copy taken under
 * the lock, after it is released. */
struct WorldReadout {
    bool placed = false;              /* its base was placed (set_base) */
    std::array<double, 6> base{};     /* as placed, zeros when not */
    bool solid = true;                /* it has a body (set_body) */
    body::Body body;                  /* its capsules in the world frame (none without a body) */
    std::vector<Contact> contacts;    /* what it touches now, world frame; a self-collision stop's pair */
};

/* What the joints feel (torque_monitor.h), at the monitor's latest reading:
 * every cycle of a motion, once the arm comes to rest, and whenever the
 * wrench on it or a payload changes. N m. */
struct TorqueReadout {
    Joints torques{};     /* what the joints give: the arm as it is */
    Joints difference{};  /* less what the controller expects: what collision detection judges */
    Joints threshold{};   /* the collision level's; zeros with detection off */
};

struct ControllerReadout {
    unsigned parts = 0;       /* the optional parts it holds (ReadoutPart bits) */

    /* ---- the basics ---- */
    std::string address;
    Joints joints{};          /* rad */
    /* When the arm stood at `joints`, in simulated seconds: its latest cycle
     * (constant at rest; at time scale 0 a whole motion takes no time). Two
     * readouts give the joints' speeds. */
    double joints_time = 0;
    std::optional<Joints> target; /* where the current motion ends, when that is known */
    FrameInUse tool, user_frame;
    bool shut_down = false, powered = false, enabled = false, collision = false;
    bool servo_mode = false, drag = false;
    bool in_position = true;  /* is_in_pos */
    ErrorCode error = kOk;    /* the error state's code, kOk when none */
    std::string error_message; /* its text (the controller's own, if set), empty when none */
    std::size_t queued = 0;   /* motions queued, the running one included */
    double rapid_rate = 1;

    /* ---- the optional parts: default values unless asked for ---- */
    IoBank io;                /* kReadIo */
    ProgramReadout program;   /* kReadProgram */
    SettingsReadout settings; /* kReadSettings */
    WorldReadout world;       /* kReadWorld */
    TorqueReadout torques;    /* kReadTorques */

    /* The TCP in the user frame in use (get_tcp_position). */
    Pose tcp() const;
};

struct SimulationReadout {
    double time_scale = 1;
    std::vector<ControllerReadout> controllers; /* every controller, in address order */
    std::vector<scene::Object> scene;           /* the scene's objects (kReadWorld) */
};

/* The readout of one controller (the library lock held). */
ControllerReadout readout_of(const Controller &c, unsigned parts);

/* The readout of the controller at `address` (takes the lock); false for an
 * unknown address. */
bool read_controller(const char *address, unsigned parts, ControllerReadout &out);

/* The readout of every controller (takes the lock). */
SimulationReadout read_simulation(unsigned parts);

} // namespace zsim

#endif /* ZSIM_READOUT_H */
