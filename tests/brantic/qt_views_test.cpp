// The Qt views of the module (offscreen): the settings dialog's window and
// buttons, and the about box, each closed the way a user would.
#include "Brantic.h"
#include "QtViews.h"
#include "Setup.h"

#include "platform/text.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace platform::literals;
using namespace brantic;

// Fontconfig keeps its caches until the process ends.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

QString text(const char* cp1251) {
    const std::u16string wide = platform::cp1251ToUtf16(cp1251);
    return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

class QtViews : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (QApplication::instance() == nullptr) {
            static int argc = 1;
            static char name[] = "qt_views_test";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
    }
    void SetUp() override { ui::setViewLayer(ui::makeQtLayer()); }
    void TearDown() override { ui::setViewLayer(nullptr); }

    // Runs `act` on the modal window once it is shown.
    template <class Act> void whenShown(Act act) {
        QTimer::singleShot(0, [act] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            act(modal);
        });
    }
};

TEST_F(QtViews, SetupDialogHasItsCaptionAndButtons) {
    CSetup dialog(nullptr);
    whenShown([](QWidget* window) {
        EXPECT_EQ(window->windowTitle(), text("Настройка параметров"_w));
        auto* ok = window->findChild<QPushButton*>("IDOK");
        auto* cancel = window->findChild<QPushButton*>("IDCANCEL");
        ASSERT_NE(ok, nullptr);
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(ok->text(), "OK");
        EXPECT_EQ(cancel->text(), text("Отмена"_w));
        EXPECT_TRUE(ok->isDefault());
        // Both buttons sit inside the fixed-size window, Cancel below OK.
        EXPECT_TRUE(window->rect().contains(ok->geometry()));
        EXPECT_TRUE(window->rect().contains(cancel->geometry()));
        EXPECT_GT(cancel->y(), ok->y());
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    EXPECT_EQ(dialog.DoModal(), CSetup::IDOK);

    whenShown([](QWidget* window) {
        QTest::mouseClick(window->findChild<QPushButton*>("IDCANCEL"), Qt::LeftButton);
    });
    EXPECT_EQ(dialog.DoModal(), CSetup::IDCANCEL);

    whenShown([](QWidget* window) { QTest::keyClick(window, Qt::Key_Escape); });
    EXPECT_EQ(dialog.DoModal(), CSetup::IDCANCEL);
}

TEST_F(QtViews, AboutBoxShowsTheModuleInformation) {
    whenShown([](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), text("Информация о модуле"_w));
        EXPECT_TRUE(box->text().startsWith(text("Удаленное управление"_w) + "\n\n"));
        EXPECT_TRUE(box->text().endsWith("\nver1.0"));
        EXPECT_EQ(box->icon(), QMessageBox::Information);
        EXPECT_EQ(box->parentWidget(), nullptr);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    CBrantic* plugin = new CBrantic;
    EXPECT_TRUE(plugin->notify(PN_ABOUT, 0));
    EXPECT_EQ(plugin->Release(), 0u);
}

} // namespace
