// The module's view selection on Windows: installs the forms, then the native
// windows, or the views with Win32 timers that show nothing when TOLVEX_UI is
// "none" or when this session can make no window. It registers itself with
// the core when the module is loaded and runs when the plug-in object is
// made; safe to run again.
#include "TimerHost.h"
#include "Win32Views.h"

#include "Editors.h"
#include "Tolvex.h"

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
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
    if (probe == nullptr)
        return false;
    DestroyWindow(probe);
    return true;
}

void install() {
    installEditors();
    if (!windowsSwitchedOff() && windowsPossible() && installWin32Views())
        return;
    installTimerViews();
}

[[maybe_unused]] const bool gRegistered = (setModuleSetup(&install), true);

} // namespace

} // namespace tolvex::views
