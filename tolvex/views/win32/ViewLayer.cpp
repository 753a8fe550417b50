// The view layer of the Windows module: the native windows, or the views with
// Win32 timers that show nothing when TOLVEX_UI=none or when no window can be
// made (a session without a desktop).
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

// Whether this session can make a top-level window at all.
bool windowsPossible() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 nullptr, nullptr);
    if (probe == nullptr)
        return false;
    DestroyWindow(probe);
    return true;
}

} // namespace

void install() {
    if (!windowsSwitchedOff() && windowsPossible() && installWin32Views())
        return;
    installTimerViews();
}

void installHeadlessViews() {
    installTimerViews();
}

} // namespace tolvex::views
