#include "Utypes.h"

#include "Kernels.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace tolvex {

using namespace platform::literals;
using platform::FloatToStr;

float roundToFloat(double value) {
    if (std::isnan(value))
        return std::numeric_limits<float>::quiet_NaN();
    return static_cast<float>(value);
}

namespace {

double widen(float v) {
    return static_cast<double>(v);
}

// The display limits of a span from `lower` to `upper` with a margin of
// `share` times the span on each side.
void spanRange(float maxLevel, float minLevel, double share, float& upper, float& lower) {
    const float d = roundToFloat(widen(maxLevel) - widen(minLevel));
    upper = roundToFloat(widen(maxLevel) + share * widen(d));
    lower = roundToFloat(widen(minLevel) - share * widen(d));
}

float readFloat(const TIniFile& ini, const std::string& section, const char* key, float fallback) {
    return roundToFloat(ini.ReadFloat(section, key, widen(fallback)));
}

SignalEditors gEditors;

std::vector<std::unique_ptr<Signal>>& prototypes() {
    static std::vector<std::unique_ptr<Signal>> all;
    return all;
}

std::uint32_t gNoiseState = 1;

} // namespace

// ---- LevelSignal

bool LevelSignal::edit() {
    return gEditors.level != nullptr && gEditors.level(*this);
}

double LevelSignal::value(double) const {
    return widen(Level);
}

std::string LevelSignal::kindName() const {
    return "Уровень"_w;
}

std::string LevelSignal::description() const {
    return "Постоянный уровень ="_w;
}

std::unique_ptr<Signal> LevelSignal::clone() const {
    return std::make_unique<LevelSignal>(*this);
}

void LevelSignal::save(TIniFile& ini, const std::string& section) const {
    ini.WriteFloat(section, "Level", widen(Level));
}

void LevelSignal::load(TIniFile& ini, const std::string& section) {
    Level = readFloat(ini, section, "Level", 0.0f);
}

void LevelSignal::range(float& upper, float& lower) const {
    upper = roundToFloat(widen(Level) + 10.0);
    lower = roundToFloat(widen(Level) - 10.0);
}

// ---- SineSignal

bool SineSignal::edit() {
    return gEditors.sine != nullptr && gEditors.sine(*this);
}

// The kernels' own sine formula, so that a value and a vector sample are one
// computation (NaN canonical).
double SineSignal::value(double t) const {
    return kernels::sineValue(kernels::sineFormOf(freq, MinLevel, MaxLevel), t);
}

std::string SineSignal::kindName() const {
    return "Синус"_w;
}

std::string SineSignal::description() const {
    return std::string("Синус F="_w) + FloatToStr(widen(freq)) +
           "  Amin=" + FloatToStr(widen(MinLevel)) + "  Amax=" + FloatToStr(widen(MaxLevel));
}

std::unique_ptr<Signal> SineSignal::clone() const {
    return std::make_unique<SineSignal>(*this);
}

void SineSignal::save(TIniFile& ini, const std::string& section) const {
    ini.WriteFloat(section, "MaxLevel", widen(MaxLevel));
    ini.WriteFloat(section, "MinLevel", widen(MinLevel));
    ini.WriteFloat(section, "freq", widen(freq));
}

void SineSignal::load(TIniFile& ini, const std::string& section) {
    MaxLevel = readFloat(ini, section, "MaxLevel", 100.0f);
    MinLevel = readFloat(ini, section, "MinLevel", -100.0f);
    freq = readFloat(ini, section, "freq", 10.0f);
}

void SineSignal::range(float& upper, float& lower) const {
    spanRange(MaxLevel, MinLevel, 0.1, upper, lower);
}

// ---- SawSignal

bool SawSignal::edit() {
    return gEditors.saw != nullptr && gEditors.saw(*this);
}

double SawSignal::value(double t) const {
    const double q = t / widen(Period);
    // Doubles of 2^63 and more are even integers, as is a not-finite quotient
    // taken as 0: both give MaxLevel.
    if (!std::isfinite(q) || std::fabs(q) >= 0x1p63)
        return widen(MaxLevel);
    const auto n = static_cast<std::int64_t>(q);
    return (n % 2 != 0) ? widen(MinLevel) : widen(MaxLevel);
}

std::string SawSignal::kindName() const {
    return "Пила"_w;
}

std::string SawSignal::description() const {
    return std::string("Пила: Период= "_w) + FloatToStr(widen(Period)) + " Мин.= "_w +
           FloatToStr(widen(MinLevel)) + " Макс.="_w + FloatToStr(widen(MaxLevel));
}

std::unique_ptr<Signal> SawSignal::clone() const {
    return std::make_unique<SawSignal>(*this);
}

void SawSignal::save(TIniFile& ini, const std::string& section) const {
    ini.WriteFloat(section, "MaxLevel", widen(MaxLevel));
    ini.WriteFloat(section, "MinLevel", widen(MinLevel));
    ini.WriteFloat(section, "Period", widen(Period));
}

void SawSignal::load(TIniFile& ini, const std::string& section) {
    MaxLevel = readFloat(ini, section, "MaxLevel", 100.0f);
    MinLevel = readFloat(ini, section, "MinLevel", -100.0f);
    Period = readFloat(ini, section, "Period", Period);
}

void SawSignal::range(float& upper, float& lower) const {
    spanRange(MaxLevel, MinLevel, 0.1, upper, lower);
}

// ---- NoiseSignal

namespace noise {

std::uint32_t draw() {
    gNoiseState = gNoiseState * 22695477u + 1u;
    return (gNoiseState >> 16) & 32767u;
}

std::uint32_t state() {
    return gNoiseState;
}

void reset(std::uint32_t state) {
    gNoiseState = state;
}

} // namespace noise

bool NoiseSignal::edit() {
    return gEditors.noise != nullptr && gEditors.noise(*this);
}

double NoiseSignal::value(double) const {
    return widen(valueFrom(gNoiseState));
}

float NoiseSignal::valueFrom(std::uint32_t& state) const {
    float s = 0.0f;
    for (int i = 0; i < 20; ++i) {
        state = state * 22695477u + 1u;
        const double r = static_cast<double>((state >> 16) & 32767u);
        s = roundToFloat(r * (1.0 / 32767.0) - 0.5 + widen(s));
    }
    const float scaled = roundToFloat(widen(s) * 0.2237136465324385);
    return roundToFloat((widen(MaxLevel) - widen(MinLevel)) * widen(scaled) +
                        (widen(MaxLevel) + widen(MinLevel)) * 0.5);
}

std::string NoiseSignal::kindName() const {
    return "Шум"_w;
}

std::string NoiseSignal::description() const {
    return "Белый шум"_w;
}

std::unique_ptr<Signal> NoiseSignal::clone() const {
    return std::make_unique<NoiseSignal>(*this);
}

void NoiseSignal::save(TIniFile& ini, const std::string& section) const {
    ini.WriteFloat(section, "MaxLevel", widen(MaxLevel));
    ini.WriteFloat(section, "MinLevel", widen(MinLevel));
}

void NoiseSignal::load(TIniFile& ini, const std::string& section) {
    MaxLevel = readFloat(ini, section, "MaxLevel", 100.0f);
    MinLevel = readFloat(ini, section, "MinLevel", -100.0f);
}

void NoiseSignal::range(float& upper, float& lower) const {
    spanRange(MaxLevel, MinLevel, 2.0, upper, lower);
}

// ---- CompositeSignal

CompositeSignal::CompositeSignal() : scratch_(std::make_unique<Scratch>()) {
    parts.push_back(std::make_unique<SineSignal>());
}

void setSignalEditors(const SignalEditors& editors) {
    gEditors = editors;
}

bool CompositeSignal::edit() {
    if (gEditors.composite != nullptr) {
        try {
            gEditors.composite(*this);
        } catch (...) {
            // The editor puts its result in place only on success; nothing to undo.
        }
    }
    return true;
}

double CompositeSignal::value(double t) const {
    float s = 0.0f;
    for (const auto& part : parts)
        s = roundToFloat(part->value(t) + widen(s));
    return widen(s);
}

std::string CompositeSignal::kindName() const {
    return "Сумма"_w;
}

std::string CompositeSignal::description() const {
    return "Составной сигнал"_w;
}

std::unique_ptr<Signal> CompositeSignal::clone() const {
    auto copy = std::make_unique<CompositeSignal>();
    copy->parts.clear();
    copy->parts.reserve(parts.size());
    for (const auto& part : parts)
        copy->parts.push_back(part->clone());
    return copy;
}

void CompositeSignal::save(TIniFile& ini, const std::string& section) const {
    ini.WriteInteger(section, "PartsCount", static_cast<std::int32_t>(parts.size()));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string partSection = section + "_Part" + std::to_string(i);
        ini.WriteString(partSection, "Formula", parts[i]->kindName());
        parts[i]->save(ini, partSection);
    }
}

void CompositeSignal::load(TIniFile& ini, const std::string& section) {
    LoadBounds bounds;
    load(ini, section, bounds, 1);
}

void CompositeSignal::load(TIniFile& ini, const std::string& section, LoadBounds& bounds,
                           int depth) {
    parts.clear();
    const std::int32_t n = ini.ReadInteger(section, "PartsCount", 0);
    if (n > 0 && depth > LoadBounds::kMaxDepth) {
        bounds.cuts.push_back(section + ": вложенность больше "_w +
                              std::to_string(LoadBounds::kMaxDepth) + ", частей не загружено"_w);
        return;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        const std::string partSection = section + "_Part" + std::to_string(i);
        if (!ini.SectionExists(partSection)) {
            if (bounds.defaultedLeft == 0) {
                bounds.cuts.push_back(section + ": частей "_w + std::to_string(n) +
                                      ", загружено "_w + std::to_string(i));
                return;
            }
            --bounds.defaultedLeft;
        }
        auto part = createByKindName(ini.ReadString(partSection, "Formula", "Уровень"_w));
        if (auto* composite = dynamic_cast<CompositeSignal*>(part.get()))
            composite->load(ini, partSection, bounds, depth + 1);
        else
            part->load(ini, partSection);
        parts.push_back(std::move(part));
    }
}

void CompositeSignal::range(float& upper, float& lower) const {
    float u = 0.0f;
    float l = 0.0f;
    for (const auto& part : parts) {
        float pu = 0.0f;
        float pl = 0.0f;
        part->range(pu, pl);
        u = roundToFloat(widen(pu) + widen(u));
        l = roundToFloat(widen(pl) + widen(l));
    }
    spanRange(u, l, 0.1, upper, lower);
}

// ---- registry

void SignalKinds::fill() {
    auto& all = prototypes();
    all.clear();
    all.push_back(std::make_unique<LevelSignal>());
    all.push_back(std::make_unique<SineSignal>());
    all.push_back(std::make_unique<SawSignal>());
    all.push_back(std::make_unique<CompositeSignal>());
    all.push_back(std::make_unique<NoiseSignal>());
}

void SignalKinds::clear() {
    prototypes().clear();
}

std::size_t SignalKinds::count() {
    return prototypes().size();
}

const Signal& SignalKinds::at(std::size_t index) {
    const auto& all = prototypes();
    if (index >= all.size())
        throw std::out_of_range("no signal kind at this index");
    return *all[index];
}

std::unique_ptr<Signal> createByKindName(const std::string& name) {
    const auto& all = prototypes();
    for (const auto& prototype : all)
        if (prototype->kindName() == name)
            return prototype->clone();
    if (all.empty())
        return std::make_unique<LevelSignal>(); // registry not filled yet
    return all.front()->clone();
}

} // namespace tolvex
