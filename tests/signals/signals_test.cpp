#include "TempIni.h"
#include "Utypes.h"
#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace platform::literals;
using namespace tolvex;

namespace {

class Signals : public ::testing::Test {
protected:
    void SetUp() override {
        SignalKinds::fill();
        noise::reset();
        platform::setDecimalSeparator(',');
    }
    void TearDown() override {
        SignalKinds::clear();
        platform::setDecimalSeparator(0);
    }
};

std::pair<float, float> rangeOf(const Signal& s) {
    float u = 1234;
    float l = 1234;
    s.range(u, l);
    return {u, l};
}

template <class T> T& as(Signal& s) {
    auto* p = dynamic_cast<T*>(&s);
    if (p == nullptr)
        throw std::runtime_error("unexpected kind " + platform::cp1251ToUtf8(s.kindName()));
    return *p;
}

} // namespace

TEST_F(Signals, LevelIsConstant) {
    LevelSignal level;
    level.Level = 5;
    for (float t : {0.0f, 0.5f, 1e6f, -3.0f})
        EXPECT_EQ(level.value(t), 5.0);
    EXPECT_EQ(rangeOf(level), std::make_pair(15.0f, -5.0f));
    EXPECT_EQ(level.description(), "Постоянный уровень ="_w);
    EXPECT_EQ(level.kindName(), "Уровень"_w);
}

TEST_F(Signals, SineStartsAtTheMidpointAndRises) {
    SineSignal sine;
    EXPECT_NEAR(sine.value(0), 0.0, 1e-9);
    EXPECT_NEAR(sine.value(0.025f), 100.0, 1e-3);
    EXPECT_NEAR(sine.value(0.075f), -100.0, 1e-3);
    EXPECT_EQ(rangeOf(sine), std::make_pair(120.0f, -120.0f));
    EXPECT_EQ(sine.description(), "Синус F=10  Amin=-100  Amax=100"_w);

    sine.freq = 0;
    sine.MinLevel = 2;
    sine.MaxLevel = 8;
    for (float t : {0.0f, 0.3f, 17.0f})
        EXPECT_EQ(sine.value(t), 5.0);

    SineSignal inverted;
    inverted.MinLevel = 10;
    inverted.MaxLevel = -10;
    EXPECT_NEAR(inverted.value(0), 0.0, 1e-9);
    EXPECT_NEAR(inverted.value(0.025f), -10.0, 1e-4);
    EXPECT_LT(inverted.value(0.01f), 0.0);
    EXPECT_EQ(rangeOf(inverted), std::make_pair(-12.0f, 12.0f));
    inverted.freq = 0.1f;
    EXPECT_EQ(inverted.description(), "Синус F=0,100000001490116  Amin=10  Amax=-10"_w);
}

TEST_F(Signals, SawHoldsEachLevelForOnePeriod) {
    SawSignal saw;
    EXPECT_EQ(saw.value(0), 100.0);
    EXPECT_EQ(saw.value(0.999f), 100.0);
    EXPECT_EQ(saw.value(1.0f), -100.0);
    EXPECT_EQ(saw.value(1.999f), -100.0);
    EXPECT_EQ(saw.value(2.0f), 100.0);
    EXPECT_EQ(saw.value(-1.5f), -100.0); // truncation toward zero
    EXPECT_EQ(rangeOf(saw), std::make_pair(120.0f, -120.0f));
    EXPECT_EQ(saw.description(), "Пила: Период= 1 Мин.= -100 Макс.=100"_w);

    saw.Period = 0;
    for (float t : {0.0f, 1.0f, -1.0f, 3.5f})
        EXPECT_EQ(saw.value(t), 100.0);
    saw.Period = 1e-38f; // t / Period beyond every 64-bit integer
    EXPECT_EQ(saw.value(1e30f), 100.0);
}

TEST_F(Signals, NoiseDrawsFromTheUnseededGenerator) {
    EXPECT_EQ(noise::draw(), 346u);
    EXPECT_EQ(noise::draw(), 130u);
    EXPECT_EQ(noise::draw(), 10982u);
    EXPECT_EQ(noise::draw(), 1090u);

    NoiseSignal flat;
    flat.MinLevel = 7;
    flat.MaxLevel = 7;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(flat.value(0), 7.0);

    NoiseSignal noisy;
    EXPECT_EQ(rangeOf(noisy), std::make_pair(500.0f, -500.0f));
    EXPECT_EQ(noisy.description(), "Белый шум"_w);
    noise::reset();
    double sum = 0;
    double sumSq = 0;
    const int n = 20000;
    const double first = noisy.value(0);
    EXPECT_NE(noisy.value(0), first); // every call draws anew
    for (int i = 0; i < n; ++i) {
        const double v = noisy.value(0);
        ASSERT_LE(std::fabs(v), 2.2371 * 200);
        sum += v;
        sumSq += v * v;
    }
    const double mean = sum / n;
    const double sd = std::sqrt(sumSq / n - mean * mean);
    EXPECT_NEAR(mean, 0.0, 2.0);
    EXPECT_NEAR(sd, 0.2888 * 200, 2.0);

    // The same draws give the same value: the recurrence is the state.
    noise::reset();
    EXPECT_EQ(noisy.value(0), first);
}

TEST_F(Signals, RegistryOrderAndCreateByKindName) {
    ASSERT_EQ(SignalKinds::count(), 5u);
    const char* names[] = {"Уровень"_w, "Синус"_w, "Пила"_w, "Сумма"_w, "Шум"_w};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(SignalKinds::at(i).kindName(), names[i]);
    EXPECT_THROW(SignalKinds::at(5), std::out_of_range);

    auto sine = createByKindName("Синус"_w);
    auto& s = as<SineSignal>(*sine);
    EXPECT_EQ(s.MaxLevel, 100.0f);
    EXPECT_EQ(s.MinLevel, -100.0f);
    EXPECT_EQ(s.freq, 10.0f);
    s.freq = 3; // a clone, not the prototype
    EXPECT_EQ(as<SineSignal>(*createByKindName("Синус"_w)).freq, 10.0f);

    for (const std::string& other : {std::string("Nothing"), std::string(), std::string("синус"_w),
                                     std::string("Синус"_w) + " ", std::string("Синус")}) {
        auto fallback = createByKindName(other);
        EXPECT_EQ(as<LevelSignal>(*fallback).Level, 0.0f) << other;
    }
    EXPECT_EQ(as<CompositeSignal>(*createByKindName("Сумма"_w)).parts.size(), 1u);

    SignalKinds::clear();
    EXPECT_EQ(as<LevelSignal>(*createByKindName("Синус"_w)).Level, 0.0f);
}

TEST_F(Signals, CompositeSumsItsPartsAndWidensTheRange) {
    CompositeSignal sum;
    ASSERT_EQ(sum.parts.size(), 1u);
    auto level = std::make_unique<LevelSignal>();
    level->Level = 5;
    sum.parts.insert(sum.parts.begin(), std::move(level));
    EXPECT_NEAR(sum.value(0), 5.0, 1e-6);
    EXPECT_NEAR(sum.value(0.025f), 105.0, 1e-3);
    EXPECT_EQ(rangeOf(sum), std::make_pair(161.0f, -151.0f));
    EXPECT_EQ(sum.description(), "Составной сигнал"_w);
    EXPECT_EQ(sum.kindName(), "Сумма"_w);

    CompositeSignal empty;
    empty.parts.clear();
    EXPECT_EQ(empty.value(1.0f), 0.0);
    EXPECT_EQ(rangeOf(empty), std::make_pair(0.0f, 0.0f));
    TempIni file;
    platform::TIniFile ini(file.file());
    empty.save(ini, "C");
    EXPECT_EQ(file.content(), "[C]\nPartsCount=0\n");
}

TEST_F(Signals, CloneIsDeepAndOutlivesItsSource) {
    auto source = std::make_unique<CompositeSignal>();
    auto inner = std::make_unique<CompositeSignal>();
    as<SineSignal>(*inner->parts[0]).freq = 3;
    source->parts.push_back(std::make_unique<SawSignal>());
    source->parts.push_back(std::move(inner));
    source->parts.push_back(std::make_unique<NoiseSignal>());
    TempIni a;
    TempIni b;
    platform::TIniFile iniA(a.file());
    platform::TIniFile iniB(b.file());
    source->save(iniA, "S");

    auto copy = source->clone();
    auto& c = as<CompositeSignal>(*copy);
    ASSERT_EQ(c.parts.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_NE(c.parts[i].get(), source->parts[i].get());
    EXPECT_NE(as<CompositeSignal>(*c.parts[2]).parts[0].get(),
              as<CompositeSignal>(*source->parts[2]).parts[0].get());
    EXPECT_EQ(copy->description(), source->description());
    EXPECT_EQ(rangeOf(*copy), rangeOf(*source));
    source.reset();
    copy->save(iniB, "S");
    EXPECT_EQ(b.content(), a.content());
    noise::reset();
    const double v = copy->value(0.5f);
    noise::reset();
    EXPECT_EQ(copy->value(0.5f), v);
}

TEST_F(Signals, SaveWritesTheKeysInOrderAndLoadReadsThemBack) {
    TempIni file;
    platform::TIniFile ini(file.file());
    SineSignal sine;
    sine.freq = 0.1f;
    sine.save(ini, "Chan0formula");
    SawSignal saw;
    saw.Period = 2.5f;
    saw.save(ini, "saw");
    LevelSignal level;
    level.Level = -3;
    level.save(ini, "lvl");
    NoiseSignal noisy;
    noisy.save(ini, "noise");
    EXPECT_EQ(file.content(),
              "[Chan0formula]\nMaxLevel=100\nMinLevel=-100\nfreq=0,100000001490116\n"
              "[saw]\nMaxLevel=100\nMinLevel=-100\nPeriod=2,5\n"
              "[lvl]\nLevel=-3\n"
              "[noise]\nMaxLevel=100\nMinLevel=-100\n");
    SineSignal sineBack;
    sineBack.freq = 99;
    sineBack.load(ini, "chan0FORMULA");
    EXPECT_EQ(sineBack.freq, 0.1f);
    SawSignal sawBack;
    sawBack.load(ini, "saw");
    EXPECT_EQ(sawBack.Period, 2.5f);
    LevelSignal levelBack;
    levelBack.load(ini, "lvl");
    EXPECT_EQ(levelBack.Level, -3.0f);
}

TEST_F(Signals, LoadTakesPerKeyDefaults) {
    TempIni file;
    file.put("[saw]\nMaxLevel=5\n[saw2]\nPeriod=abc\nMinLevel=\n"
             "[sine]\nfreq=ten\nMaxLevel=1e39\n");
    platform::TIniFile ini(file.file());
    SawSignal saw;
    saw.Period = 4;
    saw.MinLevel = 1;
    saw.load(ini, "saw");
    EXPECT_EQ(saw.MaxLevel, 5.0f);
    EXPECT_EQ(saw.MinLevel, -100.0f);
    EXPECT_EQ(saw.Period, 4.0f);
    saw.load(ini, "saw2");
    EXPECT_EQ(saw.MaxLevel, 100.0f);
    EXPECT_EQ(saw.Period, 4.0f);
    SineSignal sine;
    sine.freq = 1;
    sine.load(ini, "sine");
    EXPECT_EQ(sine.freq, 10.0f);
    EXPECT_TRUE(std::isinf(sine.MaxLevel)); // beyond the floats, not undefined
    SineSignal missing;
    missing.freq = 3;
    missing.load(ini, "none");
    EXPECT_EQ(missing.freq, 10.0f);
}

TEST_F(Signals, CompositeRoundTripsThroughNestedPartSections) {
    TempIni file;
    platform::TIniFile ini(file.file());
    CompositeSignal outer;
    outer.parts.clear();
    auto level = std::make_unique<LevelSignal>();
    level->Level = 5;
    outer.parts.push_back(std::move(level));
    auto inner = std::make_unique<CompositeSignal>();
    inner->parts.push_back(std::make_unique<NoiseSignal>());
    outer.parts.push_back(std::move(inner));
    outer.save(ini, "Chan1formula");
    EXPECT_EQ(file.content(),
              std::string("[Chan1formula]\nPartsCount=2\n"
                          "[Chan1formula_Part0]\nFormula=") +
                  "Уровень"_w + "\nLevel=5\n[Chan1formula_Part1]\nFormula=" + "Сумма"_w +
                  "\nPartsCount=2\n[Chan1formula_Part1_Part0]\nFormula=" + "Синус"_w +
                  "\nMaxLevel=100\nMinLevel=-100\nfreq=10\n" +
                  "[Chan1formula_Part1_Part1]\nFormula=" + "Шум"_w +
                  "\nMaxLevel=100\nMinLevel=-100\n");

    CompositeSignal back;
    back.load(ini, "Chan1formula");
    ASSERT_EQ(back.parts.size(), 2u);
    EXPECT_EQ(as<LevelSignal>(*back.parts[0]).Level, 5.0f);
    auto& nested = as<CompositeSignal>(*back.parts[1]);
    ASSERT_EQ(nested.parts.size(), 2u);
    EXPECT_EQ(as<SineSignal>(*nested.parts[0]).freq, 10.0f);
    as<NoiseSignal>(*nested.parts[1]);
    EXPECT_EQ(rangeOf(back), rangeOf(outer));
}

TEST_F(Signals, CompositeLoadFillsGapsWithLevels) {
    TempIni file;
    file.put(std::string("[c]\nPartsCount=3\n[c_Part0]\nFormula=") + "Пила"_w +
             "\nPeriod=2\n[c_Part2]\nFormula=" + "Шум"_w + "\nMaxLevel=1\n[neg]\nPartsCount=-4\n" +
             "[huge]\nPartsCount=2147483647\n[odd]\nPartsCount=1\n[odd_Part0]\nFormula=" +
             "Синус" /* UTF-8, not 1251 */ + "\nLevel=9\n");
    platform::TIniFile ini(file.file());
    CompositeSignal c;
    c.load(ini, "c");
    ASSERT_EQ(c.parts.size(), 3u);
    EXPECT_EQ(as<SawSignal>(*c.parts[0]).Period, 2.0f);
    EXPECT_EQ(as<LevelSignal>(*c.parts[1]).Level, 0.0f);
    EXPECT_EQ(as<NoiseSignal>(*c.parts[2]).MaxLevel, 1.0f);

    c.load(ini, "neg");
    EXPECT_TRUE(c.parts.empty());
    c.load(ini, "missing");
    EXPECT_TRUE(c.parts.empty());
    c.load(ini, "odd"); // an unknown kind name gives a level from that section
    ASSERT_EQ(c.parts.size(), 1u);
    EXPECT_EQ(as<LevelSignal>(*c.parts[0]).Level, 9.0f);
    c.load(ini, "huge"); // bounded, not billions of parts
    EXPECT_EQ(c.parts.size(), static_cast<std::size_t>(CompositeSignal::kMaxParts));
}

namespace {
int gEditorCalls = 0;
bool countingEditor(CompositeSignal& composite) {
    ++gEditorCalls;
    composite.parts.clear();
    return false;
}
} // namespace

TEST_F(Signals, CompositeEditGoesThroughTheEditorSeamAndAlwaysAnswersTrue) {
    CompositeSignal c;
    setSignalEditors({});
    EXPECT_TRUE(c.edit());
    EXPECT_EQ(c.parts.size(), 1u);
    SineSignal sine;
    EXPECT_FALSE(sine.edit()) << "without an editor nothing is confirmed";
    SignalEditors editors;
    editors.composite = &countingEditor;
    setSignalEditors(editors);
    EXPECT_TRUE(c.edit());
    EXPECT_EQ(gEditorCalls, 1);
    EXPECT_TRUE(c.parts.empty());
    setSignalEditors({});
}
