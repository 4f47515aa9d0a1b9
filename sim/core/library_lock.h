/*
 * The library lock: one mutex guards every controller, the handle registry
 * and the motion queues.
 *
 * It is held for short work only: an entry point takes it, does its work and
 * releases it; a blocking move waits on a condition variable, which releases
 * it meanwhile. It is never held while an error callback runs (callbacks go
 * through the event thread, events.h) and nothing under it waits for the
 * interpreter lock. The probe (edge/) and the debug log have mutexes of their
 * own and never hold them together with this one.
 */
#ifndef ZSIM_LIBRARY_LOCK_H
#define ZSIM_LIBRARY_LOCK_H

#include <mutex>

namespace zsim {

using Lock = std::unique_lock<std::mutex>;

/* Never destroyed: the library's detached threads may still use it at exit. */
std::mutex &library_mutex();

} // namespace zsim

#endif /* ZSIM_LIBRARY_LOCK_H */
