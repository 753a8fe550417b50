#include "platform/ticks.h"

#include "system.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<bool> overridden{false};
std::atomic<std::uint64_t> testTicks{0};
} // namespace

std::uint64_t tickCount64() {
    if (overridden.load(std::memory_order_acquire))
        return testTicks.load(std::memory_order_acquire);
    return sys::ticks64();
}

std::uint32_t tickCount() {
    if (overridden.load(std::memory_order_acquire))
        return static_cast<std::uint32_t>(testTicks.load(std::memory_order_acquire));
    return sys::ticks32();
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
