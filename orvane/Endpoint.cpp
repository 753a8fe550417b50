#include "Endpoint.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <sys/socket.h>

namespace orvane {

namespace {

constexpr std::size_t kMaxBody = 4096;

std::string errorBody(const std::string& message) {
    return nlohmann::json{{"error", message}}.dump();
}

void sendJson(httplib::Response& res, int status, const std::string& body) {
    res.status = status;
    res.set_content(body, "application/json");
}

const char* statusText(int status) {
    switch (status) {
    case 400:
        return "bad request";
    case 413:
        return "request too large";
    case 414:
        return "request line too long";
    default:
        return "request refused";
    }
}

bool knownPath(const std::string& path) {
    return path == "/" || path == "/api/status" || path == "/api/start" || path == "/api/stop";
}

// A body is optional; when present it must be one JSON object.
bool bodyAcceptable(const std::string& body) {
    if (body.find_first_not_of(" \t\r\n") == std::string::npos)
        return true;
    const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
    return !parsed.is_discarded() && parsed.is_object();
}

// Only SO_REUSEADDR: a port that another listener holds must stay refused.
void socketOptions(socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

} // namespace

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
    static const std::string scheme = "Bearer ";
    if (token.empty() || authorization.size() != scheme.size() + token.size() ||
        authorization.compare(0, scheme.size(), scheme) != 0)
        return false;
    unsigned difference = 0;
    for (std::size_t i = 0; i < token.size(); ++i)
        difference |= static_cast<unsigned char>(authorization[scheme.size() + i]) ^
                      static_cast<unsigned char>(token[i]);
    return difference == 0;
}

Endpoint::Endpoint() = default;

Endpoint::~Endpoint() {
    stop();
}

bool Endpoint::start(int port, std::string token, EndpointHooks hooks, std::string& error) {
    stop();
    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new httplib::ThreadPool(2); };
    server->set_socket_options(socketOptions);
    server->set_payload_max_length(kMaxBody);
    server->set_keep_alive_timeout(1);
    server->set_read_timeout(2);
    server->set_write_timeout(2);
    server->set_default_headers({{"Cache-Control", "no-store"},
                                 {"X-Content-Type-Options", "nosniff"},
                                 {"Referrer-Policy", "no-referrer"}});

    const int bound = port == 0 ? server->bind_to_any_port("127.0.0.1")
                                : (server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) +
                " (the port is in use or not allowed)";
        return false;
    }
    port_ = bound;

    auto shared = std::make_shared<EndpointHooks>(std::move(hooks));
    const int ownPort = port_;

    server->set_pre_routing_handler(
        [ownPort, token](const httplib::Request& req, httplib::Response& res) {
            // A page of another site that got its name resolved to this machine
            // still sends its own name as Host.
            if (!hostAllowed(req.get_header_value("Host"), ownPort)) {
                sendJson(res, 403, errorBody("host not allowed"));
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.path.rfind("/api/", 0) == 0 &&
                !tokenAccepted(req.get_header_value("Authorization"), token)) {
                res.set_header("WWW-Authenticate", "Bearer");
                sendJson(res, 401, errorBody("missing or wrong token"));
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });

    server->Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy",
                       "default-src 'none'; script-src 'unsafe-inline'; "
                       "style-src 'unsafe-inline'; connect-src 'self'; frame-ancestors 'none'");
        res.set_header("X-Frame-Options", "DENY");
        res.set_content(controlPage(), "text/html; charset=utf-8");
    });
    server->Get("/api/status", [shared](const httplib::Request&, httplib::Response& res) {
        sendJson(res, 200, shared->status());
    });
    auto command = [](const std::function<bool()>& run, const char* name) {
        return [run, name](const httplib::Request& req, httplib::Response& res) {
            if (!bodyAcceptable(req.body)) {
                sendJson(res, 400, errorBody("the body is not a JSON object"));
                return;
            }
            if (!run()) {
                sendJson(res, 503, errorBody("no recorder attached"));
                return;
            }
            sendJson(res, 200, nlohmann::json{{"ok", true}, {"command", name}}.dump());
        };
    };
    server->Post("/api/start", command(shared->start, "start"));
    server->Post("/api/stop", command(shared->stop, "stop"));

    // Everything else: a known path with another method, or an unknown path.
    auto other = [](const httplib::Request& req, httplib::Response& res) {
        if (knownPath(req.path)) {
            res.set_header("Allow", req.path == "/" || req.path == "/api/status" ? "GET" : "POST");
            sendJson(res, 405, errorBody("method not allowed"));
        } else {
            sendJson(res, 404, errorBody("not found"));
        }
    };
    server->Get(".*", other);
    server->Post(".*", other);
    server->Put(".*", other);
    server->Patch(".*", other);
    server->Delete(".*", other);
    server->Options(".*", other);

    server->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty())
            res.set_content(errorBody(statusText(res.status)), "application/json");
    });
    server->set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            sendJson(res, 500, errorBody("internal error"));
        });

    finished_ = false;
    server_ = std::move(server);
    httplib::Server* raw = server_.get();
    thread_ = std::thread([this, raw] {
        raw->listen_after_bind();
        finished_ = true;
    });
    // stop() only takes effect once the loop runs; wait for it to start.
    while (!raw->is_running() && !finished_)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void Endpoint::stop() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
    server_.reset();
    port_ = 0;
}

} // namespace orvane
