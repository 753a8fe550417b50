// Generation and data requests of the emulator: the module alone (a channel
// feeding a host channel that keeps nothing) and through the reference host
// (with call recording and sample keeping off), each beside a plain scalar
// loop of the sample formulas timed in the same run. Counters, on the
// thread's processor time: MS/s of the module, MS/s of the scalar loop, their
// ratio, and the goal.
#include "Editors.h"
#include "Kernels.h"
#include "Tolvex.h"
#include "Umainfrm.h"
#include "Utypes.h"
#include "VirtualChannel.h"

#include "host/host.h"
#include "platform/com.h"
#include "platform/ticks.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

// The calling thread's processor time in seconds: the figures stay those of
// one core when other work shares the machine.
double cpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

constexpr double kRate = 216000.0;
constexpr std::uint64_t kStepSamples = 64800; // 300 ms at 216000 Hz

enum Kind { Level, Saw, Sine, SumOfThree, Noise };
const char* const kKindNames[] = {"level", "saw", "sine", "sum of three", "noise"};

std::unique_ptr<tolvex::Signal> kind(int index) {
    switch (index) {
    case Level:
        return std::make_unique<tolvex::LevelSignal>();
    case Saw:
        return std::make_unique<tolvex::SawSignal>();
    case Sine:
        return std::make_unique<tolvex::SineSignal>();
    case SumOfThree: {
        auto sum = std::make_unique<tolvex::CompositeSignal>(); // a sine
        sum->parts.push_back(std::make_unique<tolvex::SawSignal>());
        sum->parts.push_back(std::make_unique<tolvex::LevelSignal>());
        return sum;
    }
    default:
        return std::make_unique<tolvex::NoiseSignal>();
    }
}

// ---- The plain scalar loops: the formulas sample by sample, t a float of k / F.

float scalarSine(float t, float freq, float minLevel, float maxLevel) {
    const double arg =
        ((static_cast<double>(freq) * 2.0) * 3.141592653589793) * static_cast<double>(t);
    const double d = static_cast<double>(maxLevel) - static_cast<double>(minLevel);
    return static_cast<float>(static_cast<double>(minLevel) + (0.5 * std::sin(arg) + 0.5) * d);
}

float scalarSaw(float t, float period, float minLevel, float maxLevel) {
    const double q = static_cast<double>(t) / static_cast<double>(period);
    if (!std::isfinite(q) || std::fabs(q) >= 0x1p63)
        return maxLevel;
    return static_cast<std::int64_t>(q) % 2 != 0 ? minLevel : maxLevel;
}

float scalarNoise(std::uint32_t& state, float minLevel, float maxLevel) {
    float s = 0.0f;
    for (int i = 0; i < 20; ++i) {
        state = state * 22695477u + 1u;
        const double r = static_cast<double>((state >> 16) & 32767u);
        s = static_cast<float>(r * (1.0 / 32767.0) - 0.5 + static_cast<double>(s));
    }
    const float scaled = static_cast<float>(static_cast<double>(s) * 0.2237136465324385);
    const double lo = static_cast<double>(minLevel);
    const double hi = static_cast<double>(maxLevel);
    return static_cast<float>((hi - lo) * static_cast<double>(scaled) + (hi + lo) * 0.5);
}

void scalarLoop(int k, float* out, std::uint64_t first, std::size_t n, std::uint32_t& state) {
    for (std::size_t i = 0; i < n; ++i) {
        const float t = static_cast<float>(static_cast<double>(first + i) / kRate);
        float v = 0.0f;
        switch (k) {
        case Level:
            v = 0.0f;
            break;
        case Saw:
            v = scalarSaw(t, 1.0f, -100.0f, 100.0f);
            break;
        case Sine:
            v = scalarSine(t, 10.0f, -100.0f, 100.0f);
            break;
        case SumOfThree: {
            float s = scalarSine(t, 10.0f, -100.0f, 100.0f);
            s = static_cast<float>(static_cast<double>(scalarSaw(t, 1.0f, -100.0f, 100.0f)) +
                                   static_cast<double>(s));
            v = static_cast<float>(0.0 + static_cast<double>(s));
            break;
        }
        default:
            v = scalarNoise(state, -100.0f, 100.0f);
        }
        out[i] = v;
    }
}

// The scalar loop's rate in samples per second: the median of seven passes of
// one generation step's samples.
double scalarRate(int k) {
    std::vector<float> out(kStepSamples);
    std::uint32_t state = 1;
    std::vector<double> rates;
    for (int pass = 0; pass < 7; ++pass) {
        const double start = cpuSeconds();
        scalarLoop(k, out.data(), kStepSamples * static_cast<unsigned>(pass), out.size(), state);
        benchmark::DoNotOptimize(out.data());
        const double seconds = (cpuSeconds() - start);
        rates.push_back(static_cast<double>(kStepSamples) / seconds);
    }
    std::nth_element(rates.begin(), rates.begin() + 3, rates.end());
    return rates[3];
}

void report(benchmark::State& state, double samples, double seconds, double scalar, double goal) {
    const double rate = samples / seconds;
    state.counters["MS/s"] = rate * 1e-6;
    state.counters["scalar_MS/s"] = scalar * 1e-6;
    state.counters["ratio"] = rate / scalar;
    state.counters["goal_MS/s"] = goal;
}

// Picks the kernels of a benchmark: 0 the widest this processor runs, 1 AVX2.
bool useKernels(benchmark::State& state, std::int64_t which) {
    const auto isa = which == 1 ? tolvex::kernels::Isa::Avx2 : tolvex::kernels::detectIsa();
    if (!tolvex::kernels::activate(isa)) {
        state.SkipWithError("no such kernels on this machine");
        return false;
    }
    state.SetLabel(std::string(kKindNames[state.range(0)]) + ", " + tolvex::kernels::active().name);
    return true;
}

// ---- Module only: a channel and a host channel that keeps nothing.

class QuietChannel final : public IRecorderChannel {
public:
    QuietChannel(double frequency, std::int32_t block) : frequency_(frequency), block_(block) {}
    std::uint64_t blocks = 0;

    HRESULT RECAPI QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG RECAPI AddRef() override { return 1; }
    ULONG RECAPI Release() override { return 1; }
    HRESULT RECAPI reserved3() override { return E_FAIL; }
    HRESULT RECAPI reserved4() override { return E_FAIL; }
    HRESULT RECAPI setname(const char*) override { return S_OK; }
    const char* RECAPI getname() override { return "Fast"; }
    HRESULT RECAPI setfrequency(double frequency) override {
        frequency_ = frequency;
        return S_OK;
    }
    double RECAPI getfrequency() override { return frequency_; }
    HRESULT RECAPI reserved9() override { return E_FAIL; }
    HRESULT RECAPI setproperty(std::uint32_t, VARIANT) override { return S_OK; }
    bool RECAPI getproperty(std::uint32_t id, VARIANT* value) override {
        if (id != CHANNEL_PROP_BLOCK_LENGTH)
            return false;
        value->vt = VT_I4;
        value->lVal = block_;
        return true;
    }
    HRESULT RECAPI reserved12() override { return E_FAIL; }
    HRESULT RECAPI reserved13() override { return E_FAIL; }
    HRESULT RECAPI reserved14() override { return E_FAIL; }
    HRESULT RECAPI activate(std::int32_t) override { return S_OK; }
    HRESULT RECAPI putdata(const float* block, std::int32_t) override {
        benchmark::DoNotOptimize(block);
        ++blocks;
        return S_OK;
    }

private:
    double frequency_;
    std::int32_t block_;
};

const double kModuleGoals[] = {2000.0, 1000.0, 250.0, 250.0, 110.0};

// One channel at 216000 Hz with blocks of 1000, one 300 ms step per iteration.
void ModuleOnly(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    if (!useKernels(state, state.range(1)))
        return;
    const double scalar = scalarRate(k);
    platform::setTestTicks(1000);
    QuietChannel host(kRate, 1000);
    tolvex::CVirtualChannel channel("Fast");
    channel.signal = kind(k);
    channel.Bind(&host);
    channel.Start();
    const double start = cpuSeconds();
    for (auto _ : state) {
        platform::advanceTestTicks(300);
        channel.Generate();
    }
    const double seconds = (cpuSeconds() - start);
    const bool avx512 = tolvex::kernels::active().name == std::string("avx512");
    double goal = kModuleGoals[k];
    if (k == Noise && avx512)
        goal = 140.0;
    if (k == Sine)
        goal = avx512 ? 1000.0 : 700.0;
    report(state, static_cast<double>(state.iterations() * kStepSamples), seconds, scalar, goal);
    platform::clearTestTicks();
    tolvex::kernels::activate(tolvex::kernels::detectIsa());
}
BENCHMARK(ModuleOnly)
    ->ArgsProduct({{Level, Saw, Sine, SumOfThree, Noise}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// ---- Through the reference host.

class Bench {
public:
    Bench() {
        ::setenv("TOLVEX_INI", "/dev/null/none", 1); // nothing is saved
        host.options().recordCalls = false;
        host.options().keepSamples = false;
        tolvex::installEditors();
        plugin = new tolvex::CTolvex();
        tolvex::setCurrentPlugin(plugin);
        plugin->create(module.recorder());
        plugin->config();
        platform::setTestTicks(1000);
    }
    ~Bench() {
        plugin->close();
        plugin->Release();
        platform::clearTestTicks();
    }
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    tolvex::CVirtualChannel& add(const std::string& name, float frequency,
                                 std::unique_ptr<tolvex::Signal> signal, std::int32_t block) {
        auto channel = std::make_unique<tolvex::CVirtualChannel>(name);
        channel->frequency = frequency;
        channel->signal = std::move(signal);
        plugin->channels.push_back(std::move(channel));
        tolvex::RegisterChannel(*plugin->channels.back());
        host.channel(name)->setBlockLength(block);
        return *plugin->channels.back();
    }

    host::Host host;
    host::LoadedModule module{host, "Tolvex"};
    tolvex::CTolvex* plugin = nullptr;
};

// One channel at 216000 Hz with blocks of 1000, one 300 ms step per iteration.
void ThroughHost(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    if (!useKernels(state, 0))
        return;
    const double scalar = scalarRate(k);
    Bench bench;
    bench.add("Fast", static_cast<float>(kRate), kind(k), 1000);
    bench.plugin->notify(PN_UPDATECHANNELS, 0);
    bench.plugin->notify(PN_RCSTART, 0);
    const double start = cpuSeconds();
    for (auto _ : state) {
        platform::advanceTestTicks(300);
        tolvex::mainForm(*bench.plugin)->Timer1Timer();
    }
    const double seconds = (cpuSeconds() - start);
    report(state, static_cast<double>(state.iterations() * kStepSamples), seconds, scalar, 0.0);
}
BENCHMARK(ThroughHost)->DenseRange(Level, Noise)->Unit(benchmark::kMillisecond);

// 1000 sine channels at 216000 Hz: one 300 ms step per iteration, which one
// core keeps live while a step takes less than 300 ms ("load" below 1).
void ThousandSineChannels(benchmark::State& state) {
    state.SetLabel(tolvex::kernels::active().name);
    Bench bench;
    for (int i = 0; i < 1000; ++i)
        bench.add("C" + std::to_string(i), static_cast<float>(kRate), kind(Sine), 1000);
    bench.plugin->notify(PN_UPDATECHANNELS, 0);
    bench.plugin->notify(PN_RCSTART, 0);
    const double start = cpuSeconds();
    for (auto _ : state) {
        platform::advanceTestTicks(300);
        tolvex::mainForm(*bench.plugin)->Timer1Timer();
    }
    const double seconds = (cpuSeconds() - start);
    const double perStep = seconds / static_cast<double>(state.iterations());
    state.counters["load"] = perStep / 0.3;
    state.counters["MS/s"] = 1000.0 * static_cast<double>(kStepSamples) / perStep * 1e-6;
}
BENCHMARK(ThousandSineChannels)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A data request of 1,000,000 samples of a sine, a level and noise, beside the
// scalar loop of the same samples (as doubles, t a float of k / F); the second
// argument picks the kernels as for ModuleOnly.
void DataRequestMillion(benchmark::State& state) {
    const int k = static_cast<int>(state.range(0));
    if (!useKernels(state, state.range(1)))
        return;
    Bench bench;
    bench.add("S", 10000.0f, kind(k), 100);
    std::vector<double> buffer(1000000);
    DataRequest request{};
    request.asking = bench.host.channel("S");
    request.count = static_cast<std::int32_t>(buffer.size());
    request.buffer = buffer.data();
    std::vector<float> scalarOut(buffer.size());
    std::uint32_t noiseState = 1;
    const double scalarStart = cpuSeconds();
    scalarLoop(k, scalarOut.data(), 0, scalarOut.size(), noiseState);
    benchmark::DoNotOptimize(scalarOut.data());
    const double scalarSeconds = (cpuSeconds() - scalarStart);
    const double start = cpuSeconds();
    for (auto _ : state) {
        const bool ok = bench.plugin->notify(PN_GETDATA, reinterpret_cast<NotifyParam>(&request));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(buffer.data());
    }
    const double seconds = (cpuSeconds() - start) / static_cast<double>(state.iterations());
    state.counters["ms"] = seconds * 1e3;
    state.counters["MS/s"] = static_cast<double>(buffer.size()) / seconds * 1e-6;
    state.counters["scalar_ms"] = scalarSeconds * 1e3;
    state.counters["ratio"] = scalarSeconds / seconds;
    state.counters["goal_ms"] = k == Sine ? 2.0 : k == Level ? 0.5 : 8.0;
    tolvex::kernels::activate(tolvex::kernels::detectIsa());
}
BENCHMARK(DataRequestMillion)
    ->ArgsProduct({{Sine, Level, Noise}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
