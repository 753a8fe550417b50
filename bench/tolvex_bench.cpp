// Generation and data requests of the emulator core, on the settable clock
// against the reference host (with call recording and sample keeping off).
#include "Editors.h"
#include "Tolvex.h"
#include "Umainfrm.h"
#include "Utypes.h"
#include "VirtualChannel.h"

#include "host/host.h"
#include "platform/ticks.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

namespace {

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

std::unique_ptr<tolvex::Signal> kind(int index) {
    switch (index) {
    case 0:
        return std::make_unique<tolvex::LevelSignal>();
    case 1:
        return std::make_unique<tolvex::SineSignal>();
    case 2:
        return std::make_unique<tolvex::SawSignal>();
    case 3: {
        auto sum = std::make_unique<tolvex::CompositeSignal>(); // sine
        sum->parts.push_back(std::make_unique<tolvex::SawSignal>());
        sum->parts.push_back(std::make_unique<tolvex::LevelSignal>());
        return sum;
    }
    default:
        return std::make_unique<tolvex::NoiseSignal>();
    }
}

const char* const kKindNames[] = {"level", "sine", "saw", "sum of three", "noise"};

// One channel at 216000 Hz, one 300 ms generation step per iteration.
void GenerateOneChannel216kHz(benchmark::State& state) {
    Bench bench;
    const int k = static_cast<int>(state.range(0));
    state.SetLabel(kKindNames[k]);
    bench.add("Fast", 216000.0f, kind(k), 1000);
    bench.plugin->notify(PN_UPDATECHANNELS, 0);
    bench.plugin->notify(PN_RCSTART, 0);
    for (auto _ : state) {
        platform::advanceTestTicks(300);
        tolvex::mainForm(*bench.plugin)->Timer1Timer();
    }
    state.SetItemsProcessed(state.iterations() * 64800);
}
BENCHMARK(GenerateOneChannel216kHz)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

// 100 sine channels at 10000 Hz, one 300 ms step per iteration.
void GenerateHundredChannels10kHz(benchmark::State& state) {
    Bench bench;
    for (int i = 0; i < 100; ++i)
        bench.add("C" + std::to_string(i), 10000.0f, kind(1), 100);
    bench.plugin->notify(PN_UPDATECHANNELS, 0);
    bench.plugin->notify(PN_RCSTART, 0);
    for (auto _ : state) {
        platform::advanceTestTicks(300);
        tolvex::mainForm(*bench.plugin)->Timer1Timer();
    }
    state.SetItemsProcessed(state.iterations() * 100 * 3000);
}
BENCHMARK(GenerateHundredChannels10kHz)->Unit(benchmark::kMillisecond);

// A data request of 1,000,000 samples of a sine.
void DataRequestMillion(benchmark::State& state) {
    Bench bench;
    bench.add("S", 10000.0f, kind(1), 100);
    std::vector<double> buffer(1000000);
    DataRequest request{};
    request.asking = bench.host.channel("S");
    request.count = static_cast<std::int32_t>(buffer.size());
    request.buffer = buffer.data();
    for (auto _ : state) {
        const bool ok = bench.plugin->notify(PN_GETDATA, reinterpret_cast<NotifyParam>(&request));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(DataRequestMillion)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
