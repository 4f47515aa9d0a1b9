/*
 * For library functions that work on files (programs, trajectories): the file
 * work runs without the library lock, between a check of the handle and the
 * step that changes the controller. Neither the handle check nor the file
 * work takes the library lock, so a slow disk never holds up other calls.
 */
#ifndef ZSIM_API_FILES_H
#define ZSIM_API_FILES_H

#include "api_support.h"
#include "files.h"

namespace zsim {

/* `checked`: what the check of the call's own arguments found (a refusal
 * returns at once, as with_controller's). Checks the handle (unknown:
 * kUnknownHandle, shut down: kShutDown), runs work() without the lock, then
 * finish(controller, lock, code) under it; what finish returns is recorded
 * as the last error when it is one. */
template <class Work, class Finish>
ErrorCode with_files(const RobotHandle *handle, ErrorCode checked, Work &&work, Finish &&finish)
{
    if (checked != kOk)
        return refuse(handle, checked);
    if (const ErrorCode known = check_handle(handle))
        return known;
    const ErrorCode code = work();
    return with_controller(handle, [&](Controller &rc, Lock &lock) { return finish(rc, lock, code); });
}

/* The same when nothing but the handle is needed from the controller: what
 * the file work found is only recorded (without the library lock). */
template <class Work>
ErrorCode with_files(const RobotHandle *handle, ErrorCode checked, Work &&work)
{
    if (checked != kOk)
        return refuse(handle, checked);
    if (const ErrorCode known = check_handle(handle))
        return known;
    const ErrorCode code = work();
    return code == kOk ? check_handle(handle) : refuse(handle, code);
}

} // namespace zsim

#endif /* ZSIM_API_FILES_H */
