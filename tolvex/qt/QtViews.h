// The Qt Widgets views of the emulator's windows.
#pragma once

namespace tolvex {

// Installs the Qt view of every form and the Qt message boxes. Creates the
// application object when the host has none; false (nothing installed) when
// widgets cannot be used in this process.
bool installQtViews();

} // namespace tolvex
