// A host that leaves the processor flushing subnormals to zero, treating them
// as zero on input and rounding toward zero gets the same samples, pushed and
// requested, as one in the default mode, and its mode back.
#include "Fixture.h"

#include "platform/fpmode.h"

#include <cstring>

using namespace testing_tolvex;

namespace {

constexpr std::uint32_t kHostSse = 0x1F80u | 0x8000u | 0x0040u | 0x6000u;

class HostMode : public TolvexTest {
protected:
    void SetUp() override {
        TolvexTest::SetUp();
        // Levels in the subnormal floats: flushing would make them 0.
        auto tiny = std::make_unique<tolvex::SineSignal>();
        tiny->MaxLevel = 3e-39f;
        tiny->MinLevel = -3e-39f;
        tiny->freq = 7.0f;
        addChannel("Tiny", 48000.0f, std::move(tiny));
        addChannel("Sine", 216000.0f); // rounding changes the last bits
        addChannel("Noise", 1000.0f, std::make_unique<tolvex::NoiseSignal>());
        auto sum = std::make_unique<tolvex::CompositeSignal>();
        sum->parts.push_back(std::make_unique<tolvex::SawSignal>());
        auto inner = std::make_unique<tolvex::CompositeSignal>();
        inner->parts.push_back(std::make_unique<tolvex::NoiseSignal>());
        sum->parts.push_back(std::move(inner));
        addChannel("Sum", 44100.0f, std::move(sum));
        for (const char* name : {"Tiny", "Sine", "Noise", "Sum"})
            host.channel(name)->setBlockLength(1000);
        plugin->notify(PN_UPDATECHANNELS, 0);
        host.options().recordCalls = false;
    }

    // Each channel's pushed samples of one 1.2 s run and its requested
    // doubles, as raw bytes.
    std::vector<std::string> run() {
        std::vector<std::string> out;
        std::vector<std::size_t> before;
        for (const auto& channel : plugin->channels)
            before.push_back(host.channel(channel->name)->samples().size());
        tolvex::noise::reset();
        plugin->notify(PN_RCSTART, 0);
        for (int i = 0; i < 4; ++i) {
            platform::advanceTestTicks(300);
            tolvex::mainForm(*plugin)->Timer1Timer();
        }
        plugin->notify(PN_RCSTOP, 0);
        for (std::size_t c = 0; c < plugin->channels.size(); ++c) {
            const auto& samples = host.channel(plugin->channels[c]->name)->samples();
            out.emplace_back(reinterpret_cast<const char*>(samples.data() + before[c]),
                             (samples.size() - before[c]) * sizeof(float));
        }
        tolvex::noise::reset();
        for (const auto& channel : plugin->channels) {
            std::vector<double> buffer(5000);
            EXPECT_TRUE(request(host.channel(channel->name), 5000, buffer));
            out.emplace_back(reinterpret_cast<const char*>(buffer.data()),
                             buffer.size() * sizeof(double));
        }
        return out;
    }
};

} // namespace

TEST_F(HostMode, FlushingAndOtherRoundingChangeNoSample) {
    if (platform::sseControl() == 0)
        GTEST_SKIP() << "no MXCSR on this processor";
    const std::vector<std::string> reference = run();
    // The tiny sine really reaches the subnormal floats.
    float first = 0;
    std::memcpy(&first, reference[0].data() + 10 * sizeof(float), sizeof first);
    ASSERT_NE(first, 0.0f);

    const std::uint32_t saved = platform::sseControl();
    platform::setSseControl(kHostSse);
    const std::vector<std::string> hostMode = run();
    const std::uint32_t after = platform::sseControl();
    platform::setSseControl(saved);

    EXPECT_EQ(after & ~0x3Fu, kHostSse);
    ASSERT_EQ(hostMode.size(), reference.size());
    for (std::size_t i = 0; i < reference.size(); ++i) {
        ASSERT_FALSE(reference[i].empty()) << i;
        EXPECT_TRUE(hostMode[i] == reference[i]) << "result " << i;
    }
}
