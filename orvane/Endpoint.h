// The control endpoint of the reference server: HTTP with JSON on the loopback
// address, guarded by a bearer token and a Host header check.
//
// One thread multiplexes every connection (libmicrohttpd in its external-loop
// mode over epoll), so a slow client delays no one. Every resource a client can
// claim is bounded before it is claimed: the number of connections, the memory
// of a request (request line, headers and body) and the time a request may take
// from the moment the connection is ready for it.
#pragma once

#include "Gate.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace orvane {

// What the endpoint reports and what it may ask for.
struct EndpointHooks {
    // JSON text of the recorder's status.
    std::function<std::string()> status;
    // Asks the recorder to start or stop; false when no recorder is attached.
    std::function<bool()> start;
    std::function<bool()> stop;
};

struct EndpointLimits {
    // Connections kept open at once; a new one beyond this pushes out the one
    // that has waited longest for its request.
    unsigned connections = 32;
    // Memory of one connection: request line, headers and the reply's headers.
    std::size_t requestMemory = 16 * 1024;
    // A request body, when there is one (the commands take at most a small
    // JSON object).
    std::size_t body = 4096;
    // From accepting a connection, or from the end of its previous answer, to
    // the end of the next request.
    std::chrono::milliseconds deadline{5000};
    // How many state changes and wrong tokens it answers in a second.
    GateLimits gate;
    // The clock of those rates; the steady clock when empty.
    std::function<GateClock::time_point()> clock;
};

class Endpoint {
public:
    Endpoint();
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // Takes 127.0.0.1:port (0: any free port) without serving yet, so that a
    // caller learns whether the port is its own before it acts on that.
    // False, with the reason in `error`, when the port cannot be had.
    bool listen(int port, std::string& error);
    // Serves the bound port on a thread of its own. A token that
    // tokenProblem finds fault with is refused.
    bool serve(std::string token, EndpointHooks hooks, std::string& error,
               EndpointLimits limits = {});
    // Closes every connection and the port at once and joins the thread; no
    // hook runs after it returns.
    void stop();
    bool running() const { return thread_.joinable(); }
    int port() const { return port_; }

    struct Server;

private:
    std::unique_ptr<Server> server_;
    std::thread thread_;
    int listenFd_ = -1;
    int port_ = 0;
};

// Request checks, kept apart so that their rules are plain to see (the
// others are in Gate.h).
// The Host header names this machine's loopback address or localhost, with
// no port or with ours.
bool hostAllowed(const std::string& host, int port);
// "Bearer <token>" (the scheme name in any case), compared in constant time.
bool tokenAccepted(const std::string& authorization, const std::string& token);

// The control page served at "/".
const char* controlPage();

} // namespace orvane
