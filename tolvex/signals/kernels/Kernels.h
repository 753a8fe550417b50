// Vector kernels of the signal kinds: runs of consecutive samples of one
// formula, bit for bit what the single-sample formula gives. They know nothing
// of signals; the signals layer chunks a run and keeps the noise generator's
// state.
#pragma once

#include "CpuDispatch.h"

#include <cstddef>
#include <cstdint>

namespace tolvex::kernels {

// Most samples one kernel call takes; callers cut longer runs into chunks.
constexpr std::size_t kChunk = 512;

// Samples first .. first + n - 1 at `frequency`; sample k has t = k / frequency.
// first + n stays at or below 2^53, so that every k is exact as a double.
struct Clock {
    double first;
    double frequency;
};

// MinLevel + (0.5 * sine(omega * t) + 0.5) * (MaxLevel - MinLevel), omega =
// (freq * 2) * pi; the levels are the signal's floats widened.
struct SineForm {
    double omega;
    double minLevel;
    double maxLevel;
};

inline SineForm sineFormOf(float freq, float minLevel, float maxLevel) {
    constexpr double kPi = 3.141592653589793;
    return {(static_cast<double>(freq) * 2.0) * kPi, static_cast<double>(minLevel),
            static_cast<double>(maxLevel)};
}

// The sine of the samples, the one every kernel computes: within 1 ULP of the
// true sine of every double; NaN (the one quiet NaN) for NaN and infinities.
double sine(double x);
// The sine formula at t, NaN canonical: what the kernels give for one sample.
double sineValue(const SineForm& form, double t);

// MinLevel when trunc(t / Period) is odd, MaxLevel otherwise (and when
// t / Period is not finite or at least 2^63 in magnitude).
struct SawForm {
    double period;
    double minLevel;
    double maxLevel;
};

struct NoiseForm {
    double minLevel;
    double maxLevel;
};

// The noise generator: state' = state * 22695477 + 1 (mod 2^32).
constexpr std::uint32_t kNoiseMultiplier = 22695477u;
constexpr std::uint32_t kNoiseIncrement = 1u;

// The generator's state after `steps` steps is a * state + c (mod 2^32).
struct Jump {
    std::uint32_t a = 1;
    std::uint32_t c = 0;
    std::uint32_t apply(std::uint32_t state) const { return a * state + c; }
};
// The jump over `steps` steps (the generator's period is 2^32).
Jump jumpOf(std::uint64_t steps);

// One set of kernels for one instruction set. n is at most kChunk.
struct Table {
    const char* name;
    // The sine formula at samples 0 .. n - 1, as sineValue gives it (rounded
    // to float, NaN canonical, for the floats).
    void (*sineFloats)(float* out, std::size_t n, const SineForm& form, Clock clock);
    void (*sineDoubles)(double* out, std::size_t n, const SineForm& form, Clock clock);
    void (*sawFloats)(float* out, std::size_t n, const SawForm& form, Clock clock);
    void (*sawDoubles)(double* out, std::size_t n, const SawForm& form, Clock clock);
    // Noise sample i takes the twenty draws after the state
    // jumpOf(i * stride).apply(state); stride is at least 20.
    void (*noiseFloats)(float* out, std::size_t n, const NoiseForm& form, std::uint32_t state,
                        std::uint32_t stride);
    void (*noiseDoubles)(double* out, std::size_t n, const NoiseForm& form, std::uint32_t state,
                         std::uint32_t stride);
    // sum[i] = part[i] + sum[i], rounded to float (NaN canonical).
    void (*accumulate)(float* sum, const double* part, std::size_t n);
};

// The kernels in use: the widest set this processor runs, unless another was
// chosen with activate.
const Table& active();
// Uses the set of `isa` from now on (tests and benchmarks compare them);
// false, and nothing changes, when this build or this processor has none.
bool activate(Isa isa);
// The set of an instruction set, or nullptr when this build or processor has none.
const Table* tableFor(Isa isa);

} // namespace tolvex::kernels
