// Renders every window and dialog of the emulator to PNG files without a
// screen, with a demo channel list loaded: tolvex_screens [output folder].
// Each picture carries a title strip with the window's caption, which the
// offscreen platform does not draw.
#include "Editors.h"
#include "MainWindowView.h"
#include "Pictures.h"
#include "QtCommon.h"
#include "QtViews.h"
#include "Tolvex.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"
#include "Umainfrm.h"
#include "platform/text.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <functional>
#include <memory>

using namespace tolvex;
using namespace platform::literals;

// Under LeakSanitizer: fontconfig keeps a cache for the life of the process.
extern "C" const char* __lsan_default_suppressions();
// Exported, so that the sanitizer runtime finds it despite hidden visibility.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

QString gOut;
int gWritten = 0;
bool gFailed = false;

// The window's picture below a plain title strip with its caption.
bool save(QWidget* window, const QString& name) {
    QPixmap client = window->grab();
    QFont font = qtviews::mainFont();
    font.setPointSize(9);
    font.setBold(true);
    const int strip = window->isWindow() && !qobject_cast<QMenu*>(window) ? 24 : 0;
    QImage image(client.width() + 2, client.height() + strip + 2, QImage::Format_ARGB32);
    image.fill(QColor(90, 90, 90));
    QPainter p(&image);
    if (strip) {
        p.fillRect(1, 1, client.width(), strip, QColor(40, 70, 130));
        p.setPen(Qt::white);
        p.setFont(font);
        p.drawText(QRect(8, 1, client.width() - 16, strip), Qt::AlignVCenter | Qt::AlignLeft,
                   window->windowTitle());
    }
    p.drawPixmap(1, 1 + strip, client);
    p.end();
    QString path = QDir(gOut).filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        gFailed = true;
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    ++gWritten;
    return true;
}

// Photographs the next modal window that opens, then closes it with `close`.
void shootNextModal(const QString& name, std::function<void(QWidget*)> close = {}) {
    QWidget* below = QApplication::activeModalWidget();
    auto poll = std::make_shared<std::function<void()>>();
    auto tries = std::make_shared<int>(0);
    *poll = [below, name, close, poll, tries] {
        QWidget* top = QApplication::activeModalWidget();
        if (++*tries > 1000) { // about five seconds: the window never opened
            std::fprintf(stderr, "%s did not open\n", qPrintable(name));
            gFailed = true;
            *poll = nullptr;
            return;
        }
        if (top && top != below && top->isVisible()) {
            QApplication::processEvents();
            save(top, name);
            if (close)
                close(top);
            else
                top->close();
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(5, *poll);
    };
    QTimer::singleShot(0, *poll);
}

// The tool pictures, the three animation frames and the icon, three times
// their size, on one sheet.
void savePictures() {
    const int scale = 3, cell = qtviews::kToolPictureSize * scale + 12;
    QImage sheet(cell * 6, cell * 2 + 48 * 2 + 24, QImage::Format_ARGB32);
    sheet.fill(QColor(236, 236, 236));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    auto put = [&](const QPixmap& pm, int col, int row) {
        p.drawPixmap(QRect(col * cell + 6, row * cell + 6, pm.width() * scale, pm.height() * scale),
                     pm);
    };
    const ToolButton tools[6] = {ToolButton::Start,  ToolButton::Stop, ToolButton::Add,
                                 ToolButton::Delete, ToolButton::Load, ToolButton::Save};
    for (int i = 0; i < 6; ++i)
        put(qtviews::toolPicture(tools[i]), i, 0);
    for (int f = 0; f < 3; ++f)
        put(qtviews::animationFrame(f), f, 1);
    int x = 6;
    for (int size : {16, 24, 32, 48}) {
        QPixmap icon = qtviews::windowIcon().pixmap(size, size);
        p.drawPixmap(QRect(x, cell * 2 + 12, size * 2, size * 2), icon);
        x += size * 2 + 12;
    }
    p.end();
    QString path = QDir(gOut).filePath(QStringLiteral("pictures.png"));
    if (sheet.save(path)) {
        std::printf("%s\n", qPrintable(path));
        ++gWritten;
    }
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
    auto& view = dynamic_cast<qtviews::MainWindowView&>(frm.view());
    QWidget& window = view.window();
    frm.FillGrid();
    frm.currentFile = "/home/user/demo.res";
    frm.UpdateCaption();
    view.show();
    QApplication::processEvents();
    save(&window, QStringLiteral("main_window"));

    // The pop-up menu of the grid.
    view.window().grid()->setCurrentCell(1, 1);
    QPoint at = view.window().grid()->viewport()->mapToGlobal(QPoint(60, 30));
    view.popupMenu(at.x(), at.y());
    QApplication::processEvents();
    save(view.window().popup(), QStringLiteral("main_popup"));
    view.window().popup()->close();

    // Wider: only the name column grows.
    window.resize(800, 480);
    QApplication::processEvents();
    save(&window, QStringLiteral("main_window_wide"));

    // Running, with the "Start" animation on its second frame.
    frm.SetRunning(true);
    view.setStartPicture(1);
    QApplication::processEvents();
    save(&window, QStringLiteral("main_window_running"));
    frm.SetRunning(false);
    savePictures();
    window.resize(600, 440);

    // An empty list: the header and one empty row.
    CTolvex* plugin = currentPlugin();
    auto kept = std::move(plugin->channels);
    plugin->channels.clear();
    frm.FillGrid();
    QApplication::processEvents();
    save(&window, QStringLiteral("main_window_empty"));
    plugin->channels = std::move(kept);
    frm.FillGrid();
}

void shootDialogs(CTolvex& plugin) {
    {
        TChanEditFrm form;
        shootNextModal(QStringLiteral("channel_dialog"));
        form.EditChannel(*plugin.channels[0]);
    }
    LevelSignal level;
    shootNextModal(QStringLiteral("level_dialog"));
    level.edit();
    SineSignal sine;
    shootNextModal(QStringLiteral("sine_dialog"));
    sine.edit();
    SawSignal saw;
    saw.Period = 0.1f; // shows the widened float
    shootNextModal(QStringLiteral("saw_dialog"));
    saw.edit();
    NoiseSignal noise;
    shootNextModal(QStringLiteral("noise_dialog"));
    noise.edit();
    {
        CompositeSignal composite;
        composite.parts.push_back(std::make_unique<LevelSignal>());
        composite.parts.push_back(std::make_unique<CompositeSignal>());
        composite.parts.push_back(std::make_unique<NoiseSignal>());
        shootNextModal(QStringLiteral("composite_editor"));
        composite.edit();
    }
    {
        TTExtraNew form;
        form.templateSignal = std::make_unique<SineSignal>();
        shootNextModal(QStringLiteral("template_dialog"));
        form.AskTemplate();
    }
    shootNextModal(QStringLiteral("question_box"));
    ui::askQuestion("Переименовать канал: Давление\n\r в : Давление2 ?"_w);
    shootNextModal(QStringLiteral("error_box"));
    ui::showError("Добавить канал сейчас невозможно!"_w);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    gOut = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screens");
    if (!QDir().mkpath(gOut)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(gOut));
        return 1;
    }
    if (!views::installQtViews()) {
        std::fprintf(stderr, "the Qt views could not be installed\n");
        return 1;
    }
    installEditors();
    SignalKinds::fill();
    int result = 0;
    {
        CTolvex plugin;
        setCurrentPlugin(&plugin);
        loadDemo(plugin);
        {
            TMainFrm frm;
            shootMainWindow(frm);
            shootDialogs(plugin);
        }
        setCurrentPlugin(nullptr);
    }
    SignalKinds::clear();
    std::printf("%d pictures\n", gWritten);
    return gFailed ? 1 : result;
}
