// The module's view selection on Qt: installs the forms, then the Qt views
// when a GUI can start (TOLVEX_UI is not "none", and a display or
// QT_QPA_PLATFORM is there), else the headless views. It registers itself
// with the core when the module is loaded and runs when the plug-in object is
// made; safe to run again.
#include "HeadlessViews.h"
#include "QtViews.h"

#include "Editors.h"
#include "Tolvex.h"
#include "Views.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

namespace tolvex::views {

namespace {

// The application object's arguments must outlive it.
int gArgc = 1;
char gArgv0[] = "Tolvex";
char* gArgv[] = {gArgv0, nullptr};

bool envSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Whether the module should use the Qt views: false when TOLVEX_UI=none, or
// when no GUI can start (no display and no QT_QPA_PLATFORM).
bool guiWanted() {
    const char* ui = std::getenv("TOLVEX_UI");
    if (ui != nullptr && std::strcmp(ui, "none") == 0)
        return false;
    return envSet("QT_QPA_PLATFORM") || envSet("DISPLAY") || envSet("WAYLAND_DISPLAY");
}

void install() {
    installEditors();
    const bool gui = guiWanted();
    if (QCoreApplication::instance() == nullptr) {
        // The host never touched Qt: the module makes the application object
        // on this, the user-interface thread, and keeps it for the process.
        if (gui)
            new QApplication(gArgc, gArgv);
        else
            new QCoreApplication(gArgc, gArgv);
    }
    if (gui && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
        installQtViews())
        return;
    installHeadlessViews();
}

[[maybe_unused]] const bool gRegistered = (setModuleSetup(&install), true);

} // namespace

} // namespace tolvex::views
