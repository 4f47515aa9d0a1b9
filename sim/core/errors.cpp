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
#define ZSIM_ERROR_CODE(number, constant, family, phrase, text) \
    case constant: return text;
#include "error_codes.def"
#undef ZSIM_ERROR_CODE
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
