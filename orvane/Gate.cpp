#include "Gate.h"

#include <algorithm>
#include <cmath>

namespace orvane {

Allowance::Allowance(double perSecond, double size, GateClock::time_point now)
    : perSecond_(perSecond > 0 ? perSecond : 0), size_(std::max(size, 1.0)), level_(size_),
      at_(now) {}

void Allowance::refill(GateClock::time_point now) {
    if (now <= at_)
        return; // a clock that went back gives nothing
    const double seconds = std::chrono::duration<double>(now - at_).count();
    level_ = std::min(size_, level_ + seconds * perSecond_);
    at_ = now;
}

bool Allowance::available(GateClock::time_point now) {
    refill(now);
    return level_ >= 1.0;
}

bool Allowance::take(GateClock::time_point now) {
    if (!available(now))
        return false;
    level_ -= 1.0;
    return true;
}

void Allowance::spend(GateClock::time_point now) {
    refill(now);
    level_ = std::max(0.0, level_ - 1.0);
}

int Allowance::secondsUntilNext(GateClock::time_point now) {
    refill(now);
    if (level_ >= 1.0 || perSecond_ <= 0)
        return 1;
    const double seconds = std::ceil((1.0 - level_) / perSecond_);
    return static_cast<int>(std::clamp(seconds, 1.0, 3600.0));
}

Gate::Gate(const GateLimits& limits, GateClock::time_point now)
    : failures_(limits.failuresPerSecond, limits.failureBurst, now),
      commands_(limits.commandsPerSecond, limits.commandBurst, now) {}

bool Gate::mayCheckToken(GateClock::time_point now, int& retryAfter) {
    if (failures_.available(now))
        return true;
    retryAfter = failures_.secondsUntilNext(now);
    return false;
}

void Gate::tokenRefused(GateClock::time_point now) {
    failures_.spend(now);
}

bool Gate::mayChangeState(GateClock::time_point now, int& retryAfter) {
    if (commands_.take(now))
        return true;
    retryAfter = commands_.secondsUntilNext(now);
    return false;
}

std::string tokenProblem(const std::string& token) {
    for (char c : token)
        if (c <= ' ' || c > '~')
            return "is not one line of visible characters";
    if (token.size() < kMinTokenLength)
        return "is too short: a token needs at least " + std::to_string(kMinTokenLength) +
               " characters (this one has " + std::to_string(token.size()) + ")";
    if (token.size() > kMaxTokenLength)
        return "is too long: a token has at most " + std::to_string(kMaxTokenLength) +
               " characters";
    return {};
}

bool originAllowed(const std::string& origin, int port) {
    if (origin.empty())
        return true;
    static const std::string scheme = "http://";
    if (origin.size() <= scheme.size())
        return false;
    std::string lower;
    for (char c : origin)
        lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower.compare(0, scheme.size(), scheme) != 0)
        return false;
    const std::string hostPort = lower.substr(scheme.size());
    const std::string::size_type colon = hostPort.rfind(':');
    const std::string name = hostPort.substr(0, colon);
    if (name != "127.0.0.1" && name != "localhost")
        return false;
    // A browser leaves out the port only when it is the scheme's own.
    if (colon == std::string::npos)
        return port == 80;
    return hostPort.substr(colon + 1) == std::to_string(port);
}

} // namespace orvane
