// The edit protocol of the basic kinds, driven through scripted views.
#include "Editors.h"
#include "ParamView.h"
#include "Ulevelfrm.h"
#include "Unoisefrm.h"
#include "Usawfrm.h"
#include "Usinusfrm.h"
#include "Utypes.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <vector>

using namespace platform::literals;
using namespace tolvex;

namespace {

// What the scripted dialog saw and what it answers.
struct Script {
    std::map<int, std::string> shown; // field texts set before showing
    std::map<int, std::string> typed; // field texts the "user" leaves
    std::vector<int> readOrder;       // fields read back, in order
    bool ok = true;
    int shows = 0;
    int views = 0;
    bool throwOnShow = false;
    ParamDialog kind = ParamDialog::Level;
    std::string caption;
};

class ScriptedView final : public ParamView {
public:
    explicit ScriptedView(Script& s) : s_(s) { ++s_.views; }
    ~ScriptedView() override { --s_.views; }
    void setFieldText(int index, const std::string& text) override {
        EXPECT_EQ(s_.shows, 0) << "fields are filled before the dialog is shown";
        s_.shown[index] = text;
    }
    std::string fieldText(int index) const override {
        s_.readOrder.push_back(index);
        auto it = s_.typed.find(index);
        return it != s_.typed.end() ? it->second : s_.shown[index];
    }
    bool showModal() override {
        ++s_.shows;
        if (s_.throwOnShow)
            throw std::runtime_error("toolkit failure");
        return s_.ok;
    }

private:
    Script& s_;
};

class Edit : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setDecimalSeparator(',');
        installEditors();
        for (ParamDialog d :
             {ParamDialog::Level, ParamDialog::Sinus, ParamDialog::Saw, ParamDialog::Noise})
            setParamViewMaker(d, [this](TParamFrm& frm) {
                script.kind = frm.kind();
                script.caption = frm.layout().caption;
                return std::make_unique<ScriptedView>(script);
            });
    }
    void TearDown() override {
        for (ParamDialog d :
             {ParamDialog::Level, ParamDialog::Sinus, ParamDialog::Saw, ParamDialog::Noise})
            setParamViewMaker(d, nullptr);
        platform::setDecimalSeparator(0);
        setSignalEditors({});
        EXPECT_EQ(script.views, 0) << "the dialog is destroyed in every case";
    }
    Script script;
};

} // namespace

TEST_F(Edit, FieldsShowTheParametersInDisplayOrder) {
    SineSignal sine;
    sine.freq = 0.1f;
    script.ok = false;
    EXPECT_FALSE(sine.edit());
    EXPECT_EQ(script.kind, ParamDialog::Sinus);
    EXPECT_EQ(script.caption, "Синус"_w);
    EXPECT_EQ(script.shown,
              (std::map<int, std::string>{{0, "0,100000001490116"}, {1, "-100"}, {2, "100"}}));
    EXPECT_TRUE(script.readOrder.empty()) << "a cancelled dialog is not read";

    SawSignal saw;
    saw.Period = 2.5f;
    script = {};
    script.ok = false;
    EXPECT_FALSE(saw.edit());
    EXPECT_EQ(script.shown, (std::map<int, std::string>{{0, "100"}, {1, "-100"}, {2, "2,5"}}));
    EXPECT_EQ(script.caption, "Пила"_w);

    NoiseSignal noisy;
    script = {};
    script.ok = false;
    EXPECT_FALSE(noisy.edit());
    EXPECT_EQ(script.shown, (std::map<int, std::string>{{0, "100"}, {1, "-100"}}));
    EXPECT_EQ(script.caption, "Белый Шум"_w);
}

TEST_F(Edit, OkReadsEveryFieldInTheKindsOrder) {
    LevelSignal level;
    script.typed = {{0, " 2,5 "}};
    EXPECT_TRUE(level.edit());
    EXPECT_EQ(level.Level, 2.5f);
    EXPECT_EQ(script.readOrder, (std::vector<int>{0}));
    EXPECT_EQ(script.shows, 1);

    SineSignal sine;
    script = {};
    script.typed = {{0, "50"}, {1, "-1"}, {2, "1"}};
    EXPECT_TRUE(sine.edit());
    EXPECT_EQ(script.readOrder, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(sine.freq, 50.0f);
    EXPECT_EQ(sine.MinLevel, -1.0f);
    EXPECT_EQ(sine.MaxLevel, 1.0f);

    SawSignal saw;
    script = {};
    script.typed = {{0, "7"}, {1, "3"}, {2, "0,1"}};
    EXPECT_TRUE(saw.edit());
    EXPECT_EQ(script.readOrder, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(saw.MaxLevel, 7.0f);
    EXPECT_EQ(saw.MinLevel, 3.0f);
    EXPECT_EQ(saw.Period, 0.1f);

    NoiseSignal noisy;
    script = {};
    script.typed = {{0, "9"}, {1, "-9"}};
    EXPECT_TRUE(noisy.edit());
    EXPECT_EQ(script.readOrder, (std::vector<int>{1, 0}));
    EXPECT_EQ(noisy.MaxLevel, 9.0f);
    EXPECT_EQ(noisy.MinLevel, -9.0f);
}

TEST_F(Edit, ReadingStopsAtTheFirstTextThatIsNotANumber) {
    SineSignal sine;
    script.typed = {{0, "25"}, {1, "word"}, {2, "1"}};
    EXPECT_FALSE(sine.edit());
    EXPECT_EQ(sine.freq, 25.0f);
    EXPECT_EQ(sine.MinLevel, -100.0f);
    EXPECT_EQ(sine.MaxLevel, 100.0f);
    EXPECT_EQ(script.readOrder, (std::vector<int>{0, 1}));

    SawSignal saw;
    script = {};
    script.typed = {{0, "7"}, {1, "2.5"}, {2, "4"}}; // a point under a comma locale
    EXPECT_FALSE(saw.edit());
    EXPECT_EQ(saw.Period, 4.0f);
    EXPECT_EQ(saw.MinLevel, -100.0f);
    EXPECT_EQ(saw.MaxLevel, 100.0f);

    NoiseSignal noisy;
    script = {};
    script.typed = {{0, "5"}, {1, ""}};
    EXPECT_FALSE(noisy.edit());
    EXPECT_EQ(noisy.MinLevel, -100.0f);
    EXPECT_EQ(noisy.MaxLevel, 100.0f);

    LevelSignal level;
    level.Level = 3;
    script = {};
    script.typed = {{0, "1,2,3"}};
    EXPECT_FALSE(level.edit());
    EXPECT_EQ(level.Level, 3.0f);
}

TEST_F(Edit, CancelAFailingViewOrNoViewChangesNothing) {
    SineSignal sine;
    script.ok = false;
    script.typed = {{0, "1"}, {1, "2"}, {2, "3"}};
    EXPECT_FALSE(sine.edit());
    EXPECT_EQ(sine.freq, 10.0f);

    script = {};
    script.throwOnShow = true;
    EXPECT_FALSE(sine.edit());
    EXPECT_EQ(sine.freq, 10.0f);

    setParamViewMaker(ParamDialog::Sinus, nullptr);
    EXPECT_FALSE(sine.edit());
    setParamViewMaker(ParamDialog::Sinus, [](TParamFrm&) { return std::unique_ptr<ParamView>(); });
    EXPECT_FALSE(sine.edit());
    EXPECT_EQ(sine.freq, 10.0f);
    EXPECT_EQ(sine.MinLevel, -100.0f);
}

TEST_F(Edit, LayoutsNameEveryField) {
    EXPECT_EQ(paramDialogLayout(ParamDialog::Level).fieldCount, 1);
    EXPECT_STREQ(paramDialogLayout(ParamDialog::Level).labels[0], "Значение подаваемого сигнала"_w);
    EXPECT_STREQ(paramDialogLayout(ParamDialog::Sinus).labels[0], "Частота"_w);
    EXPECT_STREQ(paramDialogLayout(ParamDialog::Saw).labels[2], "Период, сек"_w);
    EXPECT_STREQ(paramDialogLayout(ParamDialog::Noise).labels[0], "Макимальный уровень"_w);
    EXPECT_EQ(paramDialogLayout(ParamDialog::Noise).labels[2], nullptr);
}
