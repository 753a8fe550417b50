// A main window view that keeps the window's state and shows nothing: the
// fallback of the core, and the base of the headless view (which adds real
// timers).
#pragma once

#include "Umainfrm.h"

#include <array>
#include <vector>

namespace tolvex {

class MainViewState : public MainView {
public:
    static constexpr std::array<int, 5> kInitialWidths{47, 162, 80, 203, 72};
    static constexpr int kInitialGridWidth = 574; // the columns plus 10;

    MainViewState() { widths_ = kInitialWidths; }

    void show() override { visible_ = true; }
    void hide() override { visible_ = false; }
    void raise() override {
        visible_ = true;
        ++raised_;
    }
    void setCaption(const std::string& caption) override { caption_ = caption; }
    void setButtonEnabled(ToolButton button, bool enabled) override {
        buttons_[static_cast<std::size_t>(button)] = enabled;
    }
    bool buttonEnabled(ToolButton button) const override {
        return buttons_[static_cast<std::size_t>(button)];
    }
    void setTimerEnabled(WindowTimer timer, bool enabled) override {
        timers_[static_cast<std::size_t>(timer)] = enabled;
    }
    bool timerEnabled(WindowTimer timer) const override {
        return timers_[static_cast<std::size_t>(timer)];
    }
    void setStartPicture(int frame) override { picture_ = frame; }

    void setRowCount(int rows) override {
        rows_ = rows < 0 ? 0 : rows;
        cells_.resize(static_cast<std::size_t>(rows_) * 5);
    }
    int rowCount() const override { return rows_; }
    void setCell(int column, int row, const std::string& text) override {
        if (inGrid(column, row))
            cells_[index(column, row)] = text;
    }
    std::string cell(int column, int row) const override {
        return inGrid(column, row) ? cells_[index(column, row)] : std::string();
    }
    int currentRow() const override { return currentRow_; }
    void setCurrentRow(int row) override { currentRow_ = row; }
    void setCurrentColumn(int column) override { currentColumn_ = column; }
    int selectionTopRow() const override { return currentRow_; }
    int gridOuterWidth() const override { return gridWidth_; }
    int columnWidth(int column) const override {
        return column >= 0 && column < 5 ? widths_[static_cast<std::size_t>(column)] : 0;
    }
    void setColumnWidth(int column, int width) override {
        if (column >= 0 && column < 5)
            widths_[static_cast<std::size_t>(column)] = width;
    }
    void popupMenu(int, int) override {}
    std::optional<int> enabledToolTagUnderPointer() const override { return std::nullopt; }
    std::optional<std::string> openFileDialog() override { return std::nullopt; }
    std::optional<std::string> saveFileDialog() override { return std::nullopt; }

    const std::string& caption() const { return caption_; }
    bool visible() const { return visible_; }
    int raised() const { return raised_; } // how often raise was asked
    int startPicture() const { return picture_; }
    int currentColumn() const { return currentColumn_; }

protected:
    bool inGrid(int column, int row) const {
        return column >= 0 && column < 5 && row >= 0 && row < rows_;
    }
    std::size_t index(int column, int row) const {
        return static_cast<std::size_t>(row) * 5 + static_cast<std::size_t>(column);
    }

    std::string caption_ = "MainFrm";
    bool visible_ = false;
    int raised_ = 0;
    std::array<bool, 6> buttons_{true, false, true, true, true, true};
    std::array<bool, 3> timers_{false, false, false}; // the form starts its own
    int picture_ = 0;
    int rows_ = 0;
    std::vector<std::string> cells_;
    int currentRow_ = 1;
    int currentColumn_ = 0;
    std::array<int, 5> widths_{};
    int gridWidth_ = kInitialGridWidth;
};

} // namespace tolvex
