// Vector kernels of the signal kinds: runs of consecutive samples of one
// formula, bit for bit what the single-sample formula gives. They know nothing
// of signals; the signals layer chunks a run, fills in the few samples a
// kernel leaves uncertain, and keeps the noise generator's state.
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

// MinLevel + (0.5 * sin(omega * t) + 0.5) * (MaxLevel - MinLevel), omega =
// (freq * 2) * pi; the levels are the signal's floats widened.
struct SineForm {
    double omega;
    double minLevel;
    double maxLevel;
};

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
    // lo[i] <= the formula at sample i <= hi[i], with the vector sine's s taken
    // as s * (1 - 2^-48) and s * (1 + 2^-48).
    void (*sineBounds)(double* lo, double* hi, std::size_t n, const SineForm& form, Clock clock);
    // out[i] = the formula rounded to float where both bounds round to the same
    // float; answers how many samples are uncertain and lists their indices in
    // `uncertain` (out holds no value there).
    std::size_t (*sineFloats)(float* out, std::size_t n, const SineForm& form, Clock clock,
                              std::uint32_t* uncertain);
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
    // The same for two sums at once: sum with lo, upper with hi.
    void (*accumulateBounds)(float* sum, float* upper, const double* lo, const double* hi,
                             std::size_t n);
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
