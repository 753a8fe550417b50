// The seam between the parameter dialogs of the basic signal kinds (TLevelFrm,
// TSinusFrm, TSawFrm, TNoiseFrm) and the toolkit.
//
// A dialog shows one text field per parameter. Field indexes count from 0 in
// the dialog's display order: index 0 is Edit1, 1 is Edit2, 2 is Edit3.
//
//   dialog   fields (index: label, parameter)
//   Level    0: "Значение подаваемого сигнала" Level
//   Sinus    0: "Частота" freq, 1: "Мин. Уровень" MinLevel, 2: "Макс. Уровень" MaxLevel
//   Saw      0: "Макс. Уровень" MaxLevel, 1: "Мин. Уровень" MinLevel, 2: "Период, сек" Period
//   Noise    0: "Макимальный уровень" MaxLevel, 1: "Минимальный уровень" MinLevel
//
// A signal's edit creates the form, which asks the maker installed for its
// dialog kind for a view, fills every field, calls showModal once, reads the
// fields back after OK and drops the view. Without a maker (or when the maker
// gives no view) the dialog counts as cancelled. All texts are code page 1251.
#pragma once

#include "Views.h"

#include <memory>
#include <string>

namespace tolvex {

enum class ParamDialog { Level, Sinus, Saw, Noise };

class ParamView {
public:
    virtual ~ParamView() = default;
    // Puts a text into field `index` (called before showModal).
    virtual void setFieldText(int index, const std::string& text1251) = 0;
    // The field's text as the user left it (called after showModal).
    virtual std::string fieldText(int index) const = 0;
    // Shows the dialog modally; true when it was closed with the OK button
    // ("Да"), false for Cancel ("Отмена") or any other way of closing.
    virtual bool showModal() = 0;
};

// The fixed look of one dialog, for the views: caption and field labels.
struct ParamDialogLayout {
    ParamDialog kind;
    const char* caption; // 1251
    int fieldCount;
    const char* labels[3]; // 1251, display order; unused entries are nullptr
};
const ParamDialogLayout& paramDialogLayout(ParamDialog kind);

class TParamFrm;
using ParamViewMaker = ui::ViewMaker<ParamView, TParamFrm>;
// Installs the maker of one dialog kind; an empty maker removes it.
void setParamViewMaker(ParamDialog kind, ParamViewMaker maker);

// The common form logic of the four parameter dialogs.
class TParamFrm {
public:
    explicit TParamFrm(ParamDialog kind) : kind_(kind) {}
    virtual ~TParamFrm() = default;
    TParamFrm(const TParamFrm&) = delete;
    TParamFrm& operator=(const TParamFrm&) = delete;

    ParamDialog kind() const { return kind_; }
    const ParamDialogLayout& layout() const { return paramDialogLayout(kind_); }

protected:
    // Shows `fieldCount` parameters, field i showing *shown[i]; after OK reads
    // field readOrder[k] into *shown[readOrder[k]] for k = 0, 1, ..., storing
    // each at once and stopping at the first text that is not a number.
    // True when the dialog was confirmed and every field was read.
    bool run(float* const* shown, const int* readOrder, int fieldCount);

private:
    ParamDialog kind_;
};

} // namespace tolvex
