/*
 * Results: the library's values as Python objects, the result tuple every
 * method returns - (code,) or (code, outputs...) - and the policies that say
 * when a method's outputs are read.
 */
#ifndef VELMO_RESULTS_H
#define VELMO_RESULTS_H

#include "velmo.h"

#include <array>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

namespace velmo {

/* ---- Python values ------------------------------------------------------- */

inline PyObject *py(int32_t v) { return PyLong_FromLong(v); }
inline PyObject *py(double v) { return PyFloat_FromDouble(v); }
inline PyObject *py(float v) { return PyFloat_FromDouble(static_cast<double>(v)); }

/* Unsigned and 64-bit outputs go through the platform's long: all bits on
 * 64-bit Linux, the low 32 bits (signed) on Windows. */
static_assert(std::is_signed<long>::value && (sizeof(long) == 8 || sizeof(long) == 4),
              "long is 64-bit (Linux) or 32-bit (Windows)");
static_assert(sizeof(long) >= sizeof(uint32_t), "an unsigned status keeps its 32 bits, a 64-bit one its low 32");
static_assert(std::is_same<decltype(LastErrorRecord::code), long>::value,
              "the last-error code is the platform's long and reaches PyLong_FromLong unconverted");
inline PyObject *py_long(uint32_t v) { return PyLong_FromLong(static_cast<long>(v)); }
inline PyObject *py_long(int64_t v) { return PyLong_FromLong(static_cast<long>(v)); }

/* Text the library wrote into a buffer of `size` bytes: read up to the first
 * NUL or the buffer's end, whichever comes first. Invalid UTF-8 raises. */
inline PyObject *py_text(const char *buffer, size_t size)
{
    const void *nul = std::memchr(buffer, '\0', size);
    size_t length = nul ? static_cast<size_t>(static_cast<const char *>(nul) - buffer) : size;
    return PyUnicode_DecodeUTF8(buffer, static_cast<Py_ssize_t>(length), nullptr);
}

struct AsTuple {
    static PyObject *make(Py_ssize_t n) { return PyTuple_New(n); }
    static int set(PyObject *s, Py_ssize_t i, PyObject *v) { return PyTuple_SetItem(s, i, v); }
};
struct AsList {
    static PyObject *make(Py_ssize_t n) { return PyList_New(n); }
    static int set(PyObject *s, Py_ssize_t i, PyObject *v) { return PyList_SetItem(s, i, v); }
};

/* A new tuple or list of n items; item(i) returns a new reference or null. */
template <class Seq, class Item>
PyObject *sequence(Py_ssize_t n, Item item)
{
    PyObject *seq = Seq::make(n);
    if (seq == nullptr)
        return nullptr;
    for (Py_ssize_t i = 0; i < n; i++) {
        PyObject *value = item(i);
        if (value == nullptr || Seq::set(seq, i, value) < 0) { /* SetItem steals even on failure */
            Py_DECREF(seq);
            return nullptr;
        }
    }
    return seq;
}

template <class Seq, class T, size_t N>
PyObject *sequence_of(const T (&values)[N])
{
    return sequence<Seq>(N, [&](Py_ssize_t i) { return py(values[i]); });
}
template <class Seq, class T, size_t N>
PyObject *sequence_of(const std::array<T, N> &values)
{
    return sequence<Seq>(N, [&](Py_ssize_t i) { return py(values[i]); });
}

/* A record's doubles in memory order. */
inline std::array<double, 6> values(const JointVector &r)
{
    return {r.jVal[0], r.jVal[1], r.jVal[2], r.jVal[3], r.jVal[4], r.jVal[5]};
}
inline std::array<double, 3> values(const Translation &t) { return {t.x, t.y, t.z}; }
inline std::array<double, 3> values(const RpyAngles &r) { return {r.rx, r.ry, r.rz}; }
inline std::array<double, 6> values(const CartPose &p)
{
    return {p.tran.x, p.tran.y, p.tran.z, p.rpy.rx, p.rpy.ry, p.rpy.rz};
}
inline std::array<double, 4> values(const QuaternionValue &q) { return {q.s, q.x, q.y, q.z}; }
inline std::array<double, 4> values(const PayloadData &p)
{
    return {p.mass, p.centroid.x, p.centroid.y, p.centroid.z};
}
inline std::array<double, 4> values(const TrajectoryConfig &c)
{
    return {c.xyz_interval, c.rpy_interval, c.vel, c.acc};
}

/* ---- the result tuple ---------------------------------------------------- */

/* Collect into one tuple of new references. */
inline std::tuple<PyObject *> items(PyObject *value) { return std::make_tuple(value); }
template <class... T>
std::tuple<T...> items(std::tuple<T...> values) { return values; }

/* A new tuple of the given items, taking ownership of every one; null if any
 * item is null (its error stays set) or the tuple cannot be made. */
template <class... Item>
PyObject *tuple_of(Item... item)
{
    PyObject *owned[] = {item...};
    constexpr Py_ssize_t n = sizeof...(Item);
    PyObject *tuple = nullptr;
    bool complete = true;
    for (PyObject *each : owned)
        complete = complete && each != nullptr;
    if (complete)
        tuple = PyTuple_New(n);
    if (tuple == nullptr) {
        for (PyObject *each : owned)
            Py_XDECREF(each);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < n; i++)
        PyTuple_SetItem(tuple, i, owned[i]);
    return tuple;
}

/* (code,) for a call with no outputs. Tuples are immutable, so the common
 * codes share one tuple each, made on first use and kept for the life of the
 * process: a set-point stream allocates nothing per call. */
PyObject *code_tuple(ErrorCode code);

/* The result tuple: the library's code, then the outputs. */
template <class... Rest>
PyObject *result_tuple(ErrorCode code, Rest... rest)
{
    if constexpr (sizeof...(Rest) == 0)
        return code_tuple(code);
    else
        return tuple_of(py(code), rest...);
}

/* Result policies for library functions with out-parameters. `convert` takes
 * the outputs in parameter order and returns a new reference, or a tuple of
 * new references for results with several elements after the code. */
template <class F>
struct OnSuccess { /* (code,) on failure, (0, converted...) on success */
    F convert;
};
template <class F>
struct Always { /* (code, converted...) whatever the code */
    F convert;
};
template <class F>
OnSuccess<F> on_success(F f) { return {f}; }
template <class F>
Always<F> always(F f) { return {f}; }

/* Library functions without outputs return (code,). */
struct CodeOnly {};

template <class Outputs>
PyObject *finish(ErrorCode code, const Outputs &, CodeOnly)
{
    static_assert(std::tuple_size<Outputs>::value == 0, "this library function has outputs");
    return result_tuple(code);
}
template <class Outputs, class F>
PyObject *finish(ErrorCode code, const Outputs &outputs, const OnSuccess<F> &policy)
{
    if (code != 0)
        return result_tuple(code);
    auto converted = items(std::apply(policy.convert, outputs));
    return std::apply([](auto... item) { return result_tuple(0, item...); }, converted);
}
template <class Outputs, class F>
PyObject *finish(ErrorCode code, const Outputs &outputs, const Always<F> &policy)
{
    auto converted = items(std::apply(policy.convert, outputs));
    return std::apply([code](auto... item) { return result_tuple(code, item...); }, converted);
}

/* ---- converters for the result policies --------------------------------- */

inline PyObject *as_int(int32_t v) { return py(v); }
inline PyObject *as_float(double v) { return py(v); }
inline PyObject *as_single(float v) { return py(v); }
inline PyObject *as_ulong(uint32_t v) { return py_long(v); }
inline PyObject *as_long(int64_t v) { return py_long(v); }

template <class R>
PyObject *as_list(const R &record) { return sequence_of<AsList>(values(record)); }
template <class R>
PyObject *as_tuple(const R &record) { return sequence_of<AsTuple>(values(record)); }

/* Three rows, each a list of three floats. */
inline PyObject *as_matrix(const RotationMatrix &m)
{
    const Translation *rows[] = {&m.x, &m.y, &m.z};
    return sequence<AsList>(3, [&](Py_ssize_t i) { return as_list(*rows[i]); });
}

} // namespace velmo

#endif /* VELMO_RESULTS_H */
