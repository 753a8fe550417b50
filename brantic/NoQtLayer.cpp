// Built without the Qt views: only the headless layer exists.
#include "Setup.h"

namespace brantic::ui {

std::unique_ptr<ViewLayer> makeQtLayer() {
    return nullptr;
}

} // namespace brantic::ui
