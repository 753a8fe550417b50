// The module's view selection on Windows: the native Windows layer, or the
// headless layer when BRANTIC_UI is "none" or when this session can make no
// window. Registered with the core when the module is loaded; the choice is
// made at the first use of a view.
#include "HeadlessViews.h"
#include "Win32Layer.h"

#include <windows.h>

#include <cstring>

namespace brantic::ui {

namespace {

// Read from the process environment, where a host's SetEnvironmentVariable
// puts it (the C runtime's copy would not see that).
bool viewsSwitchedOff() {
    char value[16] = {};
    const DWORD length = GetEnvironmentVariableA("BRANTIC_UI", value, sizeof value);
    return length > 0 && length < sizeof value && std::strcmp(value, "none") == 0;
}

std::unique_ptr<ViewLayer> chooseLayer() {
    if (!viewsSwitchedOff() && screenAvailable())
        return makeWin32Layer();
    return makeHeadlessLayer();
}

[[maybe_unused]] const bool gRegistered = (setViewLayerMaker(&chooseLayer), true);

} // namespace

} // namespace brantic::ui
