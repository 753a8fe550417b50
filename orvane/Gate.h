// What the control endpoint lets through, apart from the HTTP it speaks: how
// many state changes it carries out, how many wrong tokens it answers, which
// tokens it serves with and which origins may post to it.
//
// Every rule that depends on time takes the time from its caller, so that the
// rules can be shown to work without waiting for a clock.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace orvane {

using GateClock = std::chrono::steady_clock;

struct GateLimits {
    // Starts and stops carried out: so many a second on average, at most
    // `commandBurst` at once after a quiet while.
    double commandsPerSecond = 4.0;
    double commandBurst = 4.0;
    // Requests refused for a missing or wrong token before the endpoint stops
    // comparing tokens for a while.
    double failuresPerSecond = 4.0;
    double failureBurst = 8.0;
};

// A store that fills at a steady rate up to its size; each use takes one.
class Allowance {
public:
    Allowance(double perSecond, double size, GateClock::time_point now);
    // Whether one is there now.
    bool available(GateClock::time_point now);
    // Takes one when it is there.
    bool take(GateClock::time_point now);
    // Takes one whether it is there or not (down to none).
    void spend(GateClock::time_point now);
    // Whole seconds until one is there again, at least 1 (for Retry-After).
    int secondsUntilNext(GateClock::time_point now);

private:
    void refill(GateClock::time_point now);

    double perSecond_;
    double size_;
    double level_;
    GateClock::time_point at_;
};

// The time-dependent rules of one endpoint. Not locked: one thread asks.
class Gate {
public:
    Gate(const GateLimits& limits, GateClock::time_point now);

    // Whether a token may be compared now. While wrong tokens have used up
    // their allowance no token is compared at all (a right one would tell a
    // guesser that it is right); `retryAfter` then says when to come back.
    bool mayCheckToken(GateClock::time_point now, int& retryAfter);
    void tokenRefused(GateClock::time_point now);
    // Whether a start or stop may be carried out now; one is taken when it may.
    bool mayChangeState(GateClock::time_point now, int& retryAfter);

private:
    Allowance failures_;
    Allowance commands_;
};

constexpr std::size_t kMinTokenLength = 16;
constexpr std::size_t kMaxTokenLength = 256;

// Empty when `token` will do (one line of 16 to 256 visible ASCII
// characters); otherwise what is wrong with it, as said of it ("is too
// short: ...").
std::string tokenProblem(const std::string& token);

// Whether a request's Origin header may send commands: absent (a client that
// is no browser), or exactly this endpoint's own origin, http:// with the
// loopback address or localhost and our port.
bool originAllowed(const std::string& origin, int port);

} // namespace orvane
