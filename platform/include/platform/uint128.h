// Exact unsigned 128-bit arithmetic in standard C++ (32-bit compilers have no
// 128-bit integer type): a 64 x 64 -> 128 product, shifts, and division by a
// 32-bit divisor.
#pragma once

#include <cstdint>

namespace platform {

struct UInt128 {
    std::uint64_t hi = 0;
    std::uint64_t lo = 0;
    friend constexpr bool operator==(const UInt128&, const UInt128&) = default;
};

constexpr UInt128 multiply(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t aLo = a & 0xFFFFFFFFu;
    const std::uint64_t aHi = a >> 32;
    const std::uint64_t bLo = b & 0xFFFFFFFFu;
    const std::uint64_t bHi = b >> 32;
    const std::uint64_t ll = aLo * bLo;
    const std::uint64_t lh = aLo * bHi;
    const std::uint64_t hl = aHi * bLo;
    const std::uint64_t hh = aHi * bHi;
    // The middle column: never overflows (at most 3 * (2^32 - 1)).
    const std::uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    return {hh + (lh >> 32) + (hl >> 32) + (mid >> 32), (mid << 32) | (ll & 0xFFFFFFFFu)};
}

// Bits shifted past either end are lost; shift counts from 128 give 0.
constexpr UInt128 shiftLeft(UInt128 v, unsigned n) {
    if (n >= 128)
        return {};
    if (n >= 64)
        return {v.lo << (n - 64), 0};
    if (n == 0)
        return v;
    return {(v.hi << n) | (v.lo >> (64 - n)), v.lo << n};
}

constexpr UInt128 shiftRight(UInt128 v, unsigned n) {
    if (n >= 128)
        return {};
    if (n >= 64)
        return {0, v.hi >> (n - 64)};
    if (n == 0)
        return v;
    return {v.hi >> n, (v.lo >> n) | (v.hi << (64 - n))};
}

// The quotient, rounded down; the divisor must not be 0.
constexpr UInt128 divide(UInt128 v, std::uint32_t divisor) {
    const std::uint32_t limbs[4] = {
        static_cast<std::uint32_t>(v.hi >> 32), static_cast<std::uint32_t>(v.hi),
        static_cast<std::uint32_t>(v.lo >> 32), static_cast<std::uint32_t>(v.lo)};
    std::uint64_t quotient[4] = {};
    std::uint64_t rest = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t part = (rest << 32) | limbs[i]; // rest < divisor < 2^32
        quotient[i] = part / divisor;
        rest = part % divisor;
    }
    return {(quotient[0] << 32) | quotient[1], (quotient[2] << 32) | quotient[3]};
}

} // namespace platform
