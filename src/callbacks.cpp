/*
 * The bridge from native code back into Python: the error handler the library
 * calls (pythonCallBack, with set_error_handler that registers it), and
 * call_func, which calls a Python callable with numbers, as a method and for
 * native callers. Neither enters the interpreter once it has begun to exit.
 */
#include "forward.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>

using namespace velmo;

/* The handler of the most recent set_error_handler, shared by all RC objects.
 * Read and written only with the interpreter lock held. */
static PyObject *my_callback = nullptr;

static const char not_callable[] = "parameter must be callable";
static const char not_a_float[] = "call_func: callable didn't return a float\n";

/* Set by the module's atexit hook: the interpreter is finalising, and a
 * thread that asks it for its lock now is ended inside it (or, from 3.14 on,
 * made to wait forever). The bridge functions look before they ask, and again
 * once they hold the lock, so none starts a callback after the hook. (3.8's
 * stable ABI has no Py_IsFinalizing.) */
static std::atomic<bool> interpreter_exiting{false};

/* Bridge calls on their way in: past the first look at the mark, not yet
 * past the second (a thread can be held up between its look and its request
 * for the lock for any time). */
static std::atomic<int> bridge_calls_entering{0};

/* Bridge calls inside the interpreter: in the whole process, and on this
 * thread. Changed and read with the interpreter lock held. */
static int bridge_calls_inside = 0;
static thread_local int bridge_calls_on_this_thread = 0;

/* How long the exit hook waits for callbacks already on their way. */
constexpr std::chrono::seconds kExitWait{1};

static bool bridge_calls_pending()
{
    return bridge_calls_entering.load() > 0 || bridge_calls_inside > bridge_calls_on_this_thread;
}

/* The atexit hook. A callback that began before it may still be running on
 * another thread - a Python handler gives the lock up between bytecodes - and
 * another may be about to ask for the lock, so the hook lets the lock go until
 * each has returned, or has seen the mark and turned back: none runs after
 * the hook, and none asks for the lock once the interpreter is finalising. A
 * handler that blocks is not waited for beyond kExitWait. */
static PyObject *mark_interpreter_exit(PyObject *, PyObject *)
{
    interpreter_exiting.store(true);
    if (!bridge_calls_pending())
        Py_RETURN_NONE;
    const auto deadline = std::chrono::steady_clock::now() + kExitWait;
    PyObject *time = PyImport_ImportModule("time");
    while (time != nullptr && bridge_calls_pending() && std::chrono::steady_clock::now() < deadline) {
        PyObject *slept = PyObject_CallMethod(time, "sleep", "d", 0.001); /* lets the lock go */
        if (slept == nullptr)
            break; /* an interrupt: stop waiting */
        Py_DECREF(slept);
    }
    Py_XDECREF(time);
    PyErr_Clear();
    Py_RETURN_NONE;
}

static PyMethodDef exit_hook = {"_velmo_interpreter_exit", mark_interpreter_exit, METH_NOARGS, nullptr};

int watch_interpreter_exit(void)
{
    interpreter_exiting.store(false); /* a new interpreter after an embedder's Py_Finalize */
    PyObject *atexit = PyImport_ImportModule("atexit");
    if (atexit == nullptr)
        return -1;
    PyObject *hook = PyCFunction_NewEx(&exit_hook, nullptr, nullptr);
    PyObject *done = hook == nullptr ? nullptr : PyObject_CallMethod(atexit, "register", "O", hook);
    Py_XDECREF(hook);
    Py_DECREF(atexit);
    if (done == nullptr)
        return -1;
    Py_DECREF(done);
    return 0;
}

/* Takes the interpreter lock for a bridge function: false (and no lock) once
 * the interpreter is finalising. */
static bool enter_interpreter(PyGILState_STATE &gil)
{
    bridge_calls_entering++;
    if (interpreter_exiting.load() || !Py_IsInitialized()) {
        bridge_calls_entering--;
        return false;
    }
    gil = PyGILState_Ensure();
    bridge_calls_entering--;
    if (interpreter_exiting.load()) {
        PyGILState_Release(gil);
        return false;
    }
    bridge_calls_inside++;
    bridge_calls_on_this_thread++;
    return true;
}

static void leave_interpreter(PyGILState_STATE gil)
{
    bridge_calls_inside--;
    bridge_calls_on_this_thread--;
    PyGILState_Release(gil);
}

/* Print the pending exception and clear it. SystemExit goes to the unraisable
 * hook instead: PyErr_Print would end the process on it. */
static void print_pending_exception(PyObject *context)
{
    if (PyErr_ExceptionMatches(PyExc_SystemExit))
        PyErr_WriteUnraisable(context);
    else
        PyErr_Print();
}

extern "C" VELMO_EXPORT void pythonCallBack(int eventcode)
{
    PyGILState_STATE gil = PyGILState_UNLOCKED;
    if (!enter_interpreter(gil))
        return;
    /* We may run inside a method's library call: keep whatever it has pending. */
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject *handler = my_callback;
    if (handler != nullptr) {
        Py_INCREF(handler); /* the handler may replace itself */
        PyObject *result = PyObject_CallFunction(handler, "(i)", eventcode);
        if (result == nullptr)
            PyErr_WriteUnraisable(handler);
        Py_XDECREF(result);
        Py_DECREF(handler);
    }
    PyErr_Restore(type, value, traceback);
    leave_interpreter(gil);
}

PyObject *RC_set_error_handler(PyObject *self, PyObject *args)
{
    const RobotHandle *handle = checked_handle(self);
    if (handle == nullptr)
        return nullptr;
    PyObject *temp = nullptr;
    if (!parse_tuple(args, FORMAT("O:set_callback"), &temp))
        return nullptr;
    if (!PyCallable_Check(temp)) {
        PyErr_SetString(PyExc_TypeError, not_callable);
        return nullptr;
    }
    Py_INCREF(temp); /* before releasing the old one: it may be the same object */
    PyObject *previous = my_callback;
    my_callback = temp;
    Py_XDECREF(previous);
    set_error_handler(handle, pythonCallBack);
    Py_RETURN_NONE;
}

PyObject *RC_call_func(PyObject *, PyObject *args)
{
    PyObject *temp = nullptr;
    double x = 0, y = 0;
    if (!parse_tuple(args, FORMAT("Odd:set_callback"), &temp, &x, &y))
        return nullptr;
    if (!PyCallable_Check(temp)) {
        PyErr_SetString(PyExc_TypeError, not_callable);
        return nullptr;
    }
    PyObject *result = PyObject_CallFunction(temp, "(dd)", x, y);
    if (result == nullptr) {
        /* Show the traceback, then hand the same exception to the caller. */
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        Py_XINCREF(type);
        Py_XINCREF(value);
        Py_XINCREF(traceback);
        PyErr_Restore(type, value, traceback);
        print_pending_exception(temp);
        PyErr_Restore(type, value, traceback);
        return nullptr;
    }
    if (!PyFloat_Check(result)) {
        std::fputs(not_a_float, stderr);
        Py_DECREF(result);
        PyErr_SetString(PyExc_TypeError, "call_func: callable didn't return a float");
        return nullptr;
    }
    return result;
}

extern "C" VELMO_EXPORT double call_func(PyObject *callable, double x)
{
    double value = std::nan("");
    PyGILState_STATE gil = PyGILState_UNLOCKED;
    if (!enter_interpreter(gil))
        return value;
    if (callable == nullptr || !PyCallable_Check(callable)) {
        std::fputs("call_func: expected a callable\n", stderr);
    } else {
        PyObject *result = PyObject_CallFunction(callable, "(d)", x);
        if (result == nullptr)
            print_pending_exception(callable);
        else if (!PyFloat_Check(result))
            std::fputs(not_a_float, stderr);
        else
            value = PyFloat_AsDouble(result);
        Py_XDECREF(result);
    }
    leave_interpreter(gil);
    return value;
}
