/*
 * pyconfig.h for building velmo for 64-bit Windows against the stable ABI
 * (python3.dll), with MinGW-w64 or MSVC.
 *
 * The rest of the interpreter's headers are the same on every platform; this
 * one says what the platform is. It holds only what the limited API headers
 * consult: the sizes of the C types, that the interpreter is a DLL whose
 * functions and data are imported (so that PyMODINIT_FUNC exports the init
 * function), and the Windows markers. The CMake build puts it in place of the
 * build machine's own pyconfig.h.
 */
#ifndef Py_CONFIG_H
#define Py_CONFIG_H

#if !defined(_WIN64)
#  error "this configuration is for 64-bit Windows only"
#endif

/* The platform. */
#define MS_WINDOWS
#define MS_WIN32 /* the Win32 API, in its 64-bit form */
#define MS_WIN64
#define NT_THREADS
#define WITH_THREAD
#define PLATFORM "win32"

/* The interpreter is a DLL: its functions and objects are imported, module
 * init functions are exported. */
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL

/* LLP64: long stays 32 bits, pointers and sizes are 64. */
#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_FLOAT 4
#define SIZEOF_DOUBLE 8
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8 /* equal to SIZEOF_VOID_P: Py_ssize_t is intptr_t */
#define SIZEOF_UINTPTR_T 8
#define SIZEOF_TIME_T 8
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF_HKEY 8
#define SIZEOF_PID_T 4 /* the interpreter's pid_t is int on Windows */
#define SIZEOF_WCHAR_T 2
#define SIZEOF__BOOL 1
#define ALIGNOF_SIZE_T 8
#define ALIGNOF_LONG 4
#define HAVE_LONG_LONG 1

/* IEEE 754 doubles, little-endian; wchar_t holds UTF-16. */
#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1
#define HAVE_WCHAR_H 1
#define HAVE_STDDEF_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STDARG_PROTOTYPES 1
#define HAVE_SYS_STAT_H 1

#endif /* Py_CONFIG_H */
