// The module's view selection without a GUI toolkit: installs the forms and
// the headless views. It registers itself with the core when the module is
// loaded and runs when the plug-in object is made; safe to run again.
#include "HeadlessViews.h"

#include "Editors.h"
#include "Tolvex.h"

#include <QCoreApplication>

namespace tolvex::views {

namespace {

// The application object's arguments must outlive it.
int gArgc = 1;
char gArgv0[] = "Tolvex";
char* gArgv[] = {gArgv0, nullptr};

void install() {
    installEditors();
    // The headless main window's timers need an application object; the
    // module makes one on this, the user-interface thread, when the host has
    // none, and keeps it for the process.
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(gArgc, gArgv);
    installHeadlessViews();
}

[[maybe_unused]] const bool gRegistered = (setModuleSetup(&install), true);

} // namespace

} // namespace tolvex::views
