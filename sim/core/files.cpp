/*
 * The controller's folder and the checked names inside it.
 */
#include "files.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace zsim {
namespace files {

namespace {

fs::path from_env(const char *name)
{
    const char *value = std::getenv(name);
    return value && *value ? fs::path(value) : fs::path();
}

fs::path default_home()
{
#if defined(_WIN32)
    const fs::path local = from_env("LOCALAPPDATA");
    if (!local.empty())
        return local / "zandrel-sim";
#else
    const fs::path data = from_env("XDG_DATA_HOME");
    if (!data.empty() && data.is_absolute())
        return data / "zandrel-sim";
    const fs::path user = from_env("HOME");
    if (!user.empty())
        return user / ".local" / "share" / "zandrel-sim";
#endif
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    return (ec ? fs::path(".") : temp) / "zandrel-sim";
}

bool regular(const fs::path &p)
{
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

/* A folder entry's name as the bytes a caller would pass for it; false for a
 * name that has none (on Windows, UTF-16 that is not valid Unicode), which
 * path::string() would throw on. */
bool plain_name(const fs::path &name, std::string &out)
{
#if defined(_WIN32)
    const std::wstring &wide = name.native();
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, &out[0], n, nullptr, nullptr) == n;
#else
    out = name.native();
    return true;
#endif
}

} // namespace

fs::path home()
{
    const fs::path chosen = from_env("ZSIM_HOME");
    return chosen.empty() ? default_home() : chosen;
}

fs::path folder(Folder which)
{
    return home() / (which == Folder::kPrograms ? "programs" : "trajectories");
}

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
    return kOk;
}

/* Names are UTF-8 text (Python hands the library UTF-8), also where paths are UTF-16. */
fs::path path_of(Folder which, const std::string &name) { return folder(which) / fs::u8path(name); }

ErrorCode read_file(const fs::path &path, std::string &text)
{
    if (!regular(path))
        return kFileNotFound;
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec || size > kMaxFileSize)
        return kFileAccess;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return kFileAccess;
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad())
        return kFileAccess;
    text = all.str();
    return kOk;
}

ErrorCode write_file(const fs::path &path, const std::string &text)
{
    static std::atomic<unsigned> serial{0};
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec)
        return kFileAccess;
    fs::path temp = path.parent_path() /
                    ("." + path.filename().string() + ".part" + std::to_string(++serial));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return kFileAccess;
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temp, ec);
            return kFileAccess;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) { /* some platforms refuse to rename over an existing file */
        std::error_code gone;
        fs::remove(path, gone);
        fs::rename(temp, path, ec);
    }
    if (ec) {
        fs::remove(temp, ec);
        return kFileAccess;
    }
    return kOk;
}

std::vector<std::string> list(Folder which)
{
    std::vector<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(folder(which), ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::string name;
        if (regular(it->path()) && plain_name(it->path().filename(), name) && check_name(name.c_str()) == kOk)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

ErrorCode rename(Folder which, const std::string &from, const std::string &to)
{
    const fs::path source = path_of(which, from), target = path_of(which, to);
    if (!regular(source))
        return kFileNotFound;
    std::error_code ec;
    if (fs::exists(target, ec) || ec)
        return ec ? kFileAccess : kFileExists;
    fs::rename(source, target, ec);
    return ec ? kFileAccess : kOk;
}

ErrorCode remove(Folder which, const std::string &name)
{
    const fs::path target = path_of(which, name);
    if (!regular(target))
        return kFileNotFound;
    std::error_code ec;
    return fs::remove(target, ec) && !ec ? kOk : kFileAccess;
}

} // namespace files
} // namespace zsim
