#include "Uextranew.h"

#include "NameTemplate.h"
#include "Tolvex.h"
#include "Uchanedit.h"
#include "Umainfrm.h"

#include "platform/text.h"

#include <algorithm>

namespace tolvex {

using namespace platform::literals;

namespace {

// Shows nothing and answers the dialog as cancelled.
class HeadlessExtraNewView final : public ExtraNewView {
public:
    void setKinds(const std::vector<std::string>& kinds) override { kinds_ = kinds; }
    void setKindIndex(int index) override { index_ = index; }
    int kindIndex() const override { return index_; }
    std::string templateText() const override { return "Channel%d"; }
    int firstIndex() const override { return 0; }
    int lastIndex() const override { return 0; }
    int frequency() const override { return 0; }
    bool showModal() override { return false; }

private:
    std::vector<std::string> kinds_;
    int index_ = -1;
};

ExtraNewViewMaker& maker() {
    static ExtraNewViewMaker instance;
    return instance;
}

} // namespace

void setExtraNewViewMaker(ExtraNewViewMaker newMaker) {
    maker() = std::move(newMaker);
}

TTExtraNew::TTExtraNew() {
    if (maker())
        view_ = maker()(*this);
    if (!view_)
        view_ = std::make_unique<HeadlessExtraNewView>();
}

TTExtraNew::~TTExtraNew() = default;

bool TTExtraNew::AskTemplate() {
    view_->setKinds(signalKindNames());
    view_->setKindIndex(templateSignal ? signalKindIndex(templateSignal->kindName()) : -1);
    if (!view_->showModal())
        return false;
    // The spin boxes keep their numbers in range; the clamps guard against a
    // view that does not, so that a range can never ask for billions of channels.
    frequency = static_cast<float>(std::clamp(view_->frequency(), 0, kFrequencyMax));
    templ = view_->templateText();
    first = std::clamp(view_->firstIndex(), 0, kIndexMax);
    last = std::clamp(view_->lastIndex(), 0, kIndexMax);
    return true;
}

void TTExtraNew::ComboBox1Change() {
    if (editingSignal_)
        return;
    int index = view_->kindIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= SignalKinds::count())
        return;
    templateSignal = SignalKinds::at(static_cast<std::size_t>(index)).clone();
}

void TTExtraNew::BitBtn1Click() {
    if (!templateSignal || editingSignal_)
        return;
    editingSignal_ = true;
    try {
        templateSignal->edit();
    } catch (...) {
        editingSignal_ = false;
        throw;
    }
    editingSignal_ = false;
}

void AddChannelsFromTemplate() {
    CTolvex* plugin = currentPlugin();
    if (!plugin)
        return;
    TTExtraNew dialog;
    dialog.templateSignal = std::make_unique<SineSignal>();
    if (!dialog.AskTemplate())
        return;

    const char* refusal = "Ошибка при создании экстра каналов!"_w;
    // A template that would need another argument is refused before anything
    // is locked or made; whether it is accepted does not depend on the index.
    if (!formatChannelName(dialog.templ, dialog.first) || !plugin->recorder) {
        ui::showError(refusal);
        return;
    }
    if (plugin->recorder->lockchanges(plugin, 0) != 0) {
        ui::showError(refusal);
        return;
    }
    try {
        for (std::int32_t i = dialog.first; i <= dialog.last; ++i) {
            auto channel = std::make_unique<CVirtualChannel>(
                formatChannelName(dialog.templ, i).value_or(std::string()));
            channel->frequency = dialog.frequency;
            channel->signal = dialog.templateSignal->clone();
            plugin->channels.push_back(std::move(channel));
            RegisterChannel(*plugin->channels.back());
        }
    } catch (...) {
        plugin->recorder->unlockchanges(plugin, 0);
        throw;
    }
    plugin->recorder->unlockchanges(plugin, 0);
}

} // namespace tolvex
