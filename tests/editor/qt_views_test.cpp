// The Qt views under the offscreen platform: captions, ranges, default and
// cancel keys, and that buttons, keys and double-clicks reach the handlers.
#include "host_ops.h"

#include "DialogViews.h"
#include "Editors.h"
#include "MainWindowView.h"
#include "QtCommon.h"
#include "QtViews.h"
#include "Tolvex.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"
#include "Umainfrm.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace tolvex;
using namespace platform::literals;
using qtviews::toQt;

// Under LeakSanitizer: fontconfig keeps a cache for the life of the process.
extern "C" const char* __lsan_default_suppressions();
// Exported, so that the sanitizer runtime finds it despite hidden visibility.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

// Runs `action` on the next modal window that opens above the current one.
void onNextModal(std::function<void(QWidget*)> action) {
    QWidget* below = QApplication::activeModalWidget();
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [below, action, poll] {
        QWidget* top = QApplication::activeModalWidget();
        if (top && top != below && top->isVisible()) {
            // Window shortcuts need the dialog to be the active window.
            top->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(top, 2000));
            action(top);
            if (top->isVisible()) // a failed step must not leave the test waiting
                top->close();
            *poll = nullptr; // break the cycle
            return;
        }
        QTimer::singleShot(5, *poll);
    };
    QTimer::singleShot(0, *poll);
}

template <class T> T* child(QWidget* parent, const char* name) {
    T* found = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

class QtViews : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(views::installQtViews());
        installEditors();
    }
    void SetUp() override {
        platform::setDecimalSeparator('.');
        SignalKinds::fill();
    }
    void TearDown() override {
        SignalKinds::clear();
        platform::setDecimalSeparator(0);
    }
};

} // namespace

TEST_F(QtViews, ChannelDialog) {
    CVirtualChannel channel("Канал"_w);
    channel.frequency = 0.0f;
    onNextModal([](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), toQt("Свойства: Канал"_w));
        auto* frequency = child<QSpinBox>(w, "frequency");
        EXPECT_EQ(frequency->minimum(), 1);
        EXPECT_EQ(frequency->maximum(), 216000);
        EXPECT_EQ(frequency->value(), 1);
        auto* kinds = child<QComboBox>(w, "kinds");
        EXPECT_EQ(kinds->count(), 5);
        EXPECT_EQ(kinds->currentText(), toQt("Синус"_w));
        EXPECT_FALSE(kinds->isEditable());
        child<QLineEdit>(w, "name")->setText(QStringLiteral("renamed"));
        frequency->setValue(300);
        QTest::keyClick(kinds, Qt::Key_Up); // a choice: "Уровень"
        // "..." opens the level dialog of the working signal.
        onNextModal([](QWidget* level) {
            EXPECT_EQ(level->windowTitle(), toQt("Уровень"_w));
            auto* field = child<QLineEdit>(level, "field0");
            EXPECT_EQ(field->text(), QStringLiteral("0"));
            field->setText(QStringLiteral("4.5"));
            QTest::keyClick(field, Qt::Key_Return); // "Да" is the default button
        });
        QTest::mouseClick(child<QPushButton>(w, "params"), Qt::LeftButton);
        QTest::keyClick(child<QLineEdit>(w, "name"), Qt::Key_Enter);
    });
    ASSERT_TRUE(channel.Edit());
    EXPECT_EQ(channel.name, "renamed");
    EXPECT_EQ(channel.frequency, 300.0f);
    auto* level = dynamic_cast<LevelSignal*>(channel.signal.get());
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->Level, 4.5f);

    onNextModal([](QWidget* w) {
        child<QLineEdit>(w, "name")->setText(QStringLiteral("lost"));
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_FALSE(channel.Edit());
    EXPECT_EQ(channel.name, "renamed");
}

// What users of such dialogs expect of the keyboard: typing replaces a
// field's text, a number out of range is taken and brought into range, Enter
// presses the focused button, and a name outside code page 1251 is refused.
TEST_F(QtViews, ChannelDialogKeyboard) {
    CVirtualChannel channel("old");
    channel.frequency = 5.0f;
    onNextModal([](QWidget* w) {
        auto* name = child<QLineEdit>(w, "name");
        ASSERT_TRUE(name->hasFocus());
        QTest::keyClicks(name, QStringLiteral("typed"));
        EXPECT_EQ(name->text(), QStringLiteral("typed"));
        auto* frequency = child<QSpinBox>(w, "frequency");
        QTest::keyClick(name, Qt::Key_Tab);
        ASSERT_TRUE(frequency->hasFocus());
        QTest::keyClicks(frequency, QStringLiteral("300000"));
        EXPECT_EQ(frequency->text(), QStringLiteral("300000"));
        QTest::keyClick(frequency, Qt::Key_Return);
    });
    ASSERT_TRUE(channel.Edit());
    EXPECT_EQ(channel.name, "typed");
    EXPECT_EQ(channel.frequency, 216000.0f);

    onNextModal([](QWidget* w) {
        auto* name = child<QLineEdit>(w, "name");
        name->setText(QString::fromUtf8("\u65e5\u672c"));
        bool refused = false;
        onNextModal([&refused](QWidget* box) {
            refused = box->windowTitle() == QStringLiteral("Error!");
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::mouseClick(child<QPushButton>(w, "ok"), Qt::LeftButton);
        EXPECT_TRUE(refused);
        EXPECT_TRUE(w->isVisible()); // still open for a correction
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w, 2000));
        auto* cancel = child<QPushButton>(w, "cancel");
        cancel->setFocus();
        QTest::keyClick(cancel, Qt::Key_Return); // Cancel, not the default button
    });
    EXPECT_FALSE(channel.Edit());
    EXPECT_EQ(channel.name, "typed");

    SineSignal sine;
    sine.freq = 5.0f;
    onNextModal([](QWidget* w) {
        auto* field = child<QLineEdit>(w, "field0");
        ASSERT_TRUE(field->hasFocus());
        QTest::keyClicks(field, QStringLiteral("20"));
        QTest::keyClick(field, Qt::Key_Return);
    });
    EXPECT_TRUE(sine.edit());
    EXPECT_EQ(sine.freq, 20.0f);
}

TEST_F(QtViews, ParameterDialogsShowTheirFieldsInOrder) {
    SineSignal sine;
    onNextModal([](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), toQt("Синус"_w));
        EXPECT_EQ(child<QLineEdit>(w, "field0")->text(), QStringLiteral("10"));
        EXPECT_EQ(child<QLineEdit>(w, "field1")->text(), QStringLiteral("-100"));
        EXPECT_EQ(child<QLineEdit>(w, "field2")->text(), QStringLiteral("100"));
        child<QLineEdit>(w, "field0")->setText(QStringLiteral("20"));
        QTest::mouseClick(child<QPushButton>(w, "ok"), Qt::LeftButton);
    });
    EXPECT_TRUE(sine.edit());
    EXPECT_EQ(sine.freq, 20.0f);

    NoiseSignal noise;
    onNextModal([](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), toQt("Белый Шум"_w));
        auto labels = w->findChildren<QLabel*>();
        ASSERT_EQ(labels.size(), 2);
        EXPECT_EQ(labels[0]->text(), toQt("Макимальный уровень"_w));
        child<QLineEdit>(w, "field0")->setText(QStringLiteral("1"));
        QTest::mouseClick(child<QPushButton>(w, "cancel"), Qt::LeftButton);
    });
    EXPECT_FALSE(noise.edit());
    EXPECT_EQ(noise.MaxLevel, 100.0f);
}

TEST_F(QtViews, CompositeEditorKeysAndDoubleClick) {
    CompositeSignal composite; // one sine
    auto level = std::make_unique<LevelSignal>();
    composite.parts.push_back(std::move(level));
    onNextModal([](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), toQt("Составной сигнал"_w));
        auto* parts = child<QListWidget>(w, "parts");
        auto* kinds = child<QComboBox>(w, "kinds");
        ASSERT_EQ(parts->count(), 2);
        EXPECT_EQ(kinds->currentIndex(), -1);
        // Delete key on the selected part.
        parts->setCurrentRow(0);
        QTest::keyClick(parts, Qt::Key_Delete);
        ASSERT_EQ(parts->count(), 1);
        EXPECT_EQ(parts->item(0)->text(), toQt("Уровень"_w));
        // Insert key adds a part of the chosen kind after its dialog.
        kinds->setCurrentIndex(0);
        onNextModal([](QWidget* d) {
            child<QLineEdit>(d, "field0")->setText(QStringLiteral("7"));
            QTest::keyClick(d, Qt::Key_Return);
        });
        QTest::keyClick(parts, Qt::Key_Insert);
        ASSERT_EQ(parts->count(), 2);
        // Space bar and double-click open the selected part's dialog.
        parts->setCurrentRow(1);
        onNextModal([](QWidget* d) {
            EXPECT_EQ(child<QLineEdit>(d, "field0")->text(), QStringLiteral("7"));
            child<QLineEdit>(d, "field0")->setText(QStringLiteral("8"));
            QTest::keyClick(d, Qt::Key_Return);
        });
        // Offscreen, activation does not come back by itself when a nested
        // dialog closes; a window manager would give it back.
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w, 2000));
        QTest::keyClick(parts, Qt::Key_Space);
        onNextModal([](QWidget* d) {
            EXPECT_EQ(child<QLineEdit>(d, "field0")->text(), QStringLiteral("8"));
            QTest::keyClick(d, Qt::Key_Escape);
        });
        QRect cell = parts->visualItemRect(parts->item(1));
        QTest::mouseDClick(parts->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseClick(child<QPushButton>(w, "ok"), Qt::LeftButton);
    });
    EXPECT_TRUE(composite.edit());
    ASSERT_EQ(composite.parts.size(), 2u);
    EXPECT_EQ(dynamic_cast<LevelSignal&>(*composite.parts[1]).Level, 8.0f);
}

TEST_F(QtViews, TemplateDialogAnswersNeitherEnterNorEscape) {
    TTExtraNew dialog;
    dialog.templateSignal = std::make_unique<SineSignal>();
    onNextModal([](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), toQt("Создание каналов по шаблону"_w));
        auto* templ = child<QLineEdit>(w, "template");
        EXPECT_EQ(templ->text(), QStringLiteral("Channel%d"));
        auto* first = child<QSpinBox>(w, "first");
        auto* last = child<QSpinBox>(w, "last");
        auto* frequency = child<QSpinBox>(w, "frequency");
        EXPECT_EQ(first->minimum(), 0);
        EXPECT_EQ(first->maximum(), 1000);
        EXPECT_EQ(last->maximum(), 1000);
        EXPECT_EQ(frequency->maximum(), 1000);
        EXPECT_EQ(frequency->value(), 0); // shows 0 until touched
        EXPECT_EQ(child<QComboBox>(w, "kinds")->currentText(), toQt("Синус"_w));
        QTest::keyClick(templ, Qt::Key_Return);
        QTest::keyClick(templ, Qt::Key_Escape);
        EXPECT_TRUE(w->isVisible());
        frequency->setFocus();
        templ->setFocus(); // leaving the box brings it into range
        EXPECT_EQ(frequency->value(), 1);
        last->setValue(3);
        QTest::mouseClick(child<QPushButton>(w, "create"), Qt::LeftButton);
    });
    ASSERT_TRUE(dialog.AskTemplate());
    EXPECT_EQ(dialog.templ, "Channel%d");
    EXPECT_EQ(dialog.last, 3);
    EXPECT_EQ(dialog.frequency, 1.0f);

    onNextModal(
        [](QWidget* w) { QTest::mouseClick(child<QPushButton>(w, "close"), Qt::LeftButton); });
    EXPECT_FALSE(dialog.AskTemplate());
}

TEST_F(QtViews, MessageBoxes) {
    onNextModal([](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), toQt("Внимание!"_w));
        EXPECT_EQ(box->text(), toQt("Удалить канал: A"_w));
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    EXPECT_TRUE(ui::askQuestion("Удалить канал: A"_w));
    onNextModal([](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), QStringLiteral("Error!"));
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        QTest::keyClick(box, Qt::Key_Return);
    });
    ui::showError("Удалить канал сейчас невозможно!"_w);
}

// ---- the main window

namespace {

class QtMainWindow : public QtViews {
protected:
    void SetUp() override {
        QtViews::SetUp();
        plugin.recorder = module.recorder();
        setCurrentPlugin(&plugin);
        auto c = std::make_unique<CVirtualChannel>("First");
        c->frequency = 100.0f;
        plugin.channels.push_back(std::move(c));
        frm = std::make_unique<TMainFrm>();
        view = dynamic_cast<qtviews::MainWindowView*>(&frm->view());
        ASSERT_NE(view, nullptr);
        frm->FillGrid();
        view->show();
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    }
    void TearDown() override {
        frm.reset();
        plugin.channels.clear();
        setCurrentPlugin(nullptr);
        QtViews::TearDown();
    }
    qtviews::MainWindow& window() { return view->window(); }
    QToolButton* button(ToolButton b) { return window().button(b); }
    QPoint cellCenter(int tableRow, int column) {
        return window()
            .grid()
            ->visualRect(window().grid()->model()->index(tableRow, column))
            .center();
    }

    host::Host host;
    host::LoadedModule module{host, "Tolvex"};
    CTolvex plugin;
    std::unique_ptr<TMainFrm> frm;
    qtviews::MainWindowView* view = nullptr;
};

// Closes the next modal window after noting its caption.
void expectModal(const QString& caption) {
    onNextModal([caption](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), caption);
        w->close();
    });
}

} // namespace

TEST_F(QtMainWindow, LayoutOfTheWindow) {
    EXPECT_TRUE(view->timer(WindowTimer::Hover).isActive()); // on from the start
    EXPECT_FALSE(view->timer(WindowTimer::Animation).isActive());
    if (QFontDatabase::families().contains(QStringLiteral("Liberation Sans"))) {
        EXPECT_EQ(QFontInfo(window().font()).family(), QStringLiteral("Liberation Sans"));
    }
    // Qt's own texts in Russian.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), toQt("Отмена"_w));
    EXPECT_EQ(window().minimumSize(), QSize(600, 440));
    EXPECT_FALSE(window().windowIcon().isNull());
    const char* captions[6] = {"Start", "Stop", "Add", "Delete", "Load", "Save"};
    for (int i = 0; i < 6; ++i) {
        QToolButton* b = button(static_cast<ToolButton>(i));
        EXPECT_EQ(b->text(), QString::fromLatin1(captions[i]));
        EXPECT_TRUE(b->autoRaise());
        EXPECT_EQ(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_FALSE(b->icon().isNull());
        EXPECT_EQ(b->iconSize(), QSize(30, 30));
        EXPECT_EQ(b->property("tag").toInt(), i == 0 ? 1 : 0);
    }
    EXPECT_EQ(button(ToolButton::Start)->size(), QSize(45, 57));
    EXPECT_EQ(button(ToolButton::Save)->size(), QSize(41, 53));
    EXPECT_EQ(window().toolPanel()->height(), 73);
    EXPECT_EQ(window().separator(0)->size(), QSize(2, 65));
    // The right-hand buttons keep their distance from the right edge.
    int saveGap = window().toolPanel()->width() - button(ToolButton::Save)->geometry().right();
    window().resize(760, 500);
    QApplication::processEvents();
    EXPECT_EQ(window().toolPanel()->width() - button(ToolButton::Save)->geometry().right(),
              saveGap);
    EXPECT_EQ(button(ToolButton::Start)->x(), 12);

    QTableWidget* grid = window().grid();
    EXPECT_EQ(grid->columnCount(), 5);
    EXPECT_EQ(grid->horizontalHeaderItem(1)->text(), toQt("Имя канала"_w));
    EXPECT_EQ(grid->horizontalHeaderItem(2)->text(), toQt("Частота дискр."_w));
    EXPECT_EQ(grid->rowHeight(0), 20);
    EXPECT_EQ(grid->item(0, 1)->text(), QStringLiteral("First"));
    EXPECT_EQ(grid->item(0, 3)->toolTip(), grid->item(0, 3)->text()); // the whole description
    EXPECT_FALSE(grid->item(0, 1)->flags() & Qt::ItemIsEditable);
    EXPECT_EQ(grid->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    const int widths[5] = {47, 162, 80, 203, 72};
    for (int c : {0, 2, 3, 4})
        EXPECT_GE(grid->columnWidth(c), widths[c]);

    QList<QAction*> items = window().popup()->actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), toQt("Свойства"_w));
    EXPECT_TRUE(items[0]->font().bold());
    EXPECT_EQ(window().popup()->defaultAction(), items[0]);
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2]->text(), toQt("Удалить"_w));
}

// Raising brings back a closed or minimized window, in front and active.
TEST_F(QtMainWindow, RaiseBringsBackAClosedOrMinimizedWindow) {
    window().close(); // the user closes it: it hides
    ASSERT_FALSE(window().isVisible());
    view->raise();
    EXPECT_TRUE(window().isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window()));
    window().showMinimized();
    QApplication::processEvents();
    view->raise();
    EXPECT_FALSE(window().isMinimized());
    EXPECT_TRUE(window().isVisible());
}

TEST_F(QtMainWindow, ButtonsReachTheirHandlers) {
    QTest::mouseClick(button(ToolButton::Start), Qt::LeftButton);
    EXPECT_EQ(editor_test::lockAndChannelOps(host), std::vector<std::string>{"command 1"});
    frm->SetRunning(true);
    QTest::mouseClick(button(ToolButton::Stop), Qt::LeftButton);
    EXPECT_EQ(editor_test::lockAndChannelOps(host).back(), "command 3");
    frm->SetRunning(false);

    // "Add" acts on the press: the channel dialog, or with Shift the template dialog.
    expectModal(toQt("Свойства: Chan1"_w));
    QTest::mousePress(button(ToolButton::Add), Qt::LeftButton);
    onNextModal([this](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), toQt("Создание каналов по шаблону"_w));
        EXPECT_EQ(w->parentWidget(), &window()); // owned by the main window
        w->close();
    });
    QTest::mousePress(button(ToolButton::Add), Qt::LeftButton, Qt::ShiftModifier);
    QTest::mousePress(button(ToolButton::Add), Qt::RightButton); // nothing opens
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    expectModal(toQt("Внимание!"_w)); // the question; closing it answers No
    QTest::mouseClick(button(ToolButton::Delete), Qt::LeftButton);
    EXPECT_EQ(plugin.channels.size(), 1u);

    onNextModal([](QWidget* w) {
        auto* files = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(files, nullptr);
        EXPECT_EQ(files->fileMode(), QFileDialog::ExistingFile); // Load takes existing files only
        w->close();
    });
    QTest::mouseClick(button(ToolButton::Load), Qt::LeftButton);
    onNextModal([](QWidget* w) {
        EXPECT_NE(qobject_cast<QFileDialog*>(w), nullptr);
        w->close();
    });
    QTest::mouseClick(button(ToolButton::Save), Qt::LeftButton);
}

TEST_F(QtMainWindow, GridMouseAndPopupMenu) {
    QWidget* cells = window().grid()->viewport();
    expectModal(toQt("Свойства: First"_w));
    QTest::mouseDClick(cells, Qt::LeftButton, {}, cellCenter(0, 1));

    // A right press on a data cell opens the menu; "Удалить" asks the question.
    QTest::mousePress(cells, Qt::RightButton, {}, cellCenter(0, 1));
    ASSERT_TRUE(window().popup()->isVisible());
    window().popup()->close();
    expectModal(toQt("Внимание!"_w));
    window().popup()->actions()[2]->trigger();
    expectModal(toQt("Свойства: First"_w));
    window().popup()->actions()[0]->trigger();

    // Not on the header row.
    QWidget* header = window().grid()->horizontalHeader()->viewport();
    QTest::mousePress(header, Qt::RightButton, {}, QPoint(60, 8));
    EXPECT_FALSE(window().popup()->isVisible());
}
