// The channel properties dialog and the composite editor with scripted views:
// dialogs work on copies and write back only when confirmed.
#include "scripted_views.h"

#include "Editors.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tolvex;
using namespace platform::literals;
using scripted::Script;

namespace {

enum Kind { kLevel = 0, kSine = 1, kSaw = 2, kSum = 3, kNoise = 4 };

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setDecimalSeparator('.');
        installEditors();
    }
    void TearDown() override {
        EXPECT_TRUE(Script::current().done()) << "a scripted dialog never opened";
        platform::setDecimalSeparator(0);
    }
    Script& script = Script::current();
    scripted::Installed installed;
};

template <class T> T& as(Signal& s) {
    auto* p = dynamic_cast<T*>(&s);
    if (!p)
        throw std::logic_error("unexpected signal kind");
    return *p;
}

// The parameter dialog answers OK with these field texts.
auto paramOk(std::map<int, std::string> texts) {
    return [texts](scripted::Param& v) {
        for (const auto& [i, t] : texts)
            v.fields[i] = t;
        return true;
    };
}

} // namespace

TEST_F(Dialogs, ChannelDialogShowsTheChannel) {
    CVirtualChannel channel("Name1");
    channel.frequency = 0.0f;
    script.chanEdit.push_back([](scripted::ChanEdit& v) {
        EXPECT_EQ(v.caption, "Свойства: Name1"_w);
        EXPECT_EQ(v.name, "Name1");
        EXPECT_EQ(v.freq, 1); // 0 shows as 1
        EXPECT_EQ(v.kinds,
                  (std::vector<std::string>{"Уровень"_w, "Синус"_w, "Пила"_w, "Сумма"_w, "Шум"_w}));
        EXPECT_EQ(v.kind, kSine);
        return true;
    });
    EXPECT_TRUE(channel.Edit());
    EXPECT_EQ(channel.frequency, 1.0f); // confirming stores what was shown
}

TEST_F(Dialogs, FrequencyIsTruncatedIntoTheSpinBoxRange) {
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(0.0), 1);
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(2.5), 2);
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(1.99), 1);
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(-7.0), 1);
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(216000.9), 216000);
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(1e12), 216000);
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(std::numeric_limits<double>::infinity()), 216000);
    EXPECT_EQ(TChanEditFrm::frequencyForSpinBox(std::nan("")), 1);

    CVirtualChannel confirmed("a"), cancelled("b");
    confirmed.frequency = cancelled.frequency = 2.5f;
    script.chanEdit.push_back([](scripted::ChanEdit& v) {
        EXPECT_EQ(v.freq, 2);
        return true;
    });
    script.chanEdit.push_back([](scripted::ChanEdit& v) {
        EXPECT_EQ(v.freq, 2);
        return false;
    });
    EXPECT_TRUE(confirmed.Edit());
    EXPECT_FALSE(cancelled.Edit());
    EXPECT_EQ(confirmed.frequency, 2.0f);
    EXPECT_EQ(cancelled.frequency, 2.5f);
}

TEST_F(Dialogs, ConfirmingTakesNameFrequencyAndAFreshCopyOfTheSignal) {
    CVirtualChannel channel("old");
    const Signal* before = channel.signal.get();
    script.chanEdit.push_back([](scripted::ChanEdit& v) {
        v.name = "";
        v.freq = 500;
        v.choose(kLevel);
        v.form.BitBtn3Click();
        return true;
    });
    script.param.push_back(paramOk({{0, "12.5"}}));
    EXPECT_TRUE(channel.Edit());
    EXPECT_EQ(channel.name, ""); // an empty name is accepted
    EXPECT_EQ(channel.frequency, 500.0f);
    ASSERT_EQ(channel.signal->kindName(), "Уровень"_w);
    EXPECT_EQ(as<LevelSignal>(*channel.signal).Level, 12.5f);
    EXPECT_NE(channel.signal.get(), before);
}

TEST_F(Dialogs, CancellingKeepsTheChannelWhateverWasEdited) {
    CVirtualChannel channel("keep");
    channel.frequency = 50.0f;
    script.chanEdit.push_back([](scripted::ChanEdit& v) {
        v.name = "other";
        v.freq = 7;
        v.form.BitBtn3Click(); // sine parameters
        v.choose(kNoise);
        return false;
    });
    script.param.push_back(paramOk({{0, "99"}, {1, "-1"}, {2, "1"}}));
    EXPECT_FALSE(channel.Edit());
    EXPECT_EQ(channel.name, "keep");
    EXPECT_EQ(channel.frequency, 50.0f);
    auto& sine = as<SineSignal>(*channel.signal);
    EXPECT_EQ(sine.freq, 10.0f);
    EXPECT_EQ(sine.MinLevel, -100.0f);
    EXPECT_EQ(sine.MaxLevel, 100.0f);
}

TEST_F(Dialogs, ChoosingAKindAgainStartsFromItsDefaults) {
    CVirtualChannel channel("c");
    script.chanEdit.push_back([](scripted::ChanEdit& v) {
        v.choose(kSaw);
        v.form.BitBtn3Click();
        EXPECT_EQ(as<SawSignal>(*v.form.workingSignal()).Period, 4.0f);
        v.choose(kSaw);
        return true;
    });
    script.param.push_back(paramOk({{2, "4"}}));
    EXPECT_TRUE(channel.Edit());
    EXPECT_EQ(as<SawSignal>(*channel.signal).Period, 1.0f);
}

TEST_F(Dialogs, AFieldThatIsNoNumberLeavesThePartlyReadWorkingSignal) {
    // The sine reads freq, MinLevel, MaxLevel; a word in MinLevel stops there.
    CVirtualChannel channel("c");
    script.chanEdit.push_back([](scripted::ChanEdit& v) {
        v.form.BitBtn3Click();
        return true;
    });
    script.param.push_back(paramOk({{0, "25"}, {1, "word"}, {2, "7"}}));
    EXPECT_TRUE(channel.Edit());
    auto& sine = as<SineSignal>(*channel.signal);
    EXPECT_EQ(sine.freq, 25.0f);
    EXPECT_EQ(sine.MinLevel, -100.0f);
    EXPECT_EQ(sine.MaxLevel, 100.0f);
}

// ---- composite editor

namespace {

std::unique_ptr<CompositeSignal> sineLevelSine() {
    auto c = std::make_unique<CompositeSignal>();
    c->parts.clear();
    c->parts.push_back(std::make_unique<SineSignal>());
    auto level = std::make_unique<LevelSignal>();
    level->Level = 3.0f;
    c->parts.push_back(std::move(level));
    c->parts.push_back(std::make_unique<SineSignal>());
    return c;
}

const std::vector<std::string> kSineLevelSine = {"Синус"_w, "Уровень"_w, "Синус"_w};

} // namespace

TEST_F(Dialogs, CompositeEditorListsThePartsAndTheKinds) {
    auto c = sineLevelSine();
    script.composite.push_back([](scripted::Compl& v) {
        EXPECT_EQ(v.parts, kSineLevelSine);
        EXPECT_EQ(v.kinds.size(), 5u);
        EXPECT_EQ(v.kinds[3], "Сумма"_w);
        EXPECT_EQ(v.kind, -1);
        EXPECT_EQ(v.selected, -1);
        return false;
    });
    EXPECT_TRUE(c->edit()); // true even when cancelled
}

TEST_F(Dialogs, CancelAfterDeletingEveryPartKeepsTheComposite) {
    auto c = sineLevelSine();
    const Signal* first = c->parts[0].get();
    script.composite.push_back([](scripted::Compl& v) {
        while (!v.parts.empty()) {
            v.selected = 0;
            v.form.Button3Click();
            EXPECT_EQ(v.selected, -1); // nothing selected after a delete
            v.form.Action1Execute();   // so the Delete key does nothing
        }
        EXPECT_TRUE(v.form.working()->parts.empty());
        return false;
    });
    EXPECT_TRUE(c->edit());
    ASSERT_EQ(c->parts.size(), 3u);
    EXPECT_EQ(c->parts[0].get(), first);
    EXPECT_EQ(as<LevelSignal>(*c->parts[1]).Level, 3.0f);
}

TEST_F(Dialogs, OkAfterDeletingEveryPartLeavesAnEmptySum) {
    auto c = sineLevelSine();
    script.composite.push_back([](scripted::Compl& v) {
        for (int i = 0; i < 3; ++i) {
            v.selected = 0;
            v.form.Action1Execute();
        }
        return true;
    });
    EXPECT_TRUE(c->edit());
    EXPECT_TRUE(c->parts.empty());
    EXPECT_EQ(c->value(0.25f), 0.0);
}

TEST_F(Dialogs, AddingParts) {
    auto c = sineLevelSine();
    script.composite.push_back([](scripted::Compl& v) {
        v.form.Button1Click(); // no kind chosen: nothing
        EXPECT_EQ(v.parts.size(), 3u);
        v.kind = kLevel;
        v.form.Button1Click();   // its dialog cancelled: not added
        v.form.Action2Execute(); // Insert key; a field that is no number: not added
        EXPECT_EQ(v.parts.size(), 3u);
        v.form.Button1Click(); // accepted
        EXPECT_EQ(v.parts.size(), 4u);
        EXPECT_EQ(v.parts.back(), "Уровень"_w);
        EXPECT_EQ(v.selected, -1);
        return true;
    });
    script.param.push_back([](scripted::Param&) { return false; });
    script.param.push_back(paramOk({{0, "x"}}));
    script.param.push_back(paramOk({{0, "-2"}}));
    EXPECT_TRUE(c->edit());
    ASSERT_EQ(c->parts.size(), 4u);
    EXPECT_EQ(as<LevelSignal>(*c->parts[3]).Level, -2.0f);
    EXPECT_EQ(script.paramShown.front().at(0), "0"); // a new part starts from its defaults
}

TEST_F(Dialogs, NestedSumIsAppendedEvenWhenItsEditorIsCancelled) {
    auto c = sineLevelSine();
    script.composite.push_back([&](scripted::Compl& v) {
        v.kind = kSum;
        v.form.Button1Click();
        EXPECT_EQ(v.parts.back(), "Сумма"_w);
        return true;
    });
    script.composite.push_back([](scripted::Compl&) { return false; }); // the nested one
    EXPECT_TRUE(c->edit());
    ASSERT_EQ(script.compositeShown.size(), 2u);
    EXPECT_EQ(script.compositeShown[1], std::vector<std::string>{"Синус"_w});
    ASSERT_EQ(c->parts.size(), 4u);
    auto& nested = as<CompositeSignal>(*c->parts[3]);
    ASSERT_EQ(nested.parts.size(), 1u);
    EXPECT_EQ(nested.parts[0]->kindName(), "Синус"_w);
}

TEST_F(Dialogs, ChangingAPartEditsOnlyTheWorkingCopy) {
    auto c = sineLevelSine();
    script.composite.push_back([](scripted::Compl& v) {
        v.form.Button2Click(); // nothing selected: nothing opens
        v.selected = 1;
        v.form.Button2Click();
        v.form.ListBox1DblClick();
        v.form.Action3Execute();
        EXPECT_EQ(v.selected, 1); // the list is not refilled
        return false;
    });
    script.param.push_back(paramOk({{0, "11"}}));
    script.param.push_back([](scripted::Param& v) {
        EXPECT_EQ(v.fields.at(0), "11");
        return true;
    });
    script.param.push_back(paramOk({{0, "33"}}));
    EXPECT_TRUE(c->edit());
    EXPECT_EQ(as<LevelSignal>(*c->parts[1]).Level, 3.0f);

    script.composite.push_back([](scripted::Compl& v) {
        v.selected = 1;
        v.form.Action3Execute();
        return true;
    });
    script.param.push_back(paramOk({{0, "44"}}));
    EXPECT_TRUE(c->edit());
    EXPECT_EQ(as<LevelSignal>(*c->parts[1]).Level, 44.0f);
}

TEST_F(Dialogs, NestedEditorChangesReachTheOuterCompositeOnlyThroughBothOks) {
    auto outer = std::make_unique<CompositeSignal>();
    outer->parts.clear();
    outer->parts.push_back(std::make_unique<CompositeSignal>());
    auto changeInner = [](bool innerOk) {
        return [innerOk](scripted::Compl& v) {
            v.selected = 0;
            v.form.Button3Click(); // drop the inner sine
            return innerOk;
        };
    };
    auto openInner = [](bool outerOk) {
        return [outerOk](scripted::Compl& v) {
            v.selected = 0;
            v.form.Button2Click();
            return outerOk;
        };
    };
    script.composite.push_back(openInner(false));
    script.composite.push_back(changeInner(true));
    outer->edit();
    EXPECT_EQ(as<CompositeSignal>(*outer->parts[0]).parts.size(), 1u);

    script.composite.push_back(openInner(true));
    script.composite.push_back(changeInner(true));
    outer->edit();
    EXPECT_EQ(as<CompositeSignal>(*outer->parts[0]).parts.size(), 0u);
}
