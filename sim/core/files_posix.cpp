/*
 * The controller's files on POSIX systems (files.h, files_shared.h):
 * everything through a descriptor of the folder, nothing looked up twice by
 * path.
 */
#if !defined(_WIN32)

#include "files_shared.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h> /* getrandom, renameat2: called directly, older C libraries have no wrappers */
#endif

namespace zsim {
namespace files {

namespace platform {

bool system_random(std::uint64_t &value)
{
#if defined(__linux__) && defined(SYS_getrandom)
    constexpr unsigned kNonBlocking = 1; /* GRND_NONBLOCK */
    if (::syscall(SYS_getrandom, &value, sizeof value, kNonBlocking) == static_cast<long>(sizeof value))
        return true;
#endif
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::read(fd, &value, sizeof value);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof value);
}

namespace {

/* The account's home directory, for a process without HOME (services, cron). */
fs::path account_home()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    struct passwd entry, *found = nullptr;
    while (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_dir || found->pw_dir[0] != '/')
        return {};
    return fs::path(found->pw_dir);
}

} // namespace

DefaultHome default_home()
{
    const fs::path data = from_env("XDG_DATA_HOME");
    if (!data.empty() && data.is_absolute())
        return {data / "zandrel-sim", {}};
    fs::path user = from_env("HOME");
    if (!user.empty() && !user.is_absolute()) /* it would move with the working folder */
        return {{}, "HOME (" + shown(user) + ") is not an absolute path, so the controller knows no folder of this "
                    "user's own: set HOME to the full path of the user's home, or ZSIM_HOME to the folder it may use"};
    if (user.empty())
        user = account_home();
    if (user.empty())
        return {{}, "HOME is not set and the user account names no home directory, so the controller knows no "
                    "folder of this user's own: set ZSIM_HOME to the folder it may use"};
    return {user / ".local" / "share" / "zandrel-sim", {}};
}

/* Why the default folder must not be used, or "" (also when it does not
 * exist yet): it must be a folder, not a link, of this user's own, and no one
 * else may write to it. */
std::string unsafe(const fs::path &home)
{
    struct stat st;
    if (::lstat(home.c_str(), &st) != 0)
        return errno == ENOENT ? "" : shown(home) + ": " + std::strerror(errno);
    if (S_ISLNK(st.st_mode))
        return shown(home) + " is a link, not a folder of this user's own";
    if (!S_ISDIR(st.st_mode))
        return shown(home) + " is not a folder";
    if (st.st_uid != geteuid())
        return shown(home) + " belongs to user " + std::to_string(st.st_uid) + ", not to user " +
               std::to_string(geteuid());
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return shown(home) + " may be written by other users (mode " + mode + ")";
    }
    return "";
}

bool make_folder(const fs::path &p)
{
    if (::mkdir(p.c_str(), 0700) != 0)
        return errno == EEXIST;
    /* The umask may have taken bits away (0500 under umask 0222): set the
     * mode on the folder just made, not on whatever its name may lead to. */
    const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool made = fd >= 0 && ::fchmod(fd, 0700) == 0;
    if (fd >= 0)
        ::close(fd);
    return made;
}

} // namespace platform

using namespace platform;

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { close(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd &operator=(Fd &&other) noexcept
    {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    /* Hands the descriptor over: it is no longer closed here. */
    int release() { return std::exchange(fd_, -1); }
    explicit operator bool() const { return fd_ >= 0; }
    bool close()
    {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

/* True when `real` lies strictly below `base` (both canonical). */
bool below(const fs::path &real, const fs::path &base)
{
    auto r = real.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++r)
        if (r == real.end() || *r != *b)
            return false;
    return r != real.end();
}

bool same_file(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

/* A folder of the home, open. */
struct Place {
    fs::path home_real; /* the home, canonical */
    fs::path folder;    /* <home>/<subfolder> as named */
    Fd dir;
};

/* kFileNotFound when the folder does not exist (and !create), kBadFileName
 * when it is a link out of the home. */
ErrorCode open_place(Folder which, bool create, Place &p)
{
    fs::path home;
    if (const ErrorCode code = usable_home(create, home))
        return code;
    p.folder = home / subfolder(which);
    if (create && !make_folder(p.folder))
        return kFileAccess;
    p.dir = Fd(::open(p.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!p.dir)
        return errno == ENOENT || errno == ENOTDIR ? kFileNotFound : kFileAccess;
    std::error_code ec;
    p.home_real = fs::canonical(home, ec);
    const fs::path folder_real = ec ? fs::path() : fs::canonical(p.folder, ec);
    struct stat opened, named;
    if (ec || ::fstat(p.dir.get(), &opened) != 0 || ::stat(folder_real.c_str(), &named) != 0)
        return kFileAccess;
    /* The subfolder itself may be a link, as long as what was opened lies in the home. */
    return below(folder_real, p.home_real) && same_file(opened, named) ? kOk : kBadFileName;
}

/* A regular file with other names (hard links) may be one outside the home:
 * treated as a link out of it. */
ErrorCode one_name(const struct stat &file) { return file.st_nlink > 1 ? kBadFileName : kOk; }

/* What a name in the folder leads to: kOk with the file's identity for a
 * regular file of one name, or a link (chain) that ends at one inside the
 * home; kFileNotFound for nothing, a dangling link or anything but a regular
 * file; kBadFileName for a link out of the home or a file with other names. */
ErrorCode check_entry(const Place &p, const std::string &name, struct stat &file)
{
    if (::fstatat(p.dir.get(), name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? kFileNotFound : kFileAccess;
    if (S_ISREG(file.st_mode))
        return one_name(file);
    if (!S_ISLNK(file.st_mode))
        return kFileNotFound;
    std::error_code ec;
    const fs::path real = fs::canonical(p.folder / name, ec);
    if (ec)
        return ec == std::errc::no_such_file_or_directory ? kFileNotFound : kFileAccess;
    if (!below(real, p.home_real))
        return kBadFileName;
    if (::stat(real.c_str(), &file) != 0)
        return kFileAccess;
    return S_ISREG(file.st_mode) ? one_name(file) : kFileNotFound;
}

ErrorCode check_entry(const Place &p, const std::string &name)
{
    struct stat ignored;
    return check_entry(p, name, ignored);
}

bool write_all(int fd, const std::string &text)
{
    const char *at = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, std::min<std::size_t>(left, 1u << 30));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

/* A new file in `dir` with no name yet, or -1 where the system cannot make one. */
int unnamed_file(int dir)
{
#if defined(O_TMPFILE)
    return ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
    (void)dir;
    return -1;
#endif
}

#if defined(__linux__) && !defined(SYS_renameat2)
#if defined(__x86_64__)
#define SYS_renameat2 316
#elif defined(__aarch64__)
#define SYS_renameat2 276
#endif
#endif

/* renameat2(RENAME_NOREPLACE): 0, or -1 with errno (ENOSYS where the system
 * has no such call, EINVAL where the file system cannot do it). */
int rename_noreplace(int dir, const char *from, const char *to)
{
#if defined(__linux__) && defined(SYS_renameat2)
    constexpr unsigned kNoReplace = 1; /* RENAME_NOREPLACE */
    return static_cast<int>(::syscall(SYS_renameat2, dir, from, dir, to, kNoReplace));
#else
    (void)dir, (void)from, (void)to;
    errno = ENOSYS;
    return -1;
#endif
}

ErrorCode rename_code(int error)
{
    if (error == EEXIST || error == ENOTEMPTY)
        return kFileExists;
    return error == ENOENT ? kFileNotFound : kFileAccess;
}

} // namespace

ErrorCode read_file(Folder which, const std::string &name, std::string &text)
{
    Place p;
    if (const ErrorCode code = open_place(which, false, p))
        return code;
    struct stat expected, opened;
    if (const ErrorCode code = check_entry(p, name, expected))
        return code;
    /* O_NONBLOCK: a FIFO put there since the check must not hang the call. */
    const Fd fd(::openat(p.dir.get(), name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd)
        return errno == ENOENT ? kFileNotFound : kFileAccess;
    if (::fstat(fd.get(), &opened) != 0)
        return kFileAccess;
    if (!same_file(opened, expected)) /* the name was pointed elsewhere since the check */
        return kFileAccess;
    if (const ErrorCode linked = one_name(opened)) /* a name was added since the check */
        return linked;
    if (static_cast<std::uintmax_t>(opened.st_size) > kMaxFileSize)
        return kFileTooLarge;
    std::string all;
    all.reserve(static_cast<std::size_t>(opened.st_size));
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return kFileAccess;
        if (n == 0)
            break;
        if (all.size() + static_cast<std::size_t>(n) > kMaxFileSize) /* it grew */
            return kFileTooLarge;
        all.append(chunk, static_cast<std::size_t>(n));
    }
    text = std::move(all);
    return kOk;
}

namespace {

/* Removes the temporary files of saves that were killed (files_shared.h). */
void remove_stale_temporaries(int dir)
{
    const int copy = ::dup(dir);
    DIR *folder = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!folder) {
        if (copy >= 0)
            ::close(copy);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const struct dirent *entry = ::readdir(folder)) {
        struct stat st;
        if (temporary(entry->d_name) && ::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && now - st.st_mtime > kStaleSeconds)
            ::unlinkat(dir, entry->d_name, 0);
    }
    ::closedir(folder);
}

} // namespace

ErrorCode write_file(Folder which, const std::string &name, const std::string &text)
{
    Place p;
    if (const ErrorCode code = open_place(which, true, p))
        return code;
    const int dir = p.dir.get();
    remove_stale_temporaries(dir);
    std::string temp;
    bool named = false;
    /* Linux: written as an unnamed file (O_TMPFILE) and given its temporary
     * name only once whole, so a process killed while writing leaves nothing
     * behind. Without O_TMPFILE (or /proc), a temporary file made exclusively
     * under its name. */
    Fd out(unnamed_file(dir));
    if (out) {
        if (!write_all(out.get(), text))
            return kFileAccess;
        const std::string self = "/proc/self/fd/" + std::to_string(out.get());
        for (int attempt = 0; attempt < 16 && !named; ++attempt) {
            temp = temporary_name(name);
            named = ::linkat(AT_FDCWD, self.c_str(), dir, temp.c_str(), AT_SYMLINK_FOLLOW) == 0;
            if (!named && errno != EEXIST)
                break;
        }
        if (!named)
            out.close();
    }
    if (!named) {
        for (int attempt = 0; attempt < 16 && !out; ++attempt) {
            temp = temporary_name(name);
            out = Fd(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                              0666));
            if (!out && errno != EEXIST)
                return kFileAccess;
        }
        if (!out)
            return kFileAccess;
        named = write_all(out.get(), text);
    }
    /* One rename that replaces the old file (or a link of that name, not
     * what it leads to); when anything fails the old file stays as it was. */
    if (out.close() && named && ::renameat(dir, temp.c_str(), dir, name.c_str()) == 0)
        return kOk;
    ::unlinkat(dir, temp.c_str(), 0);
    return kFileAccess;
}

ErrorCode list(Folder which, std::vector<std::string> &names)
{
    names.clear();
    Place p;
    const ErrorCode code = open_place(which, false, p);
    if (code == kFileNotFound || code == kBadFileName)
        return kOk; /* no folder, or one that is not the controller's: nothing in it can be used */
    if (code != kOk)
        return code;
    const int copy = ::dup(p.dir.get());
    DIR *folder = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!folder) {
        if (copy >= 0)
            ::close(copy);
        return kFileAccess;
    }
    while (const struct dirent *entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (check_name(name.c_str()) == kOk && check_entry(p, name) == kOk)
            names.push_back(name);
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end());
    return kOk;
}

ErrorCode rename(Folder which, const std::string &from, const std::string &to)
{
    Place p;
    if (const ErrorCode code = open_place(which, false, p))
        return code;
    if (const ErrorCode code = check_entry(p, from))
        return code;
    const int dir = p.dir.get();
    if (rename_noreplace(dir, from.c_str(), to.c_str()) == 0)
        return kOk;
    if (errno != ENOSYS && errno != EINVAL && errno != ENOTSUP && errno != EOPNOTSUPP)
        return rename_code(errno);
    /* No renameat2 here: a hard link fails when `to` exists, atomically; then
     * the old name goes. */
    if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
        if (::unlinkat(dir, from.c_str(), 0) == 0)
            return kOk;
        ::unlinkat(dir, to.c_str(), 0);
        return kFileAccess;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK)
        return rename_code(errno);
    /* A file system without hard links either: the best left is a check
     * just before the rename (another process may still slip in between). */
    struct stat existing;
    if (::fstatat(dir, to.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
        return kFileExists;
    if (errno != ENOENT)
        return kFileAccess;
    return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0 ? kOk : rename_code(errno);
}

ErrorCode remove(Folder which, const std::string &name)
{
    Place p;
    if (const ErrorCode code = open_place(which, false, p))
        return code;
    if (const ErrorCode code = check_entry(p, name))
        return code;
    if (::unlinkat(p.dir.get(), name.c_str(), 0) == 0)
        return kOk;
    return errno == ENOENT ? kFileNotFound : kFileAccess;
}

ErrorCode AppendFile::open(const fs::path &path)
{
    close();
    /* O_NONBLOCK: a named pipe without a reader fails at once instead of
     * waiting for one; with a reader, fstat refuses it below. */
    Fd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return kFileAccess;
    handle_ = fd.release();
    return kOk;
}

bool AppendFile::append(const std::string &text) { return is_open() && write_all(static_cast<int>(handle_), text); }

void AppendFile::close()
{
    if (is_open())
        ::close(static_cast<int>(handle_));
    handle_ = kClosed;
}

} // namespace files
} // namespace zsim

#endif /* !_WIN32 */
