// Small helpers for speaking to the control endpoint in tests: plain sockets on
// the loopback address, every wait bounded.
#pragma once

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brantic_test {

// A port that was free a moment ago on the loopback address.
inline int freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

// A connected socket with receive and send timeouts of `seconds`; -1 when no
// connection could be made.
inline int connectLoopback(int port, int seconds = 3) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    timeval timeout{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

// Reads until the peer closes or the timeout passes.
inline std::string readAll(int fd) {
    std::string reply;
    char buffer[4096];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        reply.append(buffer, static_cast<std::size_t>(n));
    return reply;
}

// Sends raw bytes and reads the answer until the peer closes (3 s at most).
inline std::string rawRequest(int port, const std::string& bytes, bool halfClose = false) {
    const int fd = connectLoopback(port);
    if (fd < 0)
        return "<no connection>";
    send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (halfClose)
        shutdown(fd, SHUT_WR);
    std::string reply = readAll(fd);
    close(fd);
    return reply;
}

struct HttpReply {
    int status = -1; // -1: no answer
    std::string head;
    std::string body;

    explicit operator bool() const { return status > 0; }
    // The value of a header of the answer (name without regard to case).
    std::string header(const std::string& name) const {
        std::string lowerHead;
        for (char c : head)
            lowerHead += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string key = "\r\n";
        for (char c : name)
            key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        key += ':';
        const std::string::size_type at = lowerHead.find(key);
        if (at == std::string::npos)
            return {};
        std::string::size_type from = at + key.size();
        while (from < head.size() && head[from] == ' ')
            ++from;
        return head.substr(from, head.find("\r\n", from) - from);
    }
};

inline HttpReply parseReply(const std::string& raw) {
    HttpReply reply;
    const std::string::size_type end = raw.find("\r\n\r\n");
    if (raw.rfind("HTTP/1.", 0) != 0 || raw.size() < 12 || end == std::string::npos)
        return reply;
    reply.status = std::atoi(raw.substr(9, 3).c_str());
    reply.head = raw.substr(0, end);
    reply.body = raw.substr(end + 4);
    return reply;
}

// One request on a connection of its own. A bearer token, when given, goes in
// an Authorization header; Content-Length is sent only with a body.
inline HttpReply http(int port, const std::string& method, const std::string& path,
                      const std::string& bearer = {}, const std::string& body = {},
                      const std::vector<std::pair<std::string, std::string>>& extra = {}) {
    std::string request = method + " " + path +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nConnection: close\r\n";
    if (!bearer.empty())
        request += "Authorization: Bearer " + bearer + "\r\n";
    if (!body.empty())
        request +=
            "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\n";
    for (const auto& [name, value] : extra)
        request += name + ": " + value + "\r\n";
    return parseReply(rawRequest(port, request + "\r\n" + body));
}

} // namespace brantic_test
