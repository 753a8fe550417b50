// Scripted views of the dialogs: each showModal runs the next step of a
// script, which may change the controls and call the form's handlers as a
// user would, and answers whether the dialog was confirmed.
#pragma once

#include "ParamView.h"
#include "Uchanedit.h"
#include "Ucomplform.h"
#include "Uextranew.h"

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace scripted {

using namespace tolvex;

struct ChanEdit final : ChanEditView {
    explicit ChanEdit(TChanEditFrm& f) : form(f) {}
    TChanEditFrm& form;
    std::string caption, name;
    int freq = 0;
    std::vector<std::string> kinds;
    int kind = -1;

    void setCaption(const std::string& c) override { caption = c; }
    void setChannelName(const std::string& n) override { name = n; }
    std::string channelName() const override { return name; }
    void setFrequency(int v) override { freq = v; }
    int frequency() const override { return freq; }
    void setKinds(const std::vector<std::string>& k) override {
        kinds = k;
        kind = -1;
    }
    void setKindIndex(int i) override { kind = i; }
    int kindIndex() const override { return kind; }
    bool showModal() override;
    // A user's choice in the kind list.
    void choose(int i) {
        kind = i;
        form.ComboBox1Change();
    }
};

struct Compl final : ComplView {
    explicit Compl(TComplFrm& f) : form(f) {}
    TComplFrm& form;
    std::vector<std::string> parts, kinds;
    int selected = -1;
    int kind = -1;

    void setParts(const std::vector<std::string>& lines) override {
        parts = lines;
        selected = -1;
    }
    int selectedPart() const override { return selected; }
    void setKinds(const std::vector<std::string>& k) override {
        kinds = k;
        kind = -1;
    }
    int kindIndex() const override { return kind; }
    bool showModal() override;
};

struct ExtraNew final : ExtraNewView {
    explicit ExtraNew(TTExtraNew& f) : form(f) {}
    TTExtraNew& form;
    std::vector<std::string> kinds;
    int kind = -1;
    std::string templ = "Channel%d";
    int first = 0, last = 0, freq = 0;

    void setKinds(const std::vector<std::string>& k) override {
        kinds = k;
        kind = -1;
    }
    void setKindIndex(int i) override { kind = i; }
    int kindIndex() const override { return kind; }
    std::string templateText() const override { return templ; }
    int firstIndex() const override { return first; }
    int lastIndex() const override { return last; }
    int frequency() const override { return freq; }
    bool showModal() override;
    void choose(int i) {
        kind = i;
        form.ComboBox1Change();
    }
};

struct Param final : ParamView {
    explicit Param(TParamFrm& f) : form(f) {}
    TParamFrm& form;
    std::map<int, std::string> fields;
    void setFieldText(int i, const std::string& t) override { fields[i] = t; }
    std::string fieldText(int i) const override {
        auto it = fields.find(i);
        return it == fields.end() ? std::string() : it->second;
    }
    bool showModal() override;
};

// One queue of steps for all dialogs, consumed in the order they open.
struct Script {
    std::deque<std::function<bool(ChanEdit&)>> chanEdit;
    std::deque<std::function<bool(Compl&)>> composite;
    std::deque<std::function<bool(ExtraNew&)>> extraNew;
    std::deque<std::function<bool(Param&)>> param;
    // What each opened dialog showed when it opened.
    std::vector<std::vector<std::string>> compositeShown;
    std::vector<std::map<int, std::string>> paramShown;
    int opened = 0;

    static Script& current() {
        static Script script;
        return script;
    }
    bool done() const {
        return chanEdit.empty() && composite.empty() && extraNew.empty() && param.empty();
    }
};

template <class Step, class View> bool runStep(std::deque<Step>& steps, View& view) {
    ++Script::current().opened;
    if (steps.empty())
        throw std::logic_error("a dialog opened that the script did not expect");
    Step step = std::move(steps.front());
    steps.pop_front();
    return step(view);
}

inline bool ChanEdit::showModal() {
    return runStep(Script::current().chanEdit, *this);
}
inline bool Compl::showModal() {
    Script::current().compositeShown.push_back(parts);
    return runStep(Script::current().composite, *this);
}
inline bool ExtraNew::showModal() {
    return runStep(Script::current().extraNew, *this);
}
inline bool Param::showModal() {
    Script::current().paramShown.push_back(fields);
    return runStep(Script::current().param, *this);
}

// Installs the scripted views and fresh signal kinds; removes them again.
struct Installed {
    Installed() {
        Script::current() = Script();
        SignalKinds::fill();
        setChanEditViewMaker([](TChanEditFrm& f) { return std::make_unique<ChanEdit>(f); });
        setComplViewMaker([](TComplFrm& f) { return std::make_unique<Compl>(f); });
        setExtraNewViewMaker([](TTExtraNew& f) { return std::make_unique<ExtraNew>(f); });
        for (auto kind :
             {ParamDialog::Level, ParamDialog::Sinus, ParamDialog::Saw, ParamDialog::Noise})
            setParamViewMaker(kind, [](TParamFrm& f) { return std::make_unique<Param>(f); });
    }
    ~Installed() {
        setChanEditViewMaker({});
        setComplViewMaker({});
        setExtraNewViewMaker({});
        for (auto kind :
             {ParamDialog::Level, ParamDialog::Sinus, ParamDialog::Saw, ParamDialog::Noise})
            setParamViewMaker(kind, {});
        SignalKinds::clear();
    }
    Installed(const Installed&) = delete;
    Installed& operator=(const Installed&) = delete;
};

} // namespace scripted
