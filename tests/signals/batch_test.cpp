// The batch path (fill) against value sample by sample, bit for bit: every
// kind, nesting and parameter edge, run lengths across the chunk edges, on
// every instruction set this machine runs; the noise generator's state after.
#include "Kernels.h"
#include "Utypes.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using namespace tolvex;

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
const float kNaN = std::nanf("");

template <class T> auto bitsOf(T v) {
    std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t> bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

std::unique_ptr<Signal> level(float v) {
    auto s = std::make_unique<LevelSignal>();
    s->Level = v;
    return s;
}

std::unique_ptr<Signal> sine(float freq, float minLevel = -100.0f, float maxLevel = 100.0f) {
    auto s = std::make_unique<SineSignal>();
    s->freq = freq;
    s->MinLevel = minLevel;
    s->MaxLevel = maxLevel;
    return s;
}

std::unique_ptr<Signal> saw(float period, float minLevel = -100.0f, float maxLevel = 100.0f) {
    auto s = std::make_unique<SawSignal>();
    s->Period = period;
    s->MinLevel = minLevel;
    s->MaxLevel = maxLevel;
    return s;
}

std::unique_ptr<Signal> noisy(float minLevel = -100.0f, float maxLevel = 100.0f) {
    auto s = std::make_unique<NoiseSignal>();
    s->MinLevel = minLevel;
    s->MaxLevel = maxLevel;
    return s;
}

std::unique_ptr<CompositeSignal> sum(std::vector<std::unique_ptr<Signal>> parts) {
    auto s = std::make_unique<CompositeSignal>();
    s->parts = std::move(parts);
    return s;
}

template <class... P> std::vector<std::unique_ptr<Signal>> list(P... parts) {
    std::vector<std::unique_ptr<Signal>> all;
    (all.push_back(std::move(parts)), ...);
    return all;
}

struct Case {
    std::string name;
    std::unique_ptr<Signal> signal;
};

std::vector<Case> cases() {
    float negativeNaN = -kNaN;
    std::vector<Case> all;
    all.push_back({"level 5", level(5.0f)});
    all.push_back({"level -0", level(-0.0f)});
    all.push_back({"level -NaN", level(negativeNaN)});
    all.push_back({"level inf", level(-kInf)});
    all.push_back({"sine default", sine(10.0f)});
    all.push_back({"sine 1 kHz", sine(1000.0f, -3.0f, 7.5f)});
    all.push_back({"sine freq 0", sine(0.0f)});
    all.push_back({"sine negative freq", sine(-37.5f)});
    all.push_back({"sine freq NaN", sine(kNaN)});
    all.push_back({"sine freq inf", sine(kInf)});
    all.push_back({"sine freq huge", sine(3e38f)});
    all.push_back({"sine freq tiny", sine(1e-40f)});
    all.push_back({"sine inverted", sine(50.0f, 10.0f, -10.0f)});
    all.push_back({"sine flat", sine(50.0f, 4.0f, 4.0f)});
    all.push_back({"sine -0 levels", sine(50.0f, -0.0f, -0.0f)});
    all.push_back({"sine max inf", sine(50.0f, -1.0f, kInf)});
    all.push_back({"sine min NaN", sine(50.0f, kNaN, 1.0f)});
    all.push_back({"sine wide", sine(1234.5f, -FLT_MAX, FLT_MAX)});
    all.push_back({"saw default", saw(1.0f)});
    all.push_back({"saw short", saw(2.5e-5f)});
    all.push_back({"saw tiny", saw(1e-45f)});
    all.push_back({"saw 0", saw(0.0f)});
    all.push_back({"saw negative", saw(-0.003f)});
    all.push_back({"saw NaN", saw(kNaN)});
    all.push_back({"saw inf", saw(kInf)});
    all.push_back({"saw NaN level", saw(0.001f, kNaN, 2.0f)});
    all.push_back({"noise default", noisy()});
    all.push_back({"noise flat", noisy(7.0f, 7.0f)});
    all.push_back({"noise inverted", noisy(5.0f, -1e30f)});
    all.push_back({"noise inf", noisy(-kInf, 1.0f)});
    all.push_back({"sum empty", sum(list())});
    all.push_back({"sum of three", sum(list(sine(10.0f), saw(1.0f), level(0.0f)))});
    all.push_back({"sum of noises", sum(list(noisy(-1.0f, 1.0f), sine(333.0f), noisy()))});
    all.push_back(
        {"sum nested",
         sum(list(noisy(0.0f, 3.0f), sum(list(sine(60.0f, -1e-3f, 1e-3f), noisy(), saw(0.01f))),
                  sine(60.0f, 1e6f, -1e6f), sum(list())))});
    all.push_back({"sum with NaN", sum(list(sine(kNaN), level(1.0f)))});
    return all;
}

struct RunShape {
    std::uint64_t first;
    std::size_t count;
};

// Single samples, the kernels' and the composite's chunk edges, late runs, and
// a run that crosses the last index exact as a double.
const RunShape kRuns[] = {{0, 1},
                          {0, 7},
                          {0, 255},
                          {0, 513},
                          {1000, 1300},
                          {123456789, 257},
                          {(1ull << 40) + 3, 600},
                          {(1ull << 53) - 100, 300}};

const double kFrequencies[] = {216000.0, 10000.0,      1.0,
                               0.1f,     0.0,          -1000.0,
                               1e-40f,   std::nan(""), std::numeric_limits<double>::infinity()};

// Compares fill with value over one run, from one generator state.
template <class T>
void expectSameRun(const Signal& signal, std::uint64_t first, std::size_t n, double frequency,
                   const std::string& what) {
    std::vector<T> expected(n);
    std::vector<T> actual(n, T(12345));
    noise::reset(0xDEADBEEFu);
    for (std::size_t i = 0; i < n; ++i) {
        const double v = signal.value(static_cast<double>(first + i) / frequency);
        if constexpr (sizeof(T) == 4)
            expected[i] = roundToFloat(v);
        else
            expected[i] = v;
    }
    const std::uint32_t stateAfter = noise::state();
    noise::reset(0xDEADBEEFu);
    signal.fill(actual.data(), first, n, frequency);
    EXPECT_EQ(noise::state(), stateAfter) << what;
    for (std::size_t i = 0; i < n; ++i)
        if (bitsOf(actual[i]) != bitsOf(expected[i])) {
            ADD_FAILURE() << what << ": sample " << first + i << " is " << actual[i]
                          << ", value gives " << expected[i];
            return;
        }
}

class Batch : public ::testing::TestWithParam<kernels::Isa> {
protected:
    void SetUp() override {
        if (!kernels::activate(GetParam()))
            GTEST_SKIP() << "no such kernels on this machine";
    }
    void TearDown() override { kernels::activate(kernels::detectIsa()); }
};

TEST_P(Batch, EveryKindAndEdgeEqualsValueBitForBit) {
    for (const Case& c : cases())
        for (double frequency : kFrequencies)
            for (const RunShape& run : kRuns) {
                const std::string what = c.name + " at " + std::to_string(frequency) + " Hz from " +
                                         std::to_string(run.first) + " for " +
                                         std::to_string(run.count);
                expectSameRun<float>(*c.signal, run.first, run.count, frequency,
                                     what + " (floats)");
                expectSameRun<double>(*c.signal, run.first, run.count, frequency,
                                      what + " (doubles)");
            }
}

// Long runs of sines, and the arguments where the sine works hardest: every
// sample next to a multiple of pi/2 (a quarter hertz sampled once a second),
// and runs whose arguments cross from the vectorised reduction to the wide one
// within one kernel call.
TEST_P(Batch, LongAndHardSineRunsEqualValue) {
    const auto wide = sine(997.0f, -1e4f, 3.0f);
    const auto part = sum(list(sine(49.5f, -1.0f, 1.0f), level(1e-7f), sine(3.0f, 0.0f, 1e-3f)));
    for (std::uint64_t first : {0ull, 21600000ull, 864000000000ull}) {
        expectSameRun<float>(*wide, first, 400000, 216000.0, "wide sine");
        expectSameRun<float>(*part, first, 100000, 216000.0, "sum of sines");
    }
    const auto quarter = sine(0.25f, -1.0f, 1.0f);
    for (std::uint64_t first : {0ull, 1ull << 20, 170000000ull, 1ull << 40}) {
        expectSameRun<double>(*quarter, first, 5000, 1.0, "quarter hertz");
        expectSameRun<float>(*quarter, first, 5000, 1.0, "quarter hertz");
    }
    // 2^28 = (1000 * 2) * pi * k / 216000 at k = 9228131220.3
    const auto fast = sine(1000.0f, -5.0f, 5.0f);
    for (std::uint64_t first : {9228131220ull - 300, 9228131220ull - 1000}) {
        expectSameRun<double>(*fast, first, 1400, 216000.0, "across the wide reduction");
        expectSameRun<float>(*fast, first, 1400, 216000.0, "across the wide reduction");
    }
}

// A run cut anywhere gives the same samples and leaves the generator where
// one call would: what Generate relies on when it fills a block in pieces.
TEST_P(Batch, PiecesOfARunEqualTheWholeRun) {
    const auto signal = sum(list(noisy(), sine(50.0f), sum(list(noisy(-1.0f, 1.0f), saw(0.002f)))));
    std::vector<float> whole(3000);
    noise::reset(77u);
    signal->fill(whole.data(), 5, whole.size(), 48000.0);
    const std::uint32_t after = noise::state();
    std::vector<float> pieces(whole.size());
    noise::reset(77u);
    std::size_t done = 0;
    for (std::size_t piece = 1; done < pieces.size(); piece = piece * 3 + 1) {
        const std::size_t m = std::min(piece, pieces.size() - done);
        signal->fill(pieces.data() + done, 5 + done, m, 48000.0);
        done += m;
    }
    EXPECT_EQ(noise::state(), after);
    EXPECT_EQ(std::memcmp(whole.data(), pieces.data(), whole.size() * sizeof(float)), 0);
}

INSTANTIATE_TEST_SUITE_P(Kernels, Batch,
                         ::testing::Values(kernels::Isa::Portable, kernels::Isa::Avx2,
                                           kernels::Isa::Avx512),
                         [](const auto& p) {
                             switch (p.param) {
                             case kernels::Isa::Avx2:
                                 return std::string("AVX2");
                             case kernels::Isa::Avx512:
                                 return std::string("AVX512");
                             default:
                                 return std::string("Portable");
                             }
                         });

// The sine's bits over three million arguments (random bit patterns of every
// magnitude with NaN and infinities, arguments below 10^9, and the formula's
// arguments), folded into one hash: the value below is the Linux x86-64
// build's, and every platform and compiler must give the same.
TEST(SineBits, AreTheSameOnEveryPlatform) {
    std::uint64_t hash = 1469598103934665603u;
    std::uint64_t state = 88172645463325252u;
    for (int i = 0; i < 3000000; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        double x = 0.0;
        if (i % 3 == 0)
            std::memcpy(&x, &state, sizeof x);
        else if (i % 3 == 1)
            x = static_cast<double>(state >> 11) * 0x1p-53 * 1e9;
        else
            x = kernels::sineFormOf(static_cast<float>(static_cast<double>(state >> 40) * 1e-3),
                                    -1.0f, 1.0f)
                    .omega *
                (static_cast<double>(state >> 30) / 216000.0);
        hash = (hash ^ bitsOf(kernels::sine(x))) * 1099511628211u;
    }
    EXPECT_EQ(hash, 0x776ae67bef0853b9u);
}

TEST(NoiseJump, EqualsStepping) {
    std::uint32_t state = 0x12345678u;
    for (std::uint64_t steps = 0; steps < 70; ++steps) {
        EXPECT_EQ(kernels::jumpOf(steps).apply(0x12345678u), state) << steps;
        state = state * 22695477u + 1u;
    }
    // The period is 2^32 steps.
    EXPECT_EQ(kernels::jumpOf((1ull << 32) + 5).apply(9u), kernels::jumpOf(5).apply(9u));
}

TEST(RoundToFloat, IsTheIeeeConversionWithOneNaN) {
    // FLT_MAX = 2^128 - 2^104; halfway to the next step is 2^128 - 2^103.
    const double fltMax = static_cast<double>(FLT_MAX);
    EXPECT_EQ(roundToFloat(fltMax + 0x1p103 - 0x1p78), FLT_MAX);
    EXPECT_EQ(roundToFloat(-(fltMax + 0x1p103 - 0x1p78)), -FLT_MAX);
    EXPECT_EQ(roundToFloat(fltMax + 0x1p103), kInf); // a tie goes to even: infinity
    EXPECT_EQ(roundToFloat(-1e300), -kInf);
    EXPECT_EQ(roundToFloat(0.1), 0.1f);
    EXPECT_EQ(bitsOf(roundToFloat(-std::nan(""))), 0x7FC00000u);
}

} // namespace

// A 1 kHz sine at 216 kHz, 100 s after the start: with a float time, 39 % of
// the samples repeated their predecessor; with t = k / F in double none does.
TEST(ExactTime, LateSamplesOfAFastSineNeverRepeat) {
    const auto fast = sine(1000.0f);
    std::vector<float> samples(216000);
    fast->fill(samples.data(), 216000ull * 100, samples.size(), 216000.0);
    std::size_t repeats = 0;
    for (std::size_t i = 1; i < samples.size(); ++i)
        repeats += samples[i] == samples[i - 1] ? 1 : 0;
    EXPECT_EQ(repeats, 0u);
}
