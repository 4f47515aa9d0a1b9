/*
 * The controller's files on Windows (files.h, files_shared.h): the best
 * its calls offer, and no reparse point (link, junction) followed.
 */
#if defined(_WIN32)

#if !defined(_CRT_RAND_S)
#define _CRT_RAND_S /* rand_s, before the C library's headers */
#endif
#include "files_shared.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include <windows.h>
#include <stdlib.h> /* rand_s, with _CRT_RAND_S */

namespace zsim {
namespace files {

namespace platform {

bool system_random(std::uint64_t &value)
{
    unsigned int half[2] = {0, 0};
    if (rand_s(&half[0]) != 0 || rand_s(&half[1]) != 0)
        return false;
    value = (static_cast<std::uint64_t>(half[0]) << 32) | half[1];
    return true;
}

DefaultHome default_home()
{
    const fs::path local = from_env("LOCALAPPDATA");
    if (local.empty())
        return {{}, "LOCALAPPDATA is not set, so the controller knows no folder of this user's own: "
                    "set ZSIM_HOME to the folder it may use"};
    if (!local.is_absolute()) /* it would move with the working folder */
        return {{}, "LOCALAPPDATA (" + shown(local) + ") is not an absolute path, so the controller knows no "
                    "folder of this user's own: set ZSIM_HOME to the folder it may use"};
    return {local / "zandrel-sim", {}};
}

/* Why the default folder must not be used, or "" (it is also fine when it
 * does not exist yet). The folder inherits the per-user ACL of LOCALAPPDATA;
 * only a reparse point in its place is refused. */
std::string unsafe(const fs::path &home)
{
    const DWORD attributes = GetFileAttributesW(home.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return "";
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return shown(home) + " is a link or junction, not a folder of this user's own";
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return shown(home) + " is not a folder";
    return "";
}

bool make_folder(const fs::path &p)
{
    return CreateDirectoryW(p.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace platform

using namespace platform;

namespace {

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { close(); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    Handle &operator=(Handle &&other) noexcept
    {
        std::swap(h_, other.h_);
        return *this;
    }
    HANDLE get() const { return h_; }
    /* Hands the handle over: it is no longer closed here. */
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
    explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
    bool close()
    {
        const bool ok = h_ == INVALID_HANDLE_VALUE || CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_;
};

bool missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

struct Place {
    fs::path folder;
};

ErrorCode open_place(Folder which, bool create, Place &p)
{
    fs::path home;
    if (const ErrorCode code = usable_home(create, home))
        return code;
    p.folder = home / subfolder(which);
    if (create && !make_folder(p.folder))
        return kFileAccess;
    const DWORD attributes = GetFileAttributesW(p.folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return missing(GetLastError()) ? kFileNotFound : kFileAccess;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return kBadFileName;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? kOk : kFileNotFound;
}

/* A folder entry's name as the bytes a caller would pass for it; false for a
 * name that has none (UTF-16 that is not valid Unicode). */
bool plain_name(const wchar_t *wide, std::string &out)
{
    const int size = static_cast<int>(std::wcslen(wide));
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, size, &out[0], n, nullptr, nullptr) == n;
}

/* A file with other names (hard links) may be one outside the home: treated
 * as a link out of it. */
ErrorCode one_name(const BY_HANDLE_FILE_INFORMATION &info)
{
    return info.nNumberOfLinks > 1 ? kBadFileName : kOk;
}

/* kOk for a regular file of that name (not a reparse point) that has no
 * other name. */
ErrorCode check_entry(const Place &p, const std::string &name)
{
    const fs::path path = p.folder / fs::u8path(name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return missing(GetLastError()) ? kFileNotFound : kFileAccess;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return kBadFileName;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return kFileNotFound;
    const Handle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info))
        return kFileAccess;
    return one_name(info);
}

/* 100 ns intervals since 1601, as FILETIME counts. */
std::uint64_t ticks(const FILETIME &t)
{
    return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

/* Removes the temporary files of saves that were killed (files_shared.h). */
void remove_stale_temporaries(const fs::path &folder)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t stale = static_cast<std::uint64_t>(kStaleSeconds) * 10000000u;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder / L".*.part").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name;
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            plain_name(found.cFileName, name) && temporary(name) &&
            ticks(now) > ticks(found.ftLastWriteTime) + stale)
            DeleteFileW((folder / found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

} // namespace

ErrorCode read_file(Folder which, const std::string &name, std::string &text)
{
    Place p;
    if (const ErrorCode code = open_place(which, false, p))
        return code;
    if (const ErrorCode code = check_entry(p, name))
        return code;
    Handle file(CreateFileW((p.folder / fs::u8path(name)).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return missing(GetLastError()) ? kFileNotFound : kFileAccess;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info))
        return kFileAccess;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return kBadFileName; /* it became a link after the check */
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return kFileNotFound;
    if (const ErrorCode linked = one_name(info)) /* a name was added since the check */
        return linked;
    const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > kMaxFileSize)
        return kFileTooLarge;
    std::string all;
    all.reserve(static_cast<std::size_t>(size));
    char chunk[1 << 16];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr))
            return kFileAccess;
        if (got == 0)
            break;
        if (all.size() + got > kMaxFileSize)
            return kFileTooLarge;
        all.append(chunk, got);
    }
    text = std::move(all);
    return kOk;
}

ErrorCode write_file(Folder which, const std::string &name, const std::string &text)
{
    Place p;
    if (const ErrorCode code = open_place(which, true, p))
        return code;
    remove_stale_temporaries(p.folder);
    fs::path temp;
    Handle out;
    for (int attempt = 0; attempt < 16 && !out; ++attempt) {
        temp = p.folder / fs::u8path(temporary_name(name));
        out = Handle(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out && GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return kFileAccess;
    }
    if (!out)
        return kFileAccess;
    bool written = true;
    for (std::size_t done = 0; written && done < text.size();) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
        DWORD put = 0;
        written = WriteFile(out.get(), text.data() + done, part, &put, nullptr) && put > 0;
        done += put;
    }
    written = out.close() && written;
    /* One rename that replaces the old file (or a link of that name); when it
     * fails the old file stays as it was. */
    if (written && MoveFileExW(temp.c_str(), (p.folder / fs::u8path(name)).c_str(), MOVEFILE_REPLACE_EXISTING))
        return kOk;
    DeleteFileW(temp.c_str());
    return kFileAccess;
}

ErrorCode list(Folder which, std::vector<std::string> &names)
{
    names.clear();
    Place p;
    const ErrorCode code = open_place(which, false, p);
    if (code == kFileNotFound || code == kBadFileName)
        return kOk;
    if (code != kOk)
        return code;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((p.folder / L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return kOk;
    do {
        std::string name;
        if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
            plain_name(found.cFileName, name) && check_name(name.c_str()) == kOk && check_entry(p, name) == kOk)
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
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
    /* Without MOVEFILE_REPLACE_EXISTING the move fails when `to` exists. */
    if (MoveFileExW((p.folder / fs::u8path(from)).c_str(), (p.folder / fs::u8path(to)).c_str(), 0))
        return kOk;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return kFileExists;
    return missing(error) ? kFileNotFound : kFileAccess;
}

ErrorCode remove(Folder which, const std::string &name)
{
    Place p;
    if (const ErrorCode code = open_place(which, false, p))
        return code;
    if (const ErrorCode code = check_entry(p, name))
        return code;
    if (DeleteFileW((p.folder / fs::u8path(name)).c_str()))
        return kOk;
    return missing(GetLastError()) ? kFileNotFound : kFileAccess;
}

ErrorCode AppendFile::open(const fs::path &path)
{
    close();
    /* A named pipe is opened without waiting (a busy one fails at once) and
     * refused with devices (NUL, CON, COM1) below: only a disk file is kept. */
    Handle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK)
        return kFileAccess;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return kFileAccess;
    handle_ = reinterpret_cast<std::intptr_t>(file.release());
    return kOk;
}

bool AppendFile::append(const std::string &text)
{
    HANDLE h = reinterpret_cast<HANDLE>(handle_);
    for (std::size_t done = 0; done < text.size();) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 30));
        DWORD put = 0;
        if (!is_open() || !WriteFile(h, text.data() + done, part, &put, nullptr) || put == 0)
            return false;
        done += put;
    }
    return true;
}

void AppendFile::close()
{
    if (is_open())
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kClosed;
}

} // namespace files
} // namespace zsim

#endif /* _WIN32 */
