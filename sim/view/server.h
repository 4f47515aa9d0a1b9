/*
 * The live view of the virtual arm: a page served by the library itself, from
 * threads of its own, so it keeps moving while a Python script sits in a
 * blocking move with the interpreter lock held.
 *
 *   /            the page (page/index.html): the arm in 3D, its readouts, IO lamps
 *   /state.json  every controller's state (snapshot.h)
 *   /arm.json    the arm's geometry
 *   /events      the state as server-sent events, a sample whenever it changes
 *                (at most every kSamplePeriod), a keep-alive comment otherwise
 *   /<file>      the page's scripts and styles, the vendored libraries and
 *                their licences (assets.h)
 *
 * Read-only: GET and HEAD only, nothing reaches the arm. Requests whose Host
 * header does not name the address served are refused (address.h). One view
 * per process; it runs until the process ends.
 *
 * Threads: the listener, which takes in every request, and the workers that
 * answer (listener.h, which also says every limit on clients), and the
 * sampler (sampler.h). None of them holds the library lock except to copy a
 * snapshot, and none writes to a socket with any lock held.
 */
#ifndef ZSIM_VIEW_SERVER_H
#define ZSIM_VIEW_SERVER_H

#include <string>

namespace zsim {
namespace view {

enum ServeResult {
    kServing = 0,      /* `text` is the URL */
    kNotLoopback = 1,  /* another address than loopback, not allowed explicitly */
    kCannotListen = 2, /* the address cannot be bound (in use, unknown) */
    kServingElsewhere = 3, /* the process already serves the view at another address */
};

/* Serves the view at host:port (port 0: a free one) and writes its URL once
 * to standard error; or finds it already serving there (port 0 matches any).
 * `text` is the URL, or why not. */
ServeResult serve(const std::string &host, int port, bool allow_remote, std::string &text);

/* Once per process: serves the view where ZSIM_VIEW=host:port says, if set
 * (ZSIM_VIEW_REMOTE=1 allows an address other than loopback). A failure is
 * written to standard error; the library works on without the view. */
void serve_from_environment();

} // namespace view
} // namespace zsim

#endif /* ZSIM_VIEW_SERVER_H */
