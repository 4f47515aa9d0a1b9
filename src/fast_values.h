/*
 * The values the argument fast path takes, and how it reads them: an exact
 * float or int for a double, an exact int or bool in range for an int. No
 * Python code runs and nothing is raised; false means "leave this call to
 * the parser", which then writes every target again or raises its own error.
 */
#ifndef VELMO_FAST_VALUES_H
#define VELMO_FAST_VALUES_H

#include "velmo.h"

#include <climits>

namespace velmo::fast {

/* An exact int as a double; false (nothing raised) when it is too large,
 * where the parser raises OverflowError. Out of line: ints for floats are
 * the rarer case. */
bool int_to_double(PyObject *value, double *target);

inline bool take(PyObject *value, double *target)
{
    if (PyFloat_CheckExact(value)) {
        *target = PyFloat_AsDouble(value);
        return true;
    }
    return PyLong_CheckExact(value) && int_to_double(value, target);
}

inline bool take(PyObject *value, int *target)
{
    if (!PyLong_CheckExact(value) && !PyBool_Check(value))
        return false;
    int overflow = 0;
    long v = PyLong_AsLongAndOverflow(value, &overflow);
    if (overflow != 0 || v < INT_MIN || v > INT_MAX)
        return false;
    *target = static_cast<int>(v);
    return true;
}

} // namespace velmo::fast

#endif /* VELMO_FAST_VALUES_H */
