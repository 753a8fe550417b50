// Saving and loading a configuration of 1000 channels through the main
// window's commands, against the reference host, on the machine's temporary
// folder (with its real flushes to the disk).
#include "Editors.h"
#include "Tolvex.h"
#include "Umainfrm.h"
#include "Utypes.h"
#include "VirtualChannel.h"

#include "host/host.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr int kChannels = 1000;

class ConfigBench {
public:
    ConfigBench() {
        char dir[] = "/tmp/config_bench_XXXXXX";
        if (::mkdtemp(dir) != nullptr)
            dir_ = dir;
        file_ = dir_ + "/bench.res";
        ::setenv("TOLVEX_INI", (dir_ + "/Tolvex.ini").c_str(), 1);
        host.options().recordCalls = false;
        host.options().keepSamples = false;
        tolvex::installEditors();
        plugin = new tolvex::CTolvex();
        tolvex::setCurrentPlugin(plugin);
        plugin->create(module.recorder());
        plugin->config();
    }
    ~ConfigBench() {
        plugin->close();
        plugin->Release();
        ::unlink(file_.c_str());
        ::unlink((dir_ + "/Tolvex.ini").c_str());
        ::rmdir(dir_.c_str());
    }
    ConfigBench(const ConfigBench&) = delete;
    ConfigBench& operator=(const ConfigBench&) = delete;

    // A mix of every kind; every fifth channel a sum of three parts.
    void fill() {
        for (int i = 0; i < kChannels; ++i) {
            auto channel =
                std::make_unique<tolvex::CVirtualChannel>("Channel " + std::to_string(i));
            channel->frequency = 1000.0f + static_cast<float>(i);
            switch (i % 5) {
            case 0:
                channel->signal = std::make_unique<tolvex::LevelSignal>();
                break;
            case 1:
                channel->signal = std::make_unique<tolvex::SineSignal>();
                break;
            case 2:
                channel->signal = std::make_unique<tolvex::SawSignal>();
                break;
            case 3: {
                auto sum = std::make_unique<tolvex::CompositeSignal>();
                sum->parts.push_back(std::make_unique<tolvex::SawSignal>());
                sum->parts.push_back(std::make_unique<tolvex::NoiseSignal>());
                channel->signal = std::move(sum);
                break;
            }
            default:
                channel->signal = std::make_unique<tolvex::NoiseSignal>();
            }
            plugin->channels.push_back(std::move(channel));
            tolvex::RegisterChannel(*plugin->channels.back());
        }
    }

    void clear() {
        while (!plugin->channels.empty())
            tolvex::DeleteChannel(static_cast<std::int32_t>(plugin->channels.size()) - 1);
    }

    host::Host host;
    host::LoadedModule module{host, "Tolvex"};
    tolvex::CTolvex* plugin = nullptr;
    std::string dir_ = "/tmp";
    std::string file_;
};

// The Save command: the settings file and the configuration, 1000 channels.
void SaveThousandChannels(benchmark::State& state) {
    ConfigBench bench;
    bench.fill();
    for (auto _ : state)
        tolvex::mainForm(*bench.plugin)->SaveConfiguration(bench.file_);
    state.SetItemsProcessed(state.iterations() * kChannels);
}
BENCHMARK(SaveThousandChannels)->Unit(benchmark::kMillisecond);

// The Load command into an empty list: 1000 channels read and registered.
void LoadThousandChannels(benchmark::State& state) {
    ConfigBench bench;
    bench.fill();
    tolvex::mainForm(*bench.plugin)->SaveConfiguration(bench.file_);
    bench.clear();
    for (auto _ : state) {
        tolvex::mainForm(*bench.plugin)->LoadConfiguration(bench.file_);
        state.PauseTiming();
        if (bench.plugin->channels.size() != kChannels)
            state.SkipWithError("the configuration did not load whole");
        bench.clear();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kChannels);
}
BENCHMARK(LoadThousandChannels)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
