/*
 * The one shape every RC method has: handle check, argument parsing into
 * records on the method's own stack, one library call, result tuple.
 *
 * A method names its parse (format and keywords), its library function and,
 * for functions with out-parameters, how the outputs become Python values
 * (results.h). The library function's parameter types after the handle decide
 * the rest: each type has one Arg<> trait (arguments.h) that says where the
 * parser writes it and how it is handed to the library, and the build checks
 * the format against those types (formats.h).
 */
#ifndef VELMO_FORWARD_H
#define VELMO_FORWARD_H

#include "arguments.h"
#include "formats.h"
#include "positional.h"
#include "results.h"
#include "velmo.h"

#include <array>
#include <cstddef>
#include <tuple>

/* The fast path (fast_args.cpp) decodes the common argument shapes - exact
 * floats and ints, in exact tuples and lists, by position or keyword - without
 * the interpreter's parser. Built in unless VELMO_FAST_PATH is 0 (CMake option
 * VELMO_FAST_PATH=OFF). */
#ifndef VELMO_FAST_PATH
#define VELMO_FAST_PATH 1
#endif

namespace velmo {

/* ---- handle check ------------------------------------------------------ */

inline const RobotHandle *checked_handle(PyObject *self)
{
    RobotObject *robot = reinterpret_cast<RobotObject *>(self);
    if (robot->handle < 0) {
        PyErr_SetString(PyExc_Exception, "invalid robot control handle");
        return nullptr;
    }
    return &robot->handle;
}

/* ---- parsing ------------------------------------------------------------- */

/* The fast path returns false, with nothing raised, for every call it does
 * not take; the parser then decides as it always did. */
bool parse_fast(PyObject *args, PyObject *kwds, const char *format, const char *const *keywords,
                void *const *targets, size_t count);

/* How a method takes its arguments: its format (a FORMAT literal, or
 * formats::None for none) and, for keyword methods, its keyword list, whose
 * length the type keeps for the build's check. */
template <class Format, std::size_t Keywords = formats::no_keywords>
struct Parse {
    PyObject *args = nullptr;
    PyObject *kwds = nullptr;
    const char *const *keywords = nullptr;

    Parse() = default;
    Parse(PyObject *a, Format) : args(a) {}
    template <std::size_t N>
    Parse(PyObject *a, PyObject *k, Format, const char *const (&kw)[N]) : args(a), kwds(k), keywords(kw)
    {
    }

    template <class... T>
    bool operator()(std::tuple<T *...> targets) const
    {
        static_assert(Format::text() != nullptr, "a method without a format parses nothing");
#if VELMO_FAST_PATH
        /* The format says each target's type, as it does for the parser. */
        std::array<void *, sizeof...(T)> slots = std::apply(
            [](T *...target) { return std::array<void *, sizeof...(T)>{static_cast<void *>(target)...}; },
            targets);
        if (parse_fast(args, kwds, Format::text(), keywords, slots.data(), slots.size()))
            return true;
#endif
        return std::apply(
            [this](T *...target) {
                if (keywords == nullptr)
                    return PyArg_ParseTuple(args, Format::text(), target...) != 0;
                return PyArg_ParseTupleAndKeywords(args, kwds, Format::text(), const_cast<char **>(keywords),
                                                   target...) != 0;
            },
            targets);
    }
};

template <class Format>
Parse(PyObject *, Format) -> Parse<Format>;
/* The list ends with its null sentinel, which names no unit. */
template <class Format, std::size_t N>
Parse(PyObject *, PyObject *, Format, const char *const (&)[N]) -> Parse<Format, N - 1>;

/* Methods that take no arguments, or take and ignore whatever they are given. */
inline const Parse<formats::None> no_args{};

/* PyArg_ParseTuple for a method written out, its format checked against its
 * targets as forward() checks its own. */
template <class Format, class... T>
bool parse_tuple(PyObject *args, Format, T *...targets)
{
    static_assert(formats::checked<Format, std::tuple<T *...>>());
    return PyArg_ParseTuple(args, Format::text(), targets...) != 0;
}

/* ---- the forward ---------------------------------------------------------- */

/* Every argument through the fast path or the parser. */
template <class Format, std::size_t Keywords, class... A>
bool parse_into(const Parse<Format, Keywords> &parse, std::tuple<A...> &args)
{
    auto targets = std::apply([](auto &...arg) { return std::tuple_cat(arg.targets()...); }, args);
    return parse(targets);
}

/* The same, out of line, for positional calls the positional path does not
 * take (an int for a float, a sequence of another type): inline, the compiler
 * builds the table of targets before the positional path, which then pays for
 * it on every call. */
template <class Format, std::size_t Keywords, class... A>
[[gnu::noinline]] bool parse_into_after_all(const Parse<Format, Keywords> &parse, std::tuple<A...> &args)
{
    return parse_into(parse, args);
}

/* Handle check, parse, one call of `function`, result. */
template <class Result = CodeOnly, class Format, std::size_t Keywords, class... P>
PyObject *forward(PyObject *self, const Parse<Format, Keywords> &parse,
                  ErrorCode (*function)(const RobotHandle *, P...), Result result = {})
{
    static_assert(formats::checked<Format, formats::AllTargets<Arg<P>...>, Keywords>());
    const RobotHandle *handle = checked_handle(self);
    if (handle == nullptr)
        return nullptr;
    std::tuple<Arg<P>...> args;
    if constexpr (VELMO_FAST_PATH && formats::spelled_by<Arg<P>...>(Format::text())) {
        /* A call with keywords goes to the fast path and the parser; a positional
         * call goes straight into its parameters, else to them out of line. */
        const bool parsed = parse.kwds != nullptr ? parse_into(parse, args)
                                                  : fast::take_positional(parse.args, args) ||
                                                        parse_into_after_all(parse, args);
        if (!parsed)
            return nullptr;
    } else if constexpr (Format::text() != nullptr) {
        if (!parse_into(parse, args))
            return nullptr;
    }
    ErrorCode code = std::apply([&](auto &...arg) { return function(handle, arg.pass()...); }, args);
    auto outputs = std::apply([](auto &...arg) { return std::tuple_cat(arg.output()...); }, args);
    return finish(code, outputs, result);
}

} // namespace velmo

#endif /* VELMO_FORWARD_H */
