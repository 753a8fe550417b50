#include "Endpoint.h"

#include <microhttpd.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <list>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane {

namespace {

using Clock = std::chrono::steady_clock;

// Connections accepted in one burst before the evictions of the loop catch up
// are refused at once beyond this many times the kept number.
constexpr unsigned kBurstFactor = 2;
constexpr int kBacklog = 64;

std::string errorBody(const std::string& message) {
    return nlohmann::json{{"error", message}}.dump();
}

// A body is optional; when present it must be one JSON object.
bool bodyAcceptable(const std::string& body) {
    if (body.find_first_not_of(" \t\r\n") == std::string::npos)
        return true;
    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    return !parsed.is_discarded() && parsed.is_object();
}

std::string header(MHD_Connection* connection, const char* name) {
    const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
    return value != nullptr ? value : "";
}

struct Reply {
    unsigned status = 200;
    std::string body;
    const char* type = "application/json";
    const char* allow = nullptr; // for 405
    int retryAfter = 0;          // seconds, for 429
    bool page = false;
    bool close = false; // refusals end the connection
};

Reply refusal(unsigned status, const std::string& message) {
    Reply r;
    r.status = status;
    r.body = errorBody(message);
    r.close = true;
    return r;
}

Reply tooMany(const std::string& message, int retryAfter) {
    Reply r = refusal(429, message);
    r.retryAfter = retryAfter;
    return r;
}

MHD_Result send(MHD_Connection* connection, const Reply& reply) {
    MHD_Response* response = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char*>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    if (reply.page) {
        MHD_add_response_header(response, "Content-Security-Policy",
                                "default-src 'none'; script-src 'unsafe-inline'; "
                                "style-src 'unsafe-inline'; connect-src 'self'; "
                                "frame-ancestors 'none'; form-action 'none'; base-uri 'none'");
        MHD_add_response_header(response, "X-Frame-Options", "DENY");
    }
    if (reply.status == 401)
        MHD_add_response_header(response, MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer");
    if (reply.allow != nullptr)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, reply.allow);
    if (reply.retryAfter > 0)
        MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER,
                                std::to_string(reply.retryAfter).c_str());
    if (reply.close)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(connection, reply.status, response);
    MHD_destroy_response(response);
    return queued;
}

enum class Route { Page, Status, Start, Stop };

// What one request has gathered between the calls for its body.
struct Request {
    Route route = Route::Page;
    std::string body;
};

} // namespace

struct Endpoint::Server {
    explicit Server(EndpointLimits l) : limits(std::move(l)), gate(limits.gate, gateNow()) {}

    std::string token;
    EndpointHooks hooks;
    EndpointLimits limits;
    Gate gate;
    int port = 0;
    MHD_Daemon* daemon = nullptr;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};

    // Every callback runs on the loop thread, or in MHD_stop_daemon after the
    // loop has ended: the bookkeeping below needs no lock.
    struct Connection {
        int fd = -1;
        Clock::time_point since;
        bool kept = true; // in `kept`; false once shut down
        std::list<Connection*>::iterator at;
    };
    // Connections still allowed to deliver a request, the longest waiting first.
    std::list<Connection*> kept;

    GateClock::time_point gateNow() const {
        return limits.clock ? limits.clock() : GateClock::now();
    }

    void keep(Connection* c) {
        c->since = Clock::now();
        c->at = kept.insert(kept.end(), c);
    }
    // Ends the connection without freeing its socket: the library notices the
    // end on its next turn, closes it and tells onConnection.
    void cut(Connection* c) {
        if (!c->kept)
            return;
        c->kept = false;
        kept.erase(c->at);
        ::shutdown(c->fd, SHUT_RDWR);
    }
    void expire() {
        const Clock::time_point now = Clock::now();
        while (!kept.empty() && now - kept.front()->since >= limits.deadline)
            cut(kept.front());
    }
    int msToNextDeadline() const {
        if (kept.empty())
            return -1;
        const auto left = kept.front()->since + limits.deadline - Clock::now();
        return static_cast<int>(
            std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }

    static void onConnection(void* self, MHD_Connection* connection, void** context,
                             MHD_ConnectionNotificationCode code) {
        auto* server = static_cast<Server*>(self);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo* info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            auto* c = new (std::nothrow) Connection;
            if (c == nullptr || info == nullptr) {
                delete c;
                return;
            }
            c->fd = info->connect_fd;
            try {
                server->keep(c);
            } catch (...) {
                delete c;
                return;
            }
            *context = c;
            while (server->kept.size() > server->limits.connections)
                server->cut(server->kept.front());
            return;
        }
        auto* c = static_cast<Connection*>(*context);
        if (c == nullptr)
            return;
        if (c->kept)
            server->kept.erase(c->at);
        delete c;
        *context = nullptr;
    }

    // The next request on a connection that stays open has its own deadline.
    static void onCompleted(void* self, MHD_Connection* connection, void** context,
                            MHD_RequestTerminationCode) {
        delete static_cast<Request*>(*context);
        *context = nullptr;
        auto* server = static_cast<Server*>(self);
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        auto* c = info != nullptr ? static_cast<Connection*>(info->socket_context) : nullptr;
        if (c != nullptr && c->kept) {
            c->since = Clock::now();
            server->kept.splice(server->kept.end(), server->kept, c->at);
        }
    }

    static MHD_Result onRequest(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char* upload,
                                std::size_t* uploadSize, void** context) {
        auto* server = static_cast<Server*>(self);
        try {
            auto* request = static_cast<Request*>(*context);
            if (request == nullptr)
                return server->begin(connection, url, method, context);
            if (*uploadSize != 0) {
                // Bodies come with a length no larger than the limit (begin
                // refuses the others); should more come, the connection ends.
                if (request->body.size() + *uploadSize > server->limits.body)
                    return MHD_NO;
                request->body.append(upload, *uploadSize);
                *uploadSize = 0;
                return MHD_YES;
            }
            return send(connection, server->finish(*request));
        } catch (...) {
            return send(connection, refusal(500, "internal error"));
        }
    }

    // The headers are in: refuse what can be refused before any body is read.
    MHD_Result begin(MHD_Connection* connection, const std::string& path, const std::string& method,
                     void** context) {
        if (!hostAllowed(header(connection, MHD_HTTP_HEADER_HOST), port))
            return send(connection, refusal(403, "host not allowed"));
        const bool get = method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
        const bool post = method == MHD_HTTP_METHOD_POST;
        Route route;
        if (path == "/") {
            if (!get)
                return send(connection, notAllowed("GET, HEAD"));
            route = Route::Page;
        } else if (path == "/api/status" || path == "/api/start" || path == "/api/stop") {
            // A page of another site may not send commands, whatever it knows.
            if (post && !originAllowed(header(connection, "Origin"), port))
                return send(connection, refusal(403, "origin not allowed"));
            int retryAfter = 0;
            if (!gate.mayCheckToken(gateNow(), retryAfter))
                return send(connection,
                            tooMany("too many wrong tokens; try again later", retryAfter));
            if (!tokenAccepted(header(connection, MHD_HTTP_HEADER_AUTHORIZATION), token)) {
                gate.tokenRefused(gateNow());
                return send(connection, refusal(401, "missing or wrong token"));
            }
            if (path == "/api/status") {
                if (!get)
                    return send(connection, notAllowed("GET, HEAD"));
                route = Route::Status;
            } else {
                if (!post)
                    return send(connection, notAllowed("POST"));
                route = path == "/api/start" ? Route::Start : Route::Stop;
            }
        } else {
            return send(connection, refusal(404, "not found"));
        }
        // A body of unknown length could only be judged by reading it: it must
        // declare its length, and one too large for the limit is refused
        // unread.
        if (!header(connection, MHD_HTTP_HEADER_TRANSFER_ENCODING).empty())
            return send(connection, refusal(411, "a body must come with Content-Length"));
        const std::string length = header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
        std::size_t declared = 0;
        if (!length.empty()) {
            const auto [end, ec] =
                std::from_chars(length.data(), length.data() + length.size(), declared);
            if (ec == std::errc::result_out_of_range ||
                (ec == std::errc() && end == length.data() + length.size() &&
                 declared > limits.body))
                return send(connection, refusal(413, "request too large"));
        }
        auto* request = new Request;
        request->route = route;
        *context = request;
        return MHD_YES;
    }

    Reply finish(const Request& request) {
        Reply reply;
        switch (request.route) {
        case Route::Page:
            reply.body = controlPage();
            reply.type = "text/html; charset=utf-8";
            reply.page = true;
            return reply;
        case Route::Status:
            reply.body = hooks.status();
            return reply;
        case Route::Start:
        case Route::Stop: {
            if (!bodyAcceptable(request.body))
                return refusal(400, "the body is not a JSON object");
            int retryAfter = 0;
            if (!gate.mayChangeState(gateNow(), retryAfter))
                return tooMany("too many starts and stops; try again later", retryAfter);
            const bool start = request.route == Route::Start;
            if (!(start ? hooks.start() : hooks.stop())) {
                reply.status = 503;
                reply.body = errorBody("no recorder attached");
                return reply;
            }
            reply.body = nlohmann::json{{"ok", true}, {"command", start ? "start" : "stop"}}.dump();
            return reply;
        }
        }
        return refusal(500, "internal error");
    }

    static Reply notAllowed(const char* allow) {
        Reply r = refusal(405, "method not allowed");
        r.allow = allow;
        return r;
    }

    void loop() {
        const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_EPOLL_FD);
        const int epollFd = info != nullptr ? info->epoll_fd : -1;
        while (!stopping.load()) {
            int wait = msToNextDeadline();
            MHD_UNSIGNED_LONG_LONG library = 0;
            if (MHD_get_timeout(daemon, &library) == MHD_YES) {
                const int capped =
                    static_cast<int>(std::min<MHD_UNSIGNED_LONG_LONG>(library, 60000));
                wait = wait < 0 ? capped : std::min(wait, capped);
            }
            pollfd fds[2] = {{wakeFd, POLLIN, 0}, {epollFd, POLLIN, 0}};
            if (::poll(fds, epollFd >= 0 ? 2 : 1, wait) < 0 && errno != EINTR)
                break;
            if (stopping.load())
                break;
            MHD_run(daemon);
            expire();
        }
    }
};

bool hostAllowed(const std::string& host, int port) {
    std::string name = host;
    const std::string::size_type colon = host.rfind(':');
    if (colon != std::string::npos) {
        name = host.substr(0, colon);
        if (host.substr(colon + 1) != std::to_string(port))
            return false;
    }
    std::string lower;
    for (char c : name)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return lower == "127.0.0.1" || lower == "localhost";
}

bool tokenAccepted(const std::string& authorization, const std::string& token) {
    static const std::string scheme = "bearer";
    if (token.empty() || authorization.size() <= scheme.size())
        return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        const char c = authorization[i];
        if (((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c) != scheme[i])
            return false;
    }
    std::size_t at = scheme.size();
    if (authorization[at] != ' ')
        return false;
    while (at < authorization.size() && authorization[at] == ' ')
        ++at;
    if (authorization.size() - at != token.size())
        return false;
    unsigned difference = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(authorization[at + i]) ^
                      static_cast<unsigned char>(token[i]);
    return difference == 0;
}

Endpoint::Endpoint() = default;

Endpoint::~Endpoint() {
    stop();
}

bool Endpoint::listen(int port, std::string& error) {
    stop();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::string("cannot open a socket: ") + std::strerror(errno);
        return false;
    }
    // Only SO_REUSEADDR: a port that another listener holds must stay refused.
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t length = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd, kBacklog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + " (" + std::strerror(errno) +
                ")";
        ::close(fd);
        return false;
    }
    listenFd_ = fd;
    port_ = ntohs(addr.sin_port);
    return true;
}

bool Endpoint::serve(std::string token, EndpointHooks hooks, std::string& error,
                     EndpointLimits limits) {
    if (listenFd_ < 0 || running()) {
        error = "the endpoint has no port of its own";
        return false;
    }
    if (const std::string problem = tokenProblem(token); !problem.empty()) {
        error = "the token " + problem;
        return false;
    }
    auto server = std::make_unique<Server>(std::move(limits));
    server->token = std::move(token);
    server->hooks = std::move(hooks);
    server->port = port_;
    server->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (server->wakeFd < 0) {
        error = std::string("cannot make an event descriptor: ") + std::strerror(errno);
        return false;
    }
    const unsigned hardLimit = server->limits.connections * kBurstFactor;
    const unsigned idleSeconds = static_cast<unsigned>(std::max<long long>(
        1, std::chrono::ceil<std::chrono::seconds>(server->limits.deadline).count()));
    Server* raw = server.get();
    server->daemon = MHD_start_daemon(
        MHD_USE_EPOLL, 0, nullptr, nullptr, &Server::onRequest, raw, MHD_OPTION_LISTEN_SOCKET,
        listenFd_, MHD_OPTION_CONNECTION_LIMIT, hardLimit, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        server->limits.requestMemory, MHD_OPTION_CONNECTION_TIMEOUT, idleSeconds,
        MHD_OPTION_NOTIFY_CONNECTION, &Server::onConnection, raw, MHD_OPTION_NOTIFY_COMPLETED,
        &Server::onCompleted, raw, MHD_OPTION_END);
    if (server->daemon == nullptr) {
        // The library may have closed the socket it was given: it is not
        // closed again here.
        listenFd_ = -1;
        ::close(server->wakeFd);
        error = "the HTTP server could not start";
        return false;
    }
    listenFd_ = -1; // the daemon closes it
    server_ = std::move(server);
    thread_ = std::thread([raw] { raw->loop(); });
    return true;
}

void Endpoint::stop() {
    if (thread_.joinable()) {
        server_->stopping = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(server_->wakeFd, &one, sizeof one);
        thread_.join();
    }
    if (server_) {
        MHD_stop_daemon(server_->daemon);
        ::close(server_->wakeFd);
        server_.reset();
    }
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
    port_ = 0;
}

} // namespace orvane
