// The composite-signal editor: the list of parts of a sum of signals. It
// edits a working copy and writes the parts back only when confirmed.
#pragma once

#include "Utypes.h"
#include "Views.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvex {

class TComplFrm;

// What TComplFrm needs of its window. Texts are 1251.
struct ComplView {
    virtual ~ComplView() = default;
    // The parts list: replaced whole, so that nothing is selected afterwards.
    virtual void setParts(const std::vector<std::string>& lines) = 0;
    // The selected line of the parts list, -1 when none.
    virtual int selectedPart() const = 0;
    // The kind list: replaced whole, nothing chosen.
    virtual void setKinds(const std::vector<std::string>& kinds) = 0;
    // The chosen kind, -1 when none.
    virtual int kindIndex() const = 0;
    // Shows the editor modally; true when it was closed with "Да".
    virtual bool showModal() = 0;
};

using ComplViewMaker = ui::ViewMaker<ComplView, TComplFrm>;
void setComplViewMaker(ComplViewMaker maker); // empty: back to the headless view

class TComplFrm {
public:
    TComplFrm();
    ~TComplFrm();
    TComplFrm(const TComplFrm&) = delete;
    TComplFrm& operator=(const TComplFrm&) = delete;

    ComplView& view() { return *view_; }
    // The working copy while the editor runs, null otherwise.
    CompositeSignal* working() const { return working_.get(); }

    // Runs the editor on one composite; answers true, confirmed or not.
    bool EditComposite(CompositeSignal& composite);

    // Handlers
    void Button1Click();     // "Добавить": add a part of the chosen kind
    void Action2Execute();   // Insert key: the same
    void Button2Click();     // "Изменить": edit the selected part
    void ListBox1DblClick(); // double-click on a part: the same
    void Action3Execute();   // Space bar: the same
    void Button3Click();     // "Удалить": delete the selected part
    void Action1Execute();   // Delete key: the same

private:
    void fillParts();
    bool selectedPartIndex(std::size_t& index) const;

    std::unique_ptr<ComplView> view_;
    std::unique_ptr<CompositeSignal> working_;
    bool editingPart_ = false; // a part's own dialog is open
};

} // namespace tolvex
