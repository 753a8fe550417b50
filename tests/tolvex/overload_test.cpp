// Generation steps on a machine too slow for the configuration: the host's
// hand-over of each block costs time on the settable clock, so the clock runs
// on while a step works, as it would on a busy processor.
#include "Fixture.h"

#include "platform/text.h"

#include <algorithm>

using namespace testing_tolvex;
using tolvex::CTolvex;
using tolvex::CVirtualChannel;

namespace {

constexpr float kRate = 216000.0f;
constexpr std::int32_t kBlock = 2160; // 10 ms of samples

class Overload : public TolvexTest {
protected:
    // `count` channels at 216 kHz, bound, with blocks of 10 ms.
    void addChannels(int count) {
        for (int i = 0; i < count; ++i) {
            const std::string name = "Sine " + std::to_string(i);
            addChannel(name, kRate);
            host.channel(name)->setBlockLength(kBlock);
        }
        plugin->notify(PN_UPDATECHANNELS, 0);
    }
    // Every block handed over takes `ms` of the clock.
    void setCostPerBlock(std::uint64_t ms) {
        host.setSink([ms](host::HostChannel&, const float*, std::int32_t) {
            platform::advanceTestTicks(ms);
        });
    }
    // One timer tick 300 ms after the last one ended; answers the clock time
    // the step took.
    std::uint64_t step() {
        platform::advanceTestTicks(300);
        const std::uint64_t before = platform::tickCount64();
        tolvex::mainForm(*plugin)->Timer1Timer();
        return platform::tickCount64() - before;
    }
    // Longest a step may take: its budget and the one chunk it started last.
    static std::uint64_t stepLimit() {
        const std::uint64_t blocksPerChunk = (CTolvex::kStepChunk + kBlock - 1) / kBlock + 1;
        return CTolvex::kStepBudgetMs + blocksPerChunk;
    }
};

} // namespace

// Forty channels of 216 kHz, each block costing 1 ms: six times what the
// machine can do in a third of its time. Every step still ends within its
// budget, every channel gets its share, the ones that fall too far behind
// skip ahead, and the run's end names them with the samples skipped, once.
TEST_F(Overload, StepsStayWithinTheirBudgetAndTheSkipsAreReportedOnce) {
    host.options().recordCalls = false;
    host.options().keepSamples = false;
    addChannels(40);
    setCostPerBlock(1);
    plugin->notify(PN_RCSTART, 0);
    for (int i = 0; i < 60; ++i) {
        const std::uint64_t took = step();
        ASSERT_LE(took, stepLimit()) << "step " << i;
    }
    std::uint64_t fewest = ~0ull;
    std::uint64_t most = 0;
    for (const auto& channel : plugin->channels) {
        const host::HostChannel& h = *host.channel(channel->name);
        fewest = std::min<std::uint64_t>(fewest, h.stats().samples);
        most = std::max<std::uint64_t>(most, h.stats().samples);
        // Every sample index since the start was either handed over, is
        // waiting in the block, or was skipped.
        EXPECT_EQ(channel->producedSinceStart(),
                  h.stats().samples + static_cast<std::uint64_t>(channel->blockPosition()) +
                      channel->skippedSinceStart())
            << channel->name;
        EXPECT_GT(channel->skippedSinceStart(), 0u) << channel->name;
        EXPECT_LE(channel->backlog(), 432001u) << channel->name; // never owes more than 2 s
    }
    // Turn by turn: no channel is starved by the ones before it in the list.
    EXPECT_GT(fewest, 0u);
    EXPECT_LE(most - fewest, 2u * (CTolvex::kStepChunk + kBlock));

    EXPECT_TRUE(tolvexMessages(host).empty()); // nothing during the run
    plugin->notify(PN_RCSTOP, 0);
    plugin->notify(PN_RCSTOP, 0); // a second stop ends no run
    const auto messages = tolvexMessages(host);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, host::kLogError);
    for (const auto& channel : plugin->channels) {
        const std::u16string entry =
            u"«" + platform::cp1251ToUtf16(channel->name) + u"» " +
            platform::cp1251ToUtf16(std::to_string(channel->skippedSinceStart()));
        const std::u16string& text = messages[0].text;
        EXPECT_TRUE(text.find(entry + u",") != std::u16string::npos || text.ends_with(entry))
            << channel->name;
    }

    // The next run starts with a clean slate: a light load, nothing skipped,
    // nothing reported.
    setCostPerBlock(0);
    plugin->notify(PN_RCSTART, 0);
    for (int i = 0; i < 5; ++i)
        step();
    plugin->notify(PN_RCSTOP, 0);
    EXPECT_EQ(tolvexMessages(host).size(), 1u);
}

// Three channels whose steps need 120 ms of work or more in a 100 ms budget:
// they fall behind by a little each step. Once the load goes, one step catches up and
// every sample since the start has reached the host, in order, none twice.
TEST_F(Overload, ACatchUpLosesNothing) {
    host.options().recordCalls = false;
    addChannels(3);
    setCostPerBlock(1);
    plugin->notify(PN_RCSTART, 0);
    std::uint64_t owed = 0;
    for (int i = 0; i < 12; ++i) {
        step();
        owed = 0;
        for (const auto& channel : plugin->channels)
            owed += channel->backlog();
    }
    ASSERT_GT(owed, 3u * 64800u); // more than a step's worth is carried over
    setCostPerBlock(0);
    step();
    const std::uint64_t ticks = platform::tickCount64();
    tolvex::SineSignal sine;
    std::vector<float> expected;
    for (const auto& channel : plugin->channels) {
        EXPECT_EQ(channel->backlog(), 0u) << channel->name;
        EXPECT_EQ(channel->skippedSinceStart(), 0u) << channel->name;
        // All that fell due on the clock since the start (1000 ms) was made.
        EXPECT_EQ(channel->producedSinceStart(),
                  tolvex::clockPosition(ticks, kRate) - tolvex::clockPosition(1000, kRate))
            << channel->name;
        const auto& samples = host.channel(channel->name)->samples();
        expected.resize(samples.size());
        sine.fill(expected.data(), 0, expected.size(), static_cast<double>(kRate));
        ASSERT_TRUE(std::equal(samples.begin(), samples.end(), expected.begin())) << channel->name;
    }
    plugin->notify(PN_RCSTOP, 0);
    EXPECT_TRUE(tolvexMessages(host).empty());
}
