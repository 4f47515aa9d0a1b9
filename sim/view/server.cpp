/*
 * The view's HTTP server (server.h), on cpp-httplib.
 */
#include "view/server.h"

#include "core/boundary.h"
#include "view/address.h"
#include "view/assets.h"
#include "view/frames.h"
#include "view/snapshot.h"

#if defined(_WIN32)
/* httplib's listener polls on Windows (with 0 it would spin): once a second. */
#define CPPHTTPLIB_IDLE_INTERVAL_SECOND 1
#define CPPHTTPLIB_IDLE_INTERVAL_USECOND 0
#else
#include <sys/socket.h>
#include <unistd.h>
/* A viewer gone mid-stream is a failed write, not a SIGPIPE for the process. */
#define CPPHTTPLIB_SEND_FLAGS MSG_NOSIGNAL
#endif
#define CPPHTTPLIB_LISTEN_BACKLOG 128
#include <httplib.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace zsim {
namespace view {

namespace {

/* A stream keeps its worker: room for kMaxStreams viewers and the requests
 * of the pages around them. */
constexpr std::size_t kWorkers = 72;
constexpr int kMaxStreams = 64;
constexpr std::chrono::milliseconds kKeepAlive{1000}; /* a stream with nothing new says so this often */

/* Set up before its threads start, then only read. */
struct View {
    explicit View(const std::string &h) : host(h), hosts(h, 0) {}

    const std::string host;
    int port = 0;
    HostCheck hosts;
    std::string url;
    httplib::Server server;
    Frames frames;
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

/* httplib's pool, each connection's work inside the guard: a failure there
 * (no memory) ends that connection, not the process. */
class GuardedPool final : public httplib::ThreadPool {
public:
    GuardedPool() : ThreadPool(kWorkers) {}
    void enqueue(std::function<void()> work) override
    {
        ThreadPool::enqueue([work = std::move(work)] { guarded(work); });
    }
};

void refuse(httplib::Response &res, int status, const char *why)
{
    res.status = status;
    res.set_content(why, "text/plain; charset=utf-8");
}

/* Whatever the route: the Host must name this server, and nothing may change anything. */
httplib::Server::HandlerResponse screen(const View &v, const httplib::Request &req, httplib::Response &res)
{
    if (!v.hosts.allows(req.get_header_value("Host"))) {
        refuse(res, 403, "this view answers only requests for the address it serves\n");
        return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method != "GET" && req.method != "HEAD") {
        res.set_header("Allow", "GET, HEAD");
        refuse(res, 405, "the view is read-only\n");
        return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
}

/* What one stream has sent. */
struct StreamState {
    std::uint64_t seen = 0;  /* the number of the latest frame it knows */
    std::string opening;     /* its first frame, until the sampler's first follows */
    bool opened = false;
};

void stream(View &v, httplib::Response &res)
{
    if (!v.frames.join(kMaxStreams)) {
        refuse(res, 503, "too many viewers\n");
        return;
    }
    /* The first frame is this stream's own: the sampler may have been asleep. */
    auto state = std::make_shared<StreamState>();
    state->seen = v.frames.latest_number();
    state->opening = v.frames.state_now();
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
            std::shared_ptr<const std::string> frame = v.frames.next(state->seen, kKeepAlive);
            if (frame && !state->opening.empty()) { /* the sampler may have taken the same state */
                const bool repeated = *frame == state->opening;
                std::string().swap(state->opening);
                if (repeated)
                    frame = v.frames.next(state->seen, kKeepAlive);
            }
            if (frame) {
                message.reserve(frame->size() + 8);
                message += "data: ";
                message += *frame;
                message += "\n\n";
            } else {
                message = ": keep-alive\n\n";
            }
            return sink.write(message.data(), message.size());
        },
        [&v](bool) { v.frames.leave(); });
}

void route(View &v)
{
    httplib::Server &s = v.server;
    s.new_task_queue = [] { return new GuardedPool; };
    s.set_keep_alive_timeout(2);
    s.set_payload_max_length(8 * 1024);
    s.set_default_headers({
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy", "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'"},
        {"Referrer-Policy", "no-referrer"},
    });
    s.set_pre_routing_handler(
        [&v](const httplib::Request &req, httplib::Response &res) { return screen(v, req, res); });
    s.Get("/state.json", [&v](const httplib::Request &, httplib::Response &res) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(v.frames.state_now(), "application/json");
    });
    s.Get("/arm.json", [](const httplib::Request &, httplib::Response &res) {
        static const std::string *geometry = new std::string(arm_json());
        res.set_content(*geometry, "application/json");
    });
    s.Get("/events", [&v](const httplib::Request &, httplib::Response &res) { stream(v, res); });
    s.Get(".*", [](const httplib::Request &req, httplib::Response &res) {
        const Asset *asset = find_asset(req.path);
        if (!asset)
            return refuse(res, 404, "not found\n");
        res.set_content(reinterpret_cast<const char *>(asset->data), asset->size, asset->content_type);
    });
}

void listen(View *v)
{
    guarded([v] { v->server.listen_after_bind(); });
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
    httplib::Server &server = made->server;
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
    std::thread(listen, view).detach();
    std::thread([view] { view->frames.run(); }).detach();
    running = view;
    std::fprintf(stderr, "zsim view: %s\n", view->url.c_str());
    std::fflush(stderr);
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
