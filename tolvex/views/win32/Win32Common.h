// What every Win32 view of the emulator shares: text conversion at the edge
// (1251 inside, UTF-16 for the W functions), the fonts, the module's instance,
// the guard that keeps exceptions out of window procedures, and the modal loop
// of the dialogs.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <string>

namespace tolvex::win32views {

std::wstring wide(const std::string& text1251);
std::string narrow(const std::wstring& text);
// Whether a UTF-16 text survives the trip to 1251 unchanged.
bool fitsCp1251(const std::wstring& text);

// The module (DLL or program) these views are linked into.
HINSTANCE moduleInstance();

// Fonts, made once and kept for the life of the process. Every font asks for
// the Cyrillic character set; where a face is missing the system picks its
// substitute.
HFONT mainFont();                 // "MS Sans Serif", 8 points
HFONT dialogFont(int points);     // "Arial", Cyrillic
HFONT boldButtonFont(int points); // bold "Arial Black" of the "..." buttons
HFONT dialogFontNamed(const wchar_t* face, int points);

// Runs a handler; an exception it lets through becomes an error box instead
// of unwinding through the window procedure.
void guarded(const std::function<void()>& handler);

// The main window while one exists (the owner of error boxes).
void setMainWindow(HWND window);
HWND mainWindow();
// The window a new dialog or message box should stack on: the innermost
// running modal dialog, else the main window, else none.
HWND topModalWindow();

// A window's text as 1251.
std::string windowText(HWND window);
void setWindowText(HWND window, const std::string& text1251);

// Gives a window the outer size that makes its client area `width` x
// `height`, keeping its position.
void setClientSize(HWND window, int width, int height);
// Moves a window so that it is centred on the screen.
void centreOnScreen(HWND window);

// A modal dialog of ours: a dialog-class window (so that Tab, Enter and Escape
// work as in any dialog) with child controls placed in pixels, shown by its
// own modal loop. Every other window of the thread is disabled while it runs,
// as a modal form does.
class ModalDialog {
public:
    ModalDialog(DWORD style, HFONT font);
    virtual ~ModalDialog();
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    HWND handle() const { return window_; }

    // Shows the dialog and runs until end(); the result passed to end(), or
    // false when the loop had to stop (WM_QUIT, the window vanished).
    bool runModal();
    void end(bool result);
    bool running() const { return running_; }

    // Child controls at pixel positions in the client area.
    HWND addControl(const wchar_t* windowClass, const std::string& text1251, DWORD style, int left,
                    int top, int width, int height, int id, HFONT font = nullptr, DWORD exStyle = 0,
                    HWND parent = nullptr);
    HWND label(const std::string& text1251, int left, int top, HWND parent = nullptr,
               DWORD align = SS_LEFT, int width = 0);
    HWND item(int id) const { return GetDlgItem(window_, id); }

protected:
    // A command from a control or the keyboard (IDOK for Enter, IDCANCEL for
    // Escape and the close box). The default ends the dialog on IDOK/IDCANCEL.
    virtual void command(int id, int code, HWND control);
    // A key that the dialog sees before its focused control; true when used.
    virtual bool preTranslate(const MSG&) { return false; }
    // Other messages; true when handled (the result goes in `result`).
    virtual bool message(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

private:
    static INT_PTR CALLBACK procedure(HWND, UINT, WPARAM, LPARAM);

    HWND window_ = nullptr;
    HFONT font_;
    bool running_ = false;
    bool done_ = false;
    bool result_ = false;
    ModalDialog* outer_ = nullptr;
};

// An edit box with an up-down control: whole numbers in a range. The number
// typed is brought into range when the box loses focus; a box may show a
// number below its range until it is first touched.
class SpinBox {
public:
    void create(ModalDialog& dialog, int left, int top, int width, int height, int id, int minimum,
                int maximum, HWND parent = nullptr);
    void setValue(int value);      // brought into range
    void showUntouched(int value); // shown as it is
    // The number shown, brought into range once the user changed it.
    int value() const;
    // Called for the edit box's notifications.
    void editNotification(int code);
    HWND edit() const { return edit_; }
    HWND upDown() const { return upDown_; }
    int minimum() const { return min_; }
    int maximum() const { return max_; }

private:
    void clampText();

    HWND edit_ = nullptr;
    HWND upDown_ = nullptr;
    int min_ = 0, max_ = 0;
    bool touched_ = false;
    bool setting_ = false;
};

} // namespace tolvex::win32views
