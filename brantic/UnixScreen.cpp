// Whether the Qt views have a screen, on Linux and other Unix systems.
#include "Setup.h"

#include <cstdlib>
#include <cstring>

namespace brantic::ui {

bool screenAvailable() {
    // Qt's screenless platforms show nothing that a user could close: a modal
    // dialog there would never end.
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    if (platformName != nullptr && *platformName != '\0')
        return std::strcmp(platformName, "offscreen") != 0 &&
               std::strcmp(platformName, "minimal") != 0;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

} // namespace brantic::ui
