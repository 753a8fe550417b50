// The pictures of the main window: the tool buttons, the three animation
// frames of "Start" and the window icon, drawn here so that the module ships
// no image files.
#pragma once

#include "Umainfrm.h"

#include <QIcon>
#include <QPixmap>

namespace tolvex::qtviews {

inline constexpr int kToolPictureSize = 30;

// The 30 x 30 picture of a tool button.
QPixmap toolPicture(ToolButton button);
// Animation frame 0, 1 or 2 of "Start"; each differs from its own picture.
QPixmap animationFrame(int frame);
// The window icon in 16, 24, 32 and 48 pixels.
QIcon windowIcon();

} // namespace tolvex::qtviews
