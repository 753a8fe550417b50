// Opens every window and dialog of both modules with the native Windows
// views, with a demo channel list loaded, and saves each to a PNG file copied
// from the screen, frame and caption included (Wine's PrintWindow draws no
// frame and no child control): win32_screens [output folder]. Each modal
// window is photographed from a thread timer while its own modal loop runs,
// then closed as cancelled. Every picture is checked: the window's specified
// size, and not blank. A window that does not open within five seconds fails
// the run; whatever it opened is closed, so that the run never hangs.

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

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
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

// The sizes the windows are specified with: the outer size, or the client
// area's; pictures without an entry (menus, message boxes, the remote-control
// module's dialogs) are checked for content only.
struct Expected {
    bool client;
    int width, height;
};
const std::map<std::wstring, Expected> kSizes = {
    {L"main_window", {false, 600, 440}},         {L"main_window_wide", {false, 800, 480}},
    {L"main_window_running", {false, 600, 440}}, {L"main_window_empty", {false, 600, 440}},
    {L"channel_dialog", {true, 203, 299}},       {L"level_dialog", {false, 401, 166}},
    {L"sine_dialog", {true, 271, 253}},          {L"saw_dialog", {true, 279, 265}},
    {L"noise_dialog", {true, 311, 207}},         {L"composite_editor", {true, 383, 317}},
    {L"template_dialog", {true, 519, 205}},
};

void fail(const std::wstring& name, const wchar_t* what) {
    std::fwprintf(stderr, L"FAILED: %ls: %ls\n", name.c_str(), what);
    gFailed = true;
}

// A picture shows something when its client area (the part the module
// paints, without Wine's frame and caption) is not one plain colour: at least
// one pixel in two hundred differs from the most common one. A plain grey
// field, an unpainted dialog or an empty copy fail.
bool hasContent(HDC dc, HBITMAP bitmap, int width, int height, const RECT& client) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS) !=
        height)
        return false;
    std::map<std::uint32_t, std::size_t> counts;
    std::size_t all = 0;
    for (int y = std::max(0, static_cast<int>(client.top));
         y < std::min(height, static_cast<int>(client.bottom)); ++y)
        for (int x = std::max(0, static_cast<int>(client.left));
             x < std::min(width, static_cast<int>(client.right)); ++x) {
            ++counts[pixels[static_cast<std::size_t>(y) * width + x] & 0xFFFFFFu];
            ++all;
        }
    std::size_t most = 0;
    for (const auto& [colour, count] : counts)
        most = std::max(most, count);
    return all > 0 && (all - most) * 200 >= all;
}

// Paints the window and its children now.
void paint(HWND window) {
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    GdiFlush();
}

// The whole window, frame and caption included, copied from the screen.
bool save(HWND window, const std::wstring& name) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
        fail(name, L"the window has no size");
        return false;
    }
    RECT client{};
    GetClientRect(window, &client);
    if (auto it = kSizes.find(name); it != kSizes.end()) {
        const Expected& e = it->second;
        const int w = e.client ? client.right : width, h = e.client ? client.bottom : height;
        if (w != e.width || h != e.height) {
            std::fwprintf(stderr, L"FAILED: %ls: %ls %dx%d, not %dx%d\n", name.c_str(),
                          e.client ? L"client area" : L"outer size", w, h, e.width, e.height);
            gFailed = true;
        }
    }
    // The client area within the picture.
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    OffsetRect(&client, origin.x - r.left, origin.y - r.top);
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const BOOL copied = BitBlt(dc, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(dc, old);
    const bool content = copied && hasContent(dc, bitmap, width, height, client);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    bool ok = false;
    if (!copied) {
        fail(name, L"could not be copied from the screen");
    } else {
        if (!content)
            fail(name, L"the picture is blank");
        const std::wstring path = gOut + L"\\" + name + L".png";
        Gdiplus::Bitmap image(bitmap, nullptr);
        ok = image.Save(path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
        if (ok) {
            std::wprintf(L"%ls %dx%d\n", path.c_str(), width, height);
            ++gWritten;
        } else {
            fail(name, L"could not be saved");
        }
    }
    DeleteObject(bitmap);
    return ok && content;
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
// modal loop runs is photographed and then closed by `close`. Windows that
// were already visible when the shot was set up are not it (a dialog's form
// makes its window, hidden, before the shot is set up).
struct Shot {
    std::wstring name;
    const wchar_t* windowClass;
    std::function<void(HWND)> close;
    std::set<HWND> before; // the thread's visible windows at the start
    int ticks = 0;
    int painted = 0;
    HWND seen = nullptr;
};
std::unique_ptr<Shot> gShot;

struct Finder {
    const wchar_t* windowClass; // nullptr: any class
    const std::set<HWND>* except;
    std::vector<HWND> found;
};

BOOL CALLBACK findNew(HWND window, LPARAM data) {
    auto* finder = reinterpret_cast<Finder*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (IsWindowVisible(window) && finder->except->count(window) == 0 &&
        (finder->windowClass == nullptr ||
         (wcscmp(name, finder->windowClass) == 0 && IsWindowEnabled(window))))
        finder->found.push_back(window);
    return TRUE;
}

std::vector<HWND> newWindows(const wchar_t* windowClass, const std::set<HWND>& except) {
    Finder finder{windowClass, &except, {}};
    EnumThreadWindows(GetCurrentThreadId(), &findNew, reinterpret_cast<LPARAM>(&finder));
    return finder.found;
}

BOOL CALLBACK collectVisible(HWND window, LPARAM data) {
    if (IsWindowVisible(window))
        reinterpret_cast<std::set<HWND>*>(data)->insert(window);
    return TRUE;
}

void CALLBACK shotTimer(HWND, UINT, UINT_PTR id, DWORD) {
    Shot* shot = gShot.get();
    if (shot == nullptr) {
        KillTimer(nullptr, id);
        return;
    }
    if (++shot->ticks > 250) { // five seconds: the window never opened
        fail(shot->name, L"did not open");
        KillTimer(nullptr, id);
        // Close whatever opened instead, so that its modal loop ends.
        EndMenu();
        for (HWND window : newWindows(nullptr, shot->before))
            PostMessageW(window, WM_CLOSE, 0, 0);
        gShot.reset();
        return;
    }
    if (shot->seen == nullptr) {
        const std::vector<HWND> found = newWindows(shot->windowClass, shot->before);
        if (!found.empty()) {
            shot->seen = found.front();
            paint(shot->seen);
        }
        return;
    }
    // A few ticks for the painting to reach the screen: Wine copies a
    // window's surface to the display while the modal loop waits.
    if (++shot->painted < 5)
        return;
    KillTimer(nullptr, id);
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
    EnumThreadWindows(GetCurrentThreadId(), &collectVisible,
                      reinterpret_cast<LPARAM>(&gShot->before));
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

// A window outside any modal loop: painted, given time to reach the screen.
void shootStill(HWND window, const std::wstring& name) {
    paint(window);
    pump(100);
    save(window, name);
}

void shootMainWindow(TMainFrm& frm) {
    auto& view = dynamic_cast<MainWindowView&>(frm.view());
    HWND window = view.window();
    frm.FillGrid();
    frm.currentFile = "C:\\Data\\demo.res";
    frm.UpdateCaption();
    view.show();
    SetForegroundWindow(window);
    pump(300);
    shootStill(window, L"main_window");

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
    shootStill(window, L"main_window_wide");

    SetWindowPos(window, nullptr, 0, 0, 600, 440, SWP_NOMOVE | SWP_NOZORDER);

    // Running, with the "Start" animation on its second frame.
    frm.SetRunning(true);
    view.setStartPicture(1);
    pump(200);
    shootStill(window, L"main_window_running");
    frm.SetRunning(false);

    // An empty list: the header and one empty row.
    CTolvex* plugin = currentPlugin();
    auto kept = std::move(plugin->channels);
    plugin->channels.clear();
    frm.FillGrid();
    pump(200);
    shootStill(window, L"main_window_empty");
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
    // Unbuffered: what was written is there even when the run is killed.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
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
