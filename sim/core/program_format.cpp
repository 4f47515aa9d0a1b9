/*
 * The program text format (program_format.h).
 */
#include "program_format.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace zsim {

namespace {

std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i)
            out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

bool real(const std::string &word, double &out)
{
    const char *first = word.data(), *last = word.data() + word.size();
    if (first != last && *first == '+')
        ++first;
    const auto r = std::from_chars(first, last, out);
    return r.ec == std::errc() && r.ptr == last && std::isfinite(out);
}

bool whole(const std::string &word, double &out)
{
    long long value = 0;
    const auto r = std::from_chars(word.data(), word.data() + word.size(), value);
    if (r.ec != std::errc() || r.ptr != word.data() + word.size() || value < INT32_MIN ||
        value > INT32_MAX)
        return false;
    out = static_cast<double>(value);
    return true;
}

/* A move: six values, a speed > 0 and an optional acc > 0. */
bool move(const std::vector<std::string> &w, ProgramLine &line)
{
    if (w.size() != 8 && w.size() != 9)
        return false;
    for (std::size_t i = 1; i < w.size(); ++i)
        if (!real(w[i], line.values[i - 1]))
            return false;
    return line.values[6] > 0 && (w.size() == 8 || line.values[7] > 0);
}

ProgramLine parse_line(std::string text)
{
    const std::size_t hash = text.find('#');
    if (hash != std::string::npos)
        text.erase(hash);
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    const std::vector<std::string> w = words(text);
    ProgramLine line;
    if (w.empty())
        return line;
    line.kind = ProgramLine::kBad;
    const std::string &command = w[0];
    if (command == "movj" || command == "movl") {
        if (move(w, line))
            line.kind = command == "movj" ? ProgramLine::kJointMove : ProgramLine::kLinearMove;
    } else if (command == "dout") {
        if (w.size() == 4 && whole(w[1], line.values[0]) && whole(w[2], line.values[1]) &&
            whole(w[3], line.values[2]) && (line.values[2] == 0 || line.values[2] == 1))
            line.kind = ProgramLine::kDigitalOut;
    } else if (command == "wait") {
        if (w.size() == 2 && real(w[1], line.values[0]) && line.values[0] >= 0)
            line.kind = ProgramLine::kWait;
    }
    return line;
}

} // namespace

Program parse_program(const std::string &name, const std::string &text)
{
    Program program;
    program.name = name;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        program.lines.push_back(parse_line(text.substr(start, end - start)));
        start = end + 1;
    }
    return program;
}

std::string number_text(double value)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    std::string text(buf, r.ptr);
    return text == "-0" ? "0" : text;
}

} // namespace zsim
