// The Win32 view of the main window: the tool panel with its six flat buttons
// and two separators, the channel grid, the pop-up menu and the three window
// timers.
#pragma once

#include "Umainfrm.h"

#include "ViewLogic.h"
#include "Win32Common.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tolvex::win32views {

// The string grid: five columns, one fixed header row, rows of 20 pixels
// with grid lines, a vertical scroll bar, one current cell, no editing.
class Grid {
public:
    static constexpr int kColumns = 5;
    static constexpr int kRowHeight = 20;
    static constexpr int kLine = 1;

    using MouseDown = std::function<void(MouseButton, int row, int column, int x, int y)>;

    Grid(HWND parent, MouseDown mouseDown, std::function<void()> doubleClick);
    ~Grid();
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    HWND handle() const { return window_; }

    void setRowCount(int rows);
    int rowCount() const { return m_.rows; }
    void setCell(int column, int row, const std::string& text1251);
    std::string cell(int column, int row) const;
    int currentRow() const { return row_; }
    int currentColumn() const { return column_; }
    void setCurrentRow(int row);
    void setCurrentColumn(int column);
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    int topRow() const { return m_.top; }
    // The cell under a point of the client area: row 0 is the header, -1 when
    // the point lies below the last row or right of the last column.
    void cellAt(int x, int y, int& row, int& column) const;
    // The client rectangle of a cell (for tests and the screenshot tool).
    RECT cellRect(int column, int row) const;

private:
    static LRESULT CALLBACK procedure(HWND, UINT, WPARAM, LPARAM);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void paint(HDC dc, const RECT& area);
    int visibleRows() const;
    void updateScrollBar();
    void scrollTo(int top);
    void ensureVisible(int row);
    void moveCurrent(int row, int column);

    HWND window_ = nullptr;
    MouseDown mouseDown_;
    std::function<void()> doubleClick_;
    GridMetrics m_;
    std::vector<std::string> cells_;
    int row_ = 1;
    int column_ = 0;
};

class ToolButtonWindow;

// The MainView that TMainFrm drives; owns the window and its timers.
class MainWindowView final : public MainView {
public:
    explicit MainWindowView(TMainFrm& form);
    ~MainWindowView() override;
    MainWindowView(const MainWindowView&) = delete;
    MainWindowView& operator=(const MainWindowView&) = delete;

    HWND window() const { return window_; }
    HWND toolPanel() const { return panel_; }
    HWND button(ToolButton which) const;
    HWND separator(int index) const { return separators_[static_cast<std::size_t>(index)]; }
    Grid& grid() { return *grid_; }
    HMENU popup() const { return popup_; }
    // The animation frame "Start" shows, -1 for its own picture.
    int startFrame() const { return startFrame_; }

    void show() override;
    void hide() override;
    void raise() override;
    void setCaption(const std::string& caption) override;
    void setButtonEnabled(ToolButton button, bool enabled) override;
    bool buttonEnabled(ToolButton button) const override;
    void setTimerEnabled(WindowTimer timer, bool enabled) override;
    bool timerEnabled(WindowTimer timer) const override;
    void setStartPicture(int frame) override;
    void setRowCount(int rows) override;
    int rowCount() const override;
    void setCell(int column, int row, const std::string& text) override;
    std::string cell(int column, int row) const override;
    int currentRow() const override;
    void setCurrentRow(int row) override;
    void setCurrentColumn(int column) override;
    int selectionTopRow() const override;
    int gridOuterWidth() const override;
    int columnWidth(int column) const override;
    void setColumnWidth(int column, int width) override;
    void popupMenu(int screenX, int screenY) override;
    std::optional<int> enabledToolTagUnderPointer() const override;
    std::optional<std::string> openFileDialog() override;
    std::optional<std::string> saveFileDialog() override;

    // Menu commands of the pop-up menu.
    static constexpr int kProperties = 101;
    static constexpr int kDelete = 102;

private:
    static LRESULT CALLBACK procedure(HWND, UINT, WPARAM, LPARAM);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void layout();
    std::optional<std::string> fileDialog(bool save);

    TMainFrm& form_;
    HWND window_ = nullptr;
    HWND panel_ = nullptr;
    std::array<std::unique_ptr<ToolButtonWindow>, 6> buttonObjects_;
    std::array<HWND, 6> buttons_{};
    std::array<HWND, 2> separators_{};
    std::unique_ptr<Grid> grid_;
    HMENU popup_ = nullptr;
    std::array<bool, 3> timers_{};
    int startFrame_ = -1;
    bool placed_ = false;
    int designWidth_ = 592; // client width the panel's positions were laid out for
};

} // namespace tolvex::win32views
