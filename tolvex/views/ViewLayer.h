// The view layer of the module: chooses and installs the Qt views or the
// headless views.
#pragma once

namespace tolvex::views {

// Creates the application object when the host has none, then installs the Qt
// views when a GUI can start (TOLVEX_UI is not "none", and a display or
// QT_QPA_PLATFORM is there), else the headless views. Safe to call again.
void install();

// The headless views: Qt Core timers on the user-interface thread, no
// widgets; they show nothing, cancel dialogs and never block.
void installHeadlessViews();

} // namespace tolvex::views
