// Installs the form logic into the seams of the layers below: the main window
// of the plug-in object, the channel properties dialog and every signal
// kind's parameter dialog. The module's view selection calls it; tests that
// drive the plug-in object call it themselves.
//
// Layer tolvex/forms: the form logic and the view interfaces the forms talk
// to. Uses the core, the signals and the platform layer; never a toolkit
// header, never a view.
#pragma once

namespace tolvex {

class CTolvex;
class TMainFrm;

void installEditors();

// The main form of the plug-in's window; null when it has none, or when its
// window was not made by these forms.
TMainFrm* mainForm(const CTolvex& plugin);

} // namespace tolvex
