// Layer brantic/views/headless: views for hosts without a display. Uses the
// module's core (Setup.h) and the platform layer; no toolkit.
#pragma once

#include "Setup.h"

#include <memory>

namespace brantic::ui {

// Shows nothing, writes message boxes to standard error and cancels dialogs,
// never blocking.
std::unique_ptr<ViewLayer> makeHeadlessLayer();

} // namespace brantic::ui
