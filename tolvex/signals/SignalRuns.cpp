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

// ---- LevelSignal

void LevelSignal::fillFloats(const SampleRun&, float* out, std::size_t n) const {
    std::fill_n(out, n, roundToFloat(widen(Level)));
}

void LevelSignal::fillDoubles(const SampleRun&, double* out, std::size_t n) const {
    std::fill_n(out, n, widen(Level));
}

// ---- SineSignal

namespace {

template <class Out>
void fillSine(const SineSignal& sine, const SampleRun& run, Out* out, std::size_t n,
              void (*kernel)(Out*, std::size_t, const kernels::SineForm&, kernels::Clock)) {
    const kernels::SineForm form = kernels::sineFormOf(sine.freq, sine.MinLevel, sine.MaxLevel);
    for (std::size_t done = 0; done < n;) {
        const std::size_t m = std::min(n - done, kernels::kChunk);
        kernel(out + done, m, form, clockOf(run, done));
        done += m;
    }
}

} // namespace

void SineSignal::fillFloats(const SampleRun& run, float* out, std::size_t n) const {
    if (!indicesExact(run, n)) {
        Signal::fillFloats(run, out, n);
        return;
    }
    fillSine(*this, run, out, n, kernels::active().sineFloats);
}

void SineSignal::fillDoubles(const SampleRun& run, double* out, std::size_t n) const {
    if (!indicesExact(run, n)) {
        Signal::fillDoubles(run, out, n);
        return;
    }
    fillSine(*this, run, out, n, kernels::active().sineDoubles);
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

// ---- CompositeSignal

std::uint32_t CompositeSignal::drawsPerSample() const {
    std::uint32_t draws = 0;
    for (const auto& part : parts)
        draws += part->drawsPerSample();
    return draws;
}

void CompositeSignal::sumStep(const SampleRun& run, float* sum, std::size_t n) const {
    const kernels::Table& kernels = kernels::active();
    double* part = scratch_->part;
    std::fill_n(sum, n, 0.0f);
    SampleRun partRun = run;
    for (const auto& p : parts) {
        p->fillDoubles(partRun, part, n);
        kernels.accumulate(sum, part, n);
        if (run.drawStride != 0)
            partRun.drawState = kernels::jumpOf(p->drawsPerSample()).apply(partRun.drawState);
    }
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
