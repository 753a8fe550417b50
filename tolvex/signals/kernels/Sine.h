// The one sine of the samples: the same IEEE double operations in the same
// order wherever it is compiled, so that the scalar call and every vector
// width of the kernels give the same bits. Within 1 ULP of the true sine for
// every double (tested against MPFR).
//
// The argument is reduced by pi/2: x = n * pi/2 + r with |r| <= pi/4, r kept
// as a double-double hi + lo, then the sine or cosine polynomial of r by the
// quadrant n mod 4. Below kFastLimit the reduction is branch-free (Cody and
// Waite with pi/2 in pieces of 25 bits, so that every n * piece is exact, and
// the roundings of the differences kept), which the kernels vectorise; at and
// above it, and for infinities and NaN, wideSine reduces exactly with the bits
// of 2/pi (Payne and Hanek) in 32-bit integer arithmetic. Both reductions are
// exact to far below the closest any double comes to a multiple of pi/2.
//
// Everything here has internal linkage: each kernels_*.cpp compiles its own
// copy for its instruction set. Compile with -ffp-contract=off.
#pragma once

#include "Kernels.h"

#include <bit>
#include <cstdint>
#include <limits>

namespace tolvex::kernels {
namespace {

// Below this magnitude |n| < 2^28, so n times a 25-bit piece of pi/2 is exact.
constexpr double kFastLimit = 0x1p28;

constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// pi/2 = kPio2Piece1 + ... + kPio2Piece5 + O(2^-160); the first four have at
// most 25 significant bits.
constexpr double kPio2Piece1 = 0x1.921fb5p+0;
constexpr double kPio2Piece2 = 0x1.110b46p-26;
constexpr double kPio2Piece3 = 0x1.1a626p-54;
constexpr double kPio2Piece4 = 0x1.98a2ep-77;
constexpr double kPio2Piece5 = 0x1.b839a252049c1p-104;
// pi/2 as a double-double.
constexpr double kPio2High = 0x1.921fb54442d18p+0;
constexpr double kPio2Low = 0x1.1a62633145c07p-54;
// Adding this rounds a double below 2^51 in magnitude to an integer, whose
// low bits are then the low bits of the sum's significand.
constexpr double kRoundingShift = 0x1.8p52;

// Minimax polynomials of sin and cos on [-pi/4, pi/4] (the classic ones of
// FreeBSD's libm, error below 2^-58).
constexpr double kS1 = -1.66666666666666324348e-01;
constexpr double kS2 = 8.33333333332248946124e-03;
constexpr double kS3 = -1.98412698298579493134e-04;
constexpr double kS4 = 2.75573137070700676789e-06;
constexpr double kS5 = -2.50507602534068634195e-08;
constexpr double kS6 = 1.58969099521155010221e-10;
constexpr double kC1 = 4.16666666666666019037e-02;
constexpr double kC2 = -1.38888888888741095749e-03;
constexpr double kC3 = 2.48015872894767294178e-05;
constexpr double kC4 = -2.75573143513906633035e-07;
constexpr double kC5 = 2.08757232129817482790e-09;
constexpr double kC6 = -1.13596475577881948265e-11;

constexpr std::uint64_t kQuietNaNBits = 0x7FF8000000000000u;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// 2/pi in 32-bit words, most significant first: 2/pi = sum of word i * 2^(-32(i+1)).
constexpr std::uint32_t kTwoOverPiWords[40] = {
    0xA2F9836E, 0x4E441529, 0xFC2757D1, 0xF534DDC0, 0xDB629599, 0x3C439041, 0xFE5163AB, 0xDEBBC561,
    0xB7246E3A, 0x424DD2E0, 0x06492EEA, 0x09D1921C, 0xFE1DEB1C, 0xB129A73E, 0xE88235F5, 0x2EBB4484,
    0xE99C7026, 0xB45F7E41, 0x3991D639, 0x835339F4, 0x9C845F8B, 0xBDF9283B, 0x1FF897FF, 0xDE05980F,
    0xEF2F118B, 0x5A0A6D1F, 0x6D367ECF, 0x27CB09B7, 0x4F463F66, 0x9E5FEA2D, 0x7527BAC7, 0xEBE5F17B,
    0x3D0739F7, 0x8A5292EA, 0x6BFB5FB1, 0x1F8D5D08, 0x56033046, 0xFC7B6BAB, 0xF0CFBC20, 0x9AF4361D};

inline double magnitude(double x) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) & 0x7FFFFFFFFFFFFFFFu);
}

// 1 when |x| >= limit or x is NaN, else 0 (limit positive, not NaN): integer
// adds and shifts on the bits, which vectorise for every instruction set
// (SSE2 compares no 64-bit integers).
inline std::uint64_t atLeast(double x, double limit) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x) & 0x7FFFFFFFFFFFFFFFu;
    return (bits + ((std::uint64_t{1} << 63) - std::bit_cast<std::uint64_t>(limit))) >> 63;
}

// sin(n * pi/2 + x + y) for |x| <= pi/4 (plus a rounding), |y| at most a few
// ulps of x, from n's low two bits: sin(x + y) for even n, cos(x + y) for odd n,
// negated for n = 2, 3 (mod 4). Both are one polynomial of z = x^2 with the
// coefficients chosen by lane, without branches:
//   sin(x + y) = x + (x z P_s(z) + (y - y z/2)),
//   cos(x + y) = (1 - z/2) + (z z P_c(z) + (e - x y)),
// where 1 - z/2 is rounded to w and e = (1 - w) - z/2 is its rounding.
// One of two doubles by an integer condition, as a select of their bits (which
// vectorises as a blend; a select of doubles would not without masks).
inline double pick(bool condition, double a, double b) {
    return std::bit_cast<double>(condition ? std::bit_cast<std::uint64_t>(a)
                                           : std::bit_cast<std::uint64_t>(b));
}

inline double fromQuadrant(double x, double y, std::uint64_t quadrant) {
    const bool odd = (quadrant & 1u) != 0;
    const double z = x * x;
    const double hz = 0.5 * z;
    const double w = 1.0 - hz;
    const double e = (1.0 - w) - hz;
    const double c6 = pick(odd, kC6, kS6);
    const double c5 = pick(odd, kC5, kS5);
    const double c4 = pick(odd, kC4, kS4);
    const double c3 = pick(odd, kC3, kS3);
    const double c2 = pick(odd, kC2, kS2);
    const double c1 = pick(odd, kC1, kS1);
    // Estrin's order: three independent pairs, then two steps in z^2, so the
    // chain of dependent roundings is half Horner's and more samples overlap.
    const double z2 = z * z;
    const double p = (c1 + z * c2) + z2 * ((c3 + z * c4) + z2 * (c5 + z * c6));
    const double m = pick(odd, z, x) * z;
    // The tail negated and subtracted, so that sin(-0) stays -0.
    const double tailNegated = pick(odd, x, hz) * y - pick(odd, e, y);
    const double value = pick(odd, w, x) - (tailNegated - m * p);
    const std::uint64_t sign = (quadrant & 2u) << 62;
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) ^ sign);
}

// x = n * pi/2 + hi + lo for |x| < kFastLimit, |lo| at most a few ulps of hi
// (and below 2^-70 where hi is small), with n's low bits in `quadrant`. Any other x gives some
// values (no fault); the caller takes wideSine there.
inline void reduce(double x, double& hi, double& lo, std::uint64_t& quadrant) {
    const double shifted = x * kTwoOverPi + kRoundingShift;
    const double n = shifted - kRoundingShift;
    quadrant = std::bit_cast<std::uint64_t>(shifted);
    // x - n * piece1 and the next difference are exact: both lie on the grid
    // of x's ulp (at least 2^-53 once n != 0) and below 1. The next two keep
    // their roundings (Dekker's fast two-sum: each minuend is a multiple of the
    // subtrahend's ulp, so the difference is exact where it is smaller than the
    // subtrahend, and the rounding is exact where it is larger).
    const double a = (x - n * kPio2Piece1) - n * kPio2Piece2;
    const double p3 = n * kPio2Piece3;
    const double s3 = a - p3;
    const double e3 = (a - s3) - p3;
    const double p4 = n * kPio2Piece4;
    const double s4 = s3 - p4;
    const double e4 = (s3 - s4) - p4;
    // The roundings and the last piece stay apart: far below hi's ulp wherever
    // hi is small, and linear in the polynomials, they need no renormalising.
    hi = s4;
    lo = (e3 + e4) - n * kPio2Piece5;
}

// The sine of |x| < kFastLimit (for |x| < 2^-26, x itself, with -0 and
// subnormals kept).
inline double fastSine(double x) {
    double hi;
    double lo;
    std::uint64_t quadrant;
    reduce(x, hi, lo, quadrant);
    return fromQuadrant(hi, lo, quadrant);
}

// ---- Exact reduction for large arguments.

// Bits [position, position + count) of a little-endian number of 32-bit limbs.
inline std::uint64_t bitsAt(const std::uint32_t* limbs, int position, int count) {
    std::uint64_t result = 0;
    for (int i = count - 1; i >= 0; --i) {
        const int bit = position + i;
        result = (result << 1) | ((limbs[bit / 32] >> (bit % 32)) & 1u);
    }
    return result;
}

inline double powerOfTwo(int exponent) {
    return std::bit_cast<double>(static_cast<std::uint64_t>(exponent + 1023) << 52);
}

// a * b = p + e exactly (Veltkamp's split; no fused multiply-add).
inline void twoProduct(double a, double b, double& p, double& e) {
    constexpr double kSplit = 134217729.0; // 2^27 + 1
    const double ca = kSplit * a;
    const double ah = ca - (ca - a);
    const double al = a - ah;
    const double cb = kSplit * b;
    const double bh = cb - (cb - b);
    const double bl = b - bh;
    p = a * b;
    e = ((ah * bh - p) + ah * bl + al * bh) + al * bl;
}

// The sine of any double: NaN for NaN and infinities, fastSine below the
// limit, otherwise an exact reduction from the bits of 2/pi.
inline double wideSine(double x) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FFu);
    if (biased == 0x7FF)
        return std::bit_cast<double>(kQuietNaNBits);
    if (magnitude(x) < kFastLimit)
        return fastSine(x);
    // |x| = m * 2^e with m of 53 bits; e >= 28 - 52.
    const std::uint64_t m = (bits & 0xFFFFFFFFFFFFFu) | (std::uint64_t{1} << 52);
    const int e = biased - 1075;
    // Words before `first` add multiples of 4 to x * 2/pi: no part of the
    // quadrant or the remainder. Seven words leave an error below 2^-137.
    const int first = e >= 34 ? (e - 34) / 32 + 1 : 0;
    std::uint32_t product[9] = {};
    const std::uint64_t mLow = m & 0xFFFFFFFFu;
    const std::uint64_t mHigh = m >> 32;
    for (int j = 0; j < 7; ++j) {
        const std::uint64_t word = kTwoOverPiWords[first + j];
        const int limb = 6 - j;
        // Adds mLow * word at `limb` and mHigh * word one limb up, with carries.
        std::uint64_t carry = 0;
        const std::uint64_t low = mLow * word;
        const std::uint64_t high = mHigh * word;
        carry = static_cast<std::uint64_t>(product[limb]) + (low & 0xFFFFFFFFu);
        product[limb] = static_cast<std::uint32_t>(carry);
        carry = (carry >> 32) + product[limb + 1] + (low >> 32) + (high & 0xFFFFFFFFu);
        product[limb + 1] = static_cast<std::uint32_t>(carry);
        carry = (carry >> 32) + product[limb + 2] + (high >> 32);
        product[limb + 2] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
        for (int k = limb + 3; carry != 0 && k < 9; ++k) {
            carry += product[k];
            product[k] = static_cast<std::uint32_t>(carry);
            carry >>= 32;
        }
    }
    // |x| * 2/pi = product * 2^-point (mod 4).
    const int point = 32 * (first + 7) - e;
    std::uint64_t quadrant = bitsAt(product, point, 2);
    std::uint64_t f1 = bitsAt(product, point - 64, 64);
    std::uint64_t f0 = bitsAt(product, point - 128, 64);
    double sign = 1.0;
    if ((f1 >> 63) != 0) { // a fraction of one half or more: the next n, r < 0
        quadrant += 1;
        f0 = ~f0 + 1;
        f1 = ~f1 + (f0 == 0 ? 1u : 0u);
        sign = -1.0;
    }
    double hi = 0.0;
    double lo = 0.0;
    if ((f1 | f0) != 0) {
        // The fraction f1:f0 * 2^-128 normalised to a double-double.
        const int shift = f1 != 0 ? std::countl_zero(f1) : 64 + std::countl_zero(f0);
        std::uint64_t g1 = f1;
        std::uint64_t g0 = f0;
        if (shift >= 64) {
            g1 = f0 << (shift - 64);
            g0 = 0;
        } else if (shift > 0) {
            g1 = (f1 << shift) | (f0 >> (64 - shift));
            g0 = f0 << shift;
        }
        const std::uint64_t top = g1 >> 11;
        const std::uint64_t next = ((g1 & 0x7FFu) << 42) | (g0 >> 22);
        const double fh = static_cast<double>(top) * powerOfTwo(-53 - shift);
        const double fl = static_cast<double>(next) * powerOfTwo(-106 - shift);
        // r = (fh + fl) * pi/2.
        double p;
        double pe;
        twoProduct(fh, kPio2High, p, pe);
        pe = pe + (fh * kPio2Low + fl * kPio2High);
        hi = p + pe;
        lo = (p - hi) + pe;
    }
    const double value = fromQuadrant(sign * hi, sign * lo, quadrant);
    return x < 0.0 ? -value : value;
}

// The sine kind's sample formula, MinLevel + (0.5 * s + 0.5) * (MaxLevel -
// MinLevel), on the sine s of the sample's argument.
inline double sineLevel(const SineForm& form, double s) {
    return form.minLevel + (0.5 * s + 0.5) * (form.maxLevel - form.minLevel);
}

// v, with every NaN the one quiet NaN (branch-free, so that it vectorises).
inline double canonicalNaN(double v) {
    const std::uint64_t nan =
        std::uint64_t{0} - atLeast(v, std::bit_cast<double>(0x7FF0000000000001u));
    return std::bit_cast<double>((std::bit_cast<std::uint64_t>(v) & ~nan) | (kQuietNaNBits & nan));
}

} // namespace
} // namespace tolvex::kernels
