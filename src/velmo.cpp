/*
 * velmo: the Python face of the zandrel controller library. The module holds
 * one type, RC; each of its methods forwards to one library function.
 * Built against the stable ABI only, so one binary serves every CPython 3.8+.
 */
#include "velmo.h"

#include <structmember.h>

/* METH_VARARGS | METH_KEYWORDS functions take three arguments; the table stores them
 * as PyCFunction, through a cast the compiler accepts without a warning. */
#define RC_TABLE_ENTRY_N(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function)), METH_NOARGS
#define RC_TABLE_ENTRY_V(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function)), METH_VARARGS
#define RC_TABLE_ENTRY_VK(function) \
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function)), METH_VARARGS | METH_KEYWORDS

static PyMethodDef RC_methods[] = {
#define RC_METHOD(name, function, kind, doc) {#name, RC_TABLE_ENTRY_##kind(function), doc},
#include "methods.def"
#undef RC_METHOD
    {nullptr, nullptr, 0, nullptr} /* sentinel */
};

static PyMemberDef RC_members[] = {
    {const_cast<char *>("ip_addr"), T_OBJECT_EX, offsetof(RobotObject, ip_addr), 0,
     const_cast<char *>("ip address of the robot")},
    {const_cast<char *>("handle"), T_INT, offsetof(RobotObject, handle), 0,
     const_cast<char *>("robot control handle")},
    {nullptr, 0, 0, 0, nullptr} /* sentinel */
};

static PyType_Slot PyCursesPanel_Type_slots[] = {
    {Py_tp_methods, RC_methods},
    {Py_tp_members, RC_members},
    {Py_tp_init, reinterpret_cast<void *>(RC_init)},
    {Py_tp_new, reinterpret_cast<void *>(PyType_GenericNew)},
    {Py_tp_dealloc, reinterpret_cast<void *>(RC_dealloc)},
    {0, nullptr} /* sentinel */
};

static PyType_Spec RCType = {
    "velmo.RC",
    sizeof(RobotObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    PyCursesPanel_Type_slots,
};

static struct PyModuleDef rcmodule = {
    PyModuleDef_HEAD_INIT,
    "velmo",
    "Example module that creates an extension type.",
    -1,
    nullptr, /* no module-level functions */
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

#if !defined(_WIN32)
/* Python 3.8's PyMODINIT_FUNC gives the entry point no default visibility of
   its own (3.9's does), and the module is compiled with hidden visibility. */
extern "C" VELMO_EXPORT PyObject *PyInit_velmo(void);
#endif

PyMODINIT_FUNC PyInit_velmo(void)
{
    PyObject *type = PyType_FromSpec(&RCType);
    if (type == nullptr)
        return nullptr;
    PyObject *module = PyModule_Create2(&rcmodule, PYTHON_ABI_VERSION);
    if (module == nullptr) {
        Py_DECREF(type);
        return nullptr;
    }
    if (PyModule_AddObject(module, "RC", type) < 0) { /* steals the type only on success */
        Py_DECREF(type);
        Py_DECREF(module);
        return nullptr;
    }
    if (watch_interpreter_exit() < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
