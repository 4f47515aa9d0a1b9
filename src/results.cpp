/*
 * The result tuples every method shares.
 */
#include "results.h"

#include <iterator>

using namespace velmo;

PyObject *velmo::code_tuple(ErrorCode code)
{
    static PyObject *shared[128]; /* (0,) to (127,); read and written with the GIL held */
    const bool common = code >= 0 && code < static_cast<ErrorCode>(std::size(shared));
    if (common && shared[code] != nullptr) {
        Py_INCREF(shared[code]);
        return shared[code];
    }
    PyObject *tuple = tuple_of(py(code));
    if (common && tuple != nullptr) {
        Py_INCREF(tuple);
        shared[code] = tuple;
    }
    return tuple;
}
