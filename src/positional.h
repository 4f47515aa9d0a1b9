/*
 * Positional calls in a method's own format, decoded without any lookup.
 *
 * A library function's parameter types spell a parser format of their own:
 * "d" for a double, "i" for an int32_t, "(dd..)" for an input record, nothing
 * for an output. When a method parses exactly that format and the call
 * passes every argument by position, each argument goes straight into its
 * Arg<>, with the rules of the fast path (fast_values.h). Anything else -
 * keywords, another count, a format with optional parts or text, a value of
 * another type - returns false and the call goes on to the fast path and the
 * parser, which write every target again.
 */
#ifndef VELMO_POSITIONAL_H
#define VELMO_POSITIONAL_H

#include "fast_values.h"

#include <tuple>

namespace velmo::fast {

/* The parser's letter for a target; '?' (no format unit) for any other type. */
constexpr char letter(double *) { return 'd'; }
constexpr char letter(int *) { return 'i'; }
template <class T>
constexpr char letter(T *) { return '?'; }

inline bool next(const char *&f, char c)
{
    if (*f != c)
        return false;
    ++f;
    return true;
}

/* Does the format at `f` go on with what `arg` takes? Moves `f` past it. */
template <class A>
bool spelled(const char *&f, A &arg)
{
    if constexpr (A::shape == Shape::none) {
        return true;
    } else if constexpr (A::shape == Shape::value) {
        return next(f, letter(std::get<0>(arg.targets())));
    } else if constexpr (A::shape == Shape::group) {
        return next(f, '(') &&
               std::apply([&](auto *...field) { return (next(f, letter(field)) && ...); }, arg.targets()) &&
               next(f, ')');
    } else {
        return false;
    }
}

/* Is `format` the one these parameters spell? The answer for the last format
 * asked each way is kept: a method asks with the same literal every time. */
template <class... A>
bool spells(const char *format, std::tuple<A...> &args)
{
    static const char *own = nullptr, *other = nullptr;
    if (format == own)
        return true;
    if (format == other)
        return false;
    const char *f = format;
    const bool same = std::apply([&](A &...arg) { return (spelled(f, arg) && ...); }, args) && *f == '\0';
    (same ? own : other) = format;
    return same;
}

/* A group's fields from an exact tuple or list already known to be its length. */
template <PyObject *(*Item)(PyObject *, Py_ssize_t), class... T>
bool take_items(PyObject *seq, std::tuple<T *...> fields)
{
    Py_ssize_t i = 0;
    return std::apply([&](T *...field) { return (take(Item(seq, i++), field) && ...); }, fields);
}

template <class A>
bool take_arg(PyObject *args, Py_ssize_t &i, A &arg)
{
    if constexpr (A::shape == Shape::none) {
        return true;
    } else if constexpr (A::shape == Shape::value) {
        return take(PyTuple_GetItem(args, i++), std::get<0>(arg.targets()));
    } else if constexpr (A::shape == Shape::group) {
        constexpr Py_ssize_t size = std::tuple_size<decltype(arg.targets())>::value;
        PyObject *seq = PyTuple_GetItem(args, i++);
        if (PyTuple_CheckExact(seq))
            return PyTuple_Size(seq) == size && take_items<PyTuple_GetItem>(seq, arg.targets());
        if (PyList_CheckExact(seq))
            return PyList_Size(seq) == size && take_items<PyList_GetItem>(seq, arg.targets());
        return false;
    } else {
        return false;
    }
}

/* Positional arguments in the parameters' own format, taken into `args`. */
template <class... A>
bool take_positional(const Parse &parse, std::tuple<A...> &args)
{
    constexpr Py_ssize_t count = (0 + ... + (A::shape == Shape::none ? 0 : 1));
    if (parse.format == nullptr || parse.kwds != nullptr || PyTuple_Size(parse.args) != count ||
        !spells(parse.format, args))
        return false;
    Py_ssize_t i = 0;
    return std::apply([&](A &...arg) { return (take_arg(parse.args, i, arg) && ...); }, args);
}

} // namespace velmo::fast

#endif /* VELMO_POSITIONAL_H */
