/*
 * The JSON writer (json.h).
 */
#include "json.h"

#include <charconv>
#include <cmath>

namespace zsim {

void Json::separate()
{
    if (need_separator_)
        out_ += ", ";
    need_separator_ = true;
}

void Json::null()
{
    separate();
    out_ += "null";
}

void Json::boolean(bool value)
{
    separate();
    out_ += value ? "true" : "false";
}

void Json::integer(long long value)
{
    separate();
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, r.ptr);
}

void Json::unsigned_integer(unsigned long long value)
{
    separate();
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    out_.append(buf, r.ptr);
}

void Json::number(double value)
{
    if (std::isnan(value))
        return text("nan");
    if (std::isinf(value))
        return text(value > 0 ? "inf" : "-inf");
    separate();
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    /* "-0" is valid JSON but most readers take it as the integer 0 and lose the sign. */
    if (r.ptr - buf == 2 && buf[0] == '-' && buf[1] == '0')
        out_ += "-0.0";
    else
        out_.append(buf, r.ptr);
}

void Json::text(const char *value)
{
    if (!value)
        return null();
    separate();
    static const char hex[] = "0123456789abcdef";
    out_ += '"';
    for (const char *p = value; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out_ += '\\';
            out_ += static_cast<char>(c);
        } else if (c < 0x20) {
            out_ += "\\u00";
            out_ += hex[c >> 4];
            out_ += hex[c & 0xf];
        } else {
            out_ += static_cast<char>(c); /* bytes >= 0x80 go through as they are */
        }
    }
    out_ += '"';
}

void Json::begin_array()
{
    separate();
    out_ += '[';
    need_separator_ = false;
}

void Json::end_array()
{
    out_ += ']';
    need_separator_ = true;
}

} // namespace zsim
