/*
 * Positional calls in a method's own format, decoded without any lookup.
 *
 * A library function's parameter types spell a parser format of their own:
 * "d" for a double, "i" for an int32_t, "(dd..)" for an input record, nothing
 * for an output (formats::spelled_by). When a method parses exactly that
 * format - known while compiling - and the call passes every argument by
 * position, each argument goes straight into its Arg<>, with the rules of the
 * fast path (fast_values.h). Anything else - keywords, another count, a value
 * of another type - returns false and the call goes on to the fast path and
 * the parser, which write every target again.
 */
#ifndef VELMO_POSITIONAL_H
#define VELMO_POSITIONAL_H

#include "arguments.h"
#include "fast_values.h"

#include <tuple>

namespace velmo::fast {

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
        constexpr Py_ssize_t size = std::tuple_size<Targets<A>>::value;
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

/* Positional arguments (a call without keywords) of a method whose format
 * its parameters spell themselves, taken into `args`. */
template <class... A>
bool take_positional(PyObject *positional, std::tuple<A...> &args)
{
    constexpr Py_ssize_t count = (0 + ... + (A::shape == Shape::none ? 0 : 1));
    if (PyTuple_Size(positional) != count)
        return false;
    Py_ssize_t i = 0;
    return std::apply([&](A &...arg) { return (take_arg(positional, i, arg) && ...); }, args);
}

} // namespace velmo::fast

#endif /* VELMO_POSITIONAL_H */
