// The template dialog: a name template, an index range, a frequency and a
// signal from which the main window creates a series of channels.
#pragma once

#include "Utypes.h"
#include "Views.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tolvex {

class TTExtraNew;

// What TTExtraNew needs of its window. Texts are 1251.
struct ExtraNewView {
    virtual ~ExtraNewView() = default;
    // The kind list: replaced whole; -1 chooses nothing.
    virtual void setKinds(const std::vector<std::string>& kinds) = 0;
    virtual void setKindIndex(int index) = 0;
    virtual int kindIndex() const = 0;
    virtual std::string templateText() const = 0; // initially "Channel%d"
    virtual int firstIndex() const = 0;           // 0..1000, initially 0
    virtual int lastIndex() const = 0;            // 0..1000, initially 0
    virtual int frequency() const = 0;            // 1..1000, shows 0 until touched
    // Shows the dialog modally; true when it was closed with "Создать".
    virtual bool showModal() = 0;
};

using ExtraNewViewMaker = ui::ViewMaker<ExtraNewView, TTExtraNew>;
void setExtraNewViewMaker(ExtraNewViewMaker maker); // empty: back to the headless view

class TTExtraNew {
public:
    static constexpr int kIndexMax = 1000;
    static constexpr int kFrequencyMax = 1000;

    TTExtraNew();
    ~TTExtraNew();
    TTExtraNew(const TTExtraNew&) = delete;
    TTExtraNew& operator=(const TTExtraNew&) = delete;

    ExtraNewView& view() { return *view_; }

    // Results, kept after the dialog closes. The template signal belongs to
    // the dialog; whoever opens it puts one in first.
    std::unique_ptr<Signal> templateSignal;
    float frequency = 0.0f;
    std::string templ;
    std::int32_t first = 0;
    std::int32_t last = 0;

    // Fills the kind list, shows the dialog and stores the results when
    // confirmed; true then.
    bool AskTemplate();

    // Handlers
    void ComboBox1Change(); // a kind was chosen: a fresh template signal
    void BitBtn1Click();    // "...": the template signal's parameter dialog

private:
    std::unique_ptr<ExtraNewView> view_;
    bool editingSignal_ = false;
};

} // namespace tolvex
