// The view layer of the Windows module: the native windows, or the views with
// Win32 timers that show nothing when TOLVEX_UI=none.
#include "ViewLayer.h"

#include "TimerHost.h"
#include "Win32Views.h"

#include <windows.h>

#include <cstring>

namespace tolvex::views {

namespace {

bool windowsSwitchedOff() {
    char value[16] = {};
    const DWORD length = GetEnvironmentVariableA("TOLVEX_UI", value, sizeof value);
    return length > 0 && length < sizeof value && std::strcmp(value, "none") == 0;
}

} // namespace

void install() {
    if (!windowsSwitchedOff() && installWin32Views())
        return;
    installTimerViews();
}

void installHeadlessViews() {
    installTimerViews();
}

} // namespace tolvex::views
