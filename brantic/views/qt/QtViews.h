// Layer brantic/views/qt: the Qt Widgets views of the settings dialog and the
// message boxes. Uses the module's core (Setup.h), the platform layer and Qt.
#pragma once

#include "Setup.h"

#include <memory>

namespace brantic::ui {

// The Qt layer; null when no GUI application can be had in this process.
// Creates the application object when the host has none.
std::unique_ptr<ViewLayer> makeQtLayer();

} // namespace brantic::ui
