/*
 * Journal, injections and the error-callback registry of the stand-in library.
 *
 * One mutex guards all of it. It is never held while a callback runs or while
 * an injected delay passes, so callbacks may call back into the library.
 */
#include "debug_log.h"
#include "probe.h"
#include "zsim_probe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace zsim {

/* ---- JSON ----------------------------------------------------------------- */

void Json::separate()
{
    if (need_separator_)
        out_ += ", ";
    need_separator_ = true;
}

void Json::null()
{
    separate();
    out_ += "null";
}

void Json::integer(long long value)
{
    separate();
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, r.ptr);
}

void Json::unsigned_integer(unsigned long long value)
{
    separate();
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, r.ptr);
}

void Json::number(double value)
{
    if (std::isnan(value))
        return text("nan");
    if (std::isinf(value))
        return text(value > 0 ? "inf" : "-inf");
    separate();
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    /* "-0" is valid JSON but most readers take it as the integer 0 and lose the sign. */
    if (r.ptr - buf == 2 && buf[0] == '-' && buf[1] == '0')
        out_ += "-0.0";
    else
        out_.append(buf, r.ptr);
}

void Json::text(const char *value)
{
    if (!value)
        return null();
    separate();
    static const char hex[] = "0123456789abcdef";
    out_ += '"';
    for (const char *p = value; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out_ += '\\';
            out_ += static_cast<char>(c);
        } else if (c < 0x20) {
            out_ += "\\u00";
            out_ += hex[c >> 4];
            out_ += hex[c & 0xf];
        } else {
            out_ += static_cast<char>(c); /* bytes >= 0x80 go through as they are */
        }
    }
    out_ += '"';
}

void Json::begin_array()
{
    separate();
    out_ += '[';
    need_separator_ = false;
}

void Json::end_array()
{
    out_ += ']';
    need_separator_ = true;
}

/* ---- state ------------------------------------------------------------------ */

namespace {

constexpr std::size_t kJournalCapacity = 4096;

/* The last kJournalCapacity lines; call number n lives in ring[n % capacity]. */
struct Journal {
    std::vector<std::string> ring;
    std::uint64_t total = 0;

    void add(std::string &&line)
    {
        if (ring.size() < kJournalCapacity)
            ring.push_back(std::move(line));
        else
            ring[total % kJournalCapacity] = std::move(line);
        ++total;
    }
    std::size_t kept() const { return ring.size(); }
    const std::string &at(std::size_t index) const /* 0 = oldest kept */
    {
        return ring[(total - kept() + index) % kJournalCapacity];
    }
    void clear()
    {
        ring.clear();
        total = 0;
    }
};

struct Injection {
    bool has_code = false;
    ErrorCode code = 0;
    std::map<std::size_t, std::vector<unsigned char>> outs;
    bool has_callback = false;
    std::int32_t callback_code = 0;
    int delay_ms = 0;

    bool decides_result() const { return has_code || !outs.empty(); }
};

struct State {
    std::mutex mutex;
    Journal journal;
    std::map<std::string, Injection, std::less<>> injections;
    CallBackFuncType callback = nullptr;
};

/* Outside the mutex, so that a call with the journal off and nothing injected
 * takes no lock. `injected` is true while `injections` is not empty; both are
 * written with the mutex held. */
std::atomic<bool> g_journal_on{true};
std::atomic<bool> g_injected{false};

State &state()
{
    static State s;
    return s;
}

/* What describe_entry_points found: each function's out-parameter sizes. */
using Registry = std::map<std::string, std::vector<std::size_t>, std::less<>>;

thread_local Registry *t_describing = nullptr;

const Registry &registry()
{
    static const Registry r = [] {
        Registry found;
        struct Scope {
            explicit Scope(Registry *r) { t_describing = r; }
            ~Scope() { t_describing = nullptr; }
        } scope(&found);
        describe_entry_points();
        return found;
    }();
    return r;
}

const std::vector<std::size_t> *signature(const char *function)
{
    if (!function)
        return nullptr;
    const Registry &r = registry();
    const auto it = r.find(function);
    return it == r.end() ? nullptr : &it->second;
}

/* Applies `change` to the pending injection of a known function; -1 otherwise. */
template <class F>
int inject(const char *function, F &&change) noexcept
{
    try {
        const std::vector<std::size_t> *outs = signature(function);
        if (!outs)
            return -1;
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.injections.find(function);
        if (it == s.injections.end())
            it = s.injections.emplace(function, Injection{}).first;
        g_injected.store(true, std::memory_order_release);
        return change(it->second, *outs);
    } catch (...) {
        return -1;
    }
}

void sleep_at_least(int milliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (auto now = std::chrono::steady_clock::now(); now < until;
         now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(until - now);
}

} // namespace

bool describing() noexcept { return t_describing != nullptr; }

bool journal_enabled() noexcept { return g_journal_on.load(std::memory_order_relaxed); }

/* ---- the call ------------------------------------------------------------------ */

void Call::describe(const char *function) noexcept
{
    overridden_ = true; /* nothing else runs while describing */
    try {
        std::vector<std::size_t> sizes;
        for (std::size_t i = 0; i < out_count_; ++i)
            sizes.push_back(outs_[i].size);
        t_describing->emplace(function, std::move(sizes));
    } catch (...) {
    }
}

void Call::start(const char *function, std::string *line, bool encoded) noexcept
{
    if (!encoded) {
        overridden_ = true;
        code_ = kCoreFailure;
        return;
    }
    if (line && debug_log::active())
        debug_log::write(*line);
    const bool injected_any = g_injected.load(std::memory_order_acquire);
    if (!line && !injected_any)
        return; /* nothing to record, nothing to apply */
    Injection injected;
    CallBackFuncType callback = nullptr;
    try {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (line)
            s.journal.add(std::move(*line));
        if (injected_any) {
            const auto it = s.injections.find(function);
            if (it != s.injections.end()) {
                injected = std::move(it->second);
                s.injections.erase(it);
                g_injected.store(!s.injections.empty(), std::memory_order_release);
            }
        }
        callback = s.callback;
    } catch (...) {
        overridden_ = true;
        code_ = kCoreFailure;
        return;
    }

    if (injected.has_callback && callback)
        callback(injected.callback_code);
    if (injected.delay_ms > 0)
        sleep_at_least(injected.delay_ms);
    if (!injected.decides_result())
        return;

    overridden_ = true;
    code_ = injected.code;
    for (const auto &[index, bytes] : injected.outs) {
        if (index >= out_count_ || !outs_[index].ptr)
            continue;
        std::memcpy(outs_[index].ptr, bytes.data(), std::min(bytes.size(), outs_[index].size));
    }
}

void Call::zero_outs() const noexcept
{
    for (std::size_t i = 0; i < out_count_; ++i)
        if (outs_[i].ptr)
            std::memset(outs_[i].ptr, 0, outs_[i].size);
}

/* ---- error callback ------------------------------------------------------------------ */

void keep_error_callback(CallBackFuncType callback) noexcept
{
    if (describing())
        return;
    try {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.callback = callback;
    } catch (...) {
    }
}

CallBackFuncType error_callback() noexcept
{
    try {
        State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        return s.callback;
    } catch (...) {
        return nullptr;
    }
}

} // namespace zsim

/* ---- probe interface ------------------------------------------------------------------ */

using zsim::state;

extern "C" {

void zsim_reset(void)
{
    try {
        zsim::State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.journal.clear();
        s.injections.clear();
        zsim::g_injected.store(false, std::memory_order_release);
        s.callback = nullptr;
    } catch (...) {
    }
    zsim::g_journal_on.store(true, std::memory_order_relaxed);
    zsim::controller_reset();
}

void zsim_journal_enable(int on) { zsim::g_journal_on.store(on != 0, std::memory_order_relaxed); }

int zsim_journal_count(void)
{
    try {
        zsim::State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        return static_cast<int>(std::min<std::uint64_t>(s.journal.total, INT_MAX));
    } catch (...) {
        return 0;
    }
}

int zsim_journal_entry(int index, char *buf, int size)
{
    try {
        zsim::State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        if (index < 0 || static_cast<std::size_t>(index) >= s.journal.kept())
            return -1;
        const std::string &line = s.journal.at(static_cast<std::size_t>(index));
        if (buf && size > 0) {
            const std::size_t n = std::min(line.size(), static_cast<std::size_t>(size) - 1);
            std::memcpy(buf, line.data(), n);
            buf[n] = '\0';
        }
        return static_cast<int>(std::min<std::size_t>(line.size(), INT_MAX));
    } catch (...) {
        return -1;
    }
}

void zsim_journal_clear(void)
{
    try {
        zsim::State &s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.journal.clear();
    } catch (...) {
    }
}

int zsim_inject(const char *function, int code)
{
    return zsim::inject(function, [code](zsim::Injection &in, const std::vector<std::size_t> &) {
        in.has_code = true;
        in.code = code;
        return 0;
    });
}

int zsim_inject_out(const char *function, int out_index, const void *bytes, int size)
{
    if (size < 0 || (size > 0 && !bytes))
        return -1;
    return zsim::inject(function, [&](zsim::Injection &in, const std::vector<std::size_t> &outs) {
        if (out_index < 0 || static_cast<std::size_t>(out_index) >= outs.size())
            return -1;
        const auto index = static_cast<std::size_t>(out_index);
        const auto *first = static_cast<const unsigned char *>(bytes);
        const std::size_t n = std::min(static_cast<std::size_t>(size), outs[index]);
        in.outs[index].assign(first, first + n);
        return 0;
    });
}

int zsim_raise_error(int code, int mode)
{
    const CallBackFuncType callback = zsim::error_callback();
    if (!callback)
        return -1;
    try {
        switch (mode) {
        case 0:
            callback(code);
            return 0;
        case 1:
            std::thread([callback, code] { callback(code); }).join();
            return 0;
        case 2:
            std::thread([callback, code] { callback(code); }).detach();
            return 0;
        default:
            return -1;
        }
    } catch (...) { /* no thread could be started */
        return -1;
    }
}

int zsim_inject_callback(const char *function, int code)
{
    return zsim::inject(function, [code](zsim::Injection &in, const std::vector<std::size_t> &) {
        in.has_callback = true;
        in.callback_code = code;
        return 0;
    });
}

int zsim_inject_delay(const char *function, int milliseconds)
{
    return zsim::inject(function, [milliseconds](zsim::Injection &in,
                                                 const std::vector<std::size_t> &) {
        in.delay_ms = std::max(milliseconds, 0);
        return 0;
    });
}

} // extern "C"
