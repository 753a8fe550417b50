// The processor time the process has used, for benchmarks that run a module
// live (its timers, its message loop) and report the share of a core it took.
#pragma once

namespace platform {

// Seconds of processor time (user and system) of every thread of this process.
double processCpuSeconds();

} // namespace platform
