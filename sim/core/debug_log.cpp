/*
 * The debug log (debug_log.h).
 */
#include "debug_log.h"

#include "files.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <mutex>

namespace zsim {
namespace debug_log {

namespace {

struct Log {
    std::mutex mutex;
    bool on = false;
    std::string chosen; /* set_SDK_filepath's name, or empty */
    files::AppendFile out; /* a regular file only: writing to it never blocks */
};

std::atomic<bool> g_active{false};

Log &log()
{
    static Log *l = new Log; /* never destroyed: calls may come from threads at exit */
    return *l;
}

bool open(Log &l, const files::fs::path &path) { return l.out.open(path) == kOk; }

} // namespace

bool active() noexcept { return g_active.load(std::memory_order_relaxed); }

void write(const std::string &journal_line)
{
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    char stamp[48];
    const auto r = std::to_chars(stamp, stamp + sizeof stamp, now, std::chars_format::fixed, 6);
    std::string line = "{\"t\": ";
    line.append(stamp, r.ptr);
    line += ", ";
    line.append(journal_line, 1, std::string::npos); /* the entry without its '{' */
    line += '\n';
    Log &l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.on)
        l.out.append(line);
}

ErrorCode enable(bool on)
{
    Log &l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (on && !l.chosen.empty() && !open(l, files::fs::path(l.chosen)))
        return kFileAccess;
    if (!on)
        l.out.close();
    l.on = on;
    g_active.store(on && !l.chosen.empty());
    return kOk;
}

ErrorCode choose(const char *path)
{
    if (!path || !*path)
        return kInvalidArgument;
    const files::fs::path file(path);
    std::error_code ec;
    if (file.has_parent_path() && !files::fs::is_directory(file.parent_path(), ec))
        return kFileNotFound;
    if (files::fs::is_directory(file, ec))
        return kFileAccess;
    Log &l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.chosen = path;
    if (l.on && !open(l, file)) {
        l.on = false;
        g_active.store(false);
        return kFileAccess;
    }
    g_active.store(l.on);
    return kOk;
}

bool enabled()
{
    Log &l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.on;
}

std::string chosen_path()
{
    Log &l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.chosen;
}

void reset()
{
    Log &l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.on = false;
    l.chosen.clear();
    l.out.close();
    g_active.store(false);
}

} // namespace debug_log
} // namespace zsim
