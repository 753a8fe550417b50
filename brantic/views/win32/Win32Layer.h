// The native Windows views of the remote-control module: the settings dialog
// from its dialog template and the message boxes.
#pragma once

#include "Setup.h"

namespace brantic::ui {

// The Win32 layer; uses the dialog template 2101 of the module it is linked
// into.
std::unique_ptr<ViewLayer> makeWin32Layer();

} // namespace brantic::ui
