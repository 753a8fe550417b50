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

// A double rounded to the nearest 32-bit float; magnitudes beyond the float
// range become infinities instead of an undefined conversion.
float roundToFloat(double value);

class Signal {
public:
    virtual ~Signal() = default;

    // Opens the kind's modal parameter dialog; true when the user confirmed and
    // every field was accepted.
    virtual bool edit() = 0;
    // The sample value at t seconds.
    virtual double value(float t) const = 0;
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
    double value(float t) const override;
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
    double value(float t) const override;
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
    double value(float t) const override;
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
    double value(float t) const override;
    std::string kindName() const override;
    std::string description() const override;
    std::unique_ptr<Signal> clone() const override;
    void save(TIniFile& ini, const std::string& section) const override;
    void load(TIniFile& ini, const std::string& section) override;
    void range(float& upper, float& lower) const override;
};

// The sum of its parts, which may be composites themselves.
class CompositeSignal final : public Signal {
public:
    CompositeSignal(); // one default sine part
    CompositeSignal(const CompositeSignal&) = delete;
    CompositeSignal& operator=(const CompositeSignal&) = delete;

    std::vector<std::unique_ptr<Signal>> parts;

    // load reads at most this many parts, whatever "PartsCount" says.
    static constexpr std::int32_t kMaxParts = 10000;

    bool edit() override;
    double value(float t) const override;
    std::string kindName() const override;
    std::string description() const override;
    std::unique_ptr<Signal> clone() const override;
    void save(TIniFile& ini, const std::string& section) const override;
    void load(TIniFile& ini, const std::string& section) override;
    void range(float& upper, float& lower) const override;
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
void reset(std::uint32_t state = 1); // tests
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
