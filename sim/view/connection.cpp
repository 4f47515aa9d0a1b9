/*
 * The view's connections and socket calls (connection.h).
 */
#include "view/connection.h"

#include <algorithm>
#include <cstring>

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#endif

namespace zsim {
namespace view {

namespace {

bool would_block()
{
#if defined(_WIN32)
    return WSAGetLastError() == WSAEWOULDBLOCK;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK;
#endif
}

bool interrupted()
{
#if defined(_WIN32)
    return false;
#else
    return errno == EINTR;
#endif
}

std::string address_text(const sockaddr_storage &address, socklen_t size)
{
    char text[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&address), size, text, sizeof text, nullptr, 0,
                    NI_NUMERICHOST) != 0)
        return {};
    return text;
}

} // namespace

void make_non_blocking(Socket socket)
{
#if defined(_WIN32)
    u_long non_blocking = 1;
    ::ioctlsocket(socket, FIONBIO, &non_blocking);
#else
    ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK);
#endif
}

Socket accept_connection(Socket listening, std::string &client)
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
#if defined(_WIN32)
    const Socket s = ::accept(listening, reinterpret_cast<sockaddr *>(&address), &size);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    make_non_blocking(s);
#elif defined(__linux__)
    Socket s;
    do
        s = ::accept4(listening, reinterpret_cast<sockaddr *>(&address), &size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    while (s == INVALID_SOCKET && errno == EINTR);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
#else
    const Socket s = ::accept(listening, reinterpret_cast<sockaddr *>(&address), &size);
    if (s == INVALID_SOCKET)
        return INVALID_SOCKET;
    make_non_blocking(s);
    ::fcntl(s, F_SETFD, FD_CLOEXEC);
#endif
    /* The kernel holds at most this much of an answer a client does not read
     * (by default it may grow to megabytes per connection). */
    const int send_buffer = kSendBuffer;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&send_buffer), sizeof send_buffer);
    client = address_text(address, size);
    return s;
}

int wait_until_ready(Socket socket, bool for_writing, int timeout_ms)
{
    pollfd entry{};
    entry.fd = socket;
    entry.events = for_writing ? POLLOUT : POLLIN;
    for (;;) {
#if defined(_WIN32)
        const int ready = ::WSAPoll(&entry, 1, timeout_ms);
#else
        const int ready = ::poll(&entry, 1, timeout_ms);
#endif
        if (ready < 0 && interrupted())
            continue;
        return ready;
    }
}

long receive_some(Socket socket, char *buffer, std::size_t size)
{
    for (;;) {
        const long got = static_cast<long>(
            ::recv(socket, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0));
        if (got >= 0)
            return got;
        if (interrupted())
            continue;
        return would_block() ? kWouldBlock : -1;
    }
}

long send_some(Socket socket, const char *data, std::size_t size)
{
    for (;;) {
        const long sent = static_cast<long>(
            ::send(socket, data, static_cast<int>(std::min<std::size_t>(size, 1 << 20)), CPPHTTPLIB_SEND_FLAGS));
        if (sent >= 0)
            return sent;
        if (interrupted())
            continue;
        return would_block() ? kWouldBlock : -1;
    }
}

void end_sending(Socket socket)
{
#if defined(_WIN32)
    ::shutdown(socket, SD_SEND);
#else
    ::shutdown(socket, SHUT_WR);
#endif
}

void close_socket(Socket socket)
{
    httplib::detail::close_socket(socket);
}

std::string refusal(int status, const char *why)
{
    const std::string body = std::string(why) + "\n";
    std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + httplib::detail::status_message(status) + "\r\n";
    answer += "Content-Type: text/plain; charset=utf-8\r\n";
    answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    answer += "X-Content-Type-Options: nosniff\r\n";
    answer += "Connection: close\r\n\r\n";
    return answer + body;
}

/* ---- ConnectionStream ----------------------------------------------------------- */

ConnectionStream::ConnectionStream(const Connection &c, std::string head, Clock::time_point deadline)
    : socket_(c.socket), replay_(std::move(head)), deadline_(deadline)
{
}

int ConnectionStream::wait_ms(std::chrono::seconds limit) const
{
    using std::chrono::milliseconds;
    milliseconds wait = limit;
    if (deadline_ != Clock::time_point::max())
        wait = std::min(wait, std::chrono::duration_cast<milliseconds>(deadline_ - Clock::now()));
    return static_cast<int>(std::max<milliseconds::rep>(wait.count(), 0));
}

bool ConnectionStream::is_readable() const
{
    return replayed_ < replay_.size() || wait_until_ready(socket_, false, wait_ms(kReadTimeout)) > 0;
}

bool ConnectionStream::is_writable() const
{
    return wait_until_ready(socket_, true, wait_ms(kWriteTimeout)) > 0;
}

ssize_t ConnectionStream::read(char *ptr, size_t size)
{
    if (replayed_ < replay_.size()) {
        const std::size_t n = std::min(size, replay_.size() - replayed_);
        std::memcpy(ptr, replay_.data() + replayed_, n);
        replayed_ += n;
        return static_cast<ssize_t>(n);
    }
    for (;;) {
        const long got = receive_some(socket_, ptr, size);
        if (got != kWouldBlock)
            return got;
        if (wait_until_ready(socket_, false, wait_ms(kReadTimeout)) <= 0)
            return -1;
    }
}

ssize_t ConnectionStream::write(const char *ptr, size_t size)
{
    std::size_t written = 0;
    while (written < size) {
        const long sent = send_some(socket_, ptr + written, size - written);
        if (sent > 0) {
            written += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent != kWouldBlock || wait_until_ready(socket_, true, wait_ms(kWriteTimeout)) <= 0)
            return -1;
    }
    return static_cast<ssize_t>(written);
}

void ConnectionStream::get_remote_ip_and_port(std::string &ip, int &port) const
{
    httplib::detail::get_remote_ip_and_port(socket_, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string &ip, int &port) const
{
    httplib::detail::get_local_ip_and_port(socket_, ip, port);
}

} // namespace view
} // namespace zsim
