// Drives the real Win32 windows of the emulator with posted messages, as a
// user's mouse and keyboard would: the channel dialog that "Add" opens, the
// pop-up menu's question, "Start" and its animation under the pointer. Steps
// that must happen while a dialog, menu or message box runs its own modal
// loop are played from a thread timer, which every modal loop serves.
#include "FakeRecorder.h"

#include "Editors.h"
#include "Tolvex.h"
#include "Uchanedit.h"
#include "Umainfrm.h"
#include "platform/text.h"

#include "Dialogs.h"
#include "MainWindow.h"
#include "Win32Common.h"
#include "Win32Views.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <vector>

using namespace tolvex;
using namespace tolvex::win32views;
using namespace platform::literals;
using win32gui_test::FakeRecorder;

namespace {

// Steps played one after the other from a thread timer; a step answers true
// when it is done, false to be asked again at the next tick.
class Script {
public:
    using Step = std::function<bool()>;

    explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {
        current_ = this;
        timer_ = SetTimer(nullptr, 0, 20, &Script::tick);
    }
    ~Script() {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
    }
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    bool finished() const { return next_ >= steps_.size(); }

private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD) {
        Script* self = current_;
        if (self == nullptr || self->finished() || self->busy_)
            return;
        self->busy_ = true; // a step may itself run a modal loop
        if (self->steps_[self->next_]())
            ++self->next_;
        self->busy_ = false;
    }

    static inline Script* current_ = nullptr;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    UINT_PTR timer_ = 0;
    bool busy_ = false;
};

// Serves the thread's messages until `done` answers true; false on timeout.
bool pumpUntil(const std::function<bool()>& done, DWORD milliseconds) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (!done()) {
        if (GetTickCount() - start > milliseconds)
            return false;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

void pumpFor(DWORD milliseconds) {
    pumpUntil([] { return false; }, milliseconds);
}

struct Search {
    const wchar_t* windowClass;
    std::wstring captionStart;
    HWND found = nullptr;
};

BOOL CALLBACK searchOne(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (!IsWindowVisible(window) || wcscmp(name, search->windowClass) != 0)
        return TRUE;
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    if (std::wstring(caption).rfind(search->captionStart, 0) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}

// A visible top-level window of this thread by class and caption start.
HWND findWindow(const wchar_t* windowClass, const std::string& captionStart1251 = "") {
    Search search{windowClass, wide(captionStart1251)};
    EnumThreadWindows(GetCurrentThreadId(), &searchOne, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK collectStatic(HWND window, LPARAM data) {
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    wchar_t text[512] = {};
    if (_wcsicmp(name, L"Static") == 0 && GetWindowTextW(window, text, 512) > 0)
        *reinterpret_cast<std::wstring*>(data) += text;
    return TRUE;
}

// The texts of a message box's static controls: its message.
std::wstring staticTexts(HWND box) {
    std::wstring texts;
    EnumChildWindows(box, &collectStatic, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void postKey(HWND window, WPARAM key) {
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

LPARAM at(int x, int y) {
    return MAKELPARAM(x, y);
}

class Win32Gui : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The settings file of the tests, not the one in the Windows folder.
        char folder[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, folder);
        const std::string ini = std::string(folder) + "tolvex_gui_test.ini";
        DeleteFileA(ini.c_str());
        _putenv_s("TOLVEX_INI", ini.c_str());
    }

    void SetUp() override {
        installEditors(); // what the module's view selection does
        ASSERT_TRUE(views::installWin32Views());
        plugin_ = new CTolvex();
        setCurrentPlugin(plugin_);
        ASSERT_TRUE(plugin_->create(&host_));
        ASSERT_TRUE(plugin_->config()); // makes and shows the main window
        ASSERT_NE(mainForm(*plugin_), nullptr);
        view_ = dynamic_cast<MainWindowView*>(&mainForm(*plugin_)->view());
        ASSERT_NE(view_, nullptr);
        pumpFor(100);
    }

    void TearDown() override {
        if (plugin_ != nullptr) {
            plugin_->close();
            plugin_->Release();
        }
        setCurrentPlugin(nullptr);
    }

    void addChannel(const char* name) {
        plugin_->channels.push_back(std::make_unique<CVirtualChannel>(name));
        mainForm(*plugin_)->FillGrid();
    }

    // A press of the left button on "Add", the way a mouse posts it.
    void pressAdd() {
        PostMessageW(view_->button(ToolButton::Add), WM_LBUTTONDOWN, MK_LBUTTON, at(10, 10));
    }

    FakeRecorder host_;
    CTolvex* plugin_ = nullptr;
    MainWindowView* view_ = nullptr;
};

TEST_F(Win32Gui, AddOpensTheChannelDialogAndEscapeCancelsIt) {
    HWND seen = nullptr;
    std::string caption;
    Script script({[&] {
        seen = findWindow(L"#32770", "Свойства: "_w);
        if (seen == nullptr)
            return false;
        caption = windowText(seen);
        postKey(GetDlgItem(seen, kNameEdit), VK_ESCAPE);
        return true;
    }});
    pressAdd();
    ASSERT_TRUE(pumpUntil([&] { return script.finished() && !IsWindowVisible(seen); }, 5000));
    EXPECT_EQ(caption, "Свойства: Chan1"_w);
    EXPECT_TRUE(plugin_->channels.empty());
    EXPECT_TRUE(host_.ops.empty()); // not even the change lock
    EXPECT_EQ(view_->rowCount(), 2);
    EXPECT_EQ(view_->cell(1, 1), "");
}

// A dialog's form makes its window hidden long before it shows it: neither
// that nor closing the dialog may leave the hidden window active; the owner
// is active again as soon as the dialog is gone, while the form still lives.
TEST_F(Win32Gui, TheMainWindowIsActiveAgainWhenADialogCloses) {
    addChannel("Chan1");
    SetActiveWindow(view_->window());
    pumpFor(50);
    ASSERT_EQ(GetActiveWindow(), view_->window());
    TChanEditFrm form;
    pumpFor(50);
    EXPECT_EQ(GetActiveWindow(), view_->window()) << "the hidden dialog took the activation";
    HWND seen = nullptr, activeInside = nullptr;
    Script script({[&] {
        seen = findWindow(L"#32770", "Свойства: "_w);
        if (seen == nullptr)
            return false;
        activeInside = GetActiveWindow();
        postKey(GetDlgItem(seen, kNameEdit), VK_ESCAPE);
        return true;
    }});
    EXPECT_FALSE(form.EditChannel(*plugin_->channels[0]));
    pumpFor(50);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(activeInside, seen);
    EXPECT_TRUE(IsWindowEnabled(view_->window()));
    EXPECT_FALSE(IsWindowVisible(seen));
    EXPECT_EQ(GetActiveWindow(), view_->window());
}

TEST_F(Win32Gui, EnterConfirmsTheChannelDialogAndTheChannelReachesGridAndHost) {
    HWND seen = nullptr;
    Script script({[&] {
        seen = findWindow(L"#32770", "Свойства: "_w);
        if (seen == nullptr)
            return false;
        HWND name = GetDlgItem(seen, kNameEdit);
        setWindowText(name, "Давление"_w);
        postKey(name, VK_RETURN);
        return true;
    }});
    pressAdd();
    ASSERT_TRUE(pumpUntil([&] { return !plugin_->channels.empty(); }, 5000));
    pumpFor(50);
    ASSERT_EQ(plugin_->channels.size(), 1u);
    EXPECT_EQ(plugin_->channels[0]->name, "Давление"_w);
    // A new channel's frequency 0 showed as 1 and was confirmed so.
    EXPECT_EQ(plugin_->channels[0]->frequency, 1.0f);
    const std::vector<std::string> expected{
        "lockchanges", std::string("addchannel ") + "Давление"_w, "unlockchanges"};
    EXPECT_EQ(host_.ops, expected);
    EXPECT_EQ(view_->cell(0, 1), "1");
    EXPECT_EQ(view_->cell(1, 1), "Давление"_w);
    EXPECT_EQ(view_->cell(2, 1), "1");
}

TEST_F(Win32Gui, PopupMenuDeleteAsksTheQuestionAndNoKeepsTheChannel) {
    addChannel("Chan7");
    std::wstring question;
    Script script({[&] {
                       HWND menu = findWindow(L"#32768");
                       if (menu == nullptr)
                           return false;
                       // "Свойства", the separator is skipped, "Удалить".
                       postKey(menu, VK_DOWN);
                       postKey(menu, VK_DOWN);
                       PostMessageW(menu, WM_CHAR, L'\r', 1); // Enter, as translated
                       return true;
                   },
                   [&] {
                       HWND box = findWindow(L"#32770", "Внимание!"_w);
                       if (box == nullptr)
                           return false;
                       question = staticTexts(box);
                       PostMessageW(box, WM_COMMAND, IDNO, 0);
                       return true;
                   }});
    RECT cell = view_->grid().cellRect(1, 1);
    PostMessageW(view_->grid().handle(), WM_RBUTTONDOWN, MK_RBUTTON,
                 at(cell.left + 10, cell.top + 10));
    ASSERT_TRUE(pumpUntil([&] { return script.finished(); }, 5000));
    ASSERT_TRUE(pumpUntil([&] { return host_.ops.size() >= 2; }, 2000));
    EXPECT_EQ(question, wide("Удалить канал: Chan7"_w));
    ASSERT_EQ(plugin_->channels.size(), 1u);
    EXPECT_EQ(host_.ops, (std::vector<std::string>{"lockchanges", "unlockchanges"}));
}

TEST_F(Win32Gui, StartAsksTheHostToStartTheRecorder) {
    HWND start = view_->button(ToolButton::Start);
    PostMessageW(start, WM_LBUTTONDOWN, MK_LBUTTON, at(20, 20));
    PostMessageW(start, WM_LBUTTONUP, 0, at(20, 20));
    ASSERT_TRUE(pumpUntil([&] { return !host_.ops.empty(); }, 2000));
    EXPECT_EQ(host_.ops, (std::vector<std::string>{"command 1"}));
    // "Stop" is disabled while idle: a click on it reaches nothing.
    HWND stop = view_->button(ToolButton::Stop);
    PostMessageW(stop, WM_LBUTTONDOWN, MK_LBUTTON, at(20, 20));
    PostMessageW(stop, WM_LBUTTONUP, 0, at(20, 20));
    pumpFor(100);
    EXPECT_EQ(host_.ops.size(), 1u);
}

TEST_F(Win32Gui, StartPictureAnimatesWhileThePointerRestsOnIt) {
    RECT r;
    GetWindowRect(view_->button(ToolButton::Start), &r);
    ASSERT_TRUE(SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2));
    std::set<int> frames;
    ASSERT_TRUE(pumpUntil(
        [&] {
            frames.insert(view_->startFrame());
            return frames.size() >= 3; // its own picture and two frames at least
        },
        3000));
    EXPECT_TRUE(view_->timerEnabled(WindowTimer::Animation));

    // An empty part of the panel stops it; the last frame stays.
    POINT empty{250, 30};
    ClientToScreen(view_->toolPanel(), &empty);
    ASSERT_TRUE(SetCursorPos(empty.x, empty.y));
    ASSERT_TRUE(pumpUntil([&] { return !view_->timerEnabled(WindowTimer::Animation); }, 2000));
    const int last = view_->startFrame();
    pumpFor(500);
    EXPECT_EQ(view_->startFrame(), last);
    EXPECT_GE(last, 0);
}

} // namespace
