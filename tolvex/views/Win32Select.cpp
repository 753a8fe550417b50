// The module's view selection on Windows: installs the forms and the views
// whose timers are Win32 timers (they show nothing, as TOLVEX_UI=none does
// elsewhere). It registers itself with the core when the module is loaded and
// runs when the plug-in object is made; safe to run again.
#include "TimerHost.h"

#include "Editors.h"
#include "Tolvex.h"

namespace tolvex::views {

namespace {

void install() {
    installEditors();
    installTimerViews();
}

[[maybe_unused]] const bool gRegistered = (setModuleSetup(&install), true);

} // namespace

} // namespace tolvex::views
