/*
 * Error events: queued by whoever detects an error (under the library lock or
 * not) and delivered to the registered callback by one dedicated thread of the
 * library, with no lock held. Posting never waits for a callback.
 */
#ifndef ZSIM_EVENTS_H
#define ZSIM_EVENTS_H

#include "zandrelAPI.h"

namespace zsim {

/* Queues callback(code); starts the event thread on first use. Throws when
 * there is no memory or no thread for it (the event is then lost). */
void post_callback(CallBackFuncType callback, ErrorCode code);

/* Drops the events not yet delivered: the event thread's share of zsim_reset. */
void drop_pending_events();

} // namespace zsim

#endif /* ZSIM_EVENTS_H */
