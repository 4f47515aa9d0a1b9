/*
 * The controller's folder and the checked names inside it (files.h): what
 * does not depend on the system (files_shared.h). The file operations
 * themselves are in files_posix.cpp and files_windows.cpp.
 */
#include "files_shared.h"

#include "text.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace zsim {
namespace files {

namespace platform {

fs::path from_env(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value ? fs::path(value) : fs::path();
}

const char *subfolder(Folder which) { return which == Folder::kPrograms ? "programs" : "trajectories"; }

std::string shown(const fs::path &p) { return p.u8string(); }

namespace {

/* 64 bits no other process can guess, for the names of temporary files
 * (their exclusive creation is what makes them safe; this keeps a planted
 * name from blocking a save). */
std::uint64_t unpredictable()
{
    std::uint64_t value = 0;
    if (system_random(value))
        return value;
    /* No source of randomness: a mix of the clock, a counter and an address
     * (splitmix64), still unique within the process. */
    static std::atomic<std::uint64_t> counter{0};
    value = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
            (++counter * 0x9e3779b97f4a7c15ull) ^ reinterpret_cast<std::uintptr_t>(&value);
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9ull;
    value = (value ^ (value >> 27)) * 0x94d049bb133111ebull;
    return value ^ (value >> 31);
}

} // namespace

std::string temporary_name(const std::string &name)
{
    static const char digits[] = "0123456789abcdef";
    std::uint64_t bits = unpredictable();
    std::string suffix(16, '0');
    for (char &c : suffix) {
        c = digits[bits & 15];
        bits >>= 4;
    }
    return "." + name + "." + suffix + kTemporarySuffix; /* a hidden name: never listed, refused by every call */
}

bool temporary(const std::string &entry)
{
    const std::size_t suffix = std::strlen(kTemporarySuffix);
    const std::size_t tail = 1 + 16 + suffix; /* ".<16 hex digits>.part" */
    if (entry.size() < 2 + tail || entry[0] != '.' || entry.compare(entry.size() - suffix, suffix, kTemporarySuffix))
        return false;
    const std::size_t dot = entry.size() - tail;
    if (entry[dot] != '.')
        return false;
    for (std::size_t i = dot + 1; i < dot + 17; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(entry[i])) || std::isupper(static_cast<unsigned char>(entry[i])))
            return false;
    return true;
}

namespace {

/* The home, made (with its missing parents, each only this user's) when it
 * is missing; the default one is checked again once made. */
ErrorCode make_home(const fs::path &home, bool is_default)
{
    std::error_code ec;
    std::vector<fs::path> missing; /* the home and its missing parents, deepest first */
    for (fs::path p = home; !fs::exists(p, ec) && p.has_relative_path(); p = p.parent_path())
        missing.push_back(p);
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder)
        if (!make_folder(*folder))
            return kFileAccess;
    if (is_default && !unsafe(home).empty())
        return kNoSafeFolder;
    return kOk;
}

} // namespace

/* The home for a file operation, made first when `create`. */
ErrorCode usable_home(bool create, fs::path &home_path)
{
    const Home h = home();
    if (h.path.empty())
        return kNoSafeFolder;
    home_path = h.path;
    if (create)
        return make_home(h.path, from_env("ZSIM_HOME").empty());
    return kOk;
}

} // namespace platform

using namespace platform;

Home home()
{
    const fs::path chosen = from_env("ZSIM_HOME");
    if (!chosen.empty()) {
        if (!chosen.is_absolute()) /* it would move with the working folder */
            return {{}, "ZSIM_HOME (" + shown(chosen) + ") is not an absolute path: set it to the full path of "
                                                          "the folder the controller may use"};
        return {chosen, {}}; /* the user's choice, used as given */
    }
    const DefaultHome found = default_home();
    if (found.path.empty())
        return {{}, found.problem};
    const std::string why = unsafe(found.path);
    if (!why.empty())
        return {{}, why + ": set ZSIM_HOME, or make it a folder of this user's own that only this user may write to"};
    return {found.path, {}};
}

namespace {

/* A name Windows gives to a device wherever it appears: CON, PRN, AUX, NUL,
 * CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with a superscript 1, 2 or 3), in
 * any case, alone or before an extension ("nul.txt"), trailing spaces
 * ignored. Refused on every system, so that a name is portable. */
bool windows_device(const char *name)
{
    std::string base(name, std::strcspn(name, "."));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char &c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char *device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (base == device)
            return true;
    if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)
        return false;
    const std::string number = base.substr(3);
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
           number == "\xc2\xb9" || number == "\xc2\xb2" || number == "\xc2\xb3"; /* superscript 1, 2, 3 */
}

} // namespace

ErrorCode check_name(const char *name)
{
    if (!name)
        return kBadFileName;
    const std::size_t n = std::strlen(name);
    if (n == 0 || n > kMaxFileName || name[0] == '.' || name[0] == ' ' || name[n - 1] == ' ' ||
        name[n - 1] == '.')
        return kBadFileName;
    for (const char *p = name; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x20 || c == 0x7f || std::strchr("/\\:*?\"<>|", c))
            return kBadFileName;
    }
    if (windows_device(name))
        return kBadFileName;
    return text::valid_utf8(name, n) ? kOk : kBadFileName;
}

} // namespace files
} // namespace zsim
