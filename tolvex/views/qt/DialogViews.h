// The Qt views of the dialogs: channel properties, the four parameter
// dialogs, the composite editor and the template dialog.
#pragma once

#include "ParamView.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"

#include <QDialog>
#include <QSpinBox>

#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tolvex::qtviews {

// A spin box that may show a number below its range until it is first
// touched, and brings its number into range when it loses focus.
class RangeSpinBox final : public QSpinBox {
public:
    RangeSpinBox(int minimum, int maximum, QWidget* parent);
    // Shows `value` even when it lies below the range.
    void showUntouched(int value);
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int low_, high_;
};

class ChanEditDialogView final : public ChanEditView {
public:
    explicit ChanEditDialogView(TChanEditFrm& form);
    ~ChanEditDialogView() override;

    QDialog& dialog() { return *dialog_; }
    QLineEdit* nameEdit() const { return name_; }
    QSpinBox* frequencyBox() const { return frequency_; }
    QComboBox* kindList() const { return kinds_; }
    QPushButton* paramsButton() const { return params_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

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
    std::unique_ptr<QDialog> dialog_;
    QLineEdit* name_ = nullptr;
    RangeSpinBox* frequency_ = nullptr;
    QComboBox* kinds_ = nullptr;
    QPushButton* params_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

class ParamDialogView final : public ParamView {
public:
    explicit ParamDialogView(const TParamFrm& form);
    ~ParamDialogView() override;

    QDialog& dialog() { return *dialog_; }
    QLineEdit* field(int index) const;
    QLabel* label(int index) const;
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    void setFieldText(int index, const std::string& text1251) override;
    std::string fieldText(int index) const override;
    bool showModal() override;

private:
    std::unique_ptr<QDialog> dialog_;
    int count_ = 0;
    QLabel* labels_[3] = {};
    QLineEdit* fields_[3] = {};
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

class ComplDialogView final : public ComplView {
public:
    explicit ComplDialogView(TComplFrm& form);
    ~ComplDialogView() override;

    QDialog& dialog() { return *dialog_; }
    QListWidget* partsList() const { return parts_; }
    QComboBox* kindList() const { return kinds_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* changeButton() const { return change_; }
    QPushButton* deleteButton() const { return delete_; }
    QPushButton* okButton() const { return ok_; }
    QPushButton* cancelButton() const { return cancel_; }

    void setParts(const std::vector<std::string>& lines) override;
    int selectedPart() const override;
    void setKinds(const std::vector<std::string>& kinds) override;
    int kindIndex() const override;
    bool showModal() override;

private:
    std::unique_ptr<QDialog> dialog_;
    QListWidget* parts_ = nullptr;
    QComboBox* kinds_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* change_ = nullptr;
    QPushButton* delete_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

// The template dialog: neither of its buttons answers Enter or Escape.
class ExtraNewDialog final : public QDialog {
public:
    using QDialog::QDialog;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class ExtraNewDialogView final : public ExtraNewView {
public:
    explicit ExtraNewDialogView(TTExtraNew& form);
    ~ExtraNewDialogView() override;

    QDialog& dialog() { return *dialog_; }
    QLineEdit* templateEdit() const { return template_; }
    QSpinBox* firstBox() const { return first_; }
    QSpinBox* lastBox() const { return last_; }
    QSpinBox* frequencyBox() const { return frequency_; }
    QComboBox* kindList() const { return kinds_; }
    QPushButton* paramsButton() const { return params_; }
    QPushButton* createButton() const { return create_; }
    QPushButton* closeButton() const { return close_; }

    void setKinds(const std::vector<std::string>& kinds) override;
    void setKindIndex(int index) override;
    int kindIndex() const override;
    std::string templateText() const override;
    int firstIndex() const override;
    int lastIndex() const override;
    int frequency() const override;
    bool showModal() override;

private:
    std::unique_ptr<ExtraNewDialog> dialog_;
    QLineEdit* template_ = nullptr;
    RangeSpinBox* first_ = nullptr;
    RangeSpinBox* last_ = nullptr;
    RangeSpinBox* frequency_ = nullptr;
    QComboBox* kinds_ = nullptr;
    QPushButton* params_ = nullptr;
    QPushButton* create_ = nullptr;
    QPushButton* close_ = nullptr;
};

} // namespace tolvex::qtviews
