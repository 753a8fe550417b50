#include "Win32Views.h"

#include "Dialogs.h"
#include "MainWindow.h"
#include "ViewLogic.h"
#include "Win32Common.h"

#include "ParamView.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"
#include "Umainfrm.h"
#include "Views.h"

namespace tolvex {

namespace {

ui::Answer showWin32MessageBox(const ui::MessageBoxRequest& request) {
    const bool question = request.buttons == ui::Buttons::YesNo;
    UINT type = question ? MB_YESNO : MB_OK;
    if (request.icon == ui::Icon::Question)
        type |= MB_ICONQUESTION;
    else if (request.icon == ui::Icon::Information)
        type |= MB_ICONINFORMATION;
    type |= request.systemModal ? MB_SYSTEMMODAL : MB_APPLMODAL;
    HWND owner =
        request.ownedByMainWindow ? win32views::mainWindow() : win32views::topModalWindow();
    const int answer =
        MessageBoxW(owner, win32views::wide(win32views::messageBoxText(request.text)).c_str(),
                    win32views::wide(request.caption).c_str(), type);
    if (!question)
        return ui::Answer::Ok;
    return answer == IDYES ? ui::Answer::Yes : ui::Answer::No;
}

} // namespace

namespace views {

bool installWin32Views() {
    try {
        using namespace win32views;
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
        ui::setMessageBoxHandler(&showWin32MessageBox);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace views
} // namespace tolvex
