// The Qt Widgets views of the module's forms.
#pragma once

namespace tolvex::views {

// Installs the Qt views of every form; false when they cannot be used (the
// caller then keeps the headless views). Needs a QApplication.
bool installQtViews();

} // namespace tolvex::views
