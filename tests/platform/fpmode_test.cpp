// The default floating-point mode while the module computes, and the host's
// mode back afterwards.
#include "platform/fpmode.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Flush-to-zero, denormals-are-zero, rounding toward zero, every exception
// masked: what audio programs often leave behind.
constexpr std::uint32_t kHostSse = 0x1F80u | 0x8000u | 0x0040u | 0x6000u;
// 24-bit precision, rounding down.
constexpr std::uint16_t kHostX87 = 0x047F;

struct Results {
    double tenth;
    double halfTiny;
    double tinyPlusZero;
};

// Each of these is affected by one of the host's settings.
Results compute() {
    volatile double one = 1.0;
    volatile double ten = 10.0;
    volatile double tiny = 0x1p-1070; // subnormal
    volatile double zero = 0.0;
    return Results{one / ten, tiny * 0.5, tiny + zero};
}

} // namespace

TEST(IeeeMode, ComputesInTheDefaultModeAndGivesTheHostsModeBack) {
    if (platform::sseControl() == 0)
        GTEST_SKIP() << "no MXCSR on this processor";
    const std::uint32_t sse = platform::sseControl();
    const std::uint16_t x87 = platform::x87Control();
    platform::setSseControl(kHostSse);
    platform::setX87Control(kHostX87);
    const Results flushed = compute();
    Results inside{};
    {
        const platform::IeeeMode ieee;
        EXPECT_EQ(platform::sseControl() & ~0x3Fu, platform::kDefaultSseControl);
        inside = compute();
    }
    const std::uint32_t after = platform::sseControl();
    const std::uint16_t x87After = platform::x87Control();
    platform::setSseControl(sse);
    platform::setX87Control(x87);

    // The host's mode really was another one...
    EXPECT_EQ(flushed.halfTiny, 0.0);
    EXPECT_EQ(flushed.tinyPlusZero, 0.0);
    EXPECT_EQ(flushed.tenth, 0x1.9999999999999p-4); // toward zero
    // ...and inside, IEEE's default.
    EXPECT_EQ(inside.tenth, 0x1.999999999999ap-4);
    EXPECT_EQ(inside.halfTiny, 0x1p-1071);
    EXPECT_EQ(inside.tinyPlusZero, 0x1p-1070);
    EXPECT_EQ(after & ~0x3Fu, kHostSse);
    if (x87 != 0) {
        EXPECT_EQ(x87After & 0x0F3F, kHostX87 & 0x0F3F);
    }
}

TEST(IeeeMode, RoundsToNearestWhateverTheHostsRounding) {
    if (platform::sseControl() == 0)
        GTEST_SKIP() << "no MXCSR on this processor";
    const std::uint32_t sse = platform::sseControl();
    for (std::uint32_t rounding : {0x2000u, 0x4000u, 0x6000u}) { // down, up, toward zero
        platform::setSseControl(0x1F80u | rounding);
        volatile double one = 1.0;
        volatile double ten = 10.0;
        double inside = 0;
        {
            const platform::IeeeMode ieee;
            inside = one / ten;
        }
        const double outside = one / ten;
        EXPECT_EQ(platform::sseControl() & ~0x3Fu, 0x1F80u | rounding);
        platform::setSseControl(sse);
        EXPECT_EQ(inside, 0x1.999999999999ap-4) << rounding; // nearest rounds up here
        if (rounding != 0x4000u) {
            EXPECT_EQ(outside, 0x1.9999999999999p-4) << rounding;
        }
    }
}
