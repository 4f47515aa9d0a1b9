/*
 * A request's head (its request line and header fields) as the view takes it
 * in before anything else reads it: bounded in size, counted, and stripped of
 * what the view does not honour. Pure functions of text.
 *
 * The bounds keep a request cheap whatever a client sends: the head is read
 * into one buffer of at most kMaxHeadBytes, and the parser that reads it
 * afterwards (cpp-httplib) holds at most kMaxHeaderFields fields.
 */
#ifndef ZSIM_VIEW_REQUEST_HEAD_H
#define ZSIM_VIEW_REQUEST_HEAD_H

#include <cstddef>
#include <string>

namespace zsim {
namespace view {

constexpr std::size_t kMaxHeadBytes = 16384;   /* request line, fields and the blank line */
constexpr std::size_t kMaxRequestLine = 2048;  /* the view's paths are short */
constexpr std::size_t kMaxHeaderFields = 100;  /* a browser sends about 15 */

enum class HeadState {
    kIncomplete, /* no blank line yet, and room for one */
    kComplete,   /* whole and within every bound */
    kTooLarge,   /* 431: more than kMaxHeadBytes or kMaxHeaderFields */
    kUriTooLong, /* 414: the request line alone is longer than kMaxRequestLine */
};

/* Looks at the bytes a connection has sent so far. When kComplete,
 * `head_size` is the head's length, its blank line included. */
HeadState examine_head(const std::string &received, std::size_t &head_size);

/* The head without its Range and If-Range fields: the view answers every
 * request with the whole file, however many ranges one asks for. */
std::string without_ranges(const std::string &head);

/* The path the request line asks for, decoded as the parser decodes it
 * (so that "/%65vents" is "/events" here too), without its query. */
std::string request_path(const std::string &head);

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_REQUEST_HEAD_H */
