// Arbitrary bytes as what a client sends to the control endpoint, on a
// connection of its own that the client then half-closes. The endpoint must
// answer with HTTP or end the connection, never crash or hang, and carry out a
// start or stop only for a request that carries the token.
#include "Endpoint.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char* kToken = "fuzz-endpoint-token-0123";

std::atomic<int> gChanges{0};
// The endpoint's clock: each input comes a few seconds after the one before,
// so that its allowances are whole again and every input gets past them.
std::atomic<std::int64_t> gSeconds{0};

orvane::Endpoint& endpoint() {
    static orvane::Endpoint* served = [] {
        auto* e = new orvane::Endpoint;
        std::string error;
        orvane::EndpointHooks hooks;
        hooks.status = [] { return std::string("{\"state\":1}"); };
        hooks.start = [] {
            ++gChanges;
            return true;
        };
        hooks.stop = [] {
            ++gChanges;
            return false; // as without a recorder
        };
        orvane::EndpointLimits limits;
        limits.deadline = std::chrono::milliseconds(300);
        limits.clock = [] { return orvane::GateClock::time_point(std::chrono::seconds(gSeconds)); };
        if (!e->listen(0, error) || !e->serve(kToken, hooks, error, limits)) {
            std::fprintf(stderr, "fuzz_endpoint: %s\n", error.c_str());
            std::abort();
        }
        return e;
    }();
    return *served;
}

void fail(const char* what, const std::string& reply) {
    std::fprintf(stderr, "fuzz_endpoint: %s\n%s\n", what, reply.c_str());
    std::abort();
}

// Connects, also when a signal (libFuzzer's timer for -timeout) interrupts
// the call: the connection then goes on being made and is waited for.
bool connectTo(int fd, const sockaddr_in& addr) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
        return true;
    if (errno != EINTR)
        return false;
    pollfd p{fd, POLLOUT, 0};
    int ready = 0;
    while ((ready = ::poll(&p, 1, 5000)) < 0 && errno == EINTR) {
    }
    if (ready <= 0)
        return false;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return false;
    errno = error;
    return error == 0;
}

// Reads until the end, the timeout or an error; a signal's interruption is
// not an end. False when the timeout passed.
bool receiveAll(int fd, std::string& reply) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            reply.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return !(n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64 * 1024)
        return 0;
    const int port = endpoint().port();
    gSeconds += 10;
    const int before = gChanges;

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || !connectTo(fd, addr))
        fail("no connection to the endpoint", std::strerror(errno));
    // Longer than the endpoint's deadline: a reply that never comes is a hang.
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    // A last request that ends the connection: the endpoint notices a client's
    // half-close only after a while when the request before was whole.
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t inputSize = bytes.size();
    bytes += "GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // the endpoint may end a connection before it has read all
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    std::string reply;
    const bool timedOut = !receiveAll(fd, reply);
    ::close(fd);
    if (timedOut)
        fail("the endpoint neither answered nor ended the connection", reply);

    if (!reply.empty() && reply.rfind("HTTP/1.", 0) != 0)
        fail("an answer that is no HTTP", reply);
    if (gChanges != before && bytes.find(kToken) >= inputSize)
        fail("a start or stop without the token", reply);
    return 0;
}
