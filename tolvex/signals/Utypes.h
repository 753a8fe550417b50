// Signals: the abstract signal of a virtual channel, its five kinds and the
// registry of kind prototypes. All parameters are 32-bit floats; texts are
// code page 1251.
//
// Layer tolvex/signals, the lowest of the module: uses the platform layer
// only; knows nothing of channels, the plug-in object, forms or views.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class TIniFile;
}

namespace tolvex {

using platform::TIniFile;

// A double rounded to the nearest 32-bit float (the IEEE conversion: beyond
// the float range, infinity); every NaN becomes the one quiet NaN.
float roundToFloat(double value);

// A run of consecutive samples of a channel: sample i of the run is sample
// k = first + i, at t = k / frequency in double precision. Noise draws of
// sample i start after the generator state jumped i * drawStride steps on
// from drawState: drawState is where this signal's own draws of the run's
// first sample begin, drawStride the draws one sample of the channel's whole
// signal takes (so that several noise parts interleave as one by one).
struct SampleRun {
    std::uint64_t first = 0;
    double frequency = 0.0;
    std::uint32_t drawState = 0;
    std::uint32_t drawStride = 0;

    double time(std::size_t i) const { return static_cast<double>(first + i) / frequency; }
    // The run from its sample `offset` on, with this signal's draws there.
    SampleRun from(std::size_t offset) const;
};

class Signal {
public:
    virtual ~Signal() = default;

    // Opens the kind's modal parameter dialog; true when the user confirmed and
    // every field was accepted.
    virtual bool edit() = 0;
    // The sample value at t seconds.
    virtual double value(double t) const = 0;

    // Samples first .. first + n - 1 at `frequency` (t = k / frequency) into
    // out: bit for bit what value gives, rounded to float for the float
    // overload. Noise draws from the shared generator exactly as n calls of
    // value would, and leaves it where they would. Allocates nothing.
    void fill(float* out, std::uint64_t first, std::size_t n, double frequency) const;
    void fill(double* out, std::uint64_t first, std::size_t n, double frequency) const;

    // The batch operations behind fill, one set per kind. The defaults call
    // value sample by sample (right for a signal that draws no noise).
    virtual void fillFloats(const SampleRun& run, float* out, std::size_t n) const;
    virtual void fillDoubles(const SampleRun& run, double* out, std::size_t n) const;
    // Generator draws one sample takes (20 for each noise part).
    virtual std::uint32_t drawsPerSample() const { return 0; }
    // The kind's fixed identifier ("Уровень", "Синус", ...).
    virtual std::string kindName() const = 0;
    // A one-line summary shown in the channel list.
    virtual std::string description() const = 0;
    // A deep copy owned by the caller.
    virtual std::unique_ptr<Signal> clone() const = 0;
    virtual void save(TIniFile& ini, const std::string& section) const = 0;
    virtual void load(TIniFile& ini, const std::string& section) = 0;
    // The display limits of a channel carrying this signal.
    virtual void range(float& upper, float& lower) const = 0;
};

class LevelSignal final : public Signal {
public:
    float Level = 0.0f;

    bool edit() override;
    double value(double t) const override;
    void fillFloats(const SampleRun& run, float* out, std::size_t n) const override;
    void fillDoubles(const SampleRun& run, double* out, std::size_t n) const override;
    std::string kindName() const override;
    std::string description() const override;
    std::unique_ptr<Signal> clone() const override;
    void save(TIniFile& ini, const std::string& section) const override;
    void load(TIniFile& ini, const std::string& section) override;
    void range(float& upper, float& lower) const override;
};

class SineSignal final : public Signal {
public:
    float MaxLevel = 100.0f;
    float MinLevel = -100.0f;
    float freq = 10.0f;

    bool edit() override;
    double value(double t) const override;
    void fillFloats(const SampleRun& run, float* out, std::size_t n) const override;
    void fillDoubles(const SampleRun& run, double* out, std::size_t n) const override;
    std::string kindName() const override;
    std::string description() const override;
    std::unique_ptr<Signal> clone() const override;
    void save(TIniFile& ini, const std::string& section) const override;
    void load(TIniFile& ini, const std::string& section) override;
    void range(float& upper, float& lower) const override;
};

// A two-level wave: MaxLevel for Period seconds, then MinLevel for Period seconds.
class SawSignal final : public Signal {
public:
    float MinLevel = -100.0f;
    float MaxLevel = 100.0f;
    float Period = 1.0f;

    bool edit() override;
    double value(double t) const override;
    void fillFloats(const SampleRun& run, float* out, std::size_t n) const override;
    void fillDoubles(const SampleRun& run, double* out, std::size_t n) const override;
    std::string kindName() const override;
    std::string description() const override;
    std::unique_ptr<Signal> clone() const override;
    void save(TIniFile& ini, const std::string& section) const override;
    void load(TIniFile& ini, const std::string& section) override;
    void range(float& upper, float& lower) const override;
};

class NoiseSignal final : public Signal {
public:
    float MinLevel = -100.0f;
    float MaxLevel = 100.0f;

    bool edit() override;
    double value(double t) const override;
    void fillFloats(const SampleRun& run, float* out, std::size_t n) const override;
    void fillDoubles(const SampleRun& run, double* out, std::size_t n) const override;
    std::uint32_t drawsPerSample() const override { return 20; }
    // One value from twenty draws starting after `state`, which advances.
    float valueFrom(std::uint32_t& state) const;
    std::string kindName() const override;
    std::string description() const override;
    std::unique_ptr<Signal> clone() const override;
    void save(TIniFile& ini, const std::string& section) const override;
    void load(TIniFile& ini, const std::string& section) override;
    void range(float& upper, float& lower) const override;
};

struct LoadBounds;

// The sum of its parts, which may be composites themselves.
class CompositeSignal final : public Signal {
public:
    CompositeSignal(); // one default sine part
    CompositeSignal(const CompositeSignal&) = delete;
    CompositeSignal& operator=(const CompositeSignal&) = delete;

    std::vector<std::unique_ptr<Signal>> parts;

    bool edit() override;
    double value(double t) const override;
    void fillFloats(const SampleRun& run, float* out, std::size_t n) const override;
    void fillDoubles(const SampleRun& run, double* out, std::size_t n) const override;
    std::uint32_t drawsPerSample() const override;
    std::string kindName() const override;
    std::string description() const override;
    std::unique_ptr<Signal> clone() const override;
    void save(TIniFile& ini, const std::string& section) const override;
    void load(TIniFile& ini, const std::string& section) override;
    void range(float& upper, float& lower) const override;

    // Samples summed per step of a batch; the scratch is made with the composite.
    static constexpr std::size_t kStep = 256;

    // load within the bounds of one whole loading, `depth` this composite's
    // nesting (1 for a channel's own signal).
    void load(TIniFile& ini, const std::string& section, LoadBounds& bounds, int depth);

private:
    // The exact sums of samples 0 .. n - 1 (n <= kStep) of the run into sum.
    void sumStep(const SampleRun& run, float* sum, std::size_t n) const;

    struct Scratch {
        double part[kStep];
        float sum[kStep];
    };
    std::unique_ptr<Scratch> scratch_;
};

// The bounds of one loading against hostile files. Parts and channels stored
// in sections of their own always load, so that a file the module wrote loads
// whole; those a count claims without a section (which load with defaults)
// share one budget; composites nest at most kMaxDepth deep. What a bound cuts
// is noted, one line each.
struct LoadBounds {
    static constexpr std::size_t kMaxDefaulted = 65536;
    static constexpr int kMaxDepth = 64;
    std::size_t defaultedLeft = kMaxDefaulted;
    std::vector<std::string> cuts; // 1251
};

// The parameter dialogs of the kinds, reached through this one seam so that
// signals know nothing of windows; the forms layer installs them. Without an
// editor a kind's edit changes nothing and answers false (a composite's, true).
struct SignalEditors {
    bool (*level)(LevelSignal& signal) = nullptr;
    bool (*sine)(SineSignal& signal) = nullptr;
    bool (*saw)(SawSignal& signal) = nullptr;
    bool (*noise)(NoiseSignal& signal) = nullptr;
    bool (*composite)(CompositeSignal& signal) = nullptr;
};
void setSignalEditors(const SignalEditors& editors);

// The noise generator: state = state * 22695477 + 1 (mod 2^32); a draw is bits
// 16..30 of the new state. It starts at 1 and is never seeded.
namespace noise {
std::uint32_t draw();
std::uint32_t state();
void reset(std::uint32_t state = 1);
} // namespace noise

// The process-wide registry of one prototype per kind, in the fixed order
// level, sine, saw, composite, noise.
class SignalKinds {
public:
    static void fill();  // registers the five prototypes (config)
    static void clear(); // drops them (close)
    static std::size_t count();
    static const Signal& at(std::size_t index); // std::out_of_range when absent
};

// A clone of the prototype whose kindName equals `name` byte for byte; of
// prototype 0 (a level) when none does.
std::unique_ptr<Signal> createByKindName(const std::string& name);

} // namespace tolvex
