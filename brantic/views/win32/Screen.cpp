// Windows: the module's own windows serve wherever a window can be made; a
// session without a desktop gets the headless layer.
#include "Setup.h"

#include <windows.h>

namespace brantic::ui {

bool screenAvailable() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
    if (probe == nullptr)
        return false;
    DestroyWindow(probe);
    return true;
}

} // namespace brantic::ui
