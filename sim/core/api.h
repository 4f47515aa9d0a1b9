/*
 * The simulator core's interface: what the export layer (edge/) forwards to.
 *
 * zsim::api::<name> is the behaviour of the library function <name>, with the
 * header's own signature (library_functions.def lists them); it knows nothing
 * of the probe's journal or injections. Beside them are the controls a test
 * drives the simulation with (time scale, inputs, faults, what the
 * controller keeps) and each unit's share of zsim_reset.
 *
 * Every function may throw (std::bad_alloc); the export layer's guard
 * (boundary.h) turns that into a failure code.
 */
#ifndef ZSIM_API_H
#define ZSIM_API_H

#include "zandrelAPI.h"

#include <string>

namespace zsim {
namespace api {

/* ---- the library's functions ---------------------------------------------- */

#define ZSIM_FUNCTION(name, count) decltype(::name) name;
#include "library_functions.def"
#undef ZSIM_FUNCTION

/* ---- controls of the simulation (zsim_probe.h says what each does) ----------- */

/* 0, or -1 for a negative or non-finite factor. */
int set_time_scale(double factor);
/* 0, or -1 for a negative or non-finite number of seconds. */
int advance_time(double seconds);
/* 0, or -1 for an unknown address, IO type, channel or value. */
int set_digital_input(const char *address, int iotype, int index, int value);
int set_analog_input(const char *address, int iotype, int index, float value);
/* 0, or -1 for an unknown or shut-down controller or a code of 0. */
int trigger_fault(const char *address, int code);
/* The same fault, due after `seconds` of simulated time or after `cycles`
 * cycles of the arm's motion (fault_schedule.h): 0, or -1 as trigger_fault
 * and for a negative or non-finite delay. */
int trigger_fault_after(const char *address, int code, double seconds);
int trigger_fault_after_cycles(const char *address, int code, long cycles);
/* Simulated time now, seconds. */
double simulated_time();
/* The address a handle was given out for since the last reset (true), open
 * or closed; false for a handle never given out. */
bool handle_address(int handle, std::string &address);
/* The controller's folder (true), or why it has none (false). */
bool home(std::string &text);
/* What the controller at `address` keeps and no getter reports, as a JSON
 * object; false for an unknown address. */
bool describe_settings(const char *address, std::string &json);
/* Holds the library lock from a thread of the library for at most
 * `milliseconds` (> 0) and returns once it is held: 0, or -1 when a hold is
 * under way. With 0 lets it go: 0 when this ended the hold, 1 when it had
 * already ended by its time, -1 when there was none. A test sees with it
 * which calls wait for the lock. */
int hold_library_lock(int milliseconds);
/* The arm's joint torques now (N m): 0, or -1 for an unknown address. */
int joint_torques(const char *address, double torques[6]);
/* The payload the arm really carries (mass kg, centre x, y, z mm in the
 * flange frame), or with null the declared one again: 0, or -1 for an
 * unknown address or a payload out of range. */
int set_actual_payload(const char *address, const double *payload);
/* A wrench at the TCP (N, N m, base frame) until replaced; null or zeros
 * clear it: 0, or -1 for an unknown address or a non-finite number. */
int apply_wrench(const char *address, const double *force, const double *torque);
/* The inverse dynamics of the arm's model, as a pure function: 0, or -1
 * for a bad argument (zsim_probe.h has the layout). */
int inverse_dynamics(const double *q, const double *v, const double *a, const double *payload,
                     const double *gravity, const double *forces, int count, double *torques);
/* A code the probe made a call return becomes the handle's controller's last
 * error (nothing for an unknown handle or a code of 0). */
void note_error(const RobotHandle *handle, ErrorCode code);

/* ---- the world: the scene and the arms' bases (world.h) ---------------------- */

/* Each returns 0, or -1 with `why` naming the field (or the file's line)
 * that is wrong; a refused change leaves the world as it was. */

/* Places the arm of `address` (pose: x, y, z mm, rx, ry, rz rad). */
int set_base(const char *address, const double *pose, std::string &why);
/* Gives the arm of `address` its body back (solid), or takes it away. */
int set_body(const char *address, bool solid, std::string &why);
/* An object in its JSON form (scene.h). */
int add_object(const char *json, std::string &why);
/* -1 for no object of that name. */
int remove_object(const char *name, std::string &why);
void clear_scene();
/* A whole scene: a JSON list of objects, or a file of one. */
int set_scene(const char *json, std::string &why);
int load_scene(const char *path, std::string &why);
/* The scene as a JSON list; the placed bases as {address: pose}. */
std::string scene_json();
std::string bases_json();
/* The contacts of the controller at `address` now, as a JSON list; false
 * for an unknown address. */
bool contacts_json(const char *address, std::string &json);

/* ---- the library's debug log, an observer of every call (debug_log.h) -------- */

bool debug_log_active();
void debug_log_write(const std::string &journal_line);

/* ---- resets: zsim_reset calls them in this order ------------------------------ */

/* A hold of the library lock (hold_library_lock) ends. */
void end_library_lock_hold();
/* Every motion ends (blocking callers get kAborted); controllers and handles
 * are forgotten; handles are numbered from 1 again. */
void forget_controllers();
/* The time scale is the default again. */
void reset_time_scale();
/* Error events not yet delivered are dropped. */
void drop_pending_events();
/* Debug mode off, no log file named. */
void reset_debug_log();
/* The scene the process started with (ZSIM_SCENE's, or the floor), no
 * bases, every arm with its body. */
void reset_world();

} // namespace api
} // namespace zsim

#endif /* ZSIM_API_H */
