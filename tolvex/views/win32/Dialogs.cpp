#include "Dialogs.h"

#include "platform/text.h"

#include <commctrl.h>

#include <algorithm>
#include <array>

namespace tolvex::win32views {

using namespace platform::literals;

namespace {

constexpr int kEditHeight = 24;
constexpr DWORD kFixed = 0;
constexpr DWORD kResizable = WS_THICKFRAME;

void fillCombo(HWND combo, const std::vector<std::string>& items) {
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

int comboIndex(HWND combo) {
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void setComboIndex(HWND combo, int index) {
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// A drop-down list without typing; `height` includes the list when open.
HWND kindCombo(ModalDialog& dialog, int left, int top, int width) {
    return dialog.addControl(L"COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, left, top,
                             width, 200, kKindList);
}

HWND button(ModalDialog& dialog, const std::string& caption1251, int left, int top, int width,
            int height, int id, bool isDefault = false, HFONT font = nullptr) {
    return dialog.addControl(L"BUTTON", caption1251,
                             WS_TABSTOP | (isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), left, top,
                             width, height, id, font);
}

HWND edit(ModalDialog& dialog, int left, int top, int width, int height, int id) {
    return dialog.addControl(L"EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, left, top, width, height, id,
                             nullptr, WS_EX_CLIENTEDGE);
}

} // namespace

// ---------------------------------------------------------------------------
// Channel properties: client area 203 x 299, centred on the screen.

class ChanEditDialogView::Window final : public ModalDialog {
public:
    explicit Window(TChanEditFrm& form) : ModalDialog(kFixed, dialogFont(12)), form_(form) {
        setClientSize(handle(), 203, 299);
        centreOnScreen(handle());
        label("Имя канала"_w, 12, 8);
        name = edit(*this, 28, 32, 121, kEditHeight, kNameEdit);
        label("Частота дискретизации"_w, 12, 68);
        frequency.create(*this, 32, 92, 121, 28, kFrequencyEdit, TChanEditFrm::kFrequencyMin,
                         TChanEditFrm::kFrequencyMax);
        label("Сигнал"_w, 16, 144);
        kinds = kindCombo(*this, 32, 168, 121);
        button(*this, "...", 156, 169, 33, 25, kParamsButton, false, boldButtonFont(12));
        button(*this, "Да"_w, 100, 220, 87, 25, IDOK, true);
        button(*this, "Отмена"_w, 100, 256, 87, 25, IDCANCEL);
    }

    HWND name = nullptr;
    HWND kinds = nullptr;
    SpinBox frequency;

protected:
    void command(int id, int code, HWND control) override {
        if (control != nullptr && control == frequency.edit())
            frequency.editNotification(code);
        else if (id == kKindList && code == CBN_SELCHANGE)
            form_.ComboBox1Change();
        else if (id == kParamsButton && code == BN_CLICKED)
            form_.BitBtn3Click();
        else
            ModalDialog::command(id, code, control);
    }

private:
    TChanEditFrm& form_;
};

ChanEditDialogView::ChanEditDialogView(TChanEditFrm& form)
    : dialog_(std::make_unique<Window>(form)) {}
ChanEditDialogView::~ChanEditDialogView() = default;

HWND ChanEditDialogView::handle() const {
    return dialog_->handle();
}
SpinBox& ChanEditDialogView::frequencyBox() {
    return dialog_->frequency;
}
void ChanEditDialogView::setCaption(const std::string& caption) {
    setWindowText(dialog_->handle(), caption);
}
void ChanEditDialogView::setChannelName(const std::string& name) {
    setWindowText(dialog_->name, name);
}
std::string ChanEditDialogView::channelName() const {
    return windowText(dialog_->name);
}
void ChanEditDialogView::setFrequency(int value) {
    dialog_->frequency.setValue(value);
}
int ChanEditDialogView::frequency() const {
    return dialog_->frequency.value();
}
void ChanEditDialogView::setKinds(const std::vector<std::string>& kinds) {
    fillCombo(dialog_->kinds, kinds);
}
void ChanEditDialogView::setKindIndex(int index) {
    setComboIndex(dialog_->kinds, index);
}
int ChanEditDialogView::kindIndex() const {
    return comboIndex(dialog_->kinds);
}
bool ChanEditDialogView::showModal() {
    return dialog_->runModal();
}

// ---------------------------------------------------------------------------
// The parameter dialogs of the basic kinds.

namespace {

struct ParamPlacement {
    DWORD border;
    int width, height; // client area, or the outer size of a resizable dialog
    bool outerSize;
    int screenX, screenY; // -1: centred
    std::array<int, 3> labelLeft, labelTop;
    bool labelsRightAligned;
    int fieldLeft;
    std::array<int, 3> fieldTop;
    int fieldWidth;
    int buttonLeft, okTop, cancelTop, buttonWidth;
};

const ParamPlacement& placement(ParamDialog kind) {
    static const ParamPlacement level{kResizable, 401,        166,   true, 234,        213,
                                      {16, 0, 0}, {28, 0, 0}, false, 268,  {24, 0, 0}, 81,
                                      264,        64,         96,    97};
    static const ParamPlacement sinus{
        kFixed, 271, 253,           false, -1,  -1,  {88, 47, 39}, {24, 72, 120},
        true,   164, {20, 68, 116}, 77,    156, 180, 216,          91};
    static const ParamPlacement saw{
        kFixed, 279, 265,           false, -1,  -1,  {16, 16, 16}, {20, 76, 132},
        false,  136, {16, 72, 128}, 121,   152, 184, 220,          105};
    static const ParamPlacement noise{kFixed,      311,         207,   false, -1,          -1,
                                      {16, 16, 0}, {16, 64, 0}, false, 204,   {12, 60, 0}, 93,
                                      188,         128,         164,   91};
    switch (kind) {
    case ParamDialog::Level:
        return level;
    case ParamDialog::Sinus:
        return sinus;
    case ParamDialog::Saw:
        return saw;
    case ParamDialog::Noise:
        break;
    }
    return noise;
}

} // namespace

class ParamDialogView::Window final : public ModalDialog {
public:
    explicit Window(const TParamFrm& form)
        : ModalDialog(placement(form.kind()).border, dialogFont(12)) {
        const ParamDialogLayout& look = form.layout();
        const ParamPlacement& at = placement(form.kind());
        setWindowText(handle(), look.caption);
        if (at.outerSize)
            SetWindowPos(handle(), nullptr, 0, 0, at.width, at.height,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        else
            setClientSize(handle(), at.width, at.height);
        if (at.screenX < 0)
            centreOnScreen(handle());
        else
            SetWindowPos(handle(), nullptr, at.screenX, at.screenY, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        count = std::clamp(look.fieldCount, 0, 3);
        for (int i = 0; i < count; ++i) {
            const auto k = static_cast<std::size_t>(i);
            const std::string text = look.labels[i] != nullptr ? look.labels[i] : "";
            if (at.labelsRightAligned) // ends just before its field
                label(text, at.labelLeft[k], at.labelTop[k], nullptr, SS_RIGHT,
                      at.fieldLeft - 4 - at.labelLeft[k]);
            else
                label(text, at.labelLeft[k], at.labelTop[k]);
            fields[k] = edit(*this, at.fieldLeft, at.fieldTop[k], at.fieldWidth, kEditHeight,
                             kFieldEdit + i);
        }
        button(*this, "Да"_w, at.buttonLeft, at.okTop, at.buttonWidth, 25, IDOK, true);
        button(*this, "Отмена"_w, at.buttonLeft, at.cancelTop, at.buttonWidth, 25, IDCANCEL);
    }

    int count = 0;
    std::array<HWND, 3> fields{};
};

ParamDialogView::ParamDialogView(const TParamFrm& form)
    : dialog_(std::make_unique<Window>(form)), count_(dialog_->count) {}
ParamDialogView::~ParamDialogView() = default;

HWND ParamDialogView::handle() const {
    return dialog_->handle();
}
void ParamDialogView::setFieldText(int index, const std::string& text1251) {
    if (index >= 0 && index < count_)
        setWindowText(dialog_->fields[static_cast<std::size_t>(index)], text1251);
}
std::string ParamDialogView::fieldText(int index) const {
    if (index < 0 || index >= count_)
        return {};
    return windowText(dialog_->fields[static_cast<std::size_t>(index)]);
}
bool ParamDialogView::showModal() {
    return dialog_->runModal();
}

// ---------------------------------------------------------------------------
// The composite editor: client area 383 x 317, centred; Delete, Insert and
// the Space bar run its commands whichever control has the focus.

class ComplDialogView::Window final : public ModalDialog {
public:
    explicit Window(TComplFrm& form) : ModalDialog(kFixed, dialogFont(12)), form_(form) {
        setWindowText(handle(), "Составной сигнал"_w);
        setClientSize(handle(), 383, 317);
        centreOnScreen(handle());
        label("Сигналы"_w, 12, 8);
        parts =
            addControl(L"LISTBOX", "", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                       12, 32, 157, 273, kPartsList, nullptr, WS_EX_CLIENTEDGE);
        // The group box holds the kind list and "Добавить" (placed relative
        // to it), but the controls belong to the dialog so that their
        // notifications reach it.
        const int gx = 176, gy = 24;
        addControl(L"BUTTON", " Добавить "_w, BS_GROUPBOX, gx, gy, 189, 97, -1);
        kinds = kindCombo(*this, gx + 4, gy + 28, 177);
        button(*this, "Добавить"_w, gx + 40, gy + 60, 91, 25, kAddPart);
        button(*this, "Изменить"_w, 176, 132, 90, 25, kChangePart);
        button(*this, "Удалить"_w, 176, 172, 90, 25, kDeletePart);
        button(*this, "Да"_w, 272, 240, 87, 25, IDOK, true);
        button(*this, "Отмена"_w, 272, 276, 87, 25, IDCANCEL);
    }

    HWND parts = nullptr;
    HWND kinds = nullptr;

protected:
    void command(int id, int code, HWND control) override {
        if (id == kAddPart && code == BN_CLICKED)
            form_.Button1Click();
        else if (id == kChangePart && code == BN_CLICKED)
            form_.Button2Click();
        else if (id == kDeletePart && code == BN_CLICKED)
            form_.Button3Click();
        else if (id == kPartsList && code == LBN_DBLCLK)
            form_.ListBox1DblClick();
        else
            ModalDialog::command(id, code, control);
    }

    bool preTranslate(const MSG& msg) override {
        if (msg.message != WM_KEYDOWN)
            return false;
        // An open drop-down list keeps its keys.
        if (SendMessageW(kinds, CB_GETDROPPEDSTATE, 0, 0) != 0)
            return false;
        switch (msg.wParam) {
        case VK_DELETE:
            form_.Action1Execute();
            return true;
        case VK_INSERT:
            form_.Action2Execute();
            return true;
        case VK_SPACE:
            form_.Action3Execute();
            return true;
        default:
            return false;
        }
    }

private:
    TComplFrm& form_;
};

ComplDialogView::ComplDialogView(TComplFrm& form) : dialog_(std::make_unique<Window>(form)) {}
ComplDialogView::~ComplDialogView() = default;

HWND ComplDialogView::handle() const {
    return dialog_->handle();
}
void ComplDialogView::setParts(const std::vector<std::string>& lines) {
    HWND list = dialog_->parts;
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& line : lines)
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(line).c_str()));
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}
int ComplDialogView::selectedPart() const {
    const LRESULT index = SendMessageW(dialog_->parts, LB_GETCURSEL, 0, 0);
    return index == LB_ERR ? -1 : static_cast<int>(index);
}
void ComplDialogView::setKinds(const std::vector<std::string>& kinds) {
    fillCombo(dialog_->kinds, kinds);
}
int ComplDialogView::kindIndex() const {
    return comboIndex(dialog_->kinds);
}
bool ComplDialogView::showModal() {
    return dialog_->runModal();
}

// ---------------------------------------------------------------------------
// The template dialog: client area 519 x 205 at 503, 337 on the screen, owned
// by the main window; neither of its buttons answers Enter or Escape.

class ExtraNewDialogView::Window final : public ModalDialog {
public:
    explicit Window(TTExtraNew& form) : ModalDialog(kFixed, makeFont()), form_(form) {
        setWindowText(handle(), "Создание каналов по шаблону"_w);
        setClientSize(handle(), 519, 205);
        SetWindowPos(handle(), nullptr, 503, 337, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        const int gx = 4, gy = 4;
        addControl(L"BUTTON", " Имя "_w, BS_GROUPBOX, gx, gy, 501, 97, -1);
        label("Шаблон"_w, gx + 16, gy + 20);
        templ = edit(*this, gx + 84, gy + 16, 157, 28, kTemplateEdit);
        setWindowText(templ, "Channel%d");
        label("например: \"Channel%d\""_w, gx + 256, gy + 20);
        label("Индекс первого"_w, gx + 20, gy + 56);
        first.create(*this, gx + 148, gy + 52, 61, 30, kFirstEdit, 0, TTExtraNew::kIndexMax);
        first.setValue(0);
        label("Индекс последнего"_w, gx + 236, gy + 56);
        last.create(*this, gx + 396, gy + 52, 61, 30, kLastEdit, 0, TTExtraNew::kIndexMax);
        last.setValue(0);
        label("Частота"_w, 28, 120);
        frequency.create(*this, 108, 112, 85, 30, kFrequencyEdit, 1, TTExtraNew::kFrequencyMax);
        frequency.showUntouched(0);
        label("Формула"_w, 24, 168);
        kinds = kindCombo(*this, 108, 164, 129);
        button(*this, "...", 240, 164, 33, 29, kParamsButton, false, boldButtonFont(14));
        button(*this, "Создать"_w, 396, 120, 109, 33, kCreateButton);
        button(*this, "Закрыть"_w, 396, 156, 109, 33, kCloseButton);
    }

    HWND templ = nullptr;
    HWND kinds = nullptr;
    SpinBox first, last, frequency;

protected:
    void command(int id, int code, HWND control) override {
        for (SpinBox* box : {&first, &last, &frequency})
            if (control != nullptr && control == box->edit()) {
                box->editNotification(code);
                return;
            }
        if (id == kKindList && code == CBN_SELCHANGE)
            form_.ComboBox1Change();
        else if (id == kParamsButton && code == BN_CLICKED)
            form_.BitBtn1Click();
        else if (id == kCreateButton && code == BN_CLICKED)
            end(true);
        else if (id == kCloseButton && code == BN_CLICKED)
            end(false);
        // IDOK and IDCANCEL (Enter and Escape) do nothing here.
    }

private:
    static HFONT makeFont() {
        // "MS Sans Serif", 12 points, through the same cache as the others.
        return dialogFontNamed(L"MS Sans Serif", 12);
    }

    TTExtraNew& form_;
};

ExtraNewDialogView::ExtraNewDialogView(TTExtraNew& form)
    : dialog_(std::make_unique<Window>(form)) {}
ExtraNewDialogView::~ExtraNewDialogView() = default;

HWND ExtraNewDialogView::handle() const {
    return dialog_->handle();
}
void ExtraNewDialogView::setKinds(const std::vector<std::string>& kinds) {
    fillCombo(dialog_->kinds, kinds);
}
void ExtraNewDialogView::setKindIndex(int index) {
    setComboIndex(dialog_->kinds, index);
}
int ExtraNewDialogView::kindIndex() const {
    return comboIndex(dialog_->kinds);
}
std::string ExtraNewDialogView::templateText() const {
    return windowText(dialog_->templ);
}
int ExtraNewDialogView::firstIndex() const {
    return dialog_->first.value();
}
int ExtraNewDialogView::lastIndex() const {
    return dialog_->last.value();
}
int ExtraNewDialogView::frequency() const {
    return dialog_->frequency.value();
}
bool ExtraNewDialogView::showModal() {
    return dialog_->runModal();
}

} // namespace tolvex::win32views
