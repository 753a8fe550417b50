// The Qt view of the main window.
#pragma once

#include "Umainfrm.h"

#include <QWidget>

#include <memory>

class QTableWidget;
class QToolButton;
class QMenu;
class QTimer;
class QFrame;

namespace tolvex::qtviews {

class MainWindowView;

// The top-level widget; it forwards the window's own events to the form.
class MainWindow final : public QWidget {
public:
    explicit MainWindow(TMainFrm& form);

    QToolButton* button(ToolButton which) const;
    QTableWidget* grid() const { return grid_; }
    QWidget* toolPanel() const { return panel_; }
    QMenu* popup() const { return popup_; }
    QFrame* separator(int index) const { return separators_[index]; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class MainWindowView;
    void placeToolControls();

    TMainFrm& form_;
    QWidget* panel_ = nullptr;
    QToolButton* buttons_[6] = {};
    QFrame* separators_[2] = {};
    QTableWidget* grid_ = nullptr;
    QMenu* popup_ = nullptr;
};

// The MainView that TMainFrm drives; owns the window and the three timers.
class MainWindowView final : public MainView {
public:
    explicit MainWindowView(TMainFrm& form);
    ~MainWindowView() override;

    MainWindow& window() { return *window_; }
    QTimer& timer(WindowTimer which);

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

private:
    std::optional<std::string> fileDialog(bool save);

    TMainFrm& form_;
    std::unique_ptr<MainWindow> window_;
    QTimer* timers_[3] = {};
    int startFrame_ = -1; // -1: the button's own picture
};

} // namespace tolvex::qtviews
