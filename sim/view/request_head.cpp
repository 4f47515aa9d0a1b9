/*
 * Reading a request's head (request_head.h).
 */
#include "view/request_head.h"

#include "view/http.h"

#include <cctype>
#include <cstring>

namespace zsim {
namespace view {

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr char kBlankLine[] = "\r\n\r\n";

std::size_t count_lines(const std::string &text, std::size_t end)
{
    std::size_t lines = 0;
    for (std::size_t at = text.find(kLineEnd); at != std::string::npos && at < end; at = text.find(kLineEnd, at + 2))
        ++lines;
    return lines;
}

bool same_name(const char *begin, const char *end, const char *name)
{
    while (begin < end && (end[-1] == ' ' || end[-1] == '\t')) /* "Range :" names Range too */
        --end;
    for (; begin < end && *name; ++begin, ++name)
        if (std::tolower(static_cast<unsigned char>(*begin)) != *name)
            return false;
    return begin == end && !*name;
}

} // namespace

HeadState examine_head(const std::string &received, std::size_t &head_size)
{
    const std::size_t first_line_end = received.find(kLineEnd);
    if ((first_line_end == std::string::npos ? received.size() : first_line_end) > kMaxRequestLine)
        return HeadState::kUriTooLong;
    const std::size_t blank = received.find(kBlankLine);
    if (blank == std::string::npos)
        return received.size() >= kMaxHeadBytes ? HeadState::kTooLarge : HeadState::kIncomplete;
    head_size = blank + 4;
    if (head_size > kMaxHeadBytes || count_lines(received, blank + 2) > kMaxHeaderFields + 1)
        return HeadState::kTooLarge;
    return HeadState::kComplete;
}

std::string without_ranges(const std::string &head)
{
    std::string kept;
    kept.reserve(head.size());
    std::size_t at = 0;
    bool request_line = true;
    while (at < head.size()) {
        std::size_t end = head.find(kLineEnd, at);
        end = end == std::string::npos ? head.size() : end + 2;
        const char *line = head.data() + at;
        const char *colon = static_cast<const char *>(std::memchr(line, ':', end - at));
        const bool dropped = !request_line && colon &&
                             (same_name(line, colon, "range") || same_name(line, colon, "if-range"));
        if (!dropped)
            kept.append(line, end - at);
        request_line = false;
        at = end;
    }
    return kept;
}

std::string request_path(const std::string &head)
{
    const std::size_t line_end = head.find(kLineEnd);
    const std::string line = head.substr(0, line_end);
    const std::size_t start = line.find(' ');
    if (start == std::string::npos)
        return {};
    std::size_t stop = line.find(' ', start + 1);
    stop = stop == std::string::npos ? line.size() : stop;
    std::string target = line.substr(start + 1, stop - start - 1);
    target = target.substr(0, target.find_first_of("?#"));
    return httplib::detail::decode_url(target, false);
}

} // namespace view
} // namespace zsim
