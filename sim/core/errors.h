/*
 * The virtual controller's error codes and their messages.
 *
 * Every entry point returns one of these (or a code the probe injected). The
 * codes and their messages are the rows of error_codes.def, the one table the
 * docs and velmo_arm are written from; a controller may override messages from
 * a file (set_errorcode_file_path).
 */
#ifndef ZSIM_ERRORS_H
#define ZSIM_ERRORS_H

#include "zandrelAPI.h"

#include <map>
#include <string>

namespace zsim {

/* One constant per row of error_codes.def (kOk, kInvalidArgument, ...). */
#define ZSIM_ERROR_CODE(number, constant, family, phrase, text) constexpr ErrorCode constant = number;
#include "error_codes.def"
#undef ZSIM_ERROR_CODE

/* get_last_error's record holds a message of at most 119 bytes and its NUL. */
#define ZSIM_ERROR_CODE(number, constant, family, phrase, text) \
    static_assert(sizeof(text) <= sizeof(LastErrorRecord::message), "the message of " #constant " is too long");
#include "error_codes.def"
#undef ZSIM_ERROR_CODE

/* The message of a code in error_codes.def; "unknown error" for codes not in it. */
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
