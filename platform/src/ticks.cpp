#include "platform/ticks.h"

#include <atomic>
#include <ctime>

namespace platform {

namespace {
std::atomic<bool> overridden{false};
std::atomic<std::uint64_t> testTicks{0};
} // namespace

std::uint64_t tickCount64() {
    if (overridden.load(std::memory_order_acquire))
        return testTicks.load(std::memory_order_acquire);
    timespec ts{};
#ifdef CLOCK_BOOTTIME
    clock_gettime(CLOCK_BOOTTIME, &ts);
#else
    clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::uint32_t tickCount() {
    return static_cast<std::uint32_t>(tickCount64());
}

void setTestTicks(std::uint64_t ticks) {
    testTicks.store(ticks, std::memory_order_release);
    overridden.store(true, std::memory_order_release);
}

void advanceTestTicks(std::uint64_t delta) {
    testTicks.fetch_add(delta, std::memory_order_acq_rel);
}

void clearTestTicks() {
    overridden.store(false, std::memory_order_release);
}

} // namespace platform
