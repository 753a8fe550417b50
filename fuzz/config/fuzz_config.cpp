// Any byte sequence as a configuration file: loaded, bound, generated from,
// pulled from and saved again, without a crash, a hang or undefined behaviour.
#include "Config.h"
#include "Editors.h"
#include "Tolvex.h"
#include "Umainfrm.h"
#include "Views.h"

#include "host/host.h"
#include "platform/ticks.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct World {
    host::Host host;
    host::LoadedModule module{host, "Tolvex"};
    tolvex::CTolvex* plugin = nullptr;
    std::string input;
    std::string output;
};

World* gWorld = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every INI write is synced to disk; memory-backed files keep runs fast.
    struct stat shm {};
    const std::string base = ::stat("/dev/shm", &shm) == 0 ? "/dev/shm" : "/tmp";
    const std::string dir = base + "/fuzz_config_" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    ::setenv("TOLVEX_INI", (dir + "/Tolvex.ini").c_str(), 1);
    tolvex::ui::setMessageBoxHandler(
        [](const tolvex::ui::MessageBoxRequest&) { return tolvex::ui::Answer::No; });
    platform::setTestTicks(5000);
    gWorld = new World();
    gWorld->host.options().recordCalls = false;
    gWorld->host.options().keepSamples = false;
    gWorld->input = dir + "/input.res";
    gWorld->output = dir + "/output.res";
    tolvex::installEditors();
    gWorld->plugin = new tolvex::CTolvex();
    tolvex::setCurrentPlugin(gWorld->plugin);
    gWorld->plugin->create(gWorld->module.recorder());
    gWorld->plugin->config();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    World& w = *gWorld;
    {
        std::ofstream out(w.input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    tolvex::TMainFrm& frm = *tolvex::mainForm(*w.plugin);
    frm.currentFile = w.input;
    frm.LoadConfiguration(w.input);

    // Binding compares every channel with every host channel; long lists are
    // only loaded.
    if (w.plugin->channels.size() > 256) {
        while (!w.plugin->channels.empty())
            tolvex::DeleteChannel(static_cast<std::int32_t>(w.plugin->channels.size() - 1));
        return 0;
    }
    w.plugin->notify(PN_UPDATECHANNELS, 0);
    w.plugin->notify(PN_RCSTART, 0);
    platform::advanceTestTicks(300);
    frm.Timer1Timer();
    w.plugin->notify(PN_RCSTOP, 0);

    std::vector<double> buffer(8);
    for (const auto& channel : w.plugin->channels) {
        if (channel->hostChannel == nullptr)
            continue;
        DataRequest request{};
        request.asking = channel->hostChannel;
        request.count = static_cast<std::int32_t>(buffer.size());
        request.buffer = buffer.data();
        w.plugin->notify(PN_GETDATA, reinterpret_cast<NotifyParam>(&request));
    }

    // Each key written is an atomic rewrite of the file, so saving thousands
    // of channels takes long; small lists make the round trip.
    if (w.plugin->channels.size() <= 32) {
        ::unlink(w.output.c_str());
        frm.SaveConfiguration(w.output);
    }
    while (!w.plugin->channels.empty())
        tolvex::DeleteChannel(static_cast<std::int32_t>(w.plugin->channels.size() - 1));
    return 0;
}
