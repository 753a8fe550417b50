#include "QtCommon.h"

#include "Views.h"

#include "platform/text.h"

#include <QApplication>
#include <QPointer>

#include <exception>

namespace tolvex::qtviews {

QString toQt(const std::string& text1251) {
    return QString::fromStdU16String(platform::cp1251ToUtf16(text1251));
}

std::string fromQt(const QString& text) {
    return platform::utf16ToCp1251(text.toStdU16String());
}

bool fitsCp1251(const QString& text) {
    return toQt(fromQt(text)) == text;
}

namespace {
const char* const kFamily = "DejaVu Sans";

QPointer<QWidget>& mainWindowPointer() {
    static QPointer<QWidget> pointer;
    return pointer;
}
} // namespace

QFont mainFont() {
    QFont font(kFamily);
    font.setPointSize(8);
    return font;
}

QFont dialogFont(int points) {
    QFont font(kFamily);
    font.setPointSize(points);
    return font;
}

QFont boldButtonFont(int points) {
    QFont font(kFamily);
    font.setPointSize(points);
    font.setWeight(QFont::Black);
    return font;
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

QWidget* dialogParent() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return mainWindowPointer().data();
}

void setMainWindowWidget(QWidget* widget) {
    mainWindowPointer() = widget;
}

QWidget* mainWindowWidget() {
    return mainWindowPointer().data();
}

} // namespace tolvex::qtviews
