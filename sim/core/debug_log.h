/*
 * The library's debug log: with debug mode on (set_debug_mode), every call
 * of a library function is appended to the log file as one line of JSON, the
 * call as the probe's journal writes it, with the wall-clock time in front
 * (the export layer hands every call to write(), whether or not the probe's
 * journal is on):
 *
 *   {"t": 1765152000.123456, "fn": "power_on", "args": [1]}
 *
 * t is seconds since 1970 (UTC). The file is the one named by
 * set_SDK_filepath; it is made (or appended to) when debug mode is on and a
 * file is named, in either order. Only a regular file is used: a named pipe,
 * a device or a folder is refused at once (kFileAccess), so the log never
 * blocks a call. Until a file is named, debug mode logs nothing. Debug mode and the file belong to the library as a whole, not to
 * one controller.
 *
 * Its own mutex guards it; it never takes the library lock.
 */
#ifndef ZSIM_DEBUG_LOG_H
#define ZSIM_DEBUG_LOG_H

#include "errors.h"

#include <string>

namespace zsim {
namespace debug_log {

bool active() noexcept;
/* Appends one call's journal line (a line that cannot be written is lost). */
void write(const std::string &journal_line);

/* Switches logging on (opening the file) or off: kOk, or kFileAccess when
 * the file named cannot be opened for appending as a regular file. */
ErrorCode enable(bool on);
/* Names the log file: kOk, kInvalidArgument for an empty name,
 * kFileNotFound when its folder does not exist, kFileAccess when it is a
 * folder or (debug mode on) cannot be opened for appending as a regular
 * file. */
ErrorCode choose(const char *path);

bool enabled();
std::string chosen_path();

/* Off, no file chosen: the debug log's share of zsim_reset. */
void reset();

} // namespace debug_log
} // namespace zsim

#endif /* ZSIM_DEBUG_LOG_H */
