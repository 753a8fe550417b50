// The module's view selection on Qt: the Qt layer when a GUI can start, else
// the headless layer. Registered with the core when the module is loaded; the
// choice is made at the first use of a view.
#include "HeadlessViews.h"
#include "QtViews.h"

namespace brantic::ui {

namespace {

std::unique_ptr<ViewLayer> chooseLayer() {
    std::unique_ptr<ViewLayer> layer;
    if (guiWanted())
        layer = makeQtLayer();
    if (!layer)
        layer = makeHeadlessLayer();
    return layer;
}

[[maybe_unused]] const bool gRegistered = (setViewLayerMaker(&chooseLayer), true);

} // namespace

} // namespace brantic::ui
