/*
 * The controller's files: one folder (the home), with programs/ and
 * trajectories/ inside it.
 *
 * The home is ZSIM_HOME from the environment when it is set and not empty,
 * else a per-user folder: %LOCALAPPDATA%\zandrel-sim on Windows,
 * $XDG_DATA_HOME/zandrel-sim or ~/.local/share/zandrel-sim elsewhere (the
 * system's temporary folder when none of these is known). It is looked up at
 * every use, so a change of ZSIM_HOME takes effect at the next call; folders
 * are made when something is written, never when something is read.
 *
 * A file name from a caller is a plain name: 1 to kMaxFileName bytes, no
 * path separator ('/' or '\'), no ':', no control character, not "." or "..",
 * and no leading or trailing space. Anything else gives kBadFileName, so a
 * name can never reach outside its folder.
 *
 * Nothing here takes the library lock; callers do file work outside it.
 */
#ifndef ZSIM_FILES_H
#define ZSIM_FILES_H

#include "errors.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zsim {
namespace files {

namespace fs = std::filesystem;

/* Longest name in bytes (get_loaded_program's buffer holds 100 with the NUL). */
constexpr std::size_t kMaxFileName = 99;
/* Largest program or trajectory file read (bytes). */
constexpr std::uintmax_t kMaxFileSize = 64u << 20;

enum class Folder { kPrograms, kTrajectories };

fs::path home();
fs::path folder(Folder which);

/* kOk for a plain name (see above), else kBadFileName. */
ErrorCode check_name(const char *name);

/* The path of a checked name in a folder. */
fs::path path_of(Folder which, const std::string &name);

/* Reads a whole file: kOk, kFileNotFound (missing or not a regular file) or
 * kFileAccess (unreadable, or larger than kMaxFileSize). */
ErrorCode read_file(const fs::path &path, std::string &text);

/* Writes a whole file, making its folder first: written to a temporary file
 * beside it and renamed over it, so readers never see half a file. kOk or
 * kFileAccess. */
ErrorCode write_file(const fs::path &path, const std::string &text);

/* The plain names of the regular files in a folder, sorted bytewise (an
 * absent folder has none). */
std::vector<std::string> list(Folder which);

/* kOk, kFileNotFound, kFileExists (dest exists) or kFileAccess. */
ErrorCode rename(Folder which, const std::string &from, const std::string &to);
/* kOk, kFileNotFound or kFileAccess. */
ErrorCode remove(Folder which, const std::string &name);

} // namespace files
} // namespace zsim

#endif /* ZSIM_FILES_H */
