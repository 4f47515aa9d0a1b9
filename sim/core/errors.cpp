/*
 * Error messages and the reader of message override files.
 */
#include "errors.h"

#include "text.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

namespace zsim {

const char *default_message(ErrorCode code) noexcept
{
    switch (code) {
    case kOk: return "success";
    case kUnknownHandle: return "unknown or destroyed handle";
    case kInvalidArgument: return "invalid argument";
    case kNotPowered: return "the arm is not powered";
    case kNotEnabled: return "the arm is not enabled";
    case kBusy: return "busy: a motion is running or a queue is full";
    case kUnreachable: return "target or path out of reach";
    case kJointLimit: return "joint limit";
    case kCollision: return "collision: protective stop";
    case kServoActive: return "servo mode is active";
    case kFileNotFound: return "file not found";
    case kIoRange: return "IO type or channel out of range";
    case kFaultActive: return "the controller is in an error state";
    case kShutDown: return "the controller is shut down";
    case kAborted: return "motion aborted";
    case kSingularity: return "path too close to a singularity";
    case kServoInactive: return "servo mode is not active";
    case kSpeedLimit: return "joint speed limit";
    case kBadFileName: return "bad file name";
    case kFileExists: return "a file of that name exists";
    case kProgramLine: return "program error: not a valid command";
    case kWrongState: return "not possible in the present state";
    case kFileAccess: return "a file could not be read or written";
    case kNoSafeFolder: return "the controller has no safe folder for its files";
    case kFileTooLarge: return "file too large for the controller";
    case kFollowingError: return "following error: the arm fell a quarter turn behind the servo stream";
    case kInternal: return "internal error";
    default: return "unknown error";
    }
}

ErrorCode read_message_file(const char *path, MessageTable &table)
{
    if (!path || !*path)
        return kInvalidArgument;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return kFileNotFound;
    MessageTable read;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const auto tab = line.find('\t');
        if (tab == std::string::npos || tab == 0)
            return kInvalidArgument;
        const std::string number = line.substr(0, tab);
        char *end = nullptr;
        errno = 0;
        const long code = std::strtol(number.c_str(), &end, 10);
        if (errno != 0 || end != number.c_str() + number.size())
            return kInvalidArgument;
        std::string message = line.substr(tab + 1);
        if (!text::valid_utf8(message)) /* get_last_error hands it to a strict decoder */
            return kInvalidArgument;
        read[code] = std::move(message);
    }
    if (in.bad())
        return kFileNotFound;
    for (auto &entry : read)
        table[entry.first] = std::move(entry.second);
    return kOk;
}

} // namespace zsim
