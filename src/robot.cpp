/*
 * The robot object: its constructor and destructor, the address the next
 * login uses, and the connection methods login and logout.
 */
#include "forward.h"

#include <cstring>

using namespace velmo;

extern "C" {
/* Exported: native callers may read which address the next login uses. */
VELMO_EXPORT char ipaddr[30];
}

int RC_init(PyObject *, PyObject *args, PyObject *)
{
    const char *address = nullptr;
    if (!parse_tuple(args, FORMAT("s"), &address))
        return -1;
    std::strncpy(ipaddr, address, sizeof ipaddr - 1);
    ipaddr[sizeof ipaddr - 1] = '\0';
    return 0;
}

/* Destruction releases what the script left in ip_addr; it never calls the
 * library, so a connection that was not logged out stays open there. */
void RC_dealloc(PyObject *self)
{
    PyTypeObject *type = Py_TYPE(self);
    PyObject *ip_addr = reinterpret_cast<RobotObject *>(self)->ip_addr;
    reinterpret_cast<RobotObject *>(self)->ip_addr = nullptr;
    Py_XDECREF(ip_addr);
    freefunc free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    Py_DECREF(type); /* instances of heap types own a reference to their type */
}

PyObject *RC_log_in(PyObject *self, PyObject *)
{
    RobotHandle *handle = &reinterpret_cast<RobotObject *>(self)->handle;
    *handle = 1;
    ErrorCode code = create_handler(ipaddr, handle);
    /* A failed login must not leave a handle that might belong to another connection. */
    if (code != 0)
        *handle = -1;
    return result_tuple(code);
}

PyObject *RC_log_out(PyObject *self, PyObject *)
{
    return forward(self, no_args, destory_handler);
}
