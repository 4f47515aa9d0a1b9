/*
 * The JSON reader (json_reader.h): recursive descent over the text, one
 * character of look-ahead, counting lines as it goes.
 */
#include "json_reader.h"

#include "text.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace zsim {

const JsonValue *JsonValue::find(const std::string &key) const
{
    for (const auto &member : members)
        if (member.first == key)
            return &member.second;
    return nullptr;
}

namespace {

class Reader {
public:
    Reader(const std::string &text, std::string &why) : text_(text), why_(why) {}

    bool document(JsonValue &out)
    {
        skip_space();
        if (!value(out, 0))
            return false;
        skip_space();
        if (at_ < text_.size())
            return fail("text after the end of the JSON value");
        return true;
    }

private:
    bool fail(const std::string &what)
    {
        why_ = "line " + std::to_string(line_) + ": " + what;
        return false;
    }

    int peek() const { return at_ < text_.size() ? static_cast<unsigned char>(text_[at_]) : -1; }

    void skip_space()
    {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '\n')
                ++line_;
            else if (c != ' ' && c != '\t' && c != '\r')
                return;
            ++at_;
        }
    }

    bool literal(const char *word)
    {
        for (const char *p = word; *p; ++p, ++at_)
            if (at_ >= text_.size() || text_[at_] != *p)
                return fail(std::string("expected ") + word);
        return true;
    }

    bool value(JsonValue &out, int depth)
    {
        if (depth > kJsonMaxDepth)
            return fail("nested too deeply");
        out.line = line_;
        switch (peek()) {
        case '{':
            return object(out, depth);
        case '[':
            return array(out, depth);
        case '"':
            out.type = JsonValue::Type::kString;
            return string(out.text);
        case 't':
            out.type = JsonValue::Type::kBool;
            out.boolean = true;
            return literal("true");
        case 'f':
            out.type = JsonValue::Type::kBool;
            return literal("false");
        case 'n':
            out.type = JsonValue::Type::kNull;
            return literal("null");
        case -1:
            return fail("the text ends where a value should be");
        default:
            return number(out);
        }
    }

    bool object(JsonValue &out, int depth)
    {
        out.type = JsonValue::Type::kObject;
        ++at_;
        skip_space();
        if (peek() == '}') {
            ++at_;
            return true;
        }
        for (;;) {
            skip_space();
            if (peek() != '"')
                return fail("expected a member name in double quotes");
            std::string key;
            if (!string(key))
                return false;
            skip_space();
            if (peek() != ':')
                return fail("expected ':' after the member name");
            ++at_;
            skip_space();
            out.members.emplace_back(std::move(key), JsonValue());
            if (!value(out.members.back().second, depth + 1))
                return false;
            skip_space();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == '}') {
                ++at_;
                return true;
            }
            return fail("expected ',' or '}' in an object");
        }
    }

    bool array(JsonValue &out, int depth)
    {
        out.type = JsonValue::Type::kArray;
        ++at_;
        skip_space();
        if (peek() == ']') {
            ++at_;
            return true;
        }
        for (;;) {
            skip_space();
            out.items.emplace_back();
            if (!value(out.items.back(), depth + 1))
                return false;
            skip_space();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            if (peek() == ']') {
                ++at_;
                return true;
            }
            return fail("expected ',' or ']' in an array");
        }
    }

    static void append_utf8(std::string &out, unsigned long code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xc0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xe0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (code & 0x3f));
        }
    }

    bool hex4(unsigned long &code)
    {
        code = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            const int c = peek();
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= static_cast<unsigned long>(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= static_cast<unsigned long>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= static_cast<unsigned long>(c - 'A' + 10);
            else
                return fail("expected four hex digits after \\u");
        }
        return true;
    }

    bool string(std::string &out)
    {
        ++at_; /* the opening quote */
        for (;;) {
            const int c = peek();
            if (c == -1)
                return fail("a string is not closed");
            ++at_;
            if (c == '"')
                break;
            if (c < 0x20)
                return fail("a control character inside a string");
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            const int e = peek();
            ++at_;
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned long code = 0;
                if (!hex4(code))
                    return false;
                if (code >= 0xd800 && code <= 0xdbff) {
                    unsigned long low = 0;
                    if (peek() != '\\' || (++at_, peek() != 'u'))
                        return fail("a lone surrogate in a \\u escape");
                    ++at_;
                    if (!hex4(low))
                        return false;
                    if (low < 0xdc00 || low > 0xdfff)
                        return fail("a lone surrogate in a \\u escape");
                    code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                } else if (code >= 0xdc00 && code <= 0xdfff) {
                    return fail("a lone surrogate in a \\u escape");
                }
                if (code == 0)
                    return fail("a NUL character inside a string");
                append_utf8(out, code);
                break;
            }
            default:
                return fail("an unknown escape in a string");
            }
        }
        if (!text::valid_utf8(out))
            return fail("a string that is not valid UTF-8");
        return true;
    }

    bool digits()
    {
        const std::size_t start = at_;
        while (peek() >= '0' && peek() <= '9')
            ++at_;
        return at_ > start;
    }

    /* NaN, Infinity and -Infinity (Python's json writes them) are read as
     * numbers so that whoever checks the value can name it. */
    bool non_finite(JsonValue &out, bool negative)
    {
        out.type = JsonValue::Type::kNumber;
        if (peek() == 'N') {
            out.number = std::nan("");
            return literal("NaN");
        }
        out.number = negative ? -HUGE_VAL : HUGE_VAL;
        return literal("Infinity");
    }

    bool number(JsonValue &out)
    {
        const std::size_t start = at_;
        if (peek() == 'N' || peek() == 'I')
            return non_finite(out, false);
        if (peek() == '-') {
            ++at_;
            if (peek() == 'I')
                return non_finite(out, true);
        }
        if (peek() == '0')
            ++at_;
        else if (!digits())
            return fail("expected a value");
        if (peek() == '.') {
            ++at_;
            if (!digits())
                return fail("expected digits after the decimal point");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-')
                ++at_;
            if (!digits())
                return fail("expected digits in the exponent");
        }
        /* The classic locale: the script's locale may use a decimal comma. */
        std::istringstream in(text_.substr(start, at_ - start));
        in.imbue(std::locale::classic());
        double v = 0;
        in >> v;
        if (in.fail() || !std::isfinite(v))
            return fail("a number out of range");
        out.type = JsonValue::Type::kNumber;
        out.number = v;
        return true;
    }

    const std::string &text_;
    std::string &why_;
    std::size_t at_ = 0;
    int line_ = 1;
};

} // namespace

bool parse_json(const std::string &text, JsonValue &out, std::string &why)
{
    out = JsonValue();
    return Reader(text, why).document(out);
}

} // namespace zsim
