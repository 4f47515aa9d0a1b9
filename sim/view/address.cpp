/*
 * Addresses and the Host check of the view (address.h).
 */
#include "view/address.h"

#include <algorithm>
#include <cctype>

namespace zsim {
namespace view {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

/* A decimal number of 1 to `digits` digits in [0, max]; -1 otherwise. */
long decimal(const std::string &text, std::size_t digits, long max)
{
    if (text.empty() || text.size() > digits ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    const long value = std::stol(text);
    return value <= max ? value : -1;
}

/* The four octets of a dotted IPv4 address; false for anything else. */
bool ipv4(const std::string &text, long octets[4])
{
    std::size_t start = 0;
    for (int n = 0; n < 4; ++n) {
        const std::size_t dot = n < 3 ? text.find('.', start) : text.size();
        if (dot == std::string::npos)
            return false;
        octets[n] = decimal(text.substr(start, dot - start), 3, 255);
        if (octets[n] < 0)
            return false;
        start = dot + 1;
    }
    return true;
}

bool is_ipv6(const std::string &text)
{
    return text.find(':') != std::string::npos &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) || c == ':' || c == '.'; });
}

bool is_literal(const std::string &host)
{
    long octets[4];
    return ipv4(host, octets) || is_ipv6(host);
}

} // namespace

bool parse_endpoint(const std::string &text, std::string &host, int &port)
{
    std::string port_text;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        host = text.substr(1, close - 1);
        port_text = text.substr(close + 2);
        if (!is_ipv6(host))
            return false;
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon)
            return false;
        host = text.substr(0, colon);
        port_text = text.substr(colon + 1);
    }
    const long value = decimal(port_text, 5, 65535);
    if (host.empty() || value < 0)
        return false;
    port = static_cast<int>(value);
    return true;
}

bool is_loopback(const std::string &host)
{
    const std::string name = lower(host);
    long octets[4];
    if (ipv4(name, octets))
        return octets[0] == 127;
    return name == "localhost" || name == "::1" || name == "0:0:0:0:0:0:0:1";
}

bool is_wildcard(const std::string &host)
{
    return host == "0.0.0.0" || host == "::" || host == "0:0:0:0:0:0:0:0";
}

std::string url_of(const std::string &host, int port)
{
    const std::string shown = is_ipv6(host) ? "[" + host + "]" : host;
    return "http://" + shown + ":" + std::to_string(port) + "/";
}

HostCheck::HostCheck(const std::string &host, int port, std::vector<std::string> machine_names) : port_(port)
{
    names_.push_back(lower(host));
    if (is_loopback(host))
        names_.insert(names_.end(), {"localhost", "127.0.0.1", "::1"});
    if (is_wildcard(host)) {
        any_literal_ = true;
        names_.push_back("localhost");
        for (const std::string &name : machine_names)
            names_.push_back(lower(name));
    }
}

bool HostCheck::allows(const std::string &host_header) const
{
    std::string name = host_header;
    int port = 80;
    if (host_header.find(':') != std::string::npos && !parse_endpoint(host_header, name, port)) {
        /* a bare IPv6 address in brackets, without a port */
        if (host_header.size() < 2 || host_header.front() != '[' || host_header.back() != ']')
            return false;
        name = host_header.substr(1, host_header.size() - 2);
    }
    if (port != port_ || name.empty())
        return false;
    name = lower(name);
    if (any_literal_ && is_literal(name))
        return true;
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

} // namespace view
} // namespace zsim
