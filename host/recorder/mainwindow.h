// The recorder's window: the channel table, a scope of the selected channels,
// Start and Stop, the message log, the recorder time and the current file,
// and a menu per module.
#pragma once

#include "session.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include <map>

namespace recorder {

// Draws the selected channels, one strip each, over the last seconds of the
// recorder's clock. Strips keep a readable height; the scroll area around
// the widget scrolls when they do not all fit.
class ScopeWidget : public QWidget {
public:
    static constexpr int kStripHeight = 150;

    explicit ScopeWidget(Session& session, QWidget* parent = nullptr);
    void setChannels(std::vector<const host::HostChannel*> channels);
    const std::vector<const host::HostChannel*>& channels() const { return channels_; }
    void setTimeBase(double seconds);
    double timeBase() const { return timeBase_; }
    // Paused: the picture holds still while the data goes on arriving.
    void setPaused(bool paused);
    bool paused() const { return paused_; }
    // Auto-scale: the y axis follows the data instead of the channel's
    // display range (channel properties 7 and 8).
    void setAutoScale(bool on);
    // The right end of the time axis: the recorder's time while running.
    double now() const;
    // The y range a channel is drawn with (fixed when it has a display range
    // and auto-scale is off).
    YRange rangeOf(const host::HostChannel* channel) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void fitHeight();

    Session& session_;
    std::vector<const host::HostChannel*> channels_;
    double timeBase_ = 5;
    bool paused_ = false;
    double pausedAt_ = 0;
    std::map<const host::HostChannel*, ScopeTrace> frozen_;
    bool autoScale_ = false;
};

// Where a module's window (frame `window`) goes beside the recorder's (frame
// `own`) on the screen's `area`: to its right at height `top`, else to its
// left, else (no room on either side) against the screen's right edge; kept
// within the screen's height.
QPoint besidePosition(const QRect& own, const QRect& window, const QRect& area, int top);

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(Session& session);
    ~MainWindow() override;

    // Rebuilds the table and the module menu from the host.
    void refresh();
    // Stops the recorder and closes every module, in load order (once).
    void closeModules();
    // Whether the log shows the modules' traces (kind 1).
    void setShowTraces(bool show);
    // Moves the modules' windows that lie over this one beside it: to its
    // right, else to its left, else (no room on the screen) to the screen's
    // right edge.
    void placeModuleWindows();

    QTableWidget* table() const { return table_; }
    QAction* startAction() const { return start_; }
    QAction* stopAction() const { return stop_; }
    QAction* pauseAction() const { return pause_; }
    QComboBox* timeBaseBox() const { return timeBase_; }
    QCheckBox* autoScaleBox() const { return autoScale_; }
    QCheckBox* tracesBox() const { return traces_; }
    ScopeWidget* scope() const { return scope_; }
    QPlainTextEdit* logView() const { return log_; }
    QLabel* stateLabel() const { return state_; }
    QLabel* fileLabel() const { return file_; }
    QMenu* modulesMenu() const { return modules_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void rebuildTable();
    void updateValues();
    void rebuildModuleMenu();
    void showState(bool running);
    void append(const host::LogMessage& message);
    void refillLog();
    void selectionChanged();

    Session& session_;
    QTableWidget* table_ = nullptr;
    ScopeWidget* scope_ = nullptr;
    QScrollArea* scopeArea_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QCheckBox* traces_ = nullptr;
    QComboBox* timeBase_ = nullptr;
    QCheckBox* autoScale_ = nullptr;
    QLabel* state_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* file_ = nullptr;
    QAction* start_ = nullptr;
    QAction* stop_ = nullptr;
    QAction* pause_ = nullptr;
    QMenu* modules_ = nullptr;
    QTimer values_;
    QTimer repaint_;
    std::vector<const host::HostChannel*> rows_;
    bool closed_ = false;
    bool selectedOnce_ = false;
};

} // namespace recorder
