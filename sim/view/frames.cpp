/*
 * The sampler and the shared frames (frames.h).
 */
#include "view/frames.h"

#include "core/boundary.h"
#include "view/snapshot.h"

#include <thread>

namespace zsim {
namespace view {

bool Frames::join(int limit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (streams_ >= limit)
        return false;
    if (streams_++ == 0)
        watched_.notify_one();
    return true;
}

void Frames::leave()
{
    std::lock_guard<std::mutex> lock(mutex_);
    --streams_;
}

std::string Frames::state_now()
{
    Snapshot snapshot = take_snapshot();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot.viewers = streams_;
    }
    return state_json(snapshot);
}

std::uint64_t Frames::latest_number()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return number_;
}

std::shared_ptr<const std::string> Frames::next(std::uint64_t &seen, std::chrono::milliseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    if (!fresh_.wait_for(lock, wait, [&] { return number_ != seen; }))
        return nullptr;
    seen = number_;
    return latest_;
}

void Frames::publish(std::string frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (latest_ && *latest_ == frame)
        return;
    latest_ = std::make_shared<const std::string>(std::move(frame));
    ++number_;
    fresh_.notify_all();
}

void Frames::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            watched_.wait(lock, [this] { return streams_ > 0; });
        }
        /* a frame lost to a failed allocation is skipped, not the sampler */
        guarded([this] { publish(state_now()); });
        std::this_thread::sleep_for(kFramePeriod);
    }
}

} // namespace view
} // namespace zsim
