// The arithmetic of the Win32 views that needs no window: where a grid cell
// lies, what a spin box holds, where a tool button stands, how a message
// box breaks its lines. Free of windows.h, so that it is tested everywhere.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tolvex::win32views {

// The string grid's geometry: five columns, rows of `rowHeight` pixels each
// followed by a grid line, the header row fixed at the top.
struct GridMetrics {
    static constexpr int kColumns = 5;
    std::array<int, kColumns> widths{47, 162, 80, 203, 72};
    int rowHeight = 20;
    int line = 1;
    int rows = 2; // the header included
    int top = 1;  // the first data row shown

    int pitch() const { return rowHeight + line; }
    // The cell under a point of the client area: row 0 is the header; -1
    // below the last row, right of the last column or outside the grid.
    void cellAt(int x, int y, int& row, int& column) const;
    // Left, top, right and bottom of a cell in client pixels, grid line
    // excluded.
    std::array<int, 4> cellRect(int column, int row) const;
    // How many data rows fit in a client area `height` pixels high.
    int visibleRows(int height) const;
    // The first data row shown when scrolling to `wanted`, kept so that the
    // last row stays at the bottom and never before row 1.
    int clampTop(int wanted, int visible) const;
};

// The whole number a spin box's text holds (blanks around it allowed, no
// sign), nothing when it holds none; numbers beyond the int range are cut
// to it.
std::optional<int> spinNumber(std::string_view text);
// What a spin box reports: the number as shown until the user changed it,
// then brought into [minimum, maximum]; text that holds no number gives the
// minimum.
int spinValue(std::string_view text, int minimum, int maximum, bool touched);

// Where a tool button stands for a panel `clientWidth` wide: at its place,
// or, when it follows the right edge, at the same distance from it as in the
// `designWidth` wide panel it was laid out for.
int toolLeft(int left, bool followsRight, int clientWidth, int designWidth);

// A message box's text with each line break written as "\n\r" (line feed
// first) made the "\r\n" the system breaks on; 1251 in, 1251 out.
std::string messageBoxText(std::string_view text);

} // namespace tolvex::win32views
