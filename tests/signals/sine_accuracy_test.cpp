// The samples' sine against MPFR: its error in units in the last place of the
// true sine, over millions of doubles of every magnitude, the arguments the
// sine formula makes, and the hard ones (next to multiples of pi/2, huge,
// tiny); and its values at zeros, infinities and NaN.
#include "Kernels.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <random>
#include <string>

namespace {

using tolvex::kernels::sine;

class Reference {
public:
    Reference() {
        mpfr_inits2(96, x_, s_, d_, static_cast<mpfr_ptr>(nullptr));
        mpfr_init2(pi_, 2200);
        mpfr_const_pi(pi_, MPFR_RNDN);
    }
    ~Reference() {
        mpfr_clears(x_, s_, d_, pi_, static_cast<mpfr_ptr>(nullptr));
        mpfr_free_cache();
    }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;

    // |sine(x) - sin(x)| in units in the last place of sin(x) (x finite, not 0).
    double ulpError(double x) {
        mpfr_set_d(x_, x, MPFR_RNDN);
        mpfr_sin(s_, x_, MPFR_RNDN);
        mpfr_sub_d(d_, s_, sine(x), MPFR_RNDN);
        mpfr_abs(d_, d_, MPFR_RNDN);
        // sin(x) lies in [2^(e-1), 2^e): its ulp is 2^(e-53), 2^-1074 at least.
        const long e = mpfr_get_exp(s_);
        mpfr_mul_2si(d_, d_, -std::max(e - 53, -1074L), MPFR_RNDN);
        return mpfr_get_d(d_, MPFR_RNDN);
    }

    // The double nearest to n * pi/2 for the integer n = m * 2^k.
    double nearMultiple(std::uint64_t m, int k) {
        mpfr_set_prec(x_, 2200);
        mpfr_mul_ui(x_, pi_, m, MPFR_RNDN);
        mpfr_mul_2si(x_, x_, k - 1, MPFR_RNDN);
        const double x = mpfr_get_d(x_, MPFR_RNDN);
        mpfr_set_prec(x_, 96);
        return x;
    }

private:
    mpfr_t x_, s_, d_, pi_;
};

struct Worst {
    double error = 0.0;
    double at = 0.0;
    void see(double e, double x) {
        if (!(e <= error)) {
            error = e;
            at = x;
        }
    }
};

void report(const std::string& what, const Worst& worst, std::size_t count) {
    std::cout << what << ": " << count << " arguments, max error " << worst.error << " ULP at "
              << std::hexfloat << worst.at << std::defaultfloat << "\n";
    EXPECT_LT(worst.error, 1.0) << what << " at " << std::hexfloat << worst.at;
}

// Doubles spread over the exponents from 2^low to 2^high, either sign.
double spread(std::mt19937_64& random, int low, int high) {
    std::uniform_int_distribution<int> exponent(low, high);
    const std::uint64_t mantissa = random() & 0xFFFFFFFFFFFFFu;
    const std::uint64_t sign = random() & 1u;
    const std::uint64_t biased = static_cast<std::uint64_t>(exponent(random) + 1023);
    return std::bit_cast<double>((sign << 63) | (biased << 52) | mantissa);
}

TEST(SineAccuracy, WithinOneUlpOfMpfrBelowTheFastLimit) {
    Reference reference;
    std::mt19937_64 random(20261209);
    Worst worst;
    constexpr std::size_t kCount = 900000;
    for (std::size_t i = 0; i < kCount; ++i) {
        const double x = spread(random, -40, 27);
        worst.see(reference.ulpError(x), x);
    }
    report("below 2^28", worst, kCount);
}

TEST(SineAccuracy, WithinOneUlpOfMpfrForTheFormulasArguments) {
    // ((freq * 2) * pi) * (k / F): float frequencies, the usual sampling
    // rates, samples from the start to years in.
    Reference reference;
    std::mt19937_64 random(7);
    const double rates[] = {216000.0, 48000.0, 44100.0, 10000.0, 1000.0, 1.0};
    std::uniform_real_distribution<double> logFreq(-3.0, 5.5);
    std::uniform_int_distribution<int> bits(0, 44);
    Worst worst;
    constexpr std::size_t kCount = 500000;
    for (std::size_t i = 0; i < kCount; ++i) {
        const float freq = static_cast<float>(std::pow(10.0, logFreq(random)));
        const std::uint64_t k = random() >> (63 - bits(random));
        const double t = static_cast<double>(k) / rates[i % 6];
        const double x = ((static_cast<double>(freq) * 2.0) * 3.141592653589793) * t;
        if (x != 0.0)
            worst.see(reference.ulpError(x), x);
    }
    report("the formula's arguments", worst, kCount);
}

TEST(SineAccuracy, WithinOneUlpNextToMultiplesOfHalfPi) {
    // The doubles nearest to n * pi/2 and a few ulps either side, for n up to
    // 2^1020 / pi; then every magnitude up to the largest double, and the
    // double closest of all to a multiple of pi/2.
    Reference reference;
    std::mt19937_64 random(99);
    Worst worst;
    std::size_t count = 0;
    std::uniform_int_distribution<int> bits(1, 52);
    for (int i = 0; i < 30000; ++i) {
        const std::uint64_t m = (random() >> (64 - bits(random))) | 1u;
        const int k = i % 4 == 0 ? static_cast<int>(random() % 970) : 0;
        const double x = reference.nearMultiple(m, k);
        double below = x;
        double above = x;
        worst.see(reference.ulpError(x), x);
        for (int step = 0; step < 3; ++step) {
            below = std::nextafter(below, 0.0);
            above = std::nextafter(above, DBL_MAX);
            worst.see(reference.ulpError(below), below);
            worst.see(reference.ulpError(above), above);
        }
        count += 7;
    }
    for (int i = 0; i < 120000; ++i) {
        const double x = spread(random, 28, 1023);
        worst.see(reference.ulpError(x), x);
        ++count;
    }
    const double closest = std::ldexp(6381956970095103.0, 797);
    worst.see(reference.ulpError(closest), closest);
    worst.see(reference.ulpError(-closest), -closest);
    for (double x = 0x1p28; x < 0x1p28 + 1e-6; x = std::nextafter(x, 1e300)) {
        worst.see(reference.ulpError(x), x);
        worst.see(reference.ulpError(std::nextafter(-x, 0.0)), std::nextafter(-x, 0.0));
        count += 2;
    }
    report("next to multiples of pi/2 and huge", worst, count);
}

TEST(SineAccuracy, TinyArgumentsAreTheirOwnSine) {
    Reference reference;
    std::mt19937_64 random(3);
    Worst worst;
    for (int i = 0; i < 50000; ++i) {
        const double x = spread(random, -1022, -20);
        worst.see(reference.ulpError(x), x);
    }
    report("tiny", worst, 50000);
    for (double x : {DBL_MIN, DBL_TRUE_MIN, 3 * DBL_TRUE_MIN, 0x1p-1030, 0x1p-27}) {
        EXPECT_EQ(sine(x), x);
        EXPECT_EQ(sine(-x), -x);
    }
}

TEST(SineValues, ZerosKeepTheirSignAndTheRestGiveOneQuietNaN) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sine(0.0)), 0u);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sine(-0.0)), std::uint64_t{1} << 63);
    const std::uint64_t nan = 0x7FF8000000000000u;
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sine(inf)), nan);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sine(-inf)), nan);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sine(std::nan(""))), nan);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(sine(-std::nan("7"))), nan);
    // Exact multiples: the sine's sign follows the true one.
    EXPECT_GT(sine(3.141592653589793), 0.0); // pi rounded down: sin > 0
    EXPECT_LT(sine(-3.141592653589793), 0.0);
    EXPECT_EQ(sine(DBL_MAX), sine(DBL_MAX)); // a number
    EXPECT_LE(std::fabs(sine(DBL_MAX)), 1.0);
}

} // namespace
