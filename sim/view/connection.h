/*
 * One client connection of the view, and the few socket calls the view makes
 * itself, the same on POSIX and Windows.
 *
 * Every connection carries one request: its head is read and checked by the
 * listener (listener.h), which then hands the connection to a worker; the
 * worker lets cpp-httplib parse the head and write the answer through a
 * ConnectionStream, which replays the head and then reads and writes the
 * socket, each wait bounded.
 */
#ifndef ZSIM_VIEW_CONNECTION_H
#define ZSIM_VIEW_CONNECTION_H

#include "view/http.h"

#include <chrono>
#include <string>

namespace zsim {
namespace view {

using Clock = std::chrono::steady_clock;
using Socket = ::socket_t; /* int on POSIX, SOCKET on Windows */

/* ---- sockets --------------------------------------------------------------- */

constexpr int kSendBuffer = 128 * 1024;

/* A listening socket whose accept() returns at once when no one waits. */
void make_non_blocking(Socket socket);

/* The next connection waiting on a listening socket, made non-blocking, not
 * inherited by child processes, with a send buffer of kSendBuffer bytes
 * (Linux keeps twice that); INVALID_SOCKET when none is waiting.
 * `client` is the peer's address as text (without its port). */
Socket accept_connection(Socket listening, std::string &client);

/* Waits until the socket can be read (`for_writing` false) or written, at
 * most `timeout_ms` (-1: no limit). >0 ready, 0 timed out, <0 failed. */
int wait_until_ready(Socket socket, bool for_writing, int timeout_ms);

/* What one non-blocking receive or send did: >0 bytes, 0 the peer closed
 * (receive only), kWouldBlock nothing to do now, <0 otherwise a failure. */
constexpr long kWouldBlock = -2;
long receive_some(Socket socket, char *buffer, std::size_t size);
long send_some(Socket socket, const char *data, std::size_t size);

/* Ends what the view sends: the peer reads the answer to its end. */
void end_sending(Socket socket);
void close_socket(Socket socket);

/* A complete answer for a request the view turns away before a worker sees
 * it, with Connection: close: "HTTP/1.1 503 Service Unavailable ...". */
std::string refusal(int status, const char *why);

/* ---- a connection ---------------------------------------------------------- */

struct Connection {
    Socket socket = INVALID_SOCKET;
    std::string client;      /* the peer's address */
    std::string received;    /* what it sent so far: the head, and maybe more */
    Clock::time_point deadline;
};

/* The connection as httplib reads and writes it: first the head the listener
 * received (without the fields it does not honour), then the socket. A read
 * waits at most kReadTimeout, a write kWriteTimeout, and neither goes past
 * `deadline` when one is set (a stream has none: it ends when its viewer
 * stops reading for kWriteTimeout). */
class ConnectionStream final : public httplib::Stream {
public:
    static constexpr std::chrono::seconds kReadTimeout{5};
    static constexpr std::chrono::seconds kWriteTimeout{5};

    ConnectionStream(const Connection &c, std::string head, Clock::time_point deadline = Clock::time_point::max());

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char *ptr, size_t size) override;
    ssize_t write(const char *ptr, size_t size) override;
    void get_remote_ip_and_port(std::string &ip, int &port) const override;
    void get_local_ip_and_port(std::string &ip, int &port) const override;
    Socket socket() const override { return socket_; }

private:
    int wait_ms(std::chrono::seconds limit) const;

    Socket socket_;
    std::string replay_;
    std::size_t replayed_ = 0;
    Clock::time_point deadline_;
};

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_CONNECTION_H */
