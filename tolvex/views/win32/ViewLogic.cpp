#include "ViewLogic.h"

#include <algorithm>
#include <climits>

namespace tolvex::win32views {

void GridMetrics::cellAt(int x, int y, int& row, int& column) const {
    row = -1;
    column = -1;
    if (x < 0 || y < 0)
        return;
    if (y < pitch()) {
        row = 0;
    } else {
        const int candidate = top + (y - pitch()) / pitch();
        row = candidate < rows ? candidate : -1;
    }
    int left = 0;
    for (int c = 0; c < kColumns; ++c) {
        const int right = left + widths[static_cast<std::size_t>(c)] + line;
        if (x < right) {
            column = c;
            return;
        }
        left = right;
    }
}

std::array<int, 4> GridMetrics::cellRect(int column, int row) const {
    if (column < 0 || column >= kColumns)
        return {0, 0, 0, 0};
    int left = 0;
    for (int c = 0; c < column; ++c)
        left += widths[static_cast<std::size_t>(c)] + line;
    const int cellTop = row == 0 ? 0 : pitch() * (row - top + 1);
    return {left, cellTop, left + widths[static_cast<std::size_t>(column)], cellTop + rowHeight};
}

int GridMetrics::visibleRows(int height) const {
    return std::max(1, (height - pitch()) / pitch());
}

int GridMetrics::clampTop(int wanted, int visible) const {
    const int dataRows = std::max(rows - 1, 0);
    const int highest = std::max(1, dataRows - visible + 1);
    return std::clamp(wanted, 1, highest);
}

std::optional<int> spinNumber(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    const std::size_t last = text.find_last_not_of(' ');
    text = text.substr(first, last - first + 1);
    long long number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = std::min<long long>(number * 10 + (c - '0'), INT_MAX);
    }
    return static_cast<int>(number);
}

int spinValue(std::string_view text, int minimum, int maximum, bool touched) {
    const std::optional<int> number = spinNumber(text);
    if (!number)
        return minimum;
    return touched ? std::clamp(*number, minimum, maximum) : *number;
}

int toolLeft(int left, bool followsRight, int clientWidth, int designWidth) {
    return followsRight ? left + clientWidth - designWidth : left;
}

std::string messageBoxText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            out += "\r\n";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace tolvex::win32views
