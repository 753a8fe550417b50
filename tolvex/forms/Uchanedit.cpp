#include "Uchanedit.h"

#include "platform/text.h"

#include <cmath>

namespace tolvex {

using namespace platform::literals;

namespace {

// Shows nothing and answers every dialog as cancelled.
class HeadlessChanEditView final : public ChanEditView {
public:
    void setCaption(const std::string& caption) override { caption_ = caption; }
    void setChannelName(const std::string& name) override { name_ = name; }
    std::string channelName() const override { return name_; }
    void setFrequency(int value) override { frequency_ = value; }
    int frequency() const override { return frequency_; }
    void setKinds(const std::vector<std::string>& kinds) override {
        kinds_ = kinds;
        index_ = -1;
    }
    void setKindIndex(int index) override { index_ = index; }
    int kindIndex() const override { return index_; }
    bool showModal() override { return false; }

private:
    std::string caption_, name_;
    int frequency_ = 1;
    std::vector<std::string> kinds_;
    int index_ = -1;
};

ChanEditViewMaker& maker() {
    static ChanEditViewMaker instance;
    return instance;
}

} // namespace

void setChanEditViewMaker(ChanEditViewMaker newMaker) {
    maker() = std::move(newMaker);
}

std::vector<std::string> signalKindNames() {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < SignalKinds::count(); ++i)
        names.push_back(SignalKinds::at(i).kindName());
    return names;
}

int signalKindIndex(const std::string& kindName) {
    for (std::size_t i = 0; i < SignalKinds::count(); ++i)
        if (SignalKinds::at(i).kindName() == kindName)
            return static_cast<int>(i);
    return -1;
}

TChanEditFrm::TChanEditFrm() {
    if (maker())
        view_ = maker()(*this);
    if (!view_)
        view_ = std::make_unique<HeadlessChanEditView>();
}

TChanEditFrm::~TChanEditFrm() = default;

int TChanEditFrm::frequencyForSpinBox(double frequency) {
    // NaN and everything below 1 show as 1; the comparison form keeps NaN out
    // of the integer conversion.
    if (!(frequency >= kFrequencyMin))
        return kFrequencyMin;
    if (frequency >= kFrequencyMax)
        return kFrequencyMax;
    return static_cast<int>(std::trunc(frequency));
}

bool TChanEditFrm::EditChannel(CVirtualChannel& channel) {
    view_->setCaption("Свойства: "_w + channel.name);
    view_->setChannelName(channel.name);
    view_->setFrequency(frequencyForSpinBox(channel.frequency));
    working_ = channel.signal ? channel.signal->clone() : std::make_unique<SineSignal>();
    view_->setKinds(signalKindNames());
    view_->setKindIndex(signalKindIndex(working_->kindName()));

    bool confirmed = view_->showModal();
    if (confirmed) {
        channel.name = view_->channelName();
        channel.frequency = static_cast<float>(frequencyForSpinBox(view_->frequency()));
        channel.signal = working_->clone();
    }
    working_.reset();
    return confirmed;
}

void TChanEditFrm::ComboBox1Change() {
    if (!working_ || editingSignal_)
        return;
    int index = view_->kindIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= SignalKinds::count())
        return;
    working_ = SignalKinds::at(static_cast<std::size_t>(index)).clone();
}

void TChanEditFrm::BitBtn3Click() {
    // A parameter dialog is modal; the flag keeps a stray second event from
    // replacing the signal under it.
    if (!working_ || editingSignal_)
        return;
    editingSignal_ = true;
    try {
        working_->edit();
    } catch (...) {
        editingSignal_ = false;
        throw;
    }
    editingSignal_ = false;
}

} // namespace tolvex
