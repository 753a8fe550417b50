// The signals' batch operations: runs of consecutive samples through the
// vector kernels, bit for bit what value gives sample by sample.
#include "Utypes.h"

#include "Kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tolvex {

namespace {

// Every sample index of a run below this is exact as a double.
constexpr std::uint64_t kExactIndex = std::uint64_t{1} << 53;

double widen(float v) {
    return static_cast<double>(v);
}

bool indicesExact(const SampleRun& run, std::size_t n) {
    return run.first <= kExactIndex && n <= kExactIndex - run.first;
}

kernels::Clock clockOf(const SampleRun& run, std::size_t offset) {
    return kernels::Clock{static_cast<double>(run.first + offset), run.frequency};
}

std::uint32_t floatBits(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

} // namespace

SampleRun SampleRun::from(std::size_t offset) const {
    SampleRun run = *this;
    run.first += offset;
    if (drawStride != 0)
        run.drawState =
            kernels::jumpOf(static_cast<std::uint64_t>(offset) * drawStride).apply(drawState);
    return run;
}

// ---- Signal

void Signal::fill(float* out, std::uint64_t first, std::size_t n, double frequency) const {
    const SampleRun run{first, frequency, noise::state(), drawsPerSample()};
    fillFloats(run, out, n);
    if (run.drawStride != 0)
        noise::reset(run.from(n).drawState);
}

void Signal::fill(double* out, std::uint64_t first, std::size_t n, double frequency) const {
    const SampleRun run{first, frequency, noise::state(), drawsPerSample()};
    fillDoubles(run, out, n);
    if (run.drawStride != 0)
        noise::reset(run.from(n).drawState);
}

void Signal::fillFloats(const SampleRun& run, float* out, std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = roundToFloat(value(run.time(i)));
}

void Signal::fillDoubles(const SampleRun& run, double* out, std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = value(run.time(i));
}

bool Signal::fillBounds(const SampleRun& run, double* lo, double*, std::size_t n) const {
    fillDoubles(run, lo, n);
    return true;
}

double Signal::sampleValue(const SampleRun& run, std::size_t i) const {
    return value(run.time(i));
}

// ---- LevelSignal

void LevelSignal::fillFloats(const SampleRun&, float* out, std::size_t n) const {
    std::fill_n(out, n, roundToFloat(widen(Level)));
}

void LevelSignal::fillDoubles(const SampleRun&, double* out, std::size_t n) const {
    std::fill_n(out, n, widen(Level));
}

// ---- SineSignal

namespace {

kernels::SineForm sineForm(const SineSignal& sine) {
    constexpr double kPi = 3.141592653589793;
    return {(widen(sine.freq) * 2.0) * kPi, widen(sine.MinLevel), widen(sine.MaxLevel)};
}

} // namespace

void SineSignal::fillFloats(const SampleRun& run, float* out, std::size_t n) const {
    if (!indicesExact(run, n)) {
        Signal::fillFloats(run, out, n);
        return;
    }
    // The vector sine, checked: a sample whose bounds round to two floats is
    // computed again with the scalar sine.
    const kernels::Table& kernels = kernels::active();
    const kernels::SineForm form = sineForm(*this);
    std::uint32_t uncertain[kernels::kChunk];
    for (std::size_t done = 0; done < n;) {
        const std::size_t m = std::min(n - done, kernels::kChunk);
        const std::size_t count =
            kernels.sineFloats(out + done, m, form, clockOf(run, done), uncertain);
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t i = done + uncertain[j];
            out[i] = roundToFloat(value(run.time(i)));
        }
        done += m;
    }
}

// Pulled samples are doubles: the scalar sine, whose every bit they keep (the
// formula itself, called without dispatch, so that even a NaN keeps its sign).
void SineSignal::fillDoubles(const SampleRun& run, double* out, std::size_t n) const {
    for (std::size_t i = 0; i < n; ++i)
        out[i] = SineSignal::value(run.time(i));
}

bool SineSignal::fillBounds(const SampleRun& run, double* lo, double* hi, std::size_t n) const {
    if (!indicesExact(run, n))
        return Signal::fillBounds(run, lo, hi, n);
    const kernels::Table& kernels = kernels::active();
    const kernels::SineForm form = sineForm(*this);
    for (std::size_t done = 0; done < n;) {
        const std::size_t m = std::min(n - done, kernels::kChunk);
        kernels.sineBounds(lo + done, hi + done, m, form, clockOf(run, done));
        done += m;
    }
    return false;
}

// ---- SawSignal

namespace {

// Runs of samples with one value: the quotient t / Period is monotone in the
// sample index, so samples of one truncated quotient lie side by side. Long
// runs are found by galloping and binary search on the exact quotient; short
// ones go through the vector kernel.
template <class Out>
void fillSaw(const SawSignal& saw, const SampleRun& run, Out* out, std::size_t n, Out low, Out high,
             void (*kernel)(Out*, std::size_t, const kernels::SawForm&, kernels::Clock)) {
    const kernels::SawForm form{widen(saw.Period), widen(saw.MinLevel), widen(saw.MaxLevel)};
    const double samplesPerHalf = std::fabs(form.period * run.frequency);
    if (!(samplesPerHalf >= 64.0)) {
        for (std::size_t done = 0; done < n;) {
            const std::size_t m = std::min(n - done, kernels::kChunk);
            kernel(out + done, m, form, clockOf(run, done));
            done += m;
        }
        return;
    }
    // A quotient that is not finite or beyond 2^63 is one class of its own.
    struct Class {
        bool special;
        double whole;
        bool operator==(const Class&) const = default;
    };
    const auto classOf = [&](std::size_t i) {
        const double q = run.time(i) / form.period;
        if (!(std::fabs(q) < 0x1p63))
            return Class{true, 0.0};
        return Class{false, std::trunc(q)};
    };
    for (std::size_t i = 0; i < n;) {
        const Class c = classOf(i);
        // Last index known in the class, first index known past it (or n).
        std::size_t inside = i;
        std::size_t step = 1;
        std::size_t past = n;
        while (step < n - inside) {
            const std::size_t probe = inside + step;
            if (!(classOf(probe) == c)) {
                past = probe;
                break;
            }
            inside = probe;
            step *= 2;
        }
        while (past - inside > 1) {
            const std::size_t middle = inside + (past - inside) / 2;
            if (classOf(middle) == c)
                inside = middle;
            else
                past = middle;
        }
        const bool odd = !c.special && c.whole - 2.0 * std::trunc(c.whole * 0.5) != 0.0;
        std::fill(out + i, out + past, odd ? low : high);
        i = past;
    }
}

} // namespace

void SawSignal::fillFloats(const SampleRun& run, float* out, std::size_t n) const {
    if (!indicesExact(run, n)) {
        Signal::fillFloats(run, out, n);
        return;
    }
    fillSaw(*this, run, out, n, roundToFloat(widen(MinLevel)), roundToFloat(widen(MaxLevel)),
            kernels::active().sawFloats);
}

void SawSignal::fillDoubles(const SampleRun& run, double* out, std::size_t n) const {
    if (!indicesExact(run, n)) {
        Signal::fillDoubles(run, out, n);
        return;
    }
    fillSaw(*this, run, out, n, widen(MinLevel), widen(MaxLevel), kernels::active().sawDoubles);
}

// ---- NoiseSignal

void NoiseSignal::fillFloats(const SampleRun& run, float* out, std::size_t n) const {
    kernels::active().noiseFloats(out, n, {widen(MinLevel), widen(MaxLevel)}, run.drawState,
                                  run.drawStride);
}

void NoiseSignal::fillDoubles(const SampleRun& run, double* out, std::size_t n) const {
    kernels::active().noiseDoubles(out, n, {widen(MinLevel), widen(MaxLevel)}, run.drawState,
                                   run.drawStride);
}

double NoiseSignal::sampleValue(const SampleRun& run, std::size_t i) const {
    std::uint32_t state = run.from(i).drawState;
    return widen(valueFrom(state));
}

// ---- CompositeSignal

std::uint32_t CompositeSignal::drawsPerSample() const {
    std::uint32_t draws = 0;
    for (const auto& part : parts)
        draws += part->drawsPerSample();
    return draws;
}

double CompositeSignal::sampleValue(const SampleRun& run, std::size_t i) const {
    float s = 0.0f;
    SampleRun partRun = run;
    for (const auto& part : parts) {
        s = roundToFloat(part->sampleValue(partRun, i) + widen(s));
        if (run.drawStride != 0)
            partRun.drawState = kernels::jumpOf(part->drawsPerSample()).apply(partRun.drawState);
    }
    return widen(s);
}

void CompositeSignal::sumStep(const SampleRun& run, float* sum, std::size_t n) const {
    const kernels::Table& kernels = kernels::active();
    Scratch& scratch = *scratch_;
    std::fill_n(sum, n, 0.0f);
    // While every part is exact one sum runs; from a part given as bounds on, a
    // second sum takes the upper bounds, until the two sums agree again (each
    // addition rounds monotonically, so equal sums are the exact sum).
    bool bounded = false;
    SampleRun partRun = run;
    for (const auto& part : parts) {
        if (part->fillBounds(partRun, scratch.lo, scratch.hi, n)) {
            if (bounded)
                kernels.accumulateBounds(sum, scratch.upper, scratch.lo, scratch.lo, n);
            else
                kernels.accumulate(sum, scratch.lo, n);
        } else {
            if (!bounded)
                std::copy_n(sum, n, scratch.upper);
            bounded = true;
            kernels.accumulateBounds(sum, scratch.upper, scratch.lo, scratch.hi, n);
        }
        if (bounded)
            bounded = std::memcmp(sum, scratch.upper, n * sizeof(float)) != 0;
        if (run.drawStride != 0)
            partRun.drawState = kernels::jumpOf(part->drawsPerSample()).apply(partRun.drawState);
    }
    // Samples whose sums still differ are summed again one by one.
    if (bounded)
        for (std::size_t i = 0; i < n; ++i)
            if (floatBits(sum[i]) != floatBits(scratch.upper[i]))
                sum[i] = roundToFloat(sampleValue(run, i));
}

void CompositeSignal::fillFloats(const SampleRun& run, float* out, std::size_t n) const {
    for (std::size_t done = 0; done < n; done += kStep)
        sumStep(run.from(done), out + done, std::min(n - done, kStep));
}

void CompositeSignal::fillDoubles(const SampleRun& run, double* out, std::size_t n) const {
    float* sum = scratch_->sum;
    for (std::size_t done = 0; done < n; done += kStep) {
        const std::size_t m = std::min(n - done, kStep);
        sumStep(run.from(done), sum, m);
        for (std::size_t i = 0; i < m; ++i)
            out[done + i] = widen(sum[i]);
    }
}

} // namespace tolvex
