/*
 * cpp-httplib (third_party/) as the view configures it. Every file of the view
 * includes it through here, so that each sees the same settings (its
 * functions are inline: two settings would be two definitions of one).
 *
 * The view uses httplib to parse a request whose head it has already read
 * and checked (connection.h, listener.h) and to write the answer; it does not
 * use httplib's own listener, thread pool or keep-alive loop.
 */
#ifndef ZSIM_VIEW_HTTP_H
#define ZSIM_VIEW_HTTP_H

/* poll() rather than select(): a socket numbered past FD_SETSIZE is a socket
 * like any other (a script may hold many files open). */
#define CPPHTTPLIB_USE_POLL
#if !defined(_WIN32)
#include <sys/socket.h>
/* A viewer gone mid-stream is a failed write, not a SIGPIPE for the process. */
#define CPPHTTPLIB_SEND_FLAGS MSG_NOSIGNAL
#endif
#define CPPHTTPLIB_LISTEN_BACKLOG 128
#include <httplib.h>

#endif /* ZSIM_VIEW_HTTP_H */
