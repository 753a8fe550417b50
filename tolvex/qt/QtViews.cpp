// Until the Qt views of the forms are part of the module, the module runs with
// the headless views; the channel-editor work replaces this file.
#include "QtViews.h"

namespace tolvex::views {

bool installQtViews() {
    return false;
}

} // namespace tolvex::views
