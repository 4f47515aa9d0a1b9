/*
 * The probe's journal, injections and callback registration (probe.h).
 */
#include "edge/probe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace zsim {
namespace probe {

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

struct State {
    std::mutex mutex;
    Journal journal;
    /* Per function, what waits for its coming calls: [0] is the next one. */
    std::map<std::string, std::deque<Injection>, std::less<>> injections;
    CallBackFuncType callback = nullptr;
};

/* Outside the mutex, so that a call with the journal off and nothing injected
 * takes no lock. `injected` is true while `injections` is not empty; both are
 * written with the mutex held. The journal waits, unstarted, until the probe's
 * first use: a script that never uses the probe pays nothing for it. */
enum JournalSwitch : int { kUnstarted, kOn, kOff };
std::atomic<int> g_journal{kUnstarted};
std::atomic<bool> g_injected{false};

State &state()
{
    static State *s = new State; /* never destroyed: library threads may call in at exit */
    return *s;
}

} // namespace

bool journal_on() { return g_journal.load(std::memory_order_relaxed) == kOn; }

void note_use()
{
    int unstarted = kUnstarted; /* only the first use starts it: a switch set since stays */
    g_journal.compare_exchange_strong(unstarted, kOn, std::memory_order_relaxed);
}

bool anything_injected() { return g_injected.load(std::memory_order_acquire); }

void record(std::string &&line)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.add(std::move(line));
}

bool take_injection(const char *function, Injection &out)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.injections.find(function);
    if (it == s.injections.end())
        return false;
    out = std::move(it->second.front());
    it->second.pop_front();
    if (it->second.empty())
        s.injections.erase(it);
    g_injected.store(!s.injections.empty(), std::memory_order_release);
    return true;
}

void keep_error_callback(CallBackFuncType callback)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.callback = callback;
}

CallBackFuncType error_callback()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.callback;
}

void sleep_at_least(int milliseconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (auto now = std::chrono::steady_clock::now(); now < until; now = std::chrono::steady_clock::now())
        std::this_thread::sleep_for(until - now);
}

void reset()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.clear();
    s.injections.clear();
    g_injected.store(false, std::memory_order_release);
    s.callback = nullptr;
    g_journal.store(kOn, std::memory_order_relaxed);
}

void enable_journal(bool on) { g_journal.store(on ? kOn : kOff, std::memory_order_relaxed); }

std::uint64_t journal_count()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.journal.total;
}

bool journal_entry(std::size_t index, std::string &line)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (index >= s.journal.kept())
        return false;
    line = s.journal.at(index);
    return true;
}

void clear_journal()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.journal.clear();
}

int inject(const char *function, std::size_t first, std::size_t count,
           const std::function<int(Injection &, const Function &)> &change)
{
    const Function *f = function ? find_function(function) : nullptr;
    if (!f || count == 0)
        return -1;
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::deque<Injection> coming = s.injections[f->name]; /* changed on a copy: all or nothing */
    if (coming.size() < first + count)
        coming.resize(first + count);
    for (std::size_t n = first; n < first + count; ++n)
        if (change(coming[n], *f) != 0) {
            if (s.injections[f->name].empty())
                s.injections.erase(f->name);
            return -1;
        }
    s.injections[f->name] = std::move(coming);
    g_injected.store(true, std::memory_order_release);
    return 0;
}

} // namespace probe
} // namespace zsim
