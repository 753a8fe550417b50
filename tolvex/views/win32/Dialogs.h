// The Win32 views of the dialogs: channel properties, the four parameter
// dialogs, the composite editor and the template dialog. Each is a modal
// dialog whose controls stand at their pixel positions.
#pragma once

#include "ParamView.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"

#include "Win32Common.h"

#include <memory>

namespace tolvex::win32views {

// Control identifiers, for the tests.
enum DialogControl : int {
    kNameEdit = 1001,
    kFrequencyEdit = 1002,
    kKindList = 1003,
    kParamsButton = 1004,
    kFieldEdit = 1010, // + field index
    kPartsList = 1020,
    kAddPart = 1021,
    kChangePart = 1022,
    kDeletePart = 1023,
    kTemplateEdit = 1030,
    kFirstEdit = 1031,
    kLastEdit = 1032,
    kCreateButton = 1033,
    kCloseButton = 1034,
};

class ChanEditDialogView final : public ChanEditView {
public:
    explicit ChanEditDialogView(TChanEditFrm& form);
    ~ChanEditDialogView() override;

    HWND handle() const;
    SpinBox& frequencyBox();

    void setCaption(const std::string& caption) override;
    void setChannelName(const std::string& name) override;
    std::string channelName() const override;
    void setFrequency(int value) override;
    int frequency() const override;
    void setKinds(const std::vector<std::string>& kinds) override;
    void setKindIndex(int index) override;
    int kindIndex() const override;
    bool showModal() override;

private:
    class Window;
    std::unique_ptr<Window> dialog_;
};

class ParamDialogView final : public ParamView {
public:
    explicit ParamDialogView(const TParamFrm& form);
    ~ParamDialogView() override;

    HWND handle() const;

    void setFieldText(int index, const std::string& text1251) override;
    std::string fieldText(int index) const override;
    bool showModal() override;

private:
    class Window;
    std::unique_ptr<Window> dialog_;
    int count_ = 0;
};

class ComplDialogView final : public ComplView {
public:
    explicit ComplDialogView(TComplFrm& form);
    ~ComplDialogView() override;

    HWND handle() const;

    void setParts(const std::vector<std::string>& lines) override;
    int selectedPart() const override;
    void setKinds(const std::vector<std::string>& kinds) override;
    int kindIndex() const override;
    bool showModal() override;

private:
    class Window;
    std::unique_ptr<Window> dialog_;
};

class ExtraNewDialogView final : public ExtraNewView {
public:
    explicit ExtraNewDialogView(TTExtraNew& form);
    ~ExtraNewDialogView() override;

    HWND handle() const;

    void setKinds(const std::vector<std::string>& kinds) override;
    void setKindIndex(int index) override;
    int kindIndex() const override;
    std::string templateText() const override;
    int firstIndex() const override;
    int lastIndex() const override;
    int frequency() const override;
    bool showModal() override;

private:
    class Window;
    std::unique_ptr<Window> dialog_;
};

} // namespace tolvex::win32views
