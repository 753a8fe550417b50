// The Qt views of the remote-control module: the settings dialog and the
// message boxes. Text arrives in 1251 and is converted here, at the edge.
#include "QtViews.h"

#include "platform/text.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <dlfcn.h>

namespace brantic::ui {

namespace {

QString fromCp1251(const std::string& text) {
    const std::u16string wide = platform::cp1251ToUtf16(text);
    return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

// The host's window handle as a widget, found by comparison only: the handle
// may be a widget pointer or a native window id.
QWidget* widgetOf(void* handle) {
    if (handle == nullptr)
        return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (static_cast<void*>(widget) == handle)
            return widget;
        const WId id = widget->internalWinId();
        if (id != 0 && reinterpret_cast<void*>(id) == handle)
            return widget;
    }
    return nullptr;
}

// Dialog units of the template's font (8 point): 1/4 of an average character
// width and 1/8 of its height.
int unitsToX(int units, const QFontMetrics& metrics) {
    return (units * metrics.averageCharWidth() + 2) / 4;
}
int unitsToY(int units, const QFontMetrics& metrics) {
    return (units * metrics.height() + 4) / 8;
}

class QtSetupView : public SetupView {
public:
    explicit QtSetupView(CSetup& form) : form_(form), dialog_(widgetOf(form.parentWindow())) {
        dialog_.setObjectName("CSetup");
        dialog_.setWindowTitle(fromCp1251(CSetup::caption()));
        dialog_.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
        QFont font(QString::fromLatin1(CSetup::kFontName), CSetup::kFontPoints);
        dialog_.setFont(font);
        const QFontMetrics metrics(dialog_.font());
        dialog_.setFixedSize(unitsToX(CSetup::kWidth, metrics), unitsToY(CSetup::kHeight, metrics));
        for (const DialogButton* spec : {&CSetup::okButton(), &CSetup::cancelButton()}) {
            auto* button = new QPushButton(fromCp1251(spec->text), &dialog_);
            button->setObjectName(spec->id == CSetup::IDOK ? "IDOK" : "IDCANCEL");
            button->setGeometry(unitsToX(spec->x, metrics), unitsToY(spec->y, metrics),
                                unitsToX(spec->width, metrics), unitsToY(spec->height, metrics));
            if (spec->id == CSetup::IDOK) {
                button->setDefault(true);
                QObject::connect(button, &QPushButton::clicked, [this] { form_.OnOK(); });
            } else {
                QObject::connect(button, &QPushButton::clicked, [this] { form_.OnCancel(); });
            }
        }
        // Escape and the window's close box end the dialog through the form too.
        QObject::connect(&dialog_, &QDialog::rejected, [this] {
            if (!ending_)
                form_.OnCancel();
        });
    }

    int runModal() override {
        form_.OnInitDialog();
        result_ = CSetup::IDCANCEL;
        dialog_.exec();
        return result_;
    }

    void endDialog(int result) override {
        result_ = result;
        ending_ = true;
        dialog_.done(result);
        ending_ = false;
    }

private:
    CSetup& form_;
    QDialog dialog_;
    int result_ = CSetup::IDCANCEL;
    bool ending_ = false;
};

class QtLayer : public ViewLayer {
public:
    std::unique_ptr<SetupView> makeSetupView(CSetup& form) override {
        return std::make_unique<QtSetupView>(form);
    }
    void messageBox(const MessageBoxRequest& request) override {
        QMessageBox box(request.icon == Icon::Information ? QMessageBox::Information
                                                          : QMessageBox::NoIcon,
                        fromCp1251(request.caption), fromCp1251(request.text), QMessageBox::Ok,
                        widgetOf(request.owner));
        box.setObjectName("BranticMessageBox");
        box.exec();
    }
};

// The application object this module made when the host had none; deleted
// as the module unloads, if it is still the application.
struct OwnedApplication {
    QApplication* app = nullptr;
    ~OwnedApplication() {
        if (app != nullptr && QCoreApplication::instance() == app)
            delete app;
    }
};
OwnedApplication g_owned;

// Qt is not made to be unloaded from a running process: its global objects
// would leave dangling state behind. Once this module has brought the Qt
// libraries in, they stay for the life of the process.
struct PinQt {
    PinQt() {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&QApplication::topLevelWidgets), &info) != 0 &&
            info.dli_fname != nullptr)
            dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
} g_pinQt;

} // namespace

std::unique_ptr<ViewLayer> makeQtLayer() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "Brantic";
        static char* argv[] = {name, nullptr};
        g_owned.app = new QApplication(argc, argv);
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return nullptr;
    return std::make_unique<QtLayer>();
}

} // namespace brantic::ui
