/*
 * The one place where the virtual controller stops a C++ exception.
 *
 * Every extern "C" function of the library (edge/) runs its body through
 * guarded(), and so do the loops of the library's own threads: an exception
 * (in practice std::bad_alloc, or std::system_error when no thread can be
 * started) becomes the caller's failure value instead of crossing into C or
 * ending the process. Everything below lets exceptions pass.
 *
 * The platform's forced unwinding is not an error and passes through: when
 * the interpreter ends a thread at exit (pthread_exit) glibc unwinds its
 * stack with an exception of its own, and a handler that swallows it makes
 * the process abort ("FATAL: exception not rethrown"). libstdc++ names it
 * abi::__forced_unwind; libc++abi has no name for it, but knows it is not a
 * C++ exception.
 */
#ifndef ZSIM_BOUNDARY_H
#define ZSIM_BOUNDARY_H

#include <utility> /* first: it says which C++ library this is */

#if defined(__GLIBCXX__) || defined(_LIBCPP_VERSION)
#include <cxxabi.h>
#endif

namespace zsim {

/* body() or, when it throws, on_failure. Not noexcept: forced unwinding must
 * be able to leave. */
template <class Result, class Body>
Result guarded(Result on_failure, Body &&body)
{
    try {
        return std::forward<Body>(body)();
    }
#if defined(__GLIBCXX__)
    catch (abi::__forced_unwind &) {
        throw;
    }
#endif
    catch (...) {
#if defined(_LIBCPP_VERSION) && !defined(_WIN32)
        if (!abi::__cxa_current_exception_type()) /* not C++: forced unwinding */
            throw;
#endif
        return on_failure;
    }
}

/* For bodies with nothing to return. */
template <class Body>
void guarded(Body &&body)
{
    guarded(0, [&] {
        std::forward<Body>(body)();
        return 0;
    });
}

} // namespace zsim

#endif /* ZSIM_BOUNDARY_H */
