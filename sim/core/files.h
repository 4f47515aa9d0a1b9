/*
 * The controller's files: one folder (the home), with programs/ and
 * trajectories/ inside it. docs/virtual-controller-files.md says what the
 * controller guarantees about them.
 *
 * The home is ZSIM_HOME from the environment when it is set and not empty
 * (used as given, when it is an absolute path), else a per-user folder: %LOCALAPPDATA%\zandrel-sim on
 * Windows, $XDG_DATA_HOME/zandrel-sim or ~/.local/share/zandrel-sim elsewhere
 * (~ from HOME, else from the user's account). Elsewhere than on Windows the
 * default is checked at each use: a folder (not a link) of the user's own
 * that no one else may write to, made with mode 0700. Folders made here
 * (the home, missing ones above it, its subfolders) are 0700 whatever the
 * umask. A relative path is refused (it would move with the working
 * folder). When no such place is known every file operation gives
 * kNoSafeFolder, and home() says why.
 * It is looked up at every use, so a change of ZSIM_HOME takes effect at the
 * next call; folders are made when something is written, never when
 * something is read.
 *
 * A file name from a caller is a plain name: 1 to kMaxFileName bytes of
 * valid UTF-8, no path separator ('/' or '\'), no ':', no control character,
 * not "." or "..", no leading or trailing space, and not a Windows device
 * name (CON, NUL, COM1, "nul.txt", ...: refused on every system). Anything
 * else gives kBadFileName, so a name can never reach outside its folder. A
 * link in the folders is followed only where it leads to a regular file
 * inside the home; one that leads out of it is refused (kBadFileName) and
 * not listed (on Windows no link or junction is followed), and so is a file
 * with other names (a hard link may be one outside the home).
 *
 * A file is written whole to a temporary file made exclusively beside it,
 * under an unpredictable name, and renamed over the old one in one step: a
 * reader sees the old file or the new one, never half of one, and a link of
 * the saved name is replaced, never followed. A save removes the stale
 * temporary files of killed saves in its folder (files_shared.h).
 *
 * Nothing here takes the library lock; callers do file work outside it.
 */
#ifndef ZSIM_FILES_H
#define ZSIM_FILES_H

#include "errors.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace zsim {
namespace files {

namespace fs = std::filesystem;

/* Longest name in bytes (get_loaded_program's buffer holds 100 with the NUL). */
constexpr std::size_t kMaxFileName = 99;
/* Largest program or trajectory file read (bytes); kFileTooLarge past it. */
constexpr std::uintmax_t kMaxFileSize = 64u << 20;

enum class Folder { kPrograms, kTrajectories };

/* The controller's folder, or why it has none. */
struct Home {
    fs::path path;       /* empty when there is no safe folder */
    std::string problem; /* then: why (names the folder it refused) */
};
Home home();

/* kOk for a plain name (see above), else kBadFileName. */
ErrorCode check_name(const char *name);

/* The calls below take checked names. Each may give kNoSafeFolder, and
 * kFileAccess when the system refuses. */

/* Reads <folder>/<name> whole: kOk, kFileNotFound (missing, or not a regular
 * file), kBadFileName (a link out of the home, a file with other names) or
 * kFileTooLarge (more than kMaxFileSize bytes). */
ErrorCode read_file(Folder which, const std::string &name, std::string &text);

/* Writes <folder>/<name> whole, making the folders first, replacing a file
 * or link of that name: kOk or kFileAccess; kBadFileName when the folder
 * itself is a link out of the home. */
ErrorCode write_file(Folder which, const std::string &name, const std::string &text);

/* The names in a folder that the calls here accept: plain names of regular
 * files and of links to regular files inside the home, sorted bytewise (an
 * absent folder has none). kOk or kNoSafeFolder. */
ErrorCode list(Folder which, std::vector<std::string> &names);

/* Renames `from` to `to` in one step that never replaces a file: kOk,
 * kFileNotFound, kBadFileName (`from` a link out of the home) or kFileExists
 * (`to` exists, also when it appears during the call). */
ErrorCode rename(Folder which, const std::string &from, const std::string &to);

/* Removes the name (a link itself, not what it leads to): kOk, kFileNotFound
 * or kBadFileName. */
ErrorCode remove(Folder which, const std::string &name);

/* ---- a file anywhere: the library's debug log ------------------------------- */

/* A file the library appends to, at a path the caller names. It is opened
 * only when it is a regular file: a named pipe, a device or a folder is
 * refused at once and never waited for, so neither opening it nor writing
 * to it can block. */
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile() { close(); }
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    /* Opens `path` for appending (closing what was open), making it when it
     * is missing: kOk, or kFileAccess. */
    ErrorCode open(const fs::path &path);
    /* Appends all of `text`; false when it could not. */
    bool append(const std::string &text);
    void close();
    bool is_open() const { return handle_ != kClosed; }

private:
    static constexpr std::intptr_t kClosed = -1; /* a descriptor, or a HANDLE's bits */
    std::intptr_t handle_ = kClosed;
};

} // namespace files
} // namespace zsim

#endif /* ZSIM_FILES_H */
