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

#if TOLVEX_VECTOR_SINE && defined(TOLVEX_OPENMP_SIMD)
// glibc's vector sines (libmvec) for loops vectorised with `omp simd`.
#pragma omp declare simd notinbranch
extern "C" double sin(double) noexcept;
#define TOLVEX_SIMD _Pragma("omp simd")
#define TOLVEX_SIMD_OR(var) _Pragma("omp simd reduction(|:" #var ")")
#else
#define TOLVEX_SIMD
#define TOLVEX_SIMD_OR(var)
#endif

namespace tolvex::kernels::TOLVEX_KERNEL_NS {
namespace {

// A double rounded to float; NaN becomes the one quiet NaN.
inline float toFloat(double v) {
    return v == v ? static_cast<float>(v) : __builtin_nanf("");
}

inline std::uint32_t floatBits(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// The vector sine's error is a few units in the last place; its result taken
// 2^-48 below and above (relatively) brackets the scalar sine's.
constexpr double kBelow = 1.0 - 0x1p-48;
constexpr double kAbove = 1.0 + 0x1p-48;

void sineBounds(double* lo, double* hi, std::size_t n, const SineForm& form, Clock clock) {
    const double omega = form.omega;
    const double minLevel = form.minLevel;
    const double maxLevel = form.maxLevel;
    const double first = clock.first;
    const double frequency = clock.frequency;
    const int count = static_cast<int>(n);
    TOLVEX_SIMD
    for (int i = 0; i < count; ++i) {
        const double t = (first + static_cast<double>(i)) / frequency;
        const double s = std::sin(omega * t);
        const double a = minLevel + (0.5 * (s * kBelow) + 0.5) * (maxLevel - minLevel);
        const double b = minLevel + (0.5 * (s * kAbove) + 0.5) * (maxLevel - minLevel);
        lo[i] = a < b ? a : b;
        hi[i] = a < b ? b : a;
    }
}

std::size_t sineFloats(float* out, std::size_t n, const SineForm& form, Clock clock,
                       std::uint32_t* uncertain) {
    const double omega = form.omega;
    const double minLevel = form.minLevel;
    const double maxLevel = form.maxLevel;
    const double first = clock.first;
    const double frequency = clock.frequency;
    const int count = static_cast<int>(n);
    unsigned char differs[kChunk];
    unsigned any = 0;
    TOLVEX_SIMD_OR(any)
    for (int i = 0; i < count; ++i) {
        const double t = (first + static_cast<double>(i)) / frequency;
        const double s = std::sin(omega * t);
        const double a = minLevel + (0.5 * (s * kBelow) + 0.5) * (maxLevel - minLevel);
        const double b = minLevel + (0.5 * (s * kAbove) + 0.5) * (maxLevel - minLevel);
        const float fa = toFloat(a);
        const float fb = toFloat(b);
        out[i] = fa;
        const unsigned d = floatBits(fa) != floatBits(fb) ? 1u : 0u;
        differs[i] = static_cast<unsigned char>(d);
        any |= d;
    }
    std::size_t found = 0;
    if (any != 0)
        for (int i = 0; i < count; ++i)
            if (differs[i] != 0)
                uncertain[found++] = static_cast<std::uint32_t>(i);
    return found;
}

template <class Out> void saw(Out* out, std::size_t n, const SawForm& form, Clock clock) {
    const double period = form.period;
    const Out low = static_cast<Out>(form.minLevel);
    const Out high = static_cast<Out>(form.maxLevel);
    const double first = clock.first;
    const double frequency = clock.frequency;
    const int count = static_cast<int>(n);
    for (int i = 0; i < count; ++i) {
        const double t = (first + static_cast<double>(i)) / frequency;
        const double q = t / period;
        bool odd = false;
        if (std::fabs(q) < 0x1p63) {
            // An integer-valued double below 2^63 halves and doubles exactly.
            const double whole = std::trunc(q);
            odd = whole - 2.0 * std::trunc(whole * 0.5) != 0.0;
        }
        out[i] = odd ? low : high;
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
            values[l] = static_cast<Out>(toFloat(span * static_cast<double>(scaled) + middle));
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
    for (std::size_t i = 0; i < n; ++i)
        sum[i] = toFloat(part[i] + static_cast<double>(sum[i]));
}

} // namespace

extern const Table table;
const Table table = {
#define TOLVEX_STR2(x) #x
#define TOLVEX_STR(x) TOLVEX_STR2(x)
    TOLVEX_STR(TOLVEX_KERNEL_NS),
    &sineBounds,
    &sineFloats,
    &sawFloats,
    &sawDoubles,
    &noiseFloats,
    &noiseDoubles,
    &accumulate,
};

} // namespace tolvex::kernels::TOLVEX_KERNEL_NS
