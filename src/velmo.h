/*
 * velmo's private header: the object behind an RC instance and the
 * declarations of the method functions that the tables in velmo.cpp list.
 */
#ifndef VELMO_H
#define VELMO_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "zandrelAPI.h"

/* The record behind each RC instance; its layout is fixed by the members table. */
typedef struct {
    PyObject_HEAD
    PyObject *ip_addr; /* a free slot for the script; never read or written here */
    RobotHandle handle;
} RobotObject;

/* The Linux module also exports the bridge symbols; the Windows one only its init function. */
#if defined(_WIN32)
#  define VELMO_EXPORT
#else
#  define VELMO_EXPORT __attribute__((visibility("default")))
#endif

/* Text of the address the next login hands to create_handler; shared by all RC objects. */
extern "C" char ipaddr[30];

/* The bridge functions native code may call (the library, or other extensions). */
extern "C" void pythonCallBack(int eventcode);
extern "C" double call_func(PyObject *callable, double x);

/* Registers the atexit hook from which on the bridge functions no longer
 * enter the interpreter (PyInit_velmo); 0, or -1 with an exception set. */
int watch_interpreter_exit(void);

int RC_init(PyObject *self, PyObject *args, PyObject *kwds);
void RC_dealloc(PyObject *self);

#define RC_SIGNATURE_N(function) PyObject *function(PyObject *self, PyObject *unused)
#define RC_SIGNATURE_V(function) PyObject *function(PyObject *self, PyObject *args)
#define RC_SIGNATURE_VK(function) PyObject *function(PyObject *self, PyObject *args, PyObject *kwds)
#define RC_METHOD(name, function, kind, doc) RC_SIGNATURE_##kind(function);
#include "methods.def"
#undef RC_METHOD

#endif /* VELMO_H */
