// Generation on the settable clock: blocks, sample times, restarts, rebinding
// and exactness at long uptimes.
#include "Fixture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

using namespace testing_tolvex;
using tolvex::CVirtualChannel;
using tolvex::roundToFloat;

namespace {

// A signal that checks the time of every sample it is asked for: the k-th
// call since the last reset must come with t = k / F, exactly in double.
class TimeCheck final : public tolvex::Signal {
public:
    explicit TimeCheck(float f) : frequency(f) {}
    float frequency;
    mutable std::uint64_t calls = 0;
    mutable std::uint64_t wrong = 0;

    bool edit() override { return false; }
    double value(double t) const override {
        if (t != static_cast<double>(calls) / static_cast<double>(frequency))
            ++wrong;
        ++calls;
        return static_cast<double>(calls);
    }
    std::string kindName() const override { return "check"; }
    std::string description() const override { return "check"; }
    std::unique_ptr<tolvex::Signal> clone() const override {
        return std::make_unique<TimeCheck>(frequency);
    }
    void save(tolvex::TIniFile&, const std::string&) const override {}
    void load(tolvex::TIniFile&, const std::string&) override {}
    void range(float& upper, float& lower) const override { upper = lower = 0; }
};

class Generation : public TolvexTest {
protected:
    // A registered, bound channel at `frequency` with host block length `block`.
    CVirtualChannel& boundChannel(float frequency, std::int32_t block,
                                  std::unique_ptr<tolvex::Signal> signal = nullptr) {
        CVirtualChannel& channel = addChannel("Chan", frequency, std::move(signal));
        host.channel("Chan")->setBlockLength(block);
        plugin->notify(PN_UPDATECHANNELS, 0);
        return channel;
    }
    host::HostChannel& hostChannel() { return *host.channel("Chan"); }
    void tick(std::uint64_t ms) {
        platform::advanceTestTicks(ms);
        tolvex::mainForm(*plugin)->Timer1Timer();
    }
};

} // namespace

TEST(ClockPosition, IsExactForIntegralAndFractionalFrequencies) {
    using tolvex::clockPosition;
    EXPECT_EQ(clockPosition(0, 1000.0f), 0u);
    EXPECT_EQ(clockPosition(4294967296ull, 1000.0f), 4294967296ull);     // past the 32-bit wrap
    EXPECT_EQ(clockPosition(2592000000ull, 216000.0f), 559872000000ull); // 30 days
    EXPECT_EQ(clockPosition(1000, 2.5f), 2u);
    EXPECT_EQ(clockPosition(1399, 2.5f), 3u);
    EXPECT_EQ(clockPosition(1400, 2.5f), 3u);
    // 0.1f is slightly above 0.1: 13421773 * 2^-27
    EXPECT_EQ(clockPosition(10000000000ull, 0.1f), 1000000u);
    EXPECT_EQ(clockPosition(9999999000ull, 0.1f), 999999u);
    EXPECT_EQ(clockPosition(1ull << 40, 44100.0f), (1ull << 40) * 441 / 10);
}

#ifdef __SIZEOF_INT128__
// The portable 128-bit arithmetic gives what the compiler's 128-bit type gave,
// over the whole range of ticks and frequencies.
TEST(ClockPosition, AgreesWithTheCompilers128BitArithmetic) {
    __extension__ using u128 = unsigned __int128;
    auto reference = [](std::uint64_t ticks, float frequency) -> std::uint64_t {
        int exponent = 0;
        const float fraction = std::frexp(frequency, &exponent);
        const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 24));
        exponent -= 24;
        const u128 product = static_cast<u128>(ticks) * mantissa;
        u128 position = 0;
        if (exponent >= 0) {
            if (exponent >= 40)
                return ~0ull;
            position = (product << exponent) / 1000u;
        } else {
            position = -exponent >= 128 ? 0 : (product / 1000u) >> -exponent;
        }
        return position > ~0ull ? ~0ull : static_cast<std::uint64_t>(position);
    };
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t ticks = random() >> (random() % 64);
        std::uint32_t bits = static_cast<std::uint32_t>(random()) & 0x7F7FFFFFu; // finite, >= 0
        float frequency = 0.0f;
        std::memcpy(&frequency, &bits, sizeof frequency);
        if (!(frequency > 0.0f) || ticks == 0)
            continue;
        ASSERT_EQ(tolvex::clockPosition(ticks, frequency), reference(ticks, frequency))
            << ticks << " ms at " << frequency << " Hz";
    }
}
#endif

TEST(ClockPosition, NoNumberOrNonPositiveGivesZeroAndHugeSaturates) {
    using tolvex::clockPosition;
    EXPECT_EQ(clockPosition(123456, 0.0f), 0u);
    EXPECT_EQ(clockPosition(123456, -5.0f), 0u);
    EXPECT_EQ(clockPosition(123456, std::nanf("")), 0u);
    EXPECT_EQ(clockPosition(~0ull, 3e38f), ~0ull);
    EXPECT_EQ(clockPosition(~0ull, 1e-40f), 0u);             // a denormal frequency
    EXPECT_EQ(clockPosition(~0ull, 1e-3f), 18446744949882u); // 1e-3f is a little above 1e-3
}

TEST_F(Generation, ThousandHertzInBlocksOfHundredWithExactTimes) {
    CVirtualChannel& channel = boundChannel(1000.0f, 100);
    plugin->notify(PN_RCSTART, 0);
    tick(300);
    EXPECT_EQ(channel.producedSinceStart(), 300u);
    ASSERT_EQ(hostChannel().stats().blocks, 3u);
    const auto& samples = hostChannel().samples();
    ASSERT_EQ(samples.size(), 300u);
    tolvex::SineSignal sine;
    for (std::size_t k = 0; k < samples.size(); ++k)
        ASSERT_EQ(samples[k], roundToFloat(sine.value(static_cast<double>(k) / 1000.0))) << k;
    tick(250);
    EXPECT_EQ(hostChannel().stats().blocks, 5u); // 550 made, 50 waiting in the block
    EXPECT_EQ(channel.blockPosition(), 50);
}

TEST_F(Generation, OneHertzHandsABlockOfTenEveryTenSeconds) {
    boundChannel(1.0f, 10);
    plugin->notify(PN_RCSTART, 0);
    for (int i = 0; i < 33; ++i) // 9.9 s
        tick(300);
    EXPECT_EQ(hostChannel().stats().blocks, 0u);
    tick(100); // 10 s after the start
    EXPECT_EQ(hostChannel().stats().blocks, 1u);
    EXPECT_EQ(hostChannel().samples().size(), 10u);
}

TEST_F(Generation, FractionalFrequencyMakesEveryDueSampleOnce) {
    CVirtualChannel& channel = boundChannel(2.5f, 1, std::make_unique<TimeCheck>(2.5f));
    platform::setTestTicks(1300); // position 3.25 at the start
    plugin->notify(PN_RCSTART, 0);
    std::uint64_t made = 0;
    for (int i = 0; i < 40; ++i) {
        tick(300);
        const std::uint64_t ticks = 1300 + 300ull * static_cast<unsigned>(i + 1);
        // due = floor(T * 2.5 / 1000) - floor(1300 * 2.5 / 1000)
        const std::uint64_t due = ticks * 25 / 10000 - 3;
        ASSERT_EQ(channel.producedSinceStart(), due) << i;
        made = due;
    }
    EXPECT_EQ(hostChannel().samples().size(), made);
    EXPECT_EQ(dynamic_cast<const TimeCheck&>(*channel.signal).wrong, 0u);
}

TEST_F(Generation, SecondStartRestartsTimeAndOverwritesThePartialBlock) {
    CVirtualChannel& channel = boundChannel(1000.0f, 100, std::make_unique<tolvex::LevelSignal>());
    plugin->notify(PN_RCSTART, 0);
    tick(150);
    ASSERT_EQ(hostChannel().stats().blocks, 1u);
    channel.signal = std::make_unique<TimeCheck>(1000.0f);
    platform::advanceTestTicks(5000); // due while restarting; never made
    plugin->notify(PN_RCSTART, 0);
    EXPECT_EQ(channel.producedSinceStart(), 0u);
    tick(100);
    ASSERT_EQ(hostChannel().stats().blocks, 2u);
    // The second block holds the 100 samples since the second start only.
    const auto& samples = hostChannel().samples();
    for (std::size_t k = 0; k < 100; ++k)
        ASSERT_EQ(samples[100 + k], static_cast<float>(k + 1)) << k;
    EXPECT_EQ(dynamic_cast<const TimeCheck&>(*channel.signal).wrong, 0u);
}

TEST_F(Generation, StoppedChannelMakesNothingAndBindingTakesTheHostFrequency) {
    CVirtualChannel& channel = addChannel("Chan", 500.0f);
    host.channel("Chan")->setfrequency(200.0);
    plugin->notify(PN_UPDATECHANNELS, 0);
    EXPECT_EQ(channel.frequency, 200.0f);
    tick(1000); // never started
    EXPECT_EQ(hostChannel().stats().samples, 0u);
    plugin->notify(PN_RCSTART, 0);
    tick(1000);
    plugin->notify(PN_RCSTOP, 0);
    EXPECT_FALSE(tolvex::mainForm(*plugin)->view().timerEnabled(tolvex::WindowTimer::Generation));
    EXPECT_EQ(hostChannel().stats().samples, 200u);
}

TEST_F(Generation, RebindingDuringGenerationDropsTheBlockWithoutBurstOrGap) {
    CVirtualChannel& channel = boundChannel(1000.0f, 100, std::make_unique<TimeCheck>(1000.0f));
    plugin->notify(PN_RCSTART, 0);
    tick(250); // two blocks, 50 waiting
    host.channel("Chan")->setBlockLength(30);
    plugin->notify(PN_UPDATECHANNELS, 0);
    EXPECT_EQ(channel.blockLength(), 30);
    EXPECT_EQ(channel.blockPosition(), 0);
    tick(90);
    EXPECT_EQ(hostChannel().stats().blocks, 5u);
    EXPECT_EQ(channel.producedSinceStart(), 340u);

    // A new host frequency: the count so far stays, the clock runs at 500 Hz.
    host.channel("Chan")->setfrequency(500.0);
    plugin->notify(PN_UPDATECHANNELS, 0);
    tick(300);
    EXPECT_EQ(channel.producedSinceStart(), 340u + 150u);
}

TEST_F(Generation, RebindingWithTheSameBlockLengthKeepsTheWaitingSamples) {
    CVirtualChannel& channel = boundChannel(1000.0f, 100, std::make_unique<TimeCheck>(1000.0f));
    plugin->notify(PN_RCSTART, 0);
    tick(250);                      // two blocks, 50 waiting
    host.addChannel("Other", 10.0); // the host's channel set changes
    plugin->notify(PN_UPDATECHANNELS, 0);
    EXPECT_EQ(channel.blockPosition(), 50);
    tick(50);
    const auto& samples = hostChannel().samples();
    ASSERT_EQ(samples.size(), 300u);
    for (std::size_t k = 0; k < samples.size(); ++k)
        ASSERT_EQ(samples[k], static_cast<float>(k + 1)) << k; // no sample lost or repeated
}

// A stall shorter than the lag limit: every due sample is made on the next
// step. A longer one: the channel skips ahead to its clock, makes nothing
// owed from before, and the run's end says so in the host's log.
TEST_F(Generation, AStallWithinTheLagLimitLosesNothingALongerOneSkipsAhead) {
    host.options().recordCalls = false;
    host.options().keepSamples = false;
    CVirtualChannel& channel =
        boundChannel(216000.0f, 2160, std::make_unique<tolvex::LevelSignal>());
    plugin->notify(PN_RCSTART, 0);
    tick(2000);
    EXPECT_EQ(channel.producedSinceStart(), 432000u);
    EXPECT_EQ(channel.skippedSinceStart(), 0u);
    EXPECT_EQ(hostChannel().stats().blocks, 200u);

    tick(78000);
    EXPECT_EQ(channel.producedSinceStart(), 216000u * 80u);
    EXPECT_EQ(channel.skippedSinceStart(), 216000u * 78u);
    EXPECT_EQ(hostChannel().stats().blocks, 200u);
    tick(300); // from the clock on, as before
    EXPECT_EQ(hostChannel().stats().blocks, 230u);
    EXPECT_TRUE(tolvexMessages(host).empty());
    plugin->notify(PN_RCSTOP, 0);
    const auto messages = tolvexMessages(host);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, host::kLogError);
    EXPECT_NE(messages[0].text.find(u"«Chan» 16848000"), std::u16string::npos);
}

TEST_F(Generation, ChannelWithoutBlockMakesNoSamples) {
    host.failOperation("channel.getproperty");
    CVirtualChannel& channel = boundChannel(1000.0f, 100);
    EXPECT_TRUE(channel.block().empty());
    plugin->notify(PN_RCSTART, 0);
    tick(3000);
    EXPECT_EQ(hostChannel().stats().samples, 0u);
    const auto ops = hostOps();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "channel.putdata"), 0);
}

TEST_F(Generation, ZeroFrequencyAtStartStaysAtPositionZero) {
    CVirtualChannel& channel = boundChannel(1000.0f, 10);
    channel.frequency = 0.0f;
    plugin->notify(PN_RCSTART, 0);
    tick(3000);
    EXPECT_EQ(channel.producedSinceStart(), 0u);
}

namespace {

// Runs `ticks` steps of 300 ms at 216000 Hz from `startTicks` and checks each
// step's count and every sample's time.
void runAtHighRate(TolvexTest& test, tolvex::CTolvex& plugin, host::Host& host,
                   std::uint64_t startTicks, int ticks) {
    (void)test;
    platform::setTestTicks(startTicks);
    auto check = std::make_unique<TimeCheck>(216000.0f);
    const TimeCheck* signal = check.get();
    CVirtualChannel& channel = *plugin.channels.front();
    channel.signal = std::move(check);
    plugin.notify(PN_RCSTART, 0);
    std::uint64_t before = 0;
    for (int i = 0; i < ticks; ++i) {
        platform::advanceTestTicks(300);
        tolvex::mainForm(plugin)->Timer1Timer();
        const std::uint64_t now = channel.producedSinceStart();
        ASSERT_EQ(now - before, 64800u) << "tick " << i;
        before = now;
    }
    EXPECT_EQ(signal->calls, 64800ull * static_cast<unsigned>(ticks));
    EXPECT_EQ(signal->wrong, 0u);
    EXPECT_EQ(host.channel("Fast")->stats().blocks, static_cast<unsigned>(ticks));
}

} // namespace

TEST_F(Generation, ThirtyDaysUptimeAt216000HzStaysExactForAnHour) {
    host.options().recordCalls = false;
    host.options().keepSamples = false;
    addChannel("Fast", 216000.0f);
    host.channel("Fast")->setBlockLength(64800);
    plugin->notify(PN_UPDATECHANNELS, 0);
#if defined(__SANITIZE_ADDRESS__)
    const int ticks = 1200; // six minutes: the instrumented build is slow
#else
    const int ticks = 12000; // an hour
#endif
    runAtHighRate(*this, *plugin, host, 30ull * 24 * 3600 * 1000, ticks);
}

TEST_F(Generation, CrossingTheThirtyTwoBitTickWrapLosesNothing) {
    host.options().recordCalls = false;
    host.options().keepSamples = false;
    addChannel("Fast", 216000.0f);
    host.channel("Fast")->setBlockLength(64800);
    plugin->notify(PN_UPDATECHANNELS, 0);
    runAtHighRate(*this, *plugin, host, (1ull << 32) - 30000, 200);
}
