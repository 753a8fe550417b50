// The pictures of the main window's tool panel, drawn with plain GDI in the
// sixteen colours of the standard palette: the six buttons' pictures and the
// three animation frames of "Start".
#pragma once

#include "Umainfrm.h"

#include "Win32Common.h"

namespace tolvex::win32views {

inline constexpr int kPictureSize = 30;

// Draws the 30 x 30 picture of a tool button with its top left at (x, y);
// a disabled button's picture is drawn in greys.
void drawToolPicture(HDC dc, ToolButton button, int x, int y, bool disabled);
// Animation frame 0, 1 or 2 of "Start"; each differs from its own picture.
void drawAnimationFrame(HDC dc, int frame, int x, int y, bool disabled);

} // namespace tolvex::win32views
