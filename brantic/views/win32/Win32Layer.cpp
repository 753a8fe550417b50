#include "Win32Layer.h"

#include "platform/text.h"

namespace {
// The form's result codes, named before windows.h turns IDOK and IDCANCEL
// into macros.
constexpr int kOk = brantic::CSetup::IDOK;
constexpr int kCancel = brantic::CSetup::IDCANCEL;
constexpr int kTemplate = brantic::CSetup::IDD;
} // namespace

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

static_assert(kOk == IDOK && kCancel == IDCANCEL, "the dialog's buttons are IDOK and IDCANCEL");

namespace brantic::ui {

namespace {

std::wstring wide(const std::string& text1251) {
    const std::u16string utf16 = platform::cp1251ToUtf16(text1251);
    return std::wstring(utf16.begin(), utf16.end());
}

HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

// The template's face and size with the Cyrillic character set, so that
// "Отмена" shows whatever the system's code page.
HFONT cyrillicTemplateFont(HWND dialog) {
    static HFONT font = [dialog] {
        HDC dc = GetDC(dialog);
        const int dpi = dc != nullptr ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
        if (dc != nullptr)
            ReleaseDC(dialog, dc);
        const std::wstring face = wide(CSetup::kFontName);
        return CreateFontW(-MulDiv(CSetup::kFontPoints, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                           FALSE, RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face.c_str());
    }();
    return font;
}

class Win32SetupView final : public SetupView {
public:
    explicit Win32SetupView(CSetup& form) : form_(form) {}

    int runModal() override {
        HWND parent = static_cast<HWND>(form_.parentWindow());
        if (parent != nullptr && !IsWindow(parent))
            parent = nullptr;
        result_ = kCancel;
        const INT_PTR shown = DialogBoxParamW(
            moduleInstance(), reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(kTemplate)), parent,
            &Win32SetupView::procedure, reinterpret_cast<LPARAM>(this));
        window_ = nullptr;
        return shown == -1 ? kCancel : result_;
    }

    void endDialog(int result) override {
        result_ = result;
        if (window_ != nullptr)
            EndDialog(window_, result);
    }

private:
    static INT_PTR CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            auto* self = reinterpret_cast<Win32SetupView*>(lParam);
            self->window_ = window;
            if (HFONT font = cyrillicTemplateFont(window))
                for (int id : {kOk, kCancel})
                    SendDlgItemMessageW(window, id, WM_SETFONT, reinterpret_cast<WPARAM>(font),
                                        FALSE);
            SetWindowTextW(window, wide(CSetup::caption()).c_str());
            bool focusDefault = true;
            try {
                focusDefault = self->form_.OnInitDialog();
            } catch (...) {
            }
            return focusDefault ? TRUE : FALSE;
        }
        auto* self = reinterpret_cast<Win32SetupView*>(GetWindowLongPtrW(window, DWLP_USER));
        if (self == nullptr || message != WM_COMMAND)
            return FALSE;
        // OK, "Отмена", Enter, Escape and the close box end the dialog through
        // the form.
        try {
            if (LOWORD(wParam) == kOk)
                self->form_.OnOK();
            else if (LOWORD(wParam) == kCancel)
                self->form_.OnCancel();
            else
                return FALSE;
        } catch (...) {
            EndDialog(window, kCancel);
        }
        return TRUE;
    }

    CSetup& form_;
    HWND window_ = nullptr;
    int result_ = kCancel;
};

class Win32Layer final : public ViewLayer {
public:
    std::unique_ptr<SetupView> makeSetupView(CSetup& form) override {
        return std::make_unique<Win32SetupView>(form);
    }
    void messageBox(const MessageBoxRequest& request) override {
        HWND owner = static_cast<HWND>(request.owner);
        if (owner != nullptr && !IsWindow(owner))
            owner = nullptr;
        UINT type = MB_OK;
        if (request.icon == Icon::Information)
            type |= MB_ICONINFORMATION;
        MessageBoxW(owner, wide(request.text).c_str(), wide(request.caption).c_str(), type);
    }
};

} // namespace

std::unique_ptr<ViewLayer> makeWin32Layer() {
    return std::make_unique<Win32Layer>();
}

} // namespace brantic::ui
