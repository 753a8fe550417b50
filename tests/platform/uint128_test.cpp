#include "platform/uint128.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

using platform::UInt128;

TEST(UInt128, CarriesAcrossTheHalves) {
    constexpr std::uint64_t kMax = ~std::uint64_t{0};
    // (2^64 - 1)^2 = 2^128 - 2^65 + 1
    EXPECT_EQ(platform::multiply(kMax, kMax), (UInt128{kMax - 1, 1}));
    EXPECT_EQ(platform::multiply(0xFFFFFFFFu, 0xFFFFFFFFu), (UInt128{0, 0xFFFFFFFE00000001u}));
    EXPECT_EQ(platform::multiply(1ull << 63, 2), (UInt128{1, 0}));
    EXPECT_EQ(platform::shiftLeft({0, 1}, 127), (UInt128{1ull << 63, 0}));
    EXPECT_EQ(platform::shiftLeft({0, 1}, 128), UInt128{});
    EXPECT_EQ(platform::shiftRight({1ull << 63, 0}, 127), (UInt128{0, 1}));
    EXPECT_EQ(platform::shiftRight({1, 0}, 1), (UInt128{0, 1ull << 63}));
    EXPECT_EQ(platform::shiftRight({kMax, kMax}, 200), UInt128{});
    // 2^128 - 1 = 3 * 5 * 17 * 257 * 641 * 65537 * 274177 * 6700417 * 67280421310721
    EXPECT_EQ(platform::divide({kMax, kMax}, 641u * 65537u),
              (UInt128{0x663D1AC27Fu, 0x663D1AC27Fu}));
    EXPECT_EQ(platform::divide({kMax, kMax}, 1000u),
              (UInt128{0x004189374BC6A7EFu, 0x9DB22D0E56041893u}));
    EXPECT_EQ(platform::divide({0, 999}, 1000u), UInt128{});
}

#ifdef __SIZEOF_INT128__
// The same operations as the compiler's 128-bit type, where it has one.
TEST(UInt128, AgreesWithTheCompilersType) {
    __extension__ using u128 = unsigned __int128;
    auto wide = [](UInt128 v) { return (static_cast<u128>(v.hi) << 64) | v.lo; };
    std::mt19937_64 random(12345);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t a = random() >> (random() % 64);
        const std::uint64_t b = random() >> (random() % 64);
        const unsigned n = static_cast<unsigned>(random() % 130);
        const auto d = static_cast<std::uint32_t>((random() >> (random() % 64)) | 1);
        const UInt128 p = platform::multiply(a, b);
        ASSERT_EQ(wide(p), static_cast<u128>(a) * b) << a << " * " << b;
        ASSERT_EQ(wide(platform::shiftLeft(p, n)), n >= 128 ? 0 : wide(p) << n);
        ASSERT_EQ(wide(platform::shiftRight(p, n)), n >= 128 ? 0 : wide(p) >> n);
        ASSERT_EQ(wide(platform::divide(p, d)), wide(p) / d) << d;
    }
}
#endif
