// The main window's form logic with a scripted view: refusals, questions, the
// grid, resizing, hover and animation.
#include "Config.h"
#include "Fixture.h"

#include "platform/text.h"

#include <algorithm>

using namespace testing_tolvex;
using namespace platform::literals;
using tolvex::MouseButton;
using tolvex::ToolButton;
using tolvex::WindowTimer;
using tolvex::ui::Answer;

namespace {

class MainWindow : public TolvexTest {
protected:
    tolvex::TMainFrm& frm() { return *tolvex::mainForm(*plugin); }
    std::size_t count(const std::string& op) const {
        const auto ops = host.callOps();
        return static_cast<std::size_t>(std::count(ops.begin(), ops.end(), op));
    }
    static void confirmAs(const std::string& name, float frequency) {
        gEdits.push_back([name, frequency](tolvex::CVirtualChannel& channel) {
            channel.name = name;
            channel.frequency = frequency;
            return true;
        });
    }
    void selectRow(int row) { frm().StringGrid1MouseDown(MouseButton::Left, row, 1, 0, 0); }
};

} // namespace

TEST_F(MainWindow, EmptyListShowsTheHeaderAndOneEmptyRow) {
    frm().FillGrid();
    EXPECT_EQ(gView->rowCount(), 2);
    EXPECT_EQ(gView->cell(0, 0), "№"_w);
    EXPECT_EQ(gView->cell(1, 0), "Имя канала"_w);
    EXPECT_EQ(gView->cell(2, 0), "Частота дискр."_w);
    EXPECT_EQ(gView->cell(3, 0), "Формула"_w);
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(gView->cell(c, 1), "");
    selectRow(1);
    host.clearCalls();
    frm().StringGrid1Click();
    frm().pmDelClick();
    EXPECT_TRUE(host.callOps().empty());
}

TEST_F(MainWindow, GridRowsShowNumberNameFrequencyAndFormula) {
    addChannel("A", 2.5f);
    addChannel("B", 1000.0f);
    frm().FillGrid();
    EXPECT_EQ(gView->rowCount(), 3);
    EXPECT_EQ(gView->cell(0, 2), "2");
    EXPECT_EQ(gView->cell(1, 2), "B");
    EXPECT_EQ(gView->cell(2, 2), "1000");
    EXPECT_EQ(gView->cell(3, 2), plugin->channels[1]->signal->description());
    EXPECT_EQ(gView->cell(4, 2), "");
    tolvex::DeleteChannel(0);
    tolvex::DeleteChannel(0);
    frm().FillGrid();
    EXPECT_EQ(gView->cell(1, 1), ""); // old rows are cleared
}

TEST_F(MainWindow, AddCancelledMakesNothingAndConfirmedRegistersChan1) {
    frm().SpeedButton3MouseDown(MouseButton::Left, false);
    EXPECT_TRUE(plugin->channels.empty());
    EXPECT_EQ(count("lockchanges"), 0u);
    EXPECT_EQ(gView->rowCount(), 0); // not refilled

    std::string proposed;
    gEdits.push_back([&](tolvex::CVirtualChannel& c) {
        proposed = c.name;
        c.frequency = 100.0f;
        return true;
    });
    frm().SpeedButton3MouseDown(MouseButton::Left, false);
    EXPECT_EQ(proposed, "Chan1");
    ASSERT_EQ(plugin->channels.size(), 1u);
    EXPECT_NE(host.channel("Chan1"), nullptr);
    EXPECT_EQ(count("unlockchanges"), 1u);
    EXPECT_EQ(gView->cell(1, 1), "Chan1");

    frm().SpeedButton3MouseDown(MouseButton::Right, false); // other buttons do nothing
    frm().SpeedButton3MouseDown(MouseButton::Middle, true);
    EXPECT_EQ(plugin->channels.size(), 1u);
}

TEST_F(MainWindow, AddRefusedDiscardsTheChannelWithoutUnlocking) {
    confirmAs("X", 10.0f);
    host.refuseLock(true);
    frm().SpeedButton3MouseDown(MouseButton::Left, false);
    EXPECT_TRUE(plugin->channels.empty());
    EXPECT_TRUE(host.channels().empty());
    EXPECT_EQ(count("unlockchanges"), 0u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Добавить канал сейчас невозможно!"_w);
    EXPECT_EQ(boxes[0].caption, "Error!");
    EXPECT_EQ(boxes[0].buttons, tolvex::ui::Buttons::Ok);
    EXPECT_EQ(boxes[0].icon, tolvex::ui::Icon::None);
    EXPECT_EQ(gView->rowCount(), 2); // the grid is refilled
}

TEST_F(MainWindow, PropertiesWithUnchangedNameAsksNothing) {
    addChannel("A", 10.0f);
    selectRow(1);
    confirmAs("A", 20.0f);
    host.clearCalls();
    frm().StringGrid1Click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(host.channel("A")->frequency(), 20.0);
    EXPECT_EQ(count("unlockchanges"), 1u);
}

TEST_F(MainWindow, PropertiesRenameAnsweredYesAndNo) {
    addChannel("A", 10.0f);
    selectRow(1);
    confirmAs("B", 10.0f);
    answers.push_back(Answer::Yes);
    frm().StringGrid1Click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              std::string("Переименовать канал: "_w) + "A" + "\n\r" + " в : "_w + "B ?");
    EXPECT_EQ(boxes[0].caption, "Внимание!"_w);
    EXPECT_EQ(boxes[0].icon, tolvex::ui::Icon::Question);
    EXPECT_TRUE(boxes[0].systemModal);
    EXPECT_NE(host.channel("B"), nullptr);
    EXPECT_EQ(plugin->channels[0]->name, "B");

    confirmAs("C", 10.0f);
    answers.push_back(Answer::No);
    frm().StringGrid1Click();
    EXPECT_EQ(plugin->channels[0]->name, "B"); // back to the host's name
    EXPECT_EQ(host.channel("C"), nullptr);
    EXPECT_EQ(gView->cell(1, 1), "B");
}

TEST_F(MainWindow, PropertiesRefusedCancelledRunningAndWithoutHostChannel) {
    addChannel("A", 10.0f);
    selectRow(1);
    host.refuseLock(true);
    confirmAs("Z", 1.0f);
    frm().StringGrid1Click();
    EXPECT_EQ(boxes.back().text, "Изменять свойства канала сейчас невозможно!"_w);
    EXPECT_EQ(count("unlockchanges"), 0u);
    EXPECT_EQ(gEdits.size(), 1u); // the dialog never opened
    host.refuseLock(false);
    gEdits.clear();

    frm().StringGrid1Click(); // cancelled: still unlocks
    EXPECT_EQ(count("unlockchanges"), 1u);

    plugin->running = true;
    host.clearCalls();
    frm().StringGrid1Click();
    EXPECT_TRUE(host.callOps().empty());
    plugin->running = false;

    host.refuseAddChannel(true);
    addChannel("NoHost", 10.0f);
    selectRow(2);
    confirmAs("Renamed", 5.0f);
    frm().StringGrid1Click();
    EXPECT_EQ(plugin->channels[1]->name, "Renamed");
    EXPECT_EQ(boxes.size(), 1u); // no question for a channel without host channel
}

TEST_F(MainWindow, GridPressSelectsAndOpensTheMenuOnDataCellsOnly) {
    addChannel("A", 10.0f);
    addChannel("B", 10.0f);
    frm().FillGrid();
    frm().StringGrid1MouseDown(MouseButton::Right, 0, 2, 5, 6);
    EXPECT_TRUE(gView->popups.empty());
    frm().StringGrid1MouseDown(MouseButton::Right, 2, -1, 5, 6); // beyond the columns
    EXPECT_TRUE(gView->popups.empty());
    EXPECT_EQ(gView->currentRow(), 2);
    frm().StringGrid1MouseDown(MouseButton::Right, 1, 3, 50, 60);
    ASSERT_EQ(gView->popups.size(), 1u);
    EXPECT_EQ(gView->popups[0], std::make_pair(50, 60));
    EXPECT_EQ(gView->currentRow(), 1);
    EXPECT_EQ(gView->currentColumn(), 3);

    plugin->running = true;
    frm().StringGrid1MouseDown(MouseButton::Right, 2, 1, 0, 0);
    EXPECT_EQ(gView->currentRow(), 1);
    EXPECT_EQ(gView->popups.size(), 1u);
    plugin->running = false;
}

TEST_F(MainWindow, DeleteAnsweredNoStillUnlocksAndRefills) {
    addChannel("A", 10.0f);
    addChannel("B", 10.0f);
    selectRow(2);
    host.clearCalls();
    frm().pmDelClick();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, std::string("Удалить канал: "_w) + "B");
    EXPECT_EQ(plugin->channels.size(), 2u);
    EXPECT_EQ(count("unlockchanges"), 1u);
    EXPECT_EQ(gView->rowCount(), 3);

    answers.push_back(Answer::Yes);
    frm().pmDelClick();
    ASSERT_EQ(plugin->channels.size(), 1u);
    EXPECT_EQ(host.channel("B"), nullptr);
    EXPECT_EQ(count("unlockchanges"), 2u);

    host.refuseLock(true);
    selectRow(1);
    frm().pmDelClick();
    EXPECT_EQ(boxes.back().text, "Удалить канал сейчас невозможно!"_w);
    EXPECT_EQ(count("unlockchanges"), 2u);
    EXPECT_EQ(plugin->channels.size(), 1u);
}

TEST_F(MainWindow, LoadCancelledRefusedAndRefusedAfterClearing) {
    const std::string file = path("l.res");
    write(file, "[common]\nCount=1\n[Chan0]\nName=Loaded\n");
    addChannel("Old", 10.0f);
    frm().currentFile = "old.res";
    frm().UpdateCaption();

    frm().SpeedButton5Click(); // cancelled
    EXPECT_EQ(plugin->channels.size(), 1u);
    EXPECT_EQ(count("lockchanges"), 0u);

    gView->openAnswer = file;
    host.refuseLock(true);
    frm().SpeedButton5Click();
    EXPECT_EQ(boxes.back().text, "Ошибка при загрузке конфигурации!"_w);
    EXPECT_EQ(plugin->channels[0]->name, "Old");
    EXPECT_EQ(frm().currentFile, "old.res");
    host.refuseLock(false);

    // The clearing is granted; the loader's own lock is refused.
    host.setChannelSetHandler([&] { host.refuseLock(true); });
    plugin->notify(PN_UPDATECHANNELS, 0);
    frm().SpeedButton5Click();
    host.setChannelSetHandler({});
    EXPECT_TRUE(plugin->channels.empty());
    EXPECT_EQ(boxes.back().text, "Конфигурация не загружена!"_w);
    EXPECT_EQ(gView->caption(), std::string("Плагин::Эмулятор   [ "_w) + "old.res ]");
    EXPECT_EQ(frm().currentFile, file);
    EXPECT_EQ(tolvex::config::readCurrentFile(), file);

    host.refuseLock(false);
    frm().SpeedButton5Click();
    ASSERT_EQ(plugin->channels.size(), 1u);
    EXPECT_EQ(plugin->channels[0]->name, "Loaded");
}

TEST_F(MainWindow, SaveAsksForAFileAndTakesNoLock) {
    addChannel("A", 10.0f);
    frm().SpeedButton4Click();
    EXPECT_EQ(frm().currentFile, "");
    gView->saveAnswer = path("s.res");
    host.clearCalls();
    frm().SpeedButton4Click();
    EXPECT_EQ(frm().currentFile, path("s.res"));
    EXPECT_NE(read(path("s.res")).find("Name=A"), std::string::npos);
    EXPECT_EQ(count("lockchanges"), 0u);
}

TEST_F(MainWindow, CloseSavesAndHidesAndActivationReadsTheSettings) {
    addChannel("A", 10.0f);
    frm().currentFile = path("c.res");
    gView->show();
    frm().FormClose();
    EXPECT_FALSE(gView->visible());
    EXPECT_NE(read(path("c.res")).find("Count=1"), std::string::npos);
    frm().currentFile = "something else";
    frm().FormActivate();
    EXPECT_EQ(frm().currentFile, path("c.res"));

    // With no current file only the settings are written.
    frm().currentFile.clear();
    frm().FormClose();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(tolvex::config::readCurrentFile(), "");
}

// The host's Edit... brings back a window the user closed: shown, raised,
// and activated (which reads the settings file again), every time.
TEST_F(MainWindow, EditShowsAndRaisesAClosedWindow) {
    addChannel("A", 10.0f);
    frm().currentFile = path("c.res");
    ASSERT_TRUE(gView->visible());
    frm().FormClose();
    ASSERT_FALSE(gView->visible());
    frm().currentFile = "something else";
    EXPECT_TRUE(plugin->edit());
    EXPECT_TRUE(gView->visible());
    EXPECT_EQ(gView->raised(), 1);
    EXPECT_EQ(frm().currentFile, path("c.res"));
    EXPECT_TRUE(plugin->edit()); // an open window is raised again
    EXPECT_EQ(gView->raised(), 2);
    EXPECT_TRUE(gView->visible());
}

TEST_F(MainWindow, StartAndStopAskTheHost) {
    int started = 0;
    int stopped = 0;
    host.setCommandHandler([&](std::int32_t code, host::LoadedModule*) {
        started += code == 1;
        stopped += code == 3;
    });
    frm().SpeedButton1Click();
    frm().SpeedButton2Click();
    host.processPending();
    const auto ops = host.callOps();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "command"), 2);
    EXPECT_TRUE(gView->buttonEnabled(ToolButton::Start)); // the window changes nothing itself
}

TEST_F(MainWindow, ResizeGrowsOnlyTheNameColumn) {
    frm().FormResize();
    std::array<int, 5> before{};
    for (int c = 0; c < 5; ++c)
        before[static_cast<std::size_t>(c)] = gView->columnWidth(c);
    gView->setGridWidth(gView->gridOuterWidth() + 100);
    frm().FormResize();
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(gView->columnWidth(c), before[static_cast<std::size_t>(c)] + (c == 1 ? 100 : 0))
            << c;
    gView->setGridWidth(gView->gridOuterWidth() - 40);
    frm().FormResize();
    EXPECT_EQ(gView->columnWidth(1), before[1] + 60);
}

TEST_F(MainWindow, HoverStartsAndStopsTheAnimation) {
    EXPECT_TRUE(gView->timerEnabled(WindowTimer::Hover));
    gView->toolTag = 1;
    frm().Timer2Timer();
    EXPECT_TRUE(gView->timerEnabled(WindowTimer::Animation));
    gView->toolTag = 0; // straight onto another button: keeps going
    frm().Timer2Timer();
    EXPECT_TRUE(gView->timerEnabled(WindowTimer::Animation));
    gView->toolTag.reset();
    frm().Timer2Timer();
    EXPECT_FALSE(gView->timerEnabled(WindowTimer::Animation));

    gView->toolTag = 1;
    frm().Timer2Timer();
    plugin->notify(PN_RCSTART, 0);
    gView->toolTag.reset();
    frm().Timer2Timer(); // ignored while running
    EXPECT_TRUE(gView->timerEnabled(WindowTimer::Animation));
}

TEST_F(MainWindow, AnimationFramesRunOneTwoZeroAndAreNeverReset) {
    for (int i = 0; i < 4; ++i)
        frm().Timer3Timer();
    gView->toolTag.reset();
    frm().Timer2Timer();
    frm().Timer3Timer();
    EXPECT_EQ(gView->pictures, (std::vector<int>{1, 2, 0, 1, 2}));
    EXPECT_EQ(frm().frame, 2);
}
