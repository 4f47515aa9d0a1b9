/*
 * Format literals, checked while compiling.
 *
 * Each method pairs a parser format such as "(dddddd)iid" with a library
 * function. The parser writes each letter's C type through the target at its
 * place, so a letter that does not match the parameter it fills writes a
 * double through an int * (or past the end of the record). The build refuses
 * such a pair: each letter must be the one of its target's type, the letters
 * as many as the targets, the parentheses balanced, and a keyword list must
 * name every top-level unit.
 *
 * FORMAT("(dddddd)iid") makes a literal a type of its own, which a template
 * reads in a constant expression; the parser receives the same literal.
 */
#ifndef VELMO_FORMATS_H
#define VELMO_FORMATS_H

#include "arguments.h"

#include <cstddef>
#include <tuple>
#include <utility>

#define FORMAT(literal)                                                                                       \
    [] {                                                                                                      \
        struct Literal {                                                                                      \
            static constexpr const char *text() { return literal; }                                           \
        };                                                                                                    \
        return Literal{};                                                                                     \
    }()

namespace velmo::formats {

/* The format of a method that parses nothing. */
struct None {
    static constexpr const char *text() { return nullptr; }
};

/* The parser's letter for a target type; '?' for a type no letter here writes. */
template <class T>
inline constexpr char letter = '?';
template <>
inline constexpr char letter<double> = 'd';
template <>
inline constexpr char letter<int> = 'i';
template <>
inline constexpr char letter<float> = 'f';
template <>
inline constexpr char letter<const char *> = 's';
template <>
inline constexpr char letter<PyObject *> = 'O';

/* The letters of a tuple of targets, in order, NUL-terminated. */
template <class Tuple>
struct Letters;
template <class... T>
struct Letters<std::tuple<T *...>> {
    static constexpr char text[] = {letter<T>..., '\0'};
};

/* Every target of a parameter list, in order. */
template <class... A>
using AllTargets = decltype(std::tuple_cat(std::declval<Targets<A>>()...));

constexpr std::size_t no_keywords = static_cast<std::size_t>(-1);

/* What is wrong with a format for the letters of its targets, if anything. */
enum class Fit { ok, letter, too_few, too_many, parentheses, keywords };

constexpr Fit fit(const char *format, const char *letters, std::size_t keywords)
{
    if (format == nullptr)
        return *letters == '\0' ? Fit::ok : Fit::too_few;
    int depth = 0;
    std::size_t units = 0;
    for (const char *f = format; *f != '\0' && *f != ':' && *f != ';'; f++) {
        if (*f == '|' || *f == '$')
            continue;
        if (*f == '(') {
            units += depth++ == 0 ? 1 : 0;
            continue;
        }
        if (*f == ')') {
            if (--depth < 0)
                return Fit::parentheses;
            continue;
        }
        if (*letters == '\0')
            return Fit::too_many;
        if (*f != *letters++)
            return Fit::letter;
        units += depth == 0 ? 1 : 0;
    }
    if (depth != 0)
        return Fit::parentheses;
    if (*letters != '\0')
        return Fit::too_few;
    return keywords == no_keywords || keywords == units ? Fit::ok : Fit::keywords;
}

/* True, or the build stops here saying what is wrong with Format for these targets. */
template <class Format, class TargetTuple, std::size_t keywords = no_keywords>
constexpr bool checked()
{
    constexpr Fit result = fit(Format::text(), Letters<TargetTuple>::text, keywords);
    static_assert(result != Fit::letter, "a format letter does not match the type of the library parameter it fills");
    static_assert(result != Fit::too_few, "the format fills fewer values than the library function takes");
    static_assert(result != Fit::too_many, "the format fills more values than the library function takes");
    static_assert(result != Fit::parentheses, "the format's parentheses do not pair up");
    static_assert(result != Fit::keywords, "the keyword list does not name each unit of the format");
    return result == Fit::ok;
}

/* Does the format at `f` go on with the unit `A` spells itself - its letter
 * for a value, "(" its fields' letters ")" for a record, nothing for an
 * output? Moves `f` past it. */
template <class A>
constexpr bool spells_unit(const char *&f)
{
    if constexpr (A::shape == Shape::none) {
        return true;
    } else if constexpr (A::shape == Shape::value) {
        return *f != '\0' && *f++ == Letters<Targets<A>>::text[0];
    } else if constexpr (A::shape == Shape::group) {
        if (*f != '(')
            return false;
        ++f;
        for (const char *l = Letters<Targets<A>>::text; *l != '\0'; ++l, ++f)
            if (*f != *l)
                return false;
        return *f++ == ')';
    } else {
        return false;
    }
}

/* Is `format` exactly the one these parameters spell, so that a positional
 * call can go straight into them (positional.h)? */
template <class... A>
constexpr bool spelled_by(const char *format)
{
    if (format == nullptr)
        return false;
    const char *f = format;
    return (spells_unit<A>(f) && ...) && *f == '\0';
}

} // namespace velmo::formats

#endif /* VELMO_FORMATS_H */
