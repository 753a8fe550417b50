// The control endpoint of the reference server: HTTP with JSON on the loopback
// address, guarded by a bearer token and a Host header check.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace orvane {

// What the endpoint reports and what it may ask for.
struct EndpointHooks {
    // JSON text of the recorder's status.
    std::function<std::string()> status;
    // Asks the recorder to start or stop; false when no recorder is attached.
    std::function<bool()> start;
    std::function<bool()> stop;
};

class Endpoint {
public:
    Endpoint();
    ~Endpoint();
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // Listens on 127.0.0.1:port (0: any free port) on a thread of its own.
    // False, with the reason in `error`, when the port cannot be had.
    bool start(int port, std::string token, EndpointHooks hooks, std::string& error);
    // Stops listening and joins the thread; no handler runs after it returns.
    void stop();
    bool running() const { return thread_.joinable(); }
    int port() const { return port_; }

private:
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    int port_ = 0;
};

// Request checks, kept apart so that their rules are plain to see.
// The Host header names this machine's loopback address or localhost, with
// no port or with ours.
bool hostAllowed(const std::string& host, int port);
// "Bearer <token>", compared in constant time.
bool tokenAccepted(const std::string& authorization, const std::string& token);

// The control page served at "/".
const char* controlPage();

} // namespace orvane
