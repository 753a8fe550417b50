// The emulator's main window: the channel list, the commands that change it
// and the tool panel that starts and stops the recorder.
#pragma once

#include "Views.h"

#include <array>
#include <memory>
#include <optional>
#include <string>

namespace tolvex {

class TMainFrm;

enum class ToolButton { Start, Stop, Add, Delete, Load, Save };
enum class WindowTimer { Generation, Hover, Animation }; // Timer1, Timer2, Timer3
enum class MouseButton { Left, Right, Middle };

// What TMainFrm needs of its window. Texts are 1251.
struct MainView {
    virtual ~MainView() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
    // Shown (restored when minimized), in front of other windows and active.
    virtual void raise() = 0;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setButtonEnabled(ToolButton button, bool enabled) = 0;
    virtual bool buttonEnabled(ToolButton button) const = 0;
    virtual void setTimerEnabled(WindowTimer timer, bool enabled) = 0;
    virtual bool timerEnabled(WindowTimer timer) const = 0;
    // The "Start" button shows animation frame 0, 1 or 2.
    virtual void setStartPicture(int frame) = 0;

    // Grid: five columns, row 0 the header.
    virtual void setRowCount(int rows) = 0;
    virtual int rowCount() const = 0;
    virtual void setCell(int column, int row, const std::string& text) = 0;
    virtual std::string cell(int column, int row) const = 0;
    virtual int currentRow() const = 0;
    virtual void setCurrentRow(int row) = 0;
    virtual void setCurrentColumn(int column) = 0;
    virtual int selectionTopRow() const = 0;
    virtual int gridOuterWidth() const = 0;
    virtual int columnWidth(int column) const = 0;
    virtual void setColumnWidth(int column, int width) = 0;
    virtual void popupMenu(int screenX, int screenY) = 0; // "Свойства" (bold), "Удалить"

    // Tag of the enabled tool-panel control under the pointer ("Start" has
    // tag 1, the others 0), or nothing when the pointer is on no control.
    virtual std::optional<int> enabledToolTagUnderPointer() const = 0;

    // File dialogs ("Plugin Resource|*.res"); nothing when cancelled.
    virtual std::optional<std::string> openFileDialog() = 0;
    virtual std::optional<std::string> saveFileDialog() = 0;
};

using MainViewMaker = ui::ViewMaker<MainView, TMainFrm>;
void setMainViewMaker(MainViewMaker maker); // empty: back to the headless view

// Where "Tolvex.ini" lives: $TOLVEX_INI when set, else
// $XDG_CONFIG_HOME/tolvex/Tolvex.ini (default ~/.config/tolvex/Tolvex.ini).
std::string settingsFilePath();

class TMainFrm {
public:
    TMainFrm();
    ~TMainFrm();
    TMainFrm(const TMainFrm&) = delete;
    TMainFrm& operator=(const TMainFrm&) = delete;

    MainView& view() { return *view_; }

    std::string currentFile; // the current configuration file name
    int frame = 0;           // animation frame counter 0..2

    void LoadConfiguration(const std::string& fileName);
    void SaveConfiguration(const std::string& fileName);
    void UpdateCaption();
    void FillGrid();
    // Switches the tool buttons and the generation timer (PN_RCSTART / PN_RCSTOP).
    void SetRunning(bool running);

    // Handlers
    void SpeedButton1Click();                                   // Start
    void SpeedButton2Click();                                   // Stop
    void SpeedButton3MouseDown(MouseButton button, bool shift); // Add / Add from template
    void pmDelClick();                                          // Delete
    void SpeedButton5Click();                                   // Load
    void SpeedButton4Click();                                   // Save
    void StringGrid1Click(); // Properties (double-click, "Свойства")
    void StringGrid1MouseDown(MouseButton button, int row, int column, int screenX, int screenY);
    void FormClose();
    void FormActivate();
    void FormResize();
    void Timer1Timer(); // generation
    void Timer2Timer(); // hover poll
    void Timer3Timer(); // animation

private:
    std::unique_ptr<MainView> view_;
    std::string refusedFile_; // the file the last load refused, if it did
};

// Add from template: the template dialog and the creation of its channels;
// the caller refills the grid afterwards.
void AddChannelsFromTemplate();

} // namespace tolvex
