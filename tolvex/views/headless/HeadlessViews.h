// Layer tolvex/views/headless: views that show nothing, for hosts without a
// display. Uses the forms (and below) and Qt Core for the window timers; no
// widgets.
#pragma once

namespace tolvex::views {

// The headless views: Qt Core timers on the user-interface thread, no
// widgets; they show nothing, cancel dialogs and never block.
void installHeadlessViews();

} // namespace tolvex::views
