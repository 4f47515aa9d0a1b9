/*
 * Where the view listens, and which requests it answers.
 *
 * The view binds the loopback address unless its caller explicitly allows
 * another one. A page elsewhere can still reach a loopback server through
 * DNS rebinding (its own name made to resolve to 127.0.0.1), but the browser
 * then sends that name in the Host header: the view answers only requests
 * whose Host names the address it serves.
 *
 * Pure functions of text: no sockets, no name lookups.
 */
#ifndef ZSIM_VIEW_ADDRESS_H
#define ZSIM_VIEW_ADDRESS_H

#include <string>
#include <vector>

namespace zsim {
namespace view {

/* "host:port" or "[v6 address]:port" (ZSIM_VIEW); false when malformed or the
 * port is not 0..65535. The host comes back without brackets. */
bool parse_endpoint(const std::string &text, std::string &host, int &port);

/* localhost, 127.0.0.0/8 or ::1 (names compared without case). */
bool is_loopback(const std::string &host);

/* 0.0.0.0 or :: (every address of the machine). */
bool is_wildcard(const std::string &host);

/* http://host:port/ with an IPv6 address in brackets. */
std::string url_of(const std::string &host, int port);

/* The Host headers a view bound to `host` and `port` answers: the address
 * itself, and the loopback names for a loopback address; for a wildcard
 * address any IP address literal, localhost and `machine_names`. Always with
 * the port (which may be left out only when it is 80). */
class HostCheck {
public:
    HostCheck(const std::string &host, int port, std::vector<std::string> machine_names = {});
    bool allows(const std::string &host_header) const;

private:
    std::vector<std::string> names_; /* lower case, IPv6 without brackets */
    bool any_literal_ = false;
    int port_;
};

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_ADDRESS_H */
