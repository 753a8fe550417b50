#include "Ucomplform.h"

#include "Uchanedit.h"

namespace tolvex {

namespace {

// Shows nothing and answers the editor as cancelled.
class HeadlessComplView final : public ComplView {
public:
    void setParts(const std::vector<std::string>& lines) override { parts_ = lines; }
    int selectedPart() const override { return -1; }
    void setKinds(const std::vector<std::string>& kinds) override { kinds_ = kinds; }
    int kindIndex() const override { return -1; }
    bool showModal() override { return false; }

private:
    std::vector<std::string> parts_, kinds_;
};

ComplViewMaker& maker() {
    static ComplViewMaker instance;
    return instance;
}

// Runs `action` with `flag` set, so that handlers reached while a nested modal
// dialog is open leave the working copy alone.
template <class F> void whileSet(bool& flag, F&& action) {
    flag = true;
    try {
        action();
    } catch (...) {
        flag = false;
        throw;
    }
    flag = false;
}

} // namespace

void setComplViewMaker(ComplViewMaker newMaker) {
    maker() = std::move(newMaker);
}

TComplFrm::TComplFrm() {
    if (maker())
        view_ = maker()(*this);
    if (!view_)
        view_ = std::make_unique<HeadlessComplView>();
}

TComplFrm::~TComplFrm() = default;

bool TComplFrm::EditComposite(CompositeSignal& composite) {
    working_ = std::make_unique<CompositeSignal>();
    working_->parts.clear();
    for (const auto& part : composite.parts)
        if (part)
            working_->parts.push_back(part->clone());
    fillParts();
    view_->setKinds(signalKindNames());

    if (view_->showModal()) {
        // Copy first, so that the composite is never left half-written.
        std::vector<std::unique_ptr<Signal>> parts;
        for (const auto& part : working_->parts)
            parts.push_back(part->clone());
        composite.parts = std::move(parts);
    }
    working_.reset();
    return true;
}

void TComplFrm::fillParts() {
    std::vector<std::string> lines;
    for (const auto& part : working_->parts)
        lines.push_back(part->kindName());
    view_->setParts(lines);
}

bool TComplFrm::selectedPartIndex(std::size_t& index) const {
    int selected = view_->selectedPart();
    if (selected < 0 || static_cast<std::size_t>(selected) >= working_->parts.size())
        return false;
    index = static_cast<std::size_t>(selected);
    return true;
}

void TComplFrm::Button1Click() {
    if (!working_ || editingPart_)
        return;
    int kind = view_->kindIndex();
    if (kind < 0 || static_cast<std::size_t>(kind) >= SignalKinds::count())
        return;
    std::unique_ptr<Signal> part = SignalKinds::at(static_cast<std::size_t>(kind)).clone();
    bool accepted = false;
    whileSet(editingPart_, [&] { accepted = part->edit(); });
    if (accepted)
        working_->parts.push_back(std::move(part));
    fillParts();
}

void TComplFrm::Action2Execute() {
    Button1Click();
}

void TComplFrm::Button2Click() {
    if (!working_ || editingPart_)
        return;
    std::size_t index = 0;
    if (!selectedPartIndex(index))
        return;
    Signal& part = *working_->parts[index];
    whileSet(editingPart_, [&] { part.edit(); });
}

void TComplFrm::ListBox1DblClick() {
    Button2Click();
}

void TComplFrm::Action3Execute() {
    Button2Click();
}

void TComplFrm::Button3Click() {
    if (!working_ || editingPart_)
        return;
    std::size_t index = 0;
    if (!selectedPartIndex(index))
        return;
    working_->parts.erase(working_->parts.begin() + static_cast<std::ptrdiff_t>(index));
    fillParts();
}

void TComplFrm::Action1Execute() {
    Button3Click();
}

} // namespace tolvex
