/*
 * Threads for calling error callbacks.
 *
 * A callback may never return: when the interpreter ends a thread during its
 * exit, it unwinds that thread's stack with the platform's forced unwinding.
 * Every frame the unwinding meets must let it pass. A frame whose function
 * has cleanups or handlers hands the unwinding to its C++ runtime's
 * personality routine, and where that runtime carries an unwinder of its own
 * (libc++ linked statically, as in the portable Linux wheel) the routine
 * cannot read the platform unwinder's state and the process crashes. So the
 * frames between a thread's start and a callback have no cleanups at all:
 * these threads start from a plain C routine, not through std::thread, and
 * a callback is called from a function without C++ objects to destroy or
 * handlers, which keeps such work (the guard's) in ZSIM_OWN_FRAME helpers.
 */
#ifndef ZSIM_THREADS_H
#define ZSIM_THREADS_H

namespace zsim {

/* Marks a helper that must stay a frame of its own, so that its cleanups and
 * handlers (the guard's) stay out of the plain frame that calls a callback. */
#define ZSIM_OWN_FRAME __attribute__((noinline))

namespace threads {

using Routine = void (*)(void *arg);

/* Runs routine(arg) on a new detached thread; false when none could be
 * started (routine then never runs). */
bool start_detached(Routine routine, void *arg);

/* Runs routine(arg) on a new thread and waits until it has returned; false
 * when none could be started. */
bool run_joined(Routine routine, void *arg);

} // namespace threads
} // namespace zsim

#endif /* ZSIM_THREADS_H */
