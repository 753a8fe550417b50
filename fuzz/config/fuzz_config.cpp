// Any byte sequence as a configuration file: loaded from memory through the
// loader's own parse path, bound, generated from, pulled from, written to a
// text and loaded again, without a crash, a hang or undefined behaviour. A
// refused text adds no channel; a saved list loads back whole.
#include "Config.h"
#include "Editors.h"
#include "Tolvex.h"
#include "Views.h"

#include "host/host.h"
#include "platform/inifile.h"
#include "platform/ticks.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

struct World {
    host::Host host;
    host::LoadedModule module{host, "Tolvex"};
    tolvex::CTolvex* plugin = nullptr;
};

World* gWorld = nullptr;

void clearChannels(World& w) {
    tolvex::CTolvex& plugin = *w.plugin;
    // In one change of the host's channel set, as the window's Load does.
    plugin.recorder->lockchanges(&plugin, 0);
    while (!plugin.channels.empty())
        tolvex::DeleteChannel(static_cast<std::int32_t>(plugin.channels.size() - 1));
    plugin.recorder->unlockchanges(&plugin, 0);
    // Channels of one name are bound to the first host channel of that name,
    // so deleting them leaves the others in the host: empty it, or each input
    // would start with the channels of all the earlier ones.
    const std::vector<host::HostChannel*> left = w.host.channels();
    for (host::HostChannel* channel : left)
        w.host.removeChannel(channel);
    // The host's answer to the change: the plug-in lets the removed host
    // channels go now, not at the next input (a run frees what it made).
    plugin.notify(PN_UPDATECHANNELS, 0);
}

// One load inside the host's change lock, as the window does it.
tolvex::config::LoadOutcome load(World& w, const std::string& name, std::string text) {
    IRecorder* host = w.module.recorder();
    host->lockchanges(w.plugin, 0);
    tolvex::config::LoadOutcome outcome =
        tolvex::config::loadConfigurationText(*w.plugin, name, std::move(text));
    host->unlockchanges(w.plugin, 0);
    return outcome;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_config: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Nothing is written to a file; a settings file of the run's own all the
    // same, so that a stray write never reaches the user's.
    // Removed again when the run ends (libFuzzer ends by exit()).
    static const std::string dir = "/tmp/fuzz_config_" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    ::setenv("TOLVEX_INI", (dir + "/Tolvex.ini").c_str(), 1);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    });
    tolvex::ui::setMessageBoxHandler(
        [](const tolvex::ui::MessageBoxRequest&) { return tolvex::ui::Answer::No; });
    platform::setTestTicks(5000);
    gWorld = new World();
    gWorld->host.options().recordCalls = false;
    gWorld->host.options().keepSamples = false;
    tolvex::installEditors();
    gWorld->plugin = new tolvex::CTolvex();
    tolvex::setCurrentPlugin(gWorld->plugin);
    gWorld->plugin->create(gWorld->module.recorder());
    gWorld->plugin->config();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = *gWorld;
    tolvex::CTolvex& plugin = *w.plugin;
    const tolvex::config::LoadOutcome outcome =
        load(w, "input.res", std::string(reinterpret_cast<const char*>(data), size));
    if (!outcome.refused.empty()) {
        if (!plugin.channels.empty())
            fail("a refused configuration added channels");
        return 0;
    }

    // Binding compares every channel with every host channel, and each
    // channel generates a timer period's samples; longer lists are only
    // loaded (their channels take the same paths).
    if (plugin.channels.size() > 8) {
        clearChannels(w);
        return 0;
    }
    plugin.notify(PN_UPDATECHANNELS, 0);
    // One timer period of samples, when that is a few: a file may ask for
    // any rate, and a period at a gigahertz is a second's work, not a bug.
    double rate = 0;
    for (const auto& channel : plugin.channels)
        rate += std::fabs(static_cast<double>(channel->frequency));
    if (rate <= 100000) {
        plugin.notify(PN_RCSTART, 0);
        platform::advanceTestTicks(300);
        plugin.GenerateStep();
        plugin.notify(PN_RCSTOP, 0);
    }

    std::vector<double> buffer(8);
    for (const auto& channel : plugin.channels) {
        if (channel->hostChannel == nullptr)
            continue;
        DataRequest request{};
        request.asking = channel->hostChannel;
        request.count = static_cast<std::int32_t>(buffer.size());
        request.buffer = buffer.data();
        plugin.notify(PN_GETDATA, reinterpret_cast<NotifyParam>(&request));
    }

    // What a save writes loads back: every channel, with its name.
    std::string saved;
    try {
        saved = tolvex::config::configurationText(plugin);
    } catch (const platform::IniWriteError&) {
        clearChannels(w); // the window reports it; nothing to compare
        return 0;
    }
    std::vector<std::string> names;
    for (const auto& channel : plugin.channels)
        names.push_back(channel->name);
    clearChannels(w);
    const tolvex::config::LoadOutcome again = load(w, "output.res", std::move(saved));
    if (!again.refused.empty())
        fail("a saved configuration is refused");
    if (plugin.channels.size() != names.size())
        fail("a saved configuration loads another number of channels");
    for (std::size_t i = 0; i < names.size(); ++i)
        if (plugin.channels[i]->name != names[i])
            fail("a saved channel loads with another name");
    clearChannels(w);
    return 0;
}
