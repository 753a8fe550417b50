// The module's view selection without a GUI toolkit: the headless layer only.
// Registered with the core when the module is loaded.
#include "HeadlessViews.h"

namespace brantic::ui {

namespace {
[[maybe_unused]] const bool gRegistered = (setViewLayerMaker(&makeHeadlessLayer), true);
} // namespace

} // namespace brantic::ui
