/*
 * The virtual controller's error codes and their messages.
 *
 * Every entry point returns one of these (or a code the probe injected). The
 * table below is the documented one (docs/virtual-controller.md); a controller
 * may override messages from a file (set_errorcode_file_path).
 */
#ifndef ZSIM_ERRORS_H
#define ZSIM_ERRORS_H

#include "zandrelAPI.h"

#include <map>
#include <string>

namespace zsim {

constexpr ErrorCode kOk = 0;
constexpr ErrorCode kUnknownHandle = 1;     /* the handle was never given out, or was destroyed */
constexpr ErrorCode kInvalidArgument = 2;   /* null pointer, non-finite number, value out of range */
constexpr ErrorCode kNotPowered = 3;
constexpr ErrorCode kNotEnabled = 4;
constexpr ErrorCode kBusy = 5;              /* a motion is running or queued, or a queue is full */
constexpr ErrorCode kUnreachable = 6;       /* no inverse kinematics solution within the joint limits */
constexpr ErrorCode kJointLimit = 7;        /* a target beyond a joint limit, or a motion that reached one */
constexpr ErrorCode kCollision = 8;         /* protective stop; collision_recover clears it */
constexpr ErrorCode kServoActive = 9;       /* ordinary motion refused while servo mode is on */
constexpr ErrorCode kFileNotFound = 10;
constexpr ErrorCode kIoRange = 11;          /* unknown IO type, or channel index out of range */
constexpr ErrorCode kFaultActive = 12;      /* the controller is in an error state: clear_error first */
constexpr ErrorCode kShutDown = 13;         /* the controller was shut down */
constexpr ErrorCode kAborted = 14;          /* motion_abort, disable, power off or reset ended the motion */
constexpr ErrorCode kSingularity = 15;      /* a Cartesian path needs more than a joint's maximum speed */
constexpr ErrorCode kServoInactive = 16;    /* a servo set-point while servo mode is off */
constexpr ErrorCode kSpeedLimit = 17;       /* a servo set-point that needs more than a joint's maximum speed */
constexpr ErrorCode kBadFileName = 18;      /* empty, too long, or not a plain name inside the controller's folder */
constexpr ErrorCode kFileExists = 19;       /* a file of the new name exists already */
constexpr ErrorCode kProgramLine = 20;      /* a program line that is not a valid command */
constexpr ErrorCode kWrongState = 21;       /* not possible now (no program loaded, not paused, sensor off, ...) */
constexpr ErrorCode kFileAccess = 22;       /* a file could not be read or written */
constexpr ErrorCode kNoSafeFolder = 23;     /* the controller has no folder of its own it may use (files.h) */
constexpr ErrorCode kFileTooLarge = 24;     /* a file beyond the controller's limits on size or commands */
constexpr ErrorCode kFollowingError = 25;   /* a servo stream the arm fell too far behind (servo_segment.h) */
constexpr ErrorCode kInternal = 99;         /* the library failed inside (out of memory) */

/* The documented message of a code; "unknown error" for codes not in the table. */
const char *default_message(ErrorCode code) noexcept;

/* Message overrides read from a file of `code<TAB>message` lines. */
using MessageTable = std::map<long, std::string>;

/* Reads `path`. Empty lines and lines starting with '#' are skipped; a trailing
 * CR is dropped. Returns kFileNotFound when the file cannot be opened and
 * kInvalidArgument for a line that is not an integer, a TAB and a message, or
 * a message that is not valid UTF-8 (the table is then left as it was). */
ErrorCode read_message_file(const char *path, MessageTable &table);

} // namespace zsim

#endif /* ZSIM_ERRORS_H */
