#include "platform/cputime.h"

#include <windows.h>

namespace platform {

namespace {

// A FILETIME span in 100 ns units, as seconds.
double seconds(const FILETIME& t) {
    const ULONGLONG units = (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return static_cast<double>(units) * 1e-7;
}

} // namespace

double processCpuSeconds() {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    return seconds(kernel) + seconds(user);
}

} // namespace platform
