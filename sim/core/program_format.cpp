/*
 * The program text format (program_format.h).
 */
#include "program_format.h"

#include "motion_bounds.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>
#include <utility>

namespace zsim {

namespace {

/* Words of a line: at most kMaxWords are kept, `count` says how many there were. */
constexpr std::size_t kMaxWords = 10;

struct Words {
    std::array<std::string_view, kMaxWords> word;
    std::size_t count = 0;
};

Words words(std::string_view line)
{
    Words out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        std::size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t')
            ++j;
        if (j > i) {
            if (out.count < kMaxWords)
                out.word[out.count] = line.substr(i, j - i);
            ++out.count;
        }
        i = j;
    }
    return out;
}

bool real(std::string_view word, double &out)
{
    const char *first = word.data(), *last = word.data() + word.size();
    if (first != last && *first == '+')
        ++first;
    const auto r = std::from_chars(first, last, out);
    return r.ec == std::errc() && r.ptr == last && std::isfinite(out);
}

bool whole(std::string_view word, double &out)
{
    long long value = 0;
    const auto r = std::from_chars(word.data(), word.data() + word.size(), value);
    if (r.ec != std::errc() || r.ptr != word.data() + word.size() || value < INT32_MIN ||
        value > INT32_MAX)
        return false;
    out = static_cast<double>(value);
    return true;
}

/* A move: six values, a speed and an optional acc, each at least its lower
 * bound (the calls' own, motion_bounds.h). */
bool move(const Words &w, double min_speed, double min_acc, ProgramLine &line)
{
    if (w.count != 8 && w.count != 9)
        return false;
    for (std::size_t i = 1; i < w.count; ++i)
        if (!real(w.word[i], line.values[i - 1]))
            return false;
    return line.values[6] >= min_speed && (w.count == 8 || line.values[7] >= min_acc);
}

/* false for an empty or comment line. */
bool parse_line(std::string_view text, ProgramLine &line)
{
    const std::size_t hash = text.find('#');
    if (hash != std::string_view::npos)
        text = text.substr(0, hash);
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    const Words w = words(text);
    if (w.count == 0)
        return false;
    line.kind = ProgramLine::kBad;
    line.values = {};
    const std::string_view command = w.word[0];
    if (command == "movj") {
        if (move(w, bounds::kMinJointSpeed, bounds::kMinJointAcc, line))
            line.kind = ProgramLine::kJointMove;
    } else if (command == "movl") {
        if (move(w, bounds::kMinLinearSpeed, bounds::kMinLinearAcc, line))
            line.kind = ProgramLine::kLinearMove;
    } else if (command == "dout") {
        if (w.count == 4 && whole(w.word[1], line.values[0]) && whole(w.word[2], line.values[1]) &&
            whole(w.word[3], line.values[2]) && (line.values[2] == 0 || line.values[2] == 1))
            line.kind = ProgramLine::kDigitalOut;
    } else if (command == "wait") {
        if (w.count == 2 && real(w.word[1], line.values[0]) && line.values[0] >= 0 &&
            line.values[0] <= bounds::kMaxWaitSeconds)
            line.kind = ProgramLine::kWait;
    }
    return true;
}

/* The numbers a command of each kind keeps. */
std::size_t values_of(ProgramLine::Kind kind)
{
    switch (kind) {
    case ProgramLine::kJointMove:
    case ProgramLine::kLinearMove:
        return 8;
    case ProgramLine::kDigitalOut:
        return 3;
    case ProgramLine::kWait:
        return 1;
    case ProgramLine::kBad:
        break;
    }
    return 0;
}

} // namespace

ProgramLine Program::command(std::size_t index) const
{
    const Command &c = commands_[index];
    ProgramLine line;
    line.kind = static_cast<ProgramLine::Kind>(c.number_and_kind & 7u);
    line.number = static_cast<std::int32_t>(c.number_and_kind >> 3);
    for (std::size_t i = 0; i < values_of(line.kind); ++i)
        line.values[i] = values_[c.first + i];
    return line;
}

void Program::add(const ProgramLine &line)
{
    const auto first = static_cast<std::uint32_t>(values_.size());
    for (std::size_t i = 0; i < values_of(line.kind); ++i)
        values_.push_back(line.values[i]);
    commands_.push_back({static_cast<std::uint32_t>(line.number) << 3 | line.kind, first});
}

ErrorCode parse_program(const std::string &name, const std::string &text, Program &out)
{
    /* Lines fit: a file of at most 64 MiB has fewer than 2^29 of them. */
    Program program;
    program.name = name;
    const std::string_view all(text);
    std::size_t start = 0;
    std::int32_t number = 0;
    ProgramLine line;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string_view::npos)
            end = all.size();
        ++number;
        if (parse_line(all.substr(start, end - start), line)) {
            if (program.size() == Program::kMaxCommands)
                return kFileTooLarge;
            line.number = number;
            program.add(line);
        }
        start = end + 1;
    }
    out = std::move(program);
    return kOk;
}

std::size_t number_chars(double value, char (&text)[kNumberChars])
{
    if (value == 0) { /* -0 too */
        text[0] = '0';
        return 1;
    }
    return static_cast<std::size_t>(std::to_chars(text, text + kNumberChars, value).ptr - text);
}

std::string number_text(double value)
{
    char text[kNumberChars];
    return std::string(text, number_chars(value, text));
}

} // namespace zsim
