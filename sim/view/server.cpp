/*
 * The view's HTTP server (server.h): its routes, on cpp-httplib's request
 * parser and answer writer, behind the view's own listener (listener.h).
 */
#include "view/server.h"

#include "core/boundary.h"
#include "view/address.h"
#include "view/assets.h"
#include "view/http.h"
#include "view/listener.h"
#include "view/sampler.h"
#include "view/session.h"
#include "view/snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace zsim {
namespace view {

namespace {

constexpr std::chrono::milliseconds kKeepAlive{1000}; /* a stream with nothing new says so this often */
constexpr std::size_t kWriteChunk = 64 * 1024;         /* a file is written in pieces of this size */

/* httplib's parser and writer, given a connection the listener has taken in. */
class HttpServer final : public httplib::Server {
public:
    void answer(httplib::Stream &stream)
    {
        bool closed = false;
        process_request(stream, /*close_connection=*/true, closed, nullptr);
    }
    Socket listening() const { return svr_sock_; }
};

/* Set up before its threads start, then only read. */
struct View {
    explicit View(const std::string &h) : host(h), hosts(h, 0) {}

    const std::string host;
    int port = 0;
    HostCheck hosts;
    std::string url;
    HttpServer server;
    Sampler sampler;
};

std::mutex &start_mutex()
{
    static std::mutex *m = new std::mutex; /* never destroyed, like the view */
    return *m;
}

View *running = nullptr; /* guarded by start_mutex() */

std::vector<std::string> machine_names()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0])
        return {};
    return {name};
}

void refuse(httplib::Response &res, int status, const char *why)
{
    res.status = status;
    res.set_content(why, "text/plain; charset=utf-8");
}

/* What one stream has sent. */
struct StreamState {
    std::uint64_t seen = 0;  /* the number of the latest sample it knows */
    std::string opening;     /* its first event, until the sampler's first follows */
    bool opened = false;
};

void stream(View &v, httplib::Response &res)
{
    /* The first event is this stream's own (the sampler may have been
     * asleep), taken before the stream counts: a motion that waits for a
     * page (session.h) starts after the state the page sees first. */
    auto state = std::make_shared<StreamState>();
    state->seen = v.sampler.latest_number();
    state->opening = v.sampler.state_now();
    if (!v.sampler.add_stream(Listener::kMaxStreams)) {
        refuse(res, 503, "too many viewers\n");
        return;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [&v, state](std::size_t, httplib::DataSink &sink) {
            std::string message;
            if (!state->opened) {
                state->opened = true;
                message = "retry: 1000\ndata: " + state->opening + "\n\n";
                return sink.write(message.data(), message.size());
            }
            std::shared_ptr<const std::string> sample = v.sampler.next_sample(state->seen, kKeepAlive);
            if (sample && !state->opening.empty()) { /* the sampler may have taken the same state */
                const bool repeated = *sample == state->opening;
                std::string().swap(state->opening);
                if (repeated)
                    sample = v.sampler.next_sample(state->seen, kKeepAlive);
            }
            if (sample) {
                message.reserve(sample->size() + 8);
                message += "data: ";
                message += *sample;
                message += "\n\n";
            } else {
                message = ": keep-alive\n\n";
            }
            return sink.write(message.data(), message.size());
        },
        [&v](bool) { v.sampler.remove_stream(); });
}

/* A file of the page, written straight from the library's memory: a request
 * costs no copy of it. */
void send_asset(const Asset &asset, httplib::Response &res)
{
    const char *data = reinterpret_cast<const char *>(asset.data);
    res.set_content_provider(asset.size, asset.content_type,
                             [data](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
                                 return sink.write(data + offset, std::min(length, kWriteChunk));
                             });
}

/* Every request: the Host must name this server, nothing may change
 * anything, then the route. No pattern is matched against what a client
 * sent: the routes are compared as text. */
void respond(View &v, const httplib::Request &req, httplib::Response &res)
{
    if (!v.hosts.allows(req.get_header_value("Host")))
        return refuse(res, 403, "this view answers only requests for the address it serves\n");
    if (req.method != "GET" && req.method != "HEAD") {
        res.set_header("Allow", "GET, HEAD");
        return refuse(res, 405, "the view is read-only\n");
    }
    if (req.path == "/state.json") {
        res.set_header("Cache-Control", "no-store");
        return res.set_content(v.sampler.state_now(), "application/json");
    }
    if (req.path == "/arm.json") {
        static const std::string *geometry = new std::string(arm_json());
        return res.set_content(*geometry, "application/json");
    }
    if (req.path == "/events")
        return stream(v, res);
    if (const Asset *asset = find_asset(req.path))
        return send_asset(*asset, res);
    refuse(res, 404, "not found\n");
}

void route(View &v)
{
    httplib::Server &s = v.server;
    s.set_payload_max_length(8 * 1024);
    s.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'"},
        {"Referrer-Policy", "no-referrer"},
        {"Accept-Ranges", "none"},
    });
    s.set_pre_routing_handler([&v](const httplib::Request &req, httplib::Response &res) {
        respond(v, req, res);
        return httplib::Server::HandlerResponse::Handled;
    });
}

} // namespace

ServeResult serve(const std::string &host, int port, bool allow_remote, std::string &text)
{
    if (!allow_remote && !is_loopback(host)) {
        text = "the view serves only a loopback address (127.0.0.1, localhost, ::1) unless another is "
               "allowed explicitly, not " + host;
        return kNotLoopback;
    }
    std::lock_guard<std::mutex> lock(start_mutex());
    if (running) {
        const bool same = running->host == host && (port == 0 || port == running->port);
        text = same ? running->url : "the view already serves " + running->url;
        return same ? kServing : kServingElsewhere;
    }
    auto made = std::make_unique<View>(host);
    HttpServer &server = made->server;
    const int bound = port == 0 ? server.bind_to_any_port(host) : (server.bind_to_port(host, port) ? port : -1);
    if (bound <= 0) {
        text = "cannot listen on " + url_of(host, port);
        return kCannotListen;
    }
    made->port = bound;
    made->hosts = HostCheck(host, bound, machine_names());
    made->url = url_of(host, bound);
    route(*made);
    View *view = made.release(); /* never destroyed: its threads run until the process ends */
    auto *listener = new Listener(view->server.listening(),
                                  [view](httplib::Stream &s) { view->server.answer(s); });
    std::thread([listener] { listener->run(); }).detach();
    std::thread([view] { view->sampler.run(); }).detach();
    running = view;
    std::fprintf(stderr, "zsim view: %s\n", view->url.c_str());
    std::fflush(stderr);
    view_started(view->sampler, view->url);
    text = view->url;
    return kServing;
}


void serve_from_environment()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const char *endpoint = std::getenv("ZSIM_VIEW");
        if (!endpoint || !*endpoint)
            return;
        const char *remote = std::getenv("ZSIM_VIEW_REMOTE");
        std::string host, text;
        int port = 0;
        if (!parse_endpoint(endpoint, host, port))
            text = "expected host:port";
        else if (serve(host, port, remote && std::string(remote) == "1", text) == kServing)
            return;
        std::fprintf(stderr, "zsim view: not served (ZSIM_VIEW=%s): %s\n", endpoint, text.c_str());
        std::fflush(stderr);
    });
}

} // namespace view
} // namespace zsim
