// The channel properties dialog: a channel's name, sampling frequency and
// signal. It edits a working copy of the signal and changes the channel only
// when confirmed.
#pragma once

#include "Views.h"
#include "VirtualChannel.h"

#include <memory>
#include <string>
#include <vector>

namespace tolvex {

class TChanEditFrm;

// What TChanEditFrm needs of its window. Texts are 1251.
struct ChanEditView {
    virtual ~ChanEditView() = default;
    virtual void setCaption(const std::string& caption) = 0;
    virtual void setChannelName(const std::string& name) = 0;
    virtual std::string channelName() const = 0;
    // The frequency spin box: whole numbers kFrequencyMin..kFrequencyMax.
    virtual void setFrequency(int value) = 0;
    virtual int frequency() const = 0;
    // The kind list: replaced whole; -1 chooses nothing.
    virtual void setKinds(const std::vector<std::string>& kinds) = 0;
    virtual void setKindIndex(int index) = 0;
    virtual int kindIndex() const = 0;
    // Shows the dialog modally; true when it was closed with "Да".
    virtual bool showModal() = 0;
};

using ChanEditViewMaker = ui::ViewMaker<ChanEditView, TChanEditFrm>;
void setChanEditViewMaker(ChanEditViewMaker maker); // empty: back to the headless view

class TChanEditFrm {
public:
    static constexpr int kFrequencyMin = 1;
    static constexpr int kFrequencyMax = 216000;

    TChanEditFrm();
    ~TChanEditFrm();
    TChanEditFrm(const TChanEditFrm&) = delete;
    TChanEditFrm& operator=(const TChanEditFrm&) = delete;

    ChanEditView& view() { return *view_; }
    // The working copy while the dialog runs, null otherwise.
    Signal* workingSignal() const { return working_.get(); }

    // Runs the dialog on one channel; true when confirmed.
    bool EditChannel(CVirtualChannel& channel);

    // Handlers
    void ComboBox1Change(); // a kind was chosen: a fresh signal of that kind
    void BitBtn3Click();    // "...": the working signal's parameter dialog

    // A frequency truncated toward zero and brought into the spin box's range.
    static int frequencyForSpinBox(double frequency);

private:
    std::unique_ptr<ChanEditView> view_;
    std::unique_ptr<Signal> working_;
    bool editingSignal_ = false;
};

// The kindName of every prototype of SignalKinds, in registry order.
std::vector<std::string> signalKindNames();
// Position of `kindName` in the registry, -1 when no kind has it.
int signalKindIndex(const std::string& kindName);

} // namespace tolvex
