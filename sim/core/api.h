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
/* A code the probe made a call return becomes the handle's controller's last
 * error (nothing for an unknown handle or a code of 0). */
void note_error(const RobotHandle *handle, ErrorCode code);

/* ---- the library's debug log, an observer of every call (debug_log.h) -------- */

bool debug_log_active();
void debug_log_write(const std::string &journal_line);

/* ---- resets: zsim_reset calls them in this order ------------------------------ */

/* Every motion ends (blocking callers get kAborted); controllers and handles
 * are forgotten; handles are numbered from 1 again. */
void forget_controllers();
/* The time scale is the default again. */
void reset_time_scale();
/* Error events not yet delivered are dropped. */
void drop_pending_events();
/* Debug mode off, no log file named. */
void reset_debug_log();

} // namespace api
} // namespace zsim

#endif /* ZSIM_API_H */
