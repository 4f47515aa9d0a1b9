/*
 * The view's listener and workers: who gets served, when, and by which
 * thread. One thread accepts every connection and reads each request's head
 * itself, for all connections at once, so a client that sends slowly, or
 * nothing, holds no worker; a request whose head has arrived whole goes to a
 * worker at once.
 *
 * The limits (docs/virtual-controller.md, "The live view"):
 *   - a head must arrive whole within kHeadDeadline of the connection, within
 *     request_head.h's bounds, or gets 408, 431 or 414;
 *   - one client address may have kPendingPerClient connections whose head has
 *     not arrived, and all clients kPendingInAll: one more closes the oldest
 *     of them (503), so a new request is heard even while slow clients
 *     hold every place;
 *   - /events gets a thread of its own, at most kMaxStreams at once (503);
 *   - /state.json and /arm.json go to kStateWorkers workers of their own, the
 *     page's files (and anything else) to kFileWorkers, each with at most
 *     kWaiting requests waiting (503 beyond): the state is answered while
 *     every stream is taken and while clients that do not read hold every
 *     file worker (a state fits whole in a connection's send buffer, so
 *     writing it never waits for its reader);
 *   - an answer is written within kAnswerDeadline, a stream's each write
 *     within ConnectionStream::kWriteTimeout;
 *   - every connection carries one request; every refusal says
 *     Connection: close.
 * With no connection open the listener waits on the listening socket alone
 * and the workers on a condition variable: no wake-ups.
 */
#ifndef ZSIM_VIEW_LISTENER_H
#define ZSIM_VIEW_LISTENER_H

#include "view/connection.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace zsim {
namespace view {

class Listener {
public:
    static constexpr std::chrono::seconds kHeadDeadline{5};
    static constexpr std::chrono::seconds kAnswerDeadline{15};
    static constexpr std::size_t kPendingPerClient = 32;
    static constexpr std::size_t kPendingInAll = 256;
    static constexpr int kMaxStreams = 64;
    static constexpr int kStateWorkers = 2;
    static constexpr int kFileWorkers = 6;
    static constexpr std::size_t kWaiting = 16;

    /* `respond` parses the request on the stream and writes its answer. */
    using Respond = std::function<void(httplib::Stream &)>;

    Listener(Socket listening, Respond respond);

    /* Starts the workers, then accepts and reads heads (never returns). */
    [[noreturn]] void run();

private:
    /* Requests waiting for one kind of worker. */
    struct Lane {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<Connection> waiting;
    };

    struct Pending {
        Connection connection;
        bool draining = false; /* refused: what it still sends is read and dropped */
        std::size_t drained = 0;
        bool done = false;     /* closed or handed to a worker: leaves the list */
    };

    void step();
    void accept_all();
    void admit(Connection c);
    void make_room(const std::string *client);
    void receive(Pending &p);
    void refuse(Pending &p, int status, const char *why);
    void dispatch(Pending &p, std::size_t head_size);
    bool start_stream(Connection &c);
    void answer_loop(Lane &lane);
    void serve(Connection &c, Clock::time_point deadline);

    const Socket listening_;
    const Respond respond_;
    std::vector<Pending> pending_; /* oldest first; the listener's thread alone */

    std::atomic<int> streams_{0};
    Lane state_lane_, file_lane_;
};

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_LISTENER_H */
