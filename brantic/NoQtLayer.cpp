// Built without the Qt views (and on Windows until its own views come): only
// the headless layer exists.
#include "Setup.h"

namespace brantic::ui {

std::unique_ptr<ViewLayer> makeQtLayer() {
    return nullptr;
}

bool screenAvailable() {
    return false;
}

} // namespace brantic::ui
