#include "Editors.h"

#include "Tolvex.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Ulevelfrm.h"
#include "Umainfrm.h"
#include "Unoisefrm.h"
#include "Usawfrm.h"
#include "Usinusfrm.h"

namespace tolvex {

namespace {

bool editChannel(CVirtualChannel& channel) {
    TChanEditFrm form;
    return form.EditChannel(channel);
}

template <class Form, class Kind> bool editSignal(Kind& signal) {
    Form form;
    return form.EditSignal(signal);
}

bool editComposite(CompositeSignal& composite) {
    TComplFrm form;
    form.EditComposite(composite);
    return true;
}

// The main form as the plug-in object drives it.
class MainFormWindow final : public MainWindow {
public:
    TMainFrm form;

    void open() override {
        form.view().show();
        // Showing the window activates it at once; a view without a screen
        // never becomes active, so the activation step runs here for both.
        form.FormActivate();
    }
    void loadCurrentFile() override { form.LoadConfiguration(form.currentFile); }
    void setRunning(bool running) override { form.SetRunning(running); }
    void bringToFront() override {
        form.view().raise();
        form.FormActivate(); // as in open: also for a view that never becomes active
    }
};

std::unique_ptr<MainWindow> makeMainWindow() {
    return std::make_unique<MainFormWindow>();
}

} // namespace

void installEditors() {
    setMainWindowMaker(&makeMainWindow);
    setChannelEditor(&editChannel);
    SignalEditors editors;
    editors.level = &editSignal<TLevelFrm, LevelSignal>;
    editors.sine = &editSignal<TSinusFrm, SineSignal>;
    editors.saw = &editSignal<TSawFrm, SawSignal>;
    editors.noise = &editSignal<TNoiseFrm, NoiseSignal>;
    editors.composite = &editComposite;
    setSignalEditors(editors);
}

TMainFrm* mainForm(const CTolvex& plugin) {
    auto* window = dynamic_cast<MainFormWindow*>(plugin.mainWindow());
    return window != nullptr ? &window->form : nullptr;
}

} // namespace tolvex
