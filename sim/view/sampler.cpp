/*
 * The sampler and the shared samples (sampler.h).
 */
#include "view/sampler.h"

#include "core/boundary.h"
#include "view/snapshot.h"

#include <thread>

namespace zsim {
namespace view {

bool Sampler::add_stream(int limit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (streams_ >= limit)
        return false;
    if (streams_++ == 0)
        watched_.notify_one();
    watched_since_end_ = watched_since_end_ || script_ended_;
    viewers_.notify_all();
    return true;
}

void Sampler::remove_stream()
{
    std::lock_guard<std::mutex> lock(mutex_);
    --streams_;
    viewers_.notify_all();
}

std::string Sampler::state_now()
{
    Snapshot snapshot = take_snapshot();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot.viewers = streams_;
        snapshot.script_ended = script_ended_;
    }
    return state_json(snapshot);
}

std::uint64_t Sampler::latest_number()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return number_;
}

std::shared_ptr<const std::string> Sampler::next_sample(std::uint64_t &seen, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!fresh_.wait_for(lock, wait, [&] { return number_ != seen; }))
        return nullptr;
    seen = number_;
    return latest_;
}

bool Sampler::wait_for_viewer(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return viewers_.wait_for(lock, limit, [this] { return streams_ > 0; });
}

void Sampler::end_script()
{
    std::lock_guard<std::mutex> lock(mutex_);
    script_ended_ = true;
    watched_since_end_ = streams_ > 0;
}

void Sampler::wait_until_unwatched(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(mutex_);
    viewers_.wait_for(lock, limit, [this] { return watched_since_end_ && streams_ == 0; });
}

void Sampler::publish(std::string sample)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (latest_ && *latest_ == sample)
        return;
    latest_ = std::make_shared<const std::string>(std::move(sample));
    ++number_;
    fresh_.notify_all();
}

void Sampler::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            watched_.wait(lock, [this] { return streams_ > 0; });
        }
        /* a sample lost to a failed allocation is skipped, not the sampler */
        guarded([this] { publish(state_now()); });
        std::this_thread::sleep_for(kSamplePeriod);
    }
}

} // namespace view
} // namespace zsim
