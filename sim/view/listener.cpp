/*
 * The listener and its workers (listener.h).
 */
#include "view/listener.h"

#include "core/boundary.h"
#include "view/request_head.h"

#include <algorithm>
#include <thread>

namespace zsim {
namespace view {

namespace {

/* A refused connection's further bytes are read and dropped for this long (or
 * this much) before it closes: closing with bytes unread would reset the
 * connection and could lose the refusal on its way. */
constexpr std::chrono::seconds kDrainTime{1};
constexpr std::size_t kDrainBytes = 64 * 1024;

int milliseconds_until(Clock::time_point when, Clock::time_point now)
{
    if (when <= now)
        return 0;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when - now).count() + 1;
    return static_cast<int>(std::min<long long>(ms, 60 * 1000));
}

void send_now(Socket socket, const std::string &answer)
{
    /* A fresh connection's send buffer holds a short refusal whole; a client
     * that left it full gets what fits. */
    send_some(socket, answer.data(), answer.size());
}

} // namespace

Listener::Listener(Socket listening, Respond respond) : listening_(listening), respond_(std::move(respond))
{
    make_non_blocking(listening_); /* accept_all() takes connections until none waits */
}

void Listener::run()
{
    for (int n = 0; n < kStateWorkers + kFileWorkers; ++n) {
        Lane &lane = n < kStateWorkers ? state_lane_ : file_lane_;
        std::thread([this, &lane] {
            for (;;)
                guarded([&] { answer_loop(lane); });
        }).detach();
    }
    for (;;)
        guarded([this] { step(); }); /* a failure (no memory) costs one round, not the listener */
}

void Listener::step()
{
    std::vector<pollfd> polled(pending_.size() + 1);
    polled[0].fd = listening_;
    polled[0].events = POLLIN;
    int timeout = -1;
    const Clock::time_point before = Clock::now();
    for (std::size_t n = 0; n < pending_.size(); ++n) {
        polled[n + 1].fd = pending_[n].connection.socket;
        polled[n + 1].events = POLLIN;
        const int until = milliseconds_until(pending_[n].connection.deadline, before);
        timeout = timeout < 0 ? until : std::min(timeout, until);
    }
#if defined(_WIN32)
    const int ready = ::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeout);
#else
    const int ready = ::poll(polled.data(), polled.size(), timeout);
#endif
    if (ready < 0)
        return; /* interrupted; the next round polls again */

    const Clock::time_point now = Clock::now();
    const std::size_t waiting = pending_.size(); /* those polled; admit() may add more */
    for (std::size_t n = 0; n < waiting; ++n) {
        Pending &p = pending_[n];
        if (polled[n + 1].revents)
            receive(p);
        if (p.done || p.connection.deadline > now)
            continue;
        if (p.draining) {
            close_socket(p.connection.socket);
            p.done = true;
        } else {
            refuse(p, 408, "the request did not arrive in time");
        }
    }
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [](const Pending &p) { return p.done; }),
                   pending_.end());
    if (polled[0].revents)
        accept_all();
}

void Listener::accept_all()
{
    for (;;) {
        Connection c;
        c.socket = accept_connection(listening_, c.client);
        if (c.socket == INVALID_SOCKET)
            return;
        c.deadline = Clock::now() + kHeadDeadline;
        admit(std::move(c));
    }
}

void Listener::admit(Connection c)
{
    pending_.push_back(Pending{std::move(c)});
    receive(pending_.back()); /* its head is often there already */
    if (pending_.back().done)
        pending_.pop_back();
    const std::string client = pending_.empty() ? std::string() : pending_.back().connection.client;
    while (static_cast<std::size_t>(std::count_if(pending_.begin(), pending_.end(), [&](const Pending &p) {
               return p.connection.client == client;
           })) > kPendingPerClient)
        make_room(&client);
    while (pending_.size() > kPendingInAll)
        make_room(nullptr);
}

/* The oldest connection still sending its head (of `client`, or of anyone)
 * gives its place to a new one, unless its head has arrived meanwhile: a
 * slow client loses its place to a new request. */
void Listener::make_room(const std::string *client)
{
    const auto oldest = std::find_if(pending_.begin(), pending_.end(), [&](const Pending &p) {
        return !client || p.connection.client == *client;
    });
    if (!oldest->draining)
        receive(*oldest);
    if (!oldest->done) {
        if (!oldest->draining)
            send_now(oldest->connection.socket, refusal(503, "too many connections are waiting for their request"));
        close_socket(oldest->connection.socket);
    }
    pending_.erase(oldest);
}

void Listener::receive(Pending &p)
{
    Connection &c = p.connection;
    char buffer[4096];
    if (p.draining) {
        const long got = receive_some(c.socket, buffer, sizeof buffer);
        if (got == kWouldBlock)
            return;
        p.drained += got > 0 ? static_cast<std::size_t>(got) : 0;
        if (got <= 0 || p.drained > kDrainBytes) {
            close_socket(c.socket);
            p.done = true;
        }
        return;
    }
    /* at most one byte past the bound: enough to tell a head too large */
    const std::size_t room = kMaxHeadBytes + 1 - std::min(c.received.size(), kMaxHeadBytes);
    const long got = receive_some(c.socket, buffer, std::min(sizeof buffer, room));
    if (got == kWouldBlock)
        return;
    if (got <= 0) { /* gone before it asked anything */
        close_socket(c.socket);
        p.done = true;
        return;
    }
    c.received.append(buffer, static_cast<std::size_t>(got));
    std::size_t head_size = 0;
    switch (examine_head(c.received, head_size)) {
    case HeadState::kIncomplete:
        return;
    case HeadState::kComplete:
        return dispatch(p, head_size);
    case HeadState::kTooLarge:
        return refuse(p, 431, "the request's header fields are too large");
    case HeadState::kUriTooLong:
        return refuse(p, 414, "the request line is too long");
    }
}

void Listener::refuse(Pending &p, int status, const char *why)
{
    send_now(p.connection.socket, refusal(status, why));
    end_sending(p.connection.socket);
    std::string().swap(p.connection.received);
    p.draining = true;
    p.connection.deadline = Clock::now() + kDrainTime;
}

void Listener::dispatch(Pending &p, std::size_t head_size)
{
    Connection &c = p.connection;
    const std::string path = request_path(c.received);
    c.received = without_ranges(c.received.substr(0, head_size)) + c.received.substr(head_size);
    if (path == "/events") {
        if (!start_stream(c))
            return refuse(p, 503, "too many viewers");
    } else {
        Lane &lane = path == "/state.json" || path == "/arm.json" ? state_lane_ : file_lane_;
        std::unique_lock<std::mutex> lock(lane.mutex);
        if (lane.waiting.size() >= kWaiting) {
            lock.unlock();
            return refuse(p, 503, "the view is busy");
        }
        lane.waiting.push_back(std::move(c));
        lane.ready.notify_one();
    }
    p.done = true;
}

bool Listener::start_stream(Connection &c)
{
    if (streams_.fetch_add(1) >= kMaxStreams) {
        --streams_;
        return false;
    }
    const bool started = guarded(false, [&] {
        std::thread([this, c] () mutable {
            guarded([&] { serve(c, Clock::time_point::max()); });
            --streams_;
        }).detach();
        return true;
    });
    if (!started)
        --streams_;
    return started;
}

void Listener::answer_loop(Lane &lane)
{
    for (;;) {
        std::unique_lock<std::mutex> lock(lane.mutex);
        lane.ready.wait(lock, [&] { return !lane.waiting.empty(); });
        Connection c = std::move(lane.waiting.front());
        lane.waiting.pop_front();
        lock.unlock();
        serve(c, Clock::now() + kAnswerDeadline);
    }
}

void Listener::serve(Connection &c, Clock::time_point deadline)
{
    struct Closing { /* closes the socket whatever happens to the answer */
        Socket socket;
        ~Closing()
        {
            end_sending(socket);
            close_socket(socket);
        }
    } closing{c.socket};
    ConnectionStream stream(c, std::move(c.received), deadline);
    respond_(stream);
}

} // namespace view
} // namespace zsim
