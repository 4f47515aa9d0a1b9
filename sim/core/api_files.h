/*
 * For library functions that work on files (programs, trajectories): the file
 * work runs without the library lock, between a check of the handle and the
 * step that changes the controller.
 */
#ifndef ZSIM_API_FILES_H
#define ZSIM_API_FILES_H

#include "api_support.h"
#include "files.h"

namespace zsim {

/* Checks the handle (unknown: kUnknownHandle, shut down: kShutDown), runs
 * work() without the lock, then finish(controller, lock, code) under it;
 * what finish returns is recorded as the last error when it is one. */
template <class Work, class Finish>
ErrorCode with_files(const RobotHandle *handle, Work &&work, Finish &&finish)
{
    const ErrorCode known = with_controller(handle, [](Controller &, Lock &) { return kOk; });
    if (known != kOk)
        return known;
    const ErrorCode code = work();
    return with_controller(handle, [&](Controller &rc, Lock &lock) { return finish(rc, lock, code); });
}

/* The same when nothing but the handle is needed from the controller. */
template <class Work>
ErrorCode with_files(const RobotHandle *handle, Work &&work)
{
    return with_files(handle, std::forward<Work>(work), [](Controller &, Lock &, ErrorCode code) { return code; });
}

} // namespace zsim

#endif /* ZSIM_API_FILES_H */
