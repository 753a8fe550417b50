// Windows: no Qt views in this module, so never a screen for them; the
// headless layer serves until the Win32 views come.
#include "Setup.h"

namespace brantic::ui {

bool screenAvailable() {
    return false;
}

} // namespace brantic::ui
