#include "ViewLayer.h"

#include "QtViews.h"
#include "Views.h"

#include <QCoreApplication>
#if TOLVEX_WITH_WIDGETS
#include <QApplication>
#endif

namespace tolvex::views {

namespace {

// The application object's arguments must outlive it.
int gArgc = 1;
char gArgv0[] = "Tolvex";
char* gArgv[] = {gArgv0, nullptr};

} // namespace

void install() {
    const bool gui = ui::guiWanted();
    if (QCoreApplication::instance() == nullptr) {
        // The host never touched Qt: the module makes the application object
        // on this, the user-interface thread, and keeps it for the process.
#if TOLVEX_WITH_WIDGETS
        if (gui)
            new QApplication(gArgc, gArgv);
        else
#endif
            new QCoreApplication(gArgc, gArgv);
    }
#if TOLVEX_WITH_WIDGETS
    if (gui && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr &&
        installQtViews())
        return;
#endif
    installHeadlessViews();
}

} // namespace tolvex::views
