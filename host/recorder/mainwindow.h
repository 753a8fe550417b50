// The recorder's window: the channel table, a scope of the selected channels,
// Start and Stop, the message log, the recorder time and the current file,
// and a menu per module.
#pragma once

#include "session.h"

#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

namespace recorder {

// Draws the last seconds of each selected channel, one strip per channel.
class ScopeWidget : public QWidget {
public:
    explicit ScopeWidget(Session& session, QWidget* parent = nullptr);
    void setChannels(std::vector<const host::HostChannel*> channels);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Session& session_;
    std::vector<const host::HostChannel*> channels_;
};

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(Session& session);
    ~MainWindow() override;

    // Rebuilds the table and the module menu from the host.
    void refresh();
    // Stops the recorder and closes every module, in load order (once).
    void closeModules();

    QTableWidget* table() const { return table_; }
    QAction* startAction() const { return start_; }
    QAction* stopAction() const { return stop_; }
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
    void selectionChanged();

    Session& session_;
    QTableWidget* table_ = nullptr;
    ScopeWidget* scope_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    QLabel* state_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* file_ = nullptr;
    QAction* start_ = nullptr;
    QAction* stop_ = nullptr;
    QMenu* modules_ = nullptr;
    QTimer values_;
    QTimer repaint_;
    std::vector<const host::HostChannel*> rows_;
    bool closed_ = false;
};

} // namespace recorder
