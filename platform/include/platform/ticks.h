// The millisecond tick source. Every use of the clock goes through here so
// that tests can set it.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary fixed start (boot on most platforms); 64 bits,
// never wraps.
std::uint64_t tickCount64();
// The same, cut to 32 bits as the classic tick counter.
std::uint32_t tickCount();

// Makes tickCount64 answer `ticks` until cleared (tests only).
void setTestTicks(std::uint64_t ticks);
void advanceTestTicks(std::uint64_t delta);
void clearTestTicks();

} // namespace platform
