#include "Win32Common.h"

#include "ViewLogic.h"
#include "Views.h"

#include "platform/text.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <tuple>
#include <vector>

namespace tolvex::win32views {

namespace {

HWND gMainWindow = nullptr;
ModalDialog* gInnermost = nullptr; // the innermost running modal dialog

void initCommonControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX init{};
        init.dwSize = sizeof init;
        init.dwICC = ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
        InitCommonControlsEx(&init);
        return true;
    }();
    (void)done;
}

HFONT makeFont(const wchar_t* face, int points, int weight) {
    using Key = std::tuple<std::wstring, int, int>;
    static std::map<Key, HFONT> fonts;
    Key key{face, points, weight};
    auto found = fonts.find(key);
    if (found != fonts.end())
        return found->second;
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    HFONT font = CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                             RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    if (font == nullptr)
        font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    fonts.emplace(key, font);
    return font;
}

struct ThreadWindows {
    HWND except;
    std::vector<HWND> disabled;
};

BOOL CALLBACK disableOne(HWND window, LPARAM data) {
    auto* windows = reinterpret_cast<ThreadWindows*>(data);
    if (window != windows->except && IsWindowVisible(window) && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        windows->disabled.push_back(window);
    }
    return TRUE;
}

} // namespace

std::wstring wide(const std::string& text1251) {
    const std::u16string utf16 = platform::cp1251ToUtf16(text1251);
    return std::wstring(utf16.begin(), utf16.end());
}

std::string narrow(const std::wstring& text) {
    const std::u16string utf16(text.begin(), text.end());
    return platform::utf16ToCp1251(utf16);
}

bool fitsCp1251(const std::wstring& text) {
    return wide(narrow(text)) == text;
}

HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

HFONT mainFont() {
    return makeFont(L"MS Sans Serif", 8, FW_NORMAL);
}

HFONT dialogFont(int points) {
    return makeFont(L"Arial", points, FW_NORMAL);
}

HFONT dialogFontNamed(const wchar_t* face, int points) {
    return makeFont(face, points, FW_NORMAL);
}

HFONT boldButtonFont(int points) {
    return makeFont(L"Arial Black", points, FW_BOLD);
}

void guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        try {
            ui::showError(error.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            ui::showError("Unexpected error");
        } catch (...) {
        }
    }
}

void setMainWindow(HWND window) {
    gMainWindow = window;
}

HWND mainWindow() {
    return gMainWindow != nullptr && IsWindow(gMainWindow) ? gMainWindow : nullptr;
}

HWND topModalWindow() {
    if (gInnermost != nullptr && IsWindow(gInnermost->handle()))
        return gInnermost->handle();
    return mainWindow();
}

std::string windowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int got = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return narrow(text);
}

void setWindowText(HWND window, const std::string& text1251) {
    SetWindowTextW(window, wide(text1251).c_str());
}

void setClientSize(HWND window, int width, int height) {
    RECT frame{0, 0, width, height};
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
    AdjustWindowRectEx(&frame, style, GetMenu(window) != nullptr, exStyle);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void centreOnScreen(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(window, nullptr, (screenWidth - width) / 2, (screenHeight - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------

ModalDialog::ModalDialog(DWORD style, HFONT font) : font_(font) {
    initCommonControls();
    // A template without controls: the controls are made in pixels below.
    alignas(DWORD) WORD buffer[16] = {};
    DLGTEMPLATE head{};
    head.style = style | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    head.dwExtendedStyle = WS_EX_DLGMODALFRAME;
    static_assert(sizeof head + 3 * sizeof(WORD) <= sizeof buffer);
    std::memcpy(buffer, &head, sizeof head); // menu, class and title words stay 0
    window_ = CreateDialogIndirectParamW(
        moduleInstance(), reinterpret_cast<LPCDLGTEMPLATEW>(buffer), topModalWindow(),
        &ModalDialog::procedure, reinterpret_cast<LPARAM>(this));
    if (window_ != nullptr && font_ != nullptr)
        SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
}

ModalDialog::~ModalDialog() {
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, DWLP_USER, 0);
        DestroyWindow(window_);
    }
}

INT_PTR CALLBACK ModalDialog::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        // No focus yet: the dialog is made hidden, long before it is shown,
        // and focusing it now would make it the active window. runModal
        // focuses the first control when it shows the dialog.
        return FALSE;
    }
    auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    INT_PTR result = FALSE;
    switch (message) {
    case WM_COMMAND: {
        const int id = LOWORD(wParam), code = HIWORD(wParam);
        HWND control = reinterpret_cast<HWND>(lParam);
        guarded([&] { self->command(id, code, control); });
        return TRUE;
    }
    case WM_CLOSE: // the close box: cancelled
        self->end(false);
        return TRUE;
    default:
        break;
    }
    bool handled = false;
    guarded([&] { handled = self->message(message, wParam, lParam, result); });
    return handled ? result : FALSE;
}

void ModalDialog::command(int id, int, HWND) {
    if (id == IDOK)
        end(true);
    else if (id == IDCANCEL)
        end(false);
}

void ModalDialog::end(bool result) {
    result_ = result;
    done_ = true;
}

bool ModalDialog::runModal() {
    if (window_ == nullptr || running_)
        return false;
    running_ = true;
    done_ = false;
    result_ = false;
    outer_ = gInnermost;
    gInnermost = this;
    // The window to reactivate afterwards: the one active now, unless that is
    // this dialog itself (then its owner, the main window or the calling
    // dialog).
    HWND before = GetActiveWindow();
    if (before == nullptr || before == window_ || IsChild(window_, before))
        before = GetWindow(window_, GW_OWNER);
    ThreadWindows others{window_, {}};
    EnumThreadWindows(GetCurrentThreadId(), &disableOne, reinterpret_cast<LPARAM>(&others));

    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
    SetActiveWindow(window_);
    HWND first = GetNextDlgTabItem(window_, nullptr, FALSE);
    if (first != nullptr)
        SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first), TRUE);

    MSG msg{};
    while (!done_) {
        if (!IsWindow(window_))
            break;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) { // the thread is quitting: pass it on, cancelled
            PostQuitMessage(static_cast<int>(msg.wParam));
            result_ = false;
            break;
        }
        if (got < 0)
            break;
        bool used = false;
        if (msg.hwnd == window_ || IsChild(window_, msg.hwnd))
            guarded([&] { used = preTranslate(msg); });
        if (used)
            continue;
        if (!IsDialogMessageW(window_, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    // Enable the others before hiding, so that activation returns to them.
    for (auto it = others.disabled.rbegin(); it != others.disabled.rend(); ++it)
        if (IsWindow(*it))
            EnableWindow(*it, TRUE);
    if (IsWindow(window_))
        ShowWindow(window_, SW_HIDE);
    if (before != nullptr && IsWindow(before))
        SetActiveWindow(before);
    gInnermost = outer_;
    running_ = false;
    return done_ && result_;
}

HWND ModalDialog::addControl(const wchar_t* windowClass, const std::string& text1251, DWORD style,
                             int left, int top, int width, int height, int id, HFONT font,
                             DWORD exStyle, HWND parent) {
    HWND control = CreateWindowExW(
        exStyle, windowClass, wide(text1251).c_str(), WS_CHILD | WS_VISIBLE | style, left, top,
        width, height, parent != nullptr ? parent : window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), moduleInstance(), nullptr);
    if (control != nullptr)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font != nullptr ? font : font_),
                     FALSE);
    return control;
}

HWND ModalDialog::label(const std::string& text1251, int left, int top, HWND parent, DWORD align,
                        int width) {
    // A label is as wide as its text unless told otherwise; a right-aligned
    // one ends at left + width.
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, font_);
    const std::wstring text = wide(text1251);
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    const int w = width > 0 ? width : extent.cx + 2;
    return addControl(L"STATIC", text1251, align | SS_NOPREFIX, left, top, w, extent.cy + 2, -1,
                      nullptr, 0, parent);
}

// ---------------------------------------------------------------------------

void SpinBox::create(ModalDialog& dialog, int left, int top, int width, int height, int id,
                     int minimum, int maximum, HWND parent) {
    min_ = minimum;
    max_ = maximum;
    edit_ = dialog.addControl(L"EDIT", "", WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL,
                              left, top, width, height, id, nullptr, WS_EX_CLIENTEDGE, parent);
    upDown_ = CreateWindowExW(0, UPDOWN_CLASSW, L"",
                              WS_CHILD | WS_VISIBLE | UDS_ALIGNRIGHT | UDS_ARROWKEYS |
                                  UDS_SETBUDDYINT | UDS_NOTHOUSANDS,
                              0, 0, 0, 0, parent != nullptr ? parent : dialog.handle(), nullptr,
                              moduleInstance(), nullptr);
    SendMessageW(upDown_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit_), 0);
    SendMessageW(upDown_, UDM_SETRANGE32, static_cast<WPARAM>(minimum),
                 static_cast<LPARAM>(maximum));
}

void SpinBox::setValue(int value) {
    setting_ = true;
    const int v = std::clamp(value, min_, max_);
    SendMessageW(upDown_, UDM_SETPOS32, 0, static_cast<LPARAM>(v));
    setWindowText(edit_, std::to_string(v));
    setting_ = false;
    touched_ = false;
}

void SpinBox::showUntouched(int value) {
    setting_ = true;
    setWindowText(edit_, std::to_string(value));
    setting_ = false;
    touched_ = false;
}

int SpinBox::value() const {
    return spinValue(windowText(edit_), min_, max_, touched_);
}

void SpinBox::clampText() {
    const std::string text = windowText(edit_);
    const int v = spinValue(text, min_, max_, true);
    if (spinNumber(text) != v) {
        setting_ = true;
        setWindowText(edit_, std::to_string(v));
        setting_ = false;
    }
    SendMessageW(upDown_, UDM_SETPOS32, 0, static_cast<LPARAM>(v));
    touched_ = true;
}

void SpinBox::editNotification(int code) {
    if (code == EN_CHANGE && !setting_)
        touched_ = true;
    else if (code == EN_KILLFOCUS)
        clampText();
}

} // namespace tolvex::win32views
