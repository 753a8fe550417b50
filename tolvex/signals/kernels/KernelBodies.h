// The kernels' bodies, compiled once per instruction set: each kernels_*.cpp
// defines TOLVEX_KERNEL_NS and TOLVEX_NOISE_LANES, then includes this file
// with its own code-generation flags. Everything here has internal linkage,
// so that no function built for a wider instruction set can stand in for a
// caller's copy at link time.
//
// Built with -ffp-contract=off: every product and sum is rounded as written,
// the same as in the single-sample formulas.
#include "Kernels.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "Sine.h"

namespace tolvex::kernels::TOLVEX_KERNEL_NS {
namespace {

// A double rounded to float; NaN becomes the one quiet NaN.
inline float toFloat(double v) {
    return v == v ? static_cast<float>(v) : __builtin_nanf("");
}

// The bits of toFloat(v), without branches.
inline std::uint32_t canonicalBits(double v) {
    const float f = static_cast<float>(v);
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    const std::uint32_t nan = f != f ? ~0u : 0u; // a float compare: no shuffles
    return (bits & ~nan) | (0x7FC00000u & nan);
}

// The formula's value stored as Out: a float rounded from the double (NaN
// canonical), a double as it is (NaN canonical: which NaN an operation passes on
// depends on its operands' order, which vector code may swap).
inline void store(float* out, double v) {
    const std::uint32_t bits = canonicalBits(v);
    std::memcpy(out, &bits, sizeof bits);
}

inline void store(double* out, double v) {
    *out = canonicalNaN(v);
}

// The branch-free sine in vectorised passes over the chunk (arguments,
// reductions, polynomials, levels), each short enough for the processor to
// overlap many samples; the samples whose argument needs the wide reduction
// (late samples of fast sines, NaN, infinities) are then computed again one by
// one with the same function's wide path. With finite levels the formula
// gives no NaN, so only other levels take the NaN-canonical store.
template <class Out> void sine(Out* out, std::size_t n, const SineForm& form, Clock clock) {
    const double omega = form.omega;
    const double first = clock.first;
    const double frequency = clock.frequency;
    const int count = static_cast<int>(n);
    if (count == 0)
        return;
    double x[kChunk];
    double hi[kChunk];
    double lo[kChunk];
    std::uint64_t quadrant[kChunk];
    for (int i = 0; i < count; ++i)
        x[i] = omega * ((first + static_cast<double>(i)) / frequency);
    // |x| never falls from one sample to the next (each rounding is monotone),
    // and a NaN shows at one end of the run (0 / 0 first, infinity times 0
    // last), so the ends tell whether any argument needs the wide path.
    const std::uint64_t wide = atLeast(x[0], kFastLimit) | atLeast(x[count - 1], kFastLimit);
    for (int i = 0; i < count; ++i)
        reduce(x[i], hi[i], lo[i], quadrant[i]);
    // The sines, then the levels, in a pass each (x is kept for the wide path).
    double* sines = hi;
    for (int i = 0; i < count; ++i)
        sines[i] = fromQuadrant(hi[i], lo[i], quadrant[i]);
    const double minLevel = form.minLevel;
    const double span = form.maxLevel - form.minLevel;
    if (atLeast(minLevel, kInfinity) == 0 && atLeast(form.maxLevel, kInfinity) == 0) {
        for (int i = 0; i < count; ++i)
            out[i] = static_cast<Out>(minLevel + (0.5 * sines[i] + 0.5) * span);
    } else {
        for (int i = 0; i < count; ++i)
            store(out + i, sineLevel(form, sines[i]));
    }
    if (wide == 0)
        return;
    for (int i = 0; i < count; ++i)
        if (atLeast(x[i], kFastLimit) != 0)
            store(out + i, sineLevel(form, wideSine(x[i])));
}

void sineFloats(float* out, std::size_t n, const SineForm& form, Clock clock) {
    sine(out, n, form, clock);
}

void sineDoubles(double* out, std::size_t n, const SineForm& form, Clock clock) {
    sine(out, n, form, clock);
}

template <class Out> void saw(Out* out, std::size_t n, const SawForm& form, Clock clock) {
    // The two levels as bits, chosen by a mask: a select between two invariant
    // values does not vectorise in this compiler.
    using Bits = std::conditional_t<sizeof(Out) == 4, std::uint32_t, std::uint64_t>;
    const Out lowValue = static_cast<Out>(form.minLevel);
    const Out highValue = static_cast<Out>(form.maxLevel);
    Bits low;
    Bits high;
    std::memcpy(&low, &lowValue, sizeof low);
    std::memcpy(&high, &highValue, sizeof high);
    const double period = form.period;
    const double first = clock.first;
    const double frequency = clock.frequency;
    const int count = static_cast<int>(n);
    for (int i = 0; i < count; ++i) {
        const double t = (first + static_cast<double>(i)) / frequency;
        const double q = t / period;
        // An integer-valued double below 2^63 halves and doubles exactly.
        const double whole = std::trunc(q);
        const bool inRange = std::fabs(q) < 0x1p63;
        const bool oddWhole = whole - 2.0 * std::trunc(whole * 0.5) != 0.0;
        const Bits odd = static_cast<Bits>(0) - static_cast<Bits>(inRange & oddWhole);
        const Bits bits = (low & odd) | (high & ~odd);
        std::memcpy(out + i, &bits, sizeof bits);
    }
}

void sawFloats(float* out, std::size_t n, const SawForm& form, Clock clock) {
    SawForm rounded = form;
    rounded.minLevel = static_cast<double>(toFloat(form.minLevel));
    rounded.maxLevel = static_cast<double>(toFloat(form.maxLevel));
    saw(out, n, rounded, clock);
}

void sawDoubles(double* out, std::size_t n, const SawForm& form, Clock clock) {
    saw(out, n, form, clock);
}

// Lanes side by side: sample g + l of a group takes the draws after state
// base[l]; the twenty states of a sample come from one jump each, so no lane
// waits on the previous draw, and the lanes' float sums run interleaved.
template <class Out>
void noise(Out* out, std::size_t n, const NoiseForm& form, std::uint32_t state,
           std::uint32_t stride) {
    constexpr std::size_t kLanes = TOLVEX_NOISE_LANES;
    std::uint32_t drawA[20];
    std::uint32_t drawC[20];
    for (std::uint64_t d = 0; d < 20; ++d) {
        const Jump jump = jumpOf(d + 1);
        drawA[d] = jump.a;
        drawC[d] = jump.c;
    }
    const Jump step = jumpOf(stride);
    const Jump group = jumpOf(static_cast<std::uint64_t>(stride) * kLanes);
    std::uint32_t base[kLanes];
    base[0] = state;
    for (std::size_t l = 1; l < kLanes; ++l)
        base[l] = step.a * base[l - 1] + step.c;
    const double span = form.maxLevel - form.minLevel;
    const double middle = (form.maxLevel + form.minLevel) * 0.5;
    for (std::size_t g = 0; g < n; g += kLanes) {
        float sum[kLanes] = {};
        for (int d = 0; d < 20; ++d) {
            const std::uint32_t a = drawA[d];
            const std::uint32_t c = drawC[d];
            for (std::size_t l = 0; l < kLanes; ++l) {
                const std::uint32_t drawn = a * base[l] + c;
                const int r = static_cast<int>((drawn >> 16) & 32767u);
                sum[l] = static_cast<float>(static_cast<double>(r) * (1.0 / 32767.0) - 0.5 +
                                            static_cast<double>(sum[l]));
            }
        }
        Out values[kLanes];
        for (std::size_t l = 0; l < kLanes; ++l) {
            const float scaled =
                static_cast<float>(static_cast<double>(sum[l]) * 0.2237136465324385);
            const std::uint32_t bits = canonicalBits(span * static_cast<double>(scaled) + middle);
            float value;
            std::memcpy(&value, &bits, sizeof value);
            values[l] = static_cast<Out>(value);
            base[l] = group.a * base[l] + group.c;
        }
        const std::size_t take = n - g < kLanes ? n - g : kLanes;
        std::memcpy(out + g, values, take * sizeof(Out));
    }
}

void noiseFloats(float* out, std::size_t n, const NoiseForm& form, std::uint32_t state,
                 std::uint32_t stride) {
    noise(out, n, form, state, stride);
}

void noiseDoubles(double* out, std::size_t n, const NoiseForm& form, std::uint32_t state,
                  std::uint32_t stride) {
    noise(out, n, form, state, stride);
}

void accumulate(float* sum, const double* part, std::size_t n) {
    const int count = static_cast<int>(n);
    for (int i = 0; i < count; ++i) {
        const std::uint32_t bits = canonicalBits(part[i] + static_cast<double>(sum[i]));
        std::memcpy(sum + i, &bits, sizeof bits);
    }
}

} // namespace

extern const Table table;
const Table table = {
#define TOLVEX_STR2(x) #x
#define TOLVEX_STR(x) TOLVEX_STR2(x)
    TOLVEX_STR(TOLVEX_KERNEL_NS),
    &sineFloats,
    &sineDoubles,
    &sawFloats,
    &sawDoubles,
    &noiseFloats,
    &noiseDoubles,
    &accumulate,
};

} // namespace tolvex::kernels::TOLVEX_KERNEL_NS
