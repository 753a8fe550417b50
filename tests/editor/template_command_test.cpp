// Add from template: the template dialog and the command that creates its
// channels within one granted change lock.
#include "host_ops.h"
#include "scripted_views.h"

#include "Editors.h"
#include "Tolvex.h"
#include "Umainfrm.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <gtest/gtest.h>

using namespace tolvex;
using namespace platform::literals;
using scripted::Script;

namespace {

enum Kind { kLevel = 0, kSine = 1, kSaw = 2, kSum = 3, kNoise = 4 };

class TemplateCommand : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setDecimalSeparator('.');
        installEditors();
        plugin.recorder = module.recorder();
        setCurrentPlugin(&plugin);
        ui::setMessageBoxHandler([this](const ui::MessageBoxRequest& r) {
            messages.push_back(r);
            return ui::Answer::Ok;
        });
        auto existing = std::make_unique<CVirtualChannel>("existing");
        existing->frequency = 10.0f;
        plugin.channels.push_back(std::move(existing));
    }
    void TearDown() override {
        EXPECT_TRUE(Script::current().done()) << "a scripted dialog never opened";
        ui::setMessageBoxHandler({});
        setCurrentPlugin(nullptr);
        plugin.channels.clear();
        platform::setDecimalSeparator(0);
    }

    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& c : plugin.channels)
            out.push_back(c->name);
        return out;
    }
    // The dialog confirmed with these entries.
    void confirmWith(std::string templ, int first, int last, int freq = 0) {
        Script::current().extraNew.push_back([=](scripted::ExtraNew& v) {
            v.templ = templ;
            v.first = first;
            v.last = last;
            v.freq = freq;
            return true;
        });
    }

    scripted::Installed installed;
    host::Host host;
    host::LoadedModule module{host, "Tolvex"};
    CTolvex plugin;
    std::vector<std::string> ops() const { return editor_test::lockAndChannelOps(host); }
    std::vector<ui::MessageBoxRequest> messages;
};

const std::vector<std::string> kLockedOnce = {"lockchanges", "unlockchanges"};

} // namespace

TEST_F(TemplateCommand, InitialValuesMakeOneDefaultChannel) {
    Script::current().extraNew.push_back([](scripted::ExtraNew& v) {
        EXPECT_EQ(v.kind, kSine); // the template signal starts as a sine
        EXPECT_EQ(v.kinds.size(), 5u);
        return true; // the fields as the dialog opened
    });
    AddChannelsFromTemplate();
    ASSERT_EQ(names(), (std::vector<std::string>{"existing", "Channel0"}));
    const CVirtualChannel& made = *plugin.channels[1];
    EXPECT_EQ(made.frequency, 1.0f); // below 0.1 at registration
    auto* sine = dynamic_cast<SineSignal*>(made.signal.get());
    ASSERT_NE(sine, nullptr);
    EXPECT_EQ(sine->freq, 10.0f);
    EXPECT_EQ(ops(), (std::vector<std::string>{"lockchanges", "addchannel", "unlockchanges"}));
    EXPECT_TRUE(messages.empty());
}

TEST_F(TemplateCommand, NamesFollowTheTemplateInIndexOrder) {
    confirmWith("Ch%d", 1, 3, 250);
    AddChannelsFromTemplate();
    EXPECT_EQ(names(), (std::vector<std::string>{"existing", "Ch1", "Ch2", "Ch3"}));
    EXPECT_EQ(plugin.channels[2]->frequency, 250.0f);

    confirmWith("Ch%03d", 7, 8);
    AddChannelsFromTemplate();
    confirmWith("%%d", 0, 1);
    AddChannelsFromTemplate();
    EXPECT_EQ(names(), (std::vector<std::string>{"existing", "Ch1", "Ch2", "Ch3", "Ch007", "Ch008",
                                                 "%d", "%d"}));
}

TEST_F(TemplateCommand, FirstAboveLastMakesNothingButStillLocksAndUnlocks) {
    confirmWith("Ch%d", 5, 2);
    AddChannelsFromTemplate();
    EXPECT_EQ(names(), std::vector<std::string>{"existing"});
    EXPECT_EQ(ops(), kLockedOnce);
}

TEST_F(TemplateCommand, CancelledDialogChangesNothing) {
    Script::current().extraNew.push_back([](scripted::ExtraNew& v) {
        v.templ = "X%d";
        v.last = 9;
        return false;
    });
    AddChannelsFromTemplate();
    EXPECT_EQ(names(), std::vector<std::string>{"existing"});
    EXPECT_TRUE(ops().empty());
}

TEST_F(TemplateCommand, RefusedLockShowsTheErrorAndAddsNothing) {
    host.refuseLock(true);
    confirmWith("Ch%d", 0, 4);
    AddChannelsFromTemplate();
    EXPECT_EQ(names(), std::vector<std::string>{"existing"});
    EXPECT_EQ(ops(), std::vector<std::string>{"lockchanges"}); // no unlock after a refusal
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Ошибка при создании экстра каналов!"_w);
    EXPECT_EQ(messages[0].caption, "Error!");
    EXPECT_EQ(messages[0].buttons, ui::Buttons::Ok);
    EXPECT_EQ(messages[0].icon, ui::Icon::None);
}

TEST_F(TemplateCommand, ARefusedTemplateIsToldAsSuchAndTheDialogComesBackWithItsEntries) {
    for (const char* bad : {"%s", "Ch%d_%d", "%f", "%n", "%*d"})
        confirmWith(bad, 2, 3, 7);
    // The sixth showing still holds what was entered; the user corrects it.
    Script::current().extraNew.push_back([](scripted::ExtraNew& v) {
        EXPECT_EQ(v.templ, "%*d");
        EXPECT_EQ(v.first, 2);
        EXPECT_EQ(v.freq, 7);
        v.templ = "Ch%d";
        return true;
    });
    AddChannelsFromTemplate();
    EXPECT_EQ(names(), (std::vector<std::string>{"existing", "Ch2", "Ch3"}));
    EXPECT_EQ(ops(), (std::vector<std::string>{"lockchanges", "addchannel", "addchannel",
                                               "unlockchanges"}));
    ASSERT_EQ(messages.size(), 5u);
    for (const auto& message : messages)
        EXPECT_EQ(message.text, "Недопустимый шаблон имени канала"_w);

    messages.clear();
    confirmWith("%s", 0, 0);
    Script::current().extraNew.push_back([](scripted::ExtraNew&) { return false; });
    AddChannelsFromTemplate(); // refused, then cancelled: nothing more
    EXPECT_EQ(plugin.channels.size(), 3u);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(TemplateCommand, LongNamesAreCut) {
    confirmWith(std::string(500, 'n') + "%d", 1, 1);
    AddChannelsFromTemplate();
    ASSERT_EQ(plugin.channels.size(), 2u);
    EXPECT_EQ(plugin.channels[1]->name, std::string(299, 'n'));
}

TEST_F(TemplateCommand, ThreeIndependentNoiseChannels) {
    Script::current().extraNew.push_back([](scripted::ExtraNew& v) {
        v.choose(kNoise);
        v.form.BitBtn1Click();
        v.templ = "N%d";
        v.first = 1;
        v.last = 3;
        return true;
    });
    Script::current().param.push_back([](scripted::Param& v) {
        v.fields[0] = "5"; // MaxLevel
        v.fields[1] = "-5";
        return true;
    });
    AddChannelsFromTemplate();
    ASSERT_EQ(plugin.channels.size(), 4u);
    std::vector<NoiseSignal*> noise;
    for (std::size_t i = 1; i < 4; ++i) {
        auto* n = dynamic_cast<NoiseSignal*>(plugin.channels[i]->signal.get());
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->MaxLevel, 5.0f);
        EXPECT_EQ(n->MinLevel, -5.0f);
        noise.push_back(n);
    }
    EXPECT_NE(noise[0], noise[1]);
    EXPECT_NE(noise[1], noise[2]);
    noise[0]->MaxLevel = 50.0f;
    EXPECT_EQ(noise[1]->MaxLevel, 5.0f);
    EXPECT_EQ(noise[2]->MaxLevel, 5.0f);
}

TEST_F(TemplateCommand, ChoosingAKindDropsEarlierParameters) {
    Script::current().extraNew.push_back([](scripted::ExtraNew& v) {
        v.choose(kLevel);
        v.form.BitBtn1Click();
        v.choose(kLevel);
        v.templ = "L";
        return true;
    });
    Script::current().param.push_back([](scripted::Param& v) {
        v.fields[0] = "9";
        return true;
    });
    AddChannelsFromTemplate();
    ASSERT_EQ(plugin.channels.size(), 2u);
    auto* level = dynamic_cast<LevelSignal*>(plugin.channels[1]->signal.get());
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->Level, 0.0f);
}

TEST_F(TemplateCommand, ResultsOfAnUnconfirmedDialogStayAsTheyWere) {
    TTExtraNew dialog;
    dialog.templateSignal = std::make_unique<SawSignal>();
    Script::current().extraNew.push_back([](scripted::ExtraNew& v) {
        EXPECT_EQ(v.kind, kSaw);
        v.templ = "zz";
        v.first = 4;
        return false;
    });
    EXPECT_FALSE(dialog.AskTemplate());
    EXPECT_EQ(dialog.first, 0);
    EXPECT_EQ(dialog.templ, "");
    // A view whose numbers stray out of range is held to the spin boxes' ranges.
    Script::current().extraNew.push_back([](scripted::ExtraNew& v) {
        v.first = -5;
        v.last = 1 << 30;
        v.freq = 99999;
        return true;
    });
    EXPECT_TRUE(dialog.AskTemplate());
    EXPECT_EQ(dialog.first, 0);
    EXPECT_EQ(dialog.last, 1000);
    EXPECT_EQ(dialog.frequency, 1000.0f);
}
