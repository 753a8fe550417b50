#include "QtCommon.h"

#include "Views.h"

#include "platform/text.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QFocusEvent>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QTranslator>

#include <exception>

namespace tolvex::qtviews {

using namespace platform::literals;

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
// Liberation Sans (and Arimo) share Arial's metrics, so sizes come out as
// designed; DejaVu Sans where neither is installed.
const QStringList& families() {
    static const QStringList list{QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                  QStringLiteral("DejaVu Sans")};
    return list;
}

QFont font(int points) {
    QFont f;
    f.setFamilies(families());
    f.setPointSize(points);
    return f;
}

// Selects a field's text as it gets the focus (the field's own handling of
// the event keeps a selection).
class SelectOnFocus final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusIn &&
            static_cast<QFocusEvent*>(event)->reason() != Qt::MouseFocusReason) {
            if (auto* edit = qobject_cast<QLineEdit*>(watched)) {
                // All selected, the cursor at the start: a long number shows
                // from its beginning.
                const auto length = static_cast<int>(edit->text().size());
                edit->setSelection(length, -length);
            } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(watched)) {
                spin->selectAll();
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

QPointer<QWidget>& mainWindowPointer() {
    static QPointer<QWidget> pointer;
    return pointer;
}
} // namespace

QFont mainFont() {
    return font(8);
}

QFont dialogFont(int points) {
    return font(points);
}

QFont boldButtonFont(int points) {
    QFont f = font(points);
    f.setWeight(QFont::Black);
    return f;
}

bool refusedOutside1251(QWidget* owner, const QString& text) {
    if (fitsCp1251(text))
        return false;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error!"),
                    toQt("Имя содержит знаки, которых нет в кодовой странице 1251:\n"_w) + text,
                    QMessageBox::Ok, owner);
    box.setFont(mainFont());
    box.exec();
    return true;
}

void selectTextOnFocus(QWidget* dialog) {
    auto* filter = new SelectOnFocus(dialog);
    for (QLineEdit* edit : dialog->findChildren<QLineEdit*>())
        if (!qobject_cast<QAbstractSpinBox*>(edit->parentWidget()))
            edit->installEventFilter(filter);
    for (QAbstractSpinBox* spin : dialog->findChildren<QAbstractSpinBox*>())
        spin->installEventFilter(filter);
}

void installRussianTranslations() {
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
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
