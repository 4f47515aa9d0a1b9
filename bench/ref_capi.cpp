/*
 * Reference for the call benchmarks, on the full (non-limited) C API: what a
 * hand-written extension tied to one interpreter version can do with the
 * macros the stable ABI does not offer (PyTuple_SET_ITEM, PyTuple_GET_ITEM,
 * PyFloat_AS_DOUBLE). get_robot_status builds the same 389 objects as velmo's;
 * servo_j takes positional arguments only. Built by build_refs.sh; never shipped.
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zandrelAPI.h"

namespace {

struct RCObject {
    PyObject_HEAD
    RobotHandle handle;
};

const RobotHandle *checked(PyObject *self)
{
    RCObject *rc = reinterpret_cast<RCObject *>(self);
    if (rc->handle < 0) {
        PyErr_SetString(PyExc_Exception, "invalid robot control handle");
        return nullptr;
    }
    return &rc->handle;
}

/* Fills a new tuple; on a failed item the tuple (and what it holds) goes. */
template <class T, size_t N, class Make>
PyObject *tuple_from(const T (&values)[N], Make make)
{
    PyObject *t = PyTuple_New(N);
    if (t == nullptr)
        return nullptr;
    for (size_t i = 0; i < N; i++) {
        PyObject *item = make(values[i]);
        if (item == nullptr) {
            Py_DECREF(t);
            return nullptr;
        }
        PyTuple_SET_ITEM(t, i, item);
    }
    return t;
}

PyObject *int_item(int32_t v) { return PyLong_FromLong(v); }
PyObject *float_item(double v) { return PyFloat_FromDouble(v); }
PyObject *float_from_int(int32_t v) { return PyFloat_FromDouble(static_cast<double>(v)); }

PyObject *status_tuple(const RobotStatusRecord &s)
{
    PyObject *items[20] = {
        PyLong_FromLong(s.status_0), PyLong_FromLong(s.status_1), PyLong_FromLong(s.status_2),
        PyLong_FromLong(s.status_3), PyFloat_FromDouble(s.status_4), PyLong_FromLong(s.status_5),
        PyLong_FromLong(s.status_6), PyLong_FromLong(static_cast<long>(s.status_7)),
        PyLong_FromLong(static_cast<long>(s.status_8)), PyLong_FromLong(static_cast<long>(s.status_9)),
        tuple_from(s.status_10, int_item), tuple_from(s.status_11, int_item),
        tuple_from(s.status_12, float_item), tuple_from(s.status_13, float_item),
        tuple_from(s.status_14, float_from_int), tuple_from(s.status_15, int_item),
        tuple_from(s.status_16, float_item), tuple_from(s.status_17, float_from_int),
        tuple_from(s.status_18, float_item), tuple_from(s.status_19, float_item)};
    PyObject *t = PyTuple_New(20);
    for (int i = 0; i < 20; i++) {
        if (items[i] == nullptr || t == nullptr) {
            Py_XDECREF(t);
            for (PyObject *item : items)
                Py_XDECREF(item);
            return nullptr;
        }
    }
    for (int i = 0; i < 20; i++)
        PyTuple_SET_ITEM(t, i, items[i]);
    return t;
}

PyObject *code_tuple(ErrorCode code) { return Py_BuildValue("(i)", code); }

PyObject *RC_get_robot_status(PyObject *self, PyObject *)
{
    const RobotHandle *handle = checked(self);
    if (handle == nullptr)
        return nullptr;
    RobotStatusRecord s{};
    ErrorCode code = get_robot_status(handle, &s);
    if (code != 0)
        return code_tuple(code);
    PyObject *status = status_tuple(s);
    if (status == nullptr)
        return nullptr;
    PyObject *result = PyTuple_New(2);
    if (result == nullptr) {
        Py_DECREF(status);
        return nullptr;
    }
    PyTuple_SET_ITEM(result, 0, PyLong_FromLong(0));
    PyTuple_SET_ITEM(result, 1, status);
    return result;
}

/* Exact tuple or list of six exact floats, then an exact int; anything else
 * goes through the argument parser. */
PyObject *RC_servo_j(PyObject *self, PyObject *args)
{
    const RobotHandle *handle = checked(self);
    if (handle == nullptr)
        return nullptr;
    JointVector v{};
    int move_mode = 0;
    bool done = false;
    if (PyTuple_GET_SIZE(args) == 2) {
        PyObject *seq = PyTuple_GET_ITEM(args, 0), *mode = PyTuple_GET_ITEM(args, 1);
        PyObject **items = nullptr;
        if (PyTuple_CheckExact(seq) && PyTuple_GET_SIZE(seq) == 6)
            items = &PyTuple_GET_ITEM(seq, 0);
        else if (PyList_CheckExact(seq) && PyList_GET_SIZE(seq) == 6)
            items = &PyList_GET_ITEM(seq, 0);
        if (items != nullptr && PyLong_CheckExact(mode)) {
            done = true;
            for (int i = 0; i < 6 && done; i++) {
                done = PyFloat_CheckExact(items[i]);
                if (done)
                    v.jVal[i] = PyFloat_AS_DOUBLE(items[i]);
            }
            int overflow = 0;
            long m = done ? PyLong_AsLongAndOverflow(mode, &overflow) : 0;
            done = done && !overflow && m >= INT32_MIN && m <= INT32_MAX;
            move_mode = static_cast<int>(m);
        }
    }
    if (!done && !PyArg_ParseTuple(args, "(dddddd)i", &v.jVal[0], &v.jVal[1], &v.jVal[2], &v.jVal[3],
                                   &v.jVal[4], &v.jVal[5], &move_mode))
        return nullptr;
    ErrorCode code = servo_j(handle, &v, move_mode);
    PyObject *result = PyTuple_New(1);
    if (result != nullptr)
        PyTuple_SET_ITEM(result, 0, PyLong_FromLong(code));
    return result;
}

int RC_init(PyObject *self, PyObject *args, PyObject *)
{
    int handle = -1;
    if (!PyArg_ParseTuple(args, "i", &handle))
        return -1;
    reinterpret_cast<RCObject *>(self)->handle = handle;
    return 0;
}

PyMethodDef RC_methods[] = {
    {"get_robot_status", RC_get_robot_status, METH_NOARGS, nullptr},
    {"servo_j", RC_servo_j, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject RCType = {PyVarObject_HEAD_INIT(nullptr, 0)};

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "ref_capi", nullptr, -1, nullptr,
                          nullptr, nullptr, nullptr, nullptr};

} // namespace

PyMODINIT_FUNC PyInit_ref_capi(void)
{
    RCType.tp_name = "ref_capi.RC";
    RCType.tp_basicsize = sizeof(RCObject);
    RCType.tp_flags = Py_TPFLAGS_DEFAULT;
    RCType.tp_new = PyType_GenericNew;
    RCType.tp_init = RC_init;
    RCType.tp_methods = RC_methods;
    if (PyType_Ready(&RCType) < 0)
        return nullptr;
    PyObject *m = PyModule_Create(&module_def);
    if (m == nullptr)
        return nullptr;
    Py_INCREF(&RCType);
    if (PyModule_AddObject(m, "RC", reinterpret_cast<PyObject *>(&RCType)) < 0) {
        Py_DECREF(&RCType);
        Py_DECREF(m);
        return nullptr;
    }
    return m;
}
