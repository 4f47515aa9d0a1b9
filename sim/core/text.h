/*
 * UTF-8 text: whether bytes are valid UTF-8, and where a text may be cut.
 *
 * The module decodes every text the library hands it as strict UTF-8 (file
 * names, messages), so the controller keeps its texts valid: names that are
 * not valid UTF-8 are refused, and a text cut to fit a buffer is cut before a
 * character, never inside one.
 */
#ifndef ZSIM_TEXT_H
#define ZSIM_TEXT_H

#include <cstddef>
#include <string>

namespace zsim {
namespace text {

/* True for well-formed UTF-8 (RFC 3629: no overlong forms, no surrogates,
 * nothing above U+10FFFF). */
inline bool valid_utf8(const char *s, std::size_t n)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s), *end = p + n;
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t more;
        unsigned low = 0x80, high = 0xbf; /* the allowed range of the second byte */
        if (c >= 0xc2 && c <= 0xdf) {
            more = 1;
        } else if (c >= 0xe0 && c <= 0xef) {
            more = 2;
            if (c == 0xe0)
                low = 0xa0; /* overlong */
            else if (c == 0xed)
                high = 0x9f; /* surrogates */
        } else if (c >= 0xf0 && c <= 0xf4) {
            more = 3;
            if (c == 0xf0)
                low = 0x90; /* overlong */
            else if (c == 0xf4)
                high = 0x8f; /* above U+10FFFF */
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) <= more || p[1] < low || p[1] > high)
            return false;
        for (std::size_t i = 2; i <= more; ++i)
            if ((p[i] & 0xc0) != 0x80)
                return false;
        p += more + 1;
    }
    return true;
}

inline bool valid_utf8(const std::string &s) { return valid_utf8(s.data(), s.size()); }

/* The length of the longest start of `s` that has at most `limit` bytes and
 * does not end inside a character: a cut never leaves the lead bytes of a
 * character without the rest (bytes that are not UTF-8 are cut anywhere). */
inline std::size_t fitting_length(const std::string &s, std::size_t limit)
{
    if (s.size() <= limit)
        return s.size();
    std::size_t n = limit;
    /* s[n] is the first byte left out: while it continues a character, that
     * character's start is left out with it (at most 3 bytes back). */
    for (std::size_t back = 0; back < 3 && n > 0 && (static_cast<unsigned char>(s[n]) & 0xc0) == 0x80; ++back)
        --n;
    if (n < limit && (static_cast<unsigned char>(s[n]) & 0xc0) == 0x80)
        return limit; /* not UTF-8 here: cut where asked */
    return n;
}

} // namespace text
} // namespace zsim

#endif /* ZSIM_TEXT_H */
