/*
 * The controller's files (files.h) come in two implementations of the same
 * rules, files_posix.cpp and files_windows.cpp, on what files_shared.cpp
 * does alike for both. POSIX works through a descriptor of the folder
 * (openat and friends), so nothing is looked up twice by path: a temporary
 * file is made with O_CREAT | O_EXCL | O_NOFOLLOW, renamed with renameat
 * (replace) or renameat2(RENAME_NOREPLACE) (no replace), and a file read is
 * checked, once open, to be the one its resolved path inside the home names.
 * Windows does the best its calls offer: CreateFileW(CREATE_NEW) for the
 * temporary file, MoveFileExW with and without MOVEFILE_REPLACE_EXISTING, and
 * no reparse point (link, junction) followed.
 */
#ifndef ZSIM_FILES_SHARED_H
#define ZSIM_FILES_SHARED_H

#include "files.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zsim {
namespace files {
namespace platform {

/* ---- files_shared.cpp ---- */

/* An environment variable as a path; empty when unset or empty. */
fs::path from_env(const char *name);
/* "programs" or "trajectories". */
const char *subfolder(Folder which);
/* A path as UTF-8, for messages. */
std::string shown(const fs::path &p);
/* A hidden, unpredictable name beside `name` for a file being written:
 * ".<name>.<16 hex digits>.part". */
constexpr const char *kTemporarySuffix = ".part";
std::string temporary_name(const std::string &name);
/* A name temporary_name could have made. */
bool temporary(const std::string &entry);
/* A temporary file untouched for this long was left by a save that was
 * killed (a save writes its file at once and renames it as soon as it is
 * whole); the next save in its folder removes it. */
constexpr long kStaleSeconds = 600;
/* The home for a file operation, made first when `create`: kOk,
 * kNoSafeFolder or kFileAccess. */
ErrorCode usable_home(bool create, fs::path &home_path);

/* ---- each system's own: files_posix.cpp, files_windows.cpp ---- */

/* 64 random bits from the system; false when it has none to give. */
bool system_random(std::uint64_t &value);

/* The per-user default home, or why there is none. */
struct DefaultHome {
    fs::path path;
    std::string problem;
};
DefaultHome default_home();

/* Why the default home must not be used, or "" (also when it does not exist
 * yet). */
std::string unsafe(const fs::path &home);

/* Makes one folder, only this user's (mode 0700 on POSIX, whatever the
 * umask); true when it exists after. */
bool make_folder(const fs::path &p);

} // namespace platform
} // namespace files
} // namespace zsim

#endif /* ZSIM_FILES_SHARED_H */
