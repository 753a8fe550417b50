#include "QtViews.h"

#include "DialogViews.h"
#include "MainWindowView.h"
#include "QtCommon.h"

#include "ParamView.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"
#include "Umainfrm.h"
#include "Views.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "platform/text.h"

namespace tolvex {

using namespace platform::literals;

namespace {

ui::Answer showQtMessageBox(const ui::MessageBoxRequest& request) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (request.icon == ui::Icon::Question)
        icon = QMessageBox::Question;
    else if (request.icon == ui::Icon::Information)
        icon = QMessageBox::Information;
    bool question = request.buttons == ui::Buttons::YesNo;
    QWidget* owner = request.ownedByMainWindow ? qtviews::mainWindowWidget() : nullptr;
    if (!owner)
        owner = qtviews::dialogParent();
    // Line breaks written as "\n\r" (or "\r\n") are one break on screen.
    QString text = qtviews::toQt(request.text);
    text.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(icon, qtviews::toQt(request.caption), text,
                    question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner);
    box.setFont(qtviews::mainFont());
    // The closest Qt has to a system-modal box: it blocks every window.
    box.setWindowModality(request.systemModal ? Qt::ApplicationModal : Qt::WindowModal);
    if (question) {
        box.button(QMessageBox::Yes)->setText(qtviews::toQt("Да"_w));
        box.button(QMessageBox::No)->setText(qtviews::toQt("Нет"_w));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    int result = box.exec();
    if (!question)
        return ui::Answer::Ok;
    return result == QMessageBox::Yes ? ui::Answer::Yes : ui::Answer::No;
}

} // namespace

namespace views {

bool installQtViews() {
    try {
        if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
            if (QCoreApplication::instance())
                return false; // the host runs a non-widget application
            // Lives as long as the process: Qt allows one per process.
            static int argc = 1;
            static char name[] = "Tolvex";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
        using namespace qtviews;
        setMainViewMaker([](TMainFrm& form) -> std::unique_ptr<MainView> {
            return std::make_unique<MainWindowView>(form);
        });
        setChanEditViewMaker([](TChanEditFrm& form) -> std::unique_ptr<ChanEditView> {
            return std::make_unique<ChanEditDialogView>(form);
        });
        setComplViewMaker([](TComplFrm& form) -> std::unique_ptr<ComplView> {
            return std::make_unique<ComplDialogView>(form);
        });
        setExtraNewViewMaker([](TTExtraNew& form) -> std::unique_ptr<ExtraNewView> {
            return std::make_unique<ExtraNewDialogView>(form);
        });
        for (ParamDialog kind :
             {ParamDialog::Level, ParamDialog::Sinus, ParamDialog::Saw, ParamDialog::Noise})
            setParamViewMaker(kind, [](TParamFrm& form) -> std::unique_ptr<ParamView> {
                return std::make_unique<ParamDialogView>(form);
            });
        ui::setMessageBoxHandler(&showQtMessageBox);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace views
} // namespace tolvex
