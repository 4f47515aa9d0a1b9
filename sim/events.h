/*
 * Error events: queued by whoever detects an error (under the library lock or
 * not) and delivered to the registered callback by one dedicated thread of the
 * library, with no lock held. Posting never waits for a callback.
 */
#ifndef ZSIM_EVENTS_H
#define ZSIM_EVENTS_H

#include "zandrelAPI.h"

namespace zsim {

/* Queues callback(code); starts the event thread on first use. Never throws. */
void post_callback(CallBackFuncType callback, ErrorCode code) noexcept;

/* Drops the events not yet delivered (zsim_reset). */
void drop_pending_events() noexcept;

} // namespace zsim

#endif /* ZSIM_EVENTS_H */
