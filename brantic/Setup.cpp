#include "Setup.h"

#include "platform/text.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace brantic {

using namespace platform::literals;

const char* CSetup::caption() {
    return "Настройка параметров"_w;
}

const DialogButton& CSetup::okButton() {
    static const DialogButton button{IDOK, "OK", 131, 46, 50, 14};
    return button;
}

const DialogButton& CSetup::cancelButton() {
    static const DialogButton button{IDCANCEL, "Отмена"_w, 131, 64, 50, 14};
    return button;
}

int CSetup::DoModal() {
    std::unique_ptr<ui::SetupView> view = ui::viewLayer().makeSetupView(*this);
    if (!view)
        return IDCANCEL;
    view_ = view.get();
    const int result = view->runModal();
    view_ = nullptr;
    return result;
}

bool CSetup::OnInitDialog() {
    // The dialog holds no values: nothing to fill in.
    return true;
}

void CSetup::OnOK() {
    if (view_ != nullptr)
        view_->endDialog(IDOK);
}

void CSetup::OnCancel() {
    if (view_ != nullptr)
        view_->endDialog(IDCANCEL);
}

namespace ui {

namespace {
std::unique_ptr<ViewLayer>& currentLayer() {
    static std::unique_ptr<ViewLayer> layer;
    return layer;
}

ViewLayerMaker gMaker = nullptr;
} // namespace

bool guiWanted() {
    const char* choice = std::getenv("BRANTIC_UI");
    if (choice != nullptr && std::strcmp(choice, "none") == 0)
        return false;
    if (choice != nullptr && std::strcmp(choice, "qt") == 0)
        return true;
    return screenAvailable();
}

ViewLayer& viewLayer() {
    std::unique_ptr<ViewLayer>& layer = currentLayer();
    if (!layer && gMaker != nullptr)
        layer = gMaker();
    if (!layer)
        throw std::logic_error("Brantic: no view layer");
    return *layer;
}

void setViewLayerMaker(ViewLayerMaker maker) {
    gMaker = maker;
}

void setViewLayer(std::unique_ptr<ViewLayer> layer) {
    currentLayer() = std::move(layer);
}

} // namespace ui
} // namespace brantic
