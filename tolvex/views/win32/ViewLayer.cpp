// The view layer of the Windows module: the views with Win32 timers that show
// nothing (also what TOLVEX_UI=none chooses).
#include "ViewLayer.h"

#include "TimerHost.h"

namespace tolvex::views {

void install() {
    installTimerViews();
}

void installHeadlessViews() {
    installTimerViews();
}

} // namespace tolvex::views
