// Opens every window and dialog of both modules with the native Windows
// views, with a demo channel list loaded, and saves each to a PNG file taken
// with PrintWindow: win32_screens [output folder]. Each modal window is
// photographed from a thread timer while its own modal loop runs, then
// closed as cancelled.

// First, before windows.h makes macros of the dialog's IDOK and IDCANCEL.
#include "Setup.h"

#include "Editors.h"
#include "Tolvex.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"
#include "Umainfrm.h"
#include "platform/text.h"

#include "Brantic.h"

#include "MainWindow.h"
#include "Win32Common.h"
#include "Win32Layer.h"
#include "Win32Views.h"

#include <gdiplus.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace tolvex;
using namespace tolvex::win32views;
using namespace platform::literals;

namespace {

std::wstring gOut = L"screens";
int gWritten = 0;
bool gFailed = false;

// The PNG encoder of GDI+.
const CLSID kPngEncoder = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

// The whole window, frame and caption included, as PrintWindow draws it.
bool save(HWND window, const std::wstring& name) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        std::fwprintf(stderr, L"%ls: the window has no size\n", name.c_str());
        gFailed = true;
        return false;
    }
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, GetSysColorBrush(COLOR_BTNFACE));
    const BOOL printed = PrintWindow(window, dc, 0);
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    bool ok = false;
    if (printed) {
        const std::wstring path = gOut + L"\\" + name + L".png";
        Gdiplus::Bitmap image(bitmap, nullptr);
        ok = image.Save(path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
        if (ok) {
            std::wprintf(L"%ls\n", path.c_str());
            ++gWritten;
        }
    }
    DeleteObject(bitmap);
    if (!ok) {
        std::fwprintf(stderr, L"%ls: could not be saved\n", name.c_str());
        gFailed = true;
    }
    return ok;
}

// Lets the windows paint.
void pump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < milliseconds) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    }
}

// The next window of this thread of class `windowClass` that shows up while a
// modal loop runs is photographed and then closed by `close`.
struct Shot {
    std::wstring name;
    const wchar_t* windowClass;
    std::function<void(HWND)> close;
    HWND below = nullptr; // the window that was on top before
    int ticks = 0;
    HWND seen = nullptr;
};
std::unique_ptr<Shot> gShot;

struct Finder {
    const wchar_t* windowClass;
    HWND except;
    HWND found;
};

BOOL CALLBACK findOne(HWND window, LPARAM data) {
    auto* finder = reinterpret_cast<Finder*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (window != finder->except && IsWindowVisible(window) &&
        wcscmp(name, finder->windowClass) == 0 && IsWindowEnabled(window)) {
        finder->found = window;
        return FALSE;
    }
    return TRUE;
}

void CALLBACK shotTimer(HWND, UINT, UINT_PTR id, DWORD) {
    Shot* shot = gShot.get();
    if (shot == nullptr) {
        KillTimer(nullptr, id);
        return;
    }
    if (++shot->ticks > 250) { // five seconds: the window never opened
        std::fwprintf(stderr, L"%ls did not open\n", shot->name.c_str());
        gFailed = true;
        KillTimer(nullptr, id);
        gShot.reset();
        return;
    }
    if (shot->seen == nullptr) {
        Finder finder{shot->windowClass, shot->below, nullptr};
        EnumThreadWindows(GetCurrentThreadId(), &findOne, reinterpret_cast<LPARAM>(&finder));
        shot->seen = finder.found;
        return; // one more tick to paint
    }
    KillTimer(nullptr, id);
    UpdateWindow(shot->seen);
    save(shot->seen, shot->name);
    std::function<void(HWND)> close = shot->close;
    HWND seen = shot->seen;
    gShot.reset();
    close(seen);
}

void shootNext(const std::wstring& name, const wchar_t* windowClass,
               std::function<void(HWND)> close) {
    gShot = std::make_unique<Shot>();
    gShot->name = name;
    gShot->windowClass = windowClass;
    gShot->close = std::move(close);
    gShot->below = GetActiveWindow();
    SetTimer(nullptr, 0, 20, &shotTimer);
}

void closeDialog(HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
}

void answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
}

std::unique_ptr<CVirtualChannel> channel(const char* name, float frequency,
                                         std::unique_ptr<Signal> signal) {
    auto c = std::make_unique<CVirtualChannel>(name);
    c->frequency = frequency;
    c->signal = std::move(signal);
    return c;
}

void loadDemo(CTolvex& plugin) {
    auto level = std::make_unique<LevelSignal>();
    level->Level = 2.5f;
    auto saw = std::make_unique<SawSignal>();
    saw->Period = 0.5f;
    auto noise = std::make_unique<NoiseSignal>();
    noise->MaxLevel = 5.0f;
    noise->MinLevel = -5.0f;
    auto sum = std::make_unique<CompositeSignal>();
    sum->parts.push_back(std::make_unique<LevelSignal>());
    plugin.channels.push_back(channel("Давление"_w, 1000.0f, std::make_unique<SineSignal>()));
    plugin.channels.push_back(channel("Температура"_w, 10.0f, std::move(level)));
    plugin.channels.push_back(channel("Импульсы"_w, 2.5f, std::move(saw)));
    plugin.channels.push_back(channel("Шум датчика"_w, 216000.0f, std::move(noise)));
    plugin.channels.push_back(channel("Сумма1"_w, 500.0f, std::move(sum)));
    plugin.channels.push_back(channel("Channel0", 1.0f, std::make_unique<SineSignal>()));
}

void shootMainWindow(TMainFrm& frm) {
    auto& view = dynamic_cast<MainWindowView&>(frm.view());
    HWND window = view.window();
    frm.FillGrid();
    frm.currentFile = "C:\\Data\\demo.res";
    frm.UpdateCaption();
    view.show();
    pump(300);
    save(window, L"main_window");

    // The pop-up menu of the grid, over the name of the first channel.
    RECT cell = view.grid().cellRect(1, 1);
    POINT at{cell.left + 20, cell.top + 10};
    ClientToScreen(view.grid().handle(), &at);
    shootNext(L"main_popup", L"#32768", [](HWND) { EndMenu(); });
    view.popupMenu(at.x, at.y);
    pump(100);

    // Wider: only the name column grows.
    SetWindowPos(window, nullptr, 0, 0, 800, 480, SWP_NOMOVE | SWP_NOZORDER);
    pump(200);
    save(window, L"main_window_wide");

    // Running, with the "Start" animation on its second frame.
    frm.SetRunning(true);
    view.setStartPicture(1);
    pump(200);
    save(window, L"main_window_running");
    frm.SetRunning(false);
    SetWindowPos(window, nullptr, 0, 0, 600, 440, SWP_NOMOVE | SWP_NOZORDER);

    // An empty list: the header and one empty row.
    CTolvex* plugin = currentPlugin();
    auto kept = std::move(plugin->channels);
    plugin->channels.clear();
    frm.FillGrid();
    pump(200);
    save(window, L"main_window_empty");
    plugin->channels = std::move(kept);
    frm.FillGrid();
    pump(100);
}

void shootDialogs(CTolvex& plugin) {
    const wchar_t* dialog = L"#32770";
    {
        TChanEditFrm form;
        shootNext(L"channel_dialog", dialog, closeDialog);
        form.EditChannel(*plugin.channels[0]);
    }
    LevelSignal level;
    shootNext(L"level_dialog", dialog, closeDialog);
    level.edit();
    SineSignal sine;
    shootNext(L"sine_dialog", dialog, closeDialog);
    sine.edit();
    SawSignal saw;
    saw.Period = 0.1f; // shows the widened float
    shootNext(L"saw_dialog", dialog, closeDialog);
    saw.edit();
    NoiseSignal noise;
    shootNext(L"noise_dialog", dialog, closeDialog);
    noise.edit();
    {
        CompositeSignal composite;
        composite.parts.push_back(std::make_unique<LevelSignal>());
        composite.parts.push_back(std::make_unique<CompositeSignal>());
        composite.parts.push_back(std::make_unique<NoiseSignal>());
        shootNext(L"composite_editor", dialog, closeDialog);
        composite.edit();
    }
    {
        TTExtraNew form;
        form.templateSignal = std::make_unique<SineSignal>();
        shootNext(L"template_dialog", dialog, closeDialog);
        form.AskTemplate();
    }
    shootNext(L"question_box", dialog, [](HWND box) { answer(box, IDNO); });
    ui::askQuestion("Переименовать канал: Давление\n\r в : Давление2 ?"_w);
    shootNext(L"error_box", dialog, [](HWND box) { answer(box, IDOK); });
    ui::showError("Добавить канал сейчас невозможно!"_w);
}

void shootRemoteControl(HWND owner) {
    const wchar_t* dialog = L"#32770";
    brantic::ui::setViewLayer(brantic::ui::makeWin32Layer());
    {
        brantic::CSetup setup(owner);
        shootNext(L"setup_dialog", dialog, closeDialog);
        setup.DoModal();
    }
    {
        CBrantic about;
        shootNext(L"about_box", dialog, [](HWND box) { answer(box, IDOK); });
        about.notify(PN_ABOUT, 0);
    }
    brantic::ui::setViewLayer(nullptr);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1)
        gOut = argv[1];
    CreateDirectoryW(gOut.c_str(), nullptr);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
        std::fprintf(stderr, "GDI+ could not start\n");
        return 1;
    }
    if (!views::installWin32Views()) {
        std::fprintf(stderr, "the Win32 views could not be installed\n");
        return 1;
    }
    installEditors();
    SignalKinds::fill();
    {
        CTolvex plugin;
        setCurrentPlugin(&plugin);
        loadDemo(plugin);
        {
            TMainFrm frm;
            shootMainWindow(frm);
            shootDialogs(plugin);
            shootRemoteControl(dynamic_cast<MainWindowView&>(frm.view()).window());
        }
        setCurrentPlugin(nullptr);
    }
    SignalKinds::clear();
    Gdiplus::GdiplusShutdown(token);
    std::printf("%d pictures\n", gWritten);
    return gFailed || gWritten < 16 ? 1 : 0;
}
