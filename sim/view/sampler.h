/*
 * The samples the view streams: the state's JSON (snapshot.h), taken by a
 * sampler thread of its own while anyone watches, shared by every stream.
 *
 * With no stream open the sampler sleeps on a condition variable and costs
 * nothing. While streams are open it takes a sample every kSamplePeriod
 * (the library lock held only to copy) and publishes it when it differs from
 * the last one, so an arm at rest sends nothing but the streams' keep-alives. It never writes to a socket: each stream's
 * own thread does, holding no lock but its own.
 *
 * It also knows whether anyone watches, for the wait before a script's
 * first motion and the time the view serves on after the script
 * (session.h).
 */
#ifndef ZSIM_VIEW_SAMPLER_H
#define ZSIM_VIEW_SAMPLER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace zsim {
namespace view {

constexpr std::chrono::milliseconds kSamplePeriod{16}; /* about 60 a second while the arm moves */

class Sampler {
public:
    /* A stream starts watching: false when `limit` streams already are. */
    bool add_stream(int limit);
    void remove_stream();

    /* The state as it is now, as JSON (snapshot.h), with the count of streams. */
    std::string state_now();

    /* The number of the latest sample (0 before the first). */
    std::uint64_t latest_number();
    /* The next sample after the one numbered `seen` (which it updates), or
     * null when none came within `wait`. */
    std::shared_ptr<const std::string> next_sample(std::uint64_t &seen, std::chrono::milliseconds wait);

    /* Waits until a stream is open, at most `limit`; false if none came. */
    bool wait_for_viewer(std::chrono::milliseconds limit);
    /* The script has ended: the state says so from now on. */
    void end_script();
    /* Waits until the streams open at end_script(), or opened since, have
     * all closed, at most `limit` (the whole of it if none ever opened). */
    void wait_until_unwatched(std::chrono::milliseconds limit);

    /* The sampler's loop (never returns). */
    [[noreturn]] void run();

private:
    void publish(std::string sample);

    std::mutex mutex_;
    std::condition_variable watched_; /* the sampler waits here for a first stream */
    std::condition_variable fresh_;   /* streams wait here for a new sample */
    std::condition_variable viewers_; /* the count of streams changed */
    int streams_ = 0;
    bool script_ended_ = false;
    bool watched_since_end_ = false;
    std::uint64_t number_ = 0;        /* of the latest sample */
    std::shared_ptr<const std::string> latest_;
};

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_SAMPLER_H */
