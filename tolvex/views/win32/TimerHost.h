// The Windows views that show nothing: the main window keeps its state, and
// its three timers are Win32 timers of a message-only window owned by the
// thread that made the view (the host's user-interface thread), so generation
// runs in any Win32 host's message loop.
#pragma once

namespace tolvex::views {

// Installs the main window view with Win32 timers.
void installTimerViews();

} // namespace tolvex::views
