// Tolvex.so from the build tree, driven by the reference host through its
// whole life: the configuration named in Tolvex.ini is loaded at execute, the
// generation timer runs on the Qt event loop, and what the host receives in
// blocks equals what a data request of the same channel gives.
#include "host/host.h"
#include "platform/text.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace platform::literals;

namespace {

std::string modulePath() {
    return std::string(MODULE_DIR) + "/Tolvex.so";
}

void runEventLoop(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

TEST(EndToEnd, PushedBlocksMatchPulledSamples) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tolvex_e2e_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string config = (dir / "demo.res").string();
    const std::string settings = (dir / "Tolvex.ini").string();
    std::ofstream(config, std::ios::binary)
        << "[common]\nCount=4\n"
        << "[Chan0]\nFs=1000\nName=Level\nFormula="
        << "Уровень"_w
        << "\n"
        << "[Chan0formula]\nLevel=2.5\n"
        << "[Chan1]\nFs=1000\nName=Sine\nFormula="
        << "Синус"_w
        << "\n"
        << "[Chan1formula]\nMaxLevel=50\nMinLevel=-10\nfreq=3\n"
        << "[Chan2]\nFs=1000\nName=Saw\nFormula="
        << "Пила"_w
        << "\n"
        << "[Chan2formula]\nMaxLevel=7\nMinLevel=-7\nPeriod=0.05\n"
        << "[Chan3]\nFs=1000\nName=Sum\nFormula="
        << "Сумма"_w
        << "\n"
        << "[Chan3formula]\nPartsCount=3\n"
        << "[Chan3formula_Part0]\nFormula="
        << "Уровень"_w
        << "\nLevel=1\n"
        << "[Chan3formula_Part1]\nFormula="
        << "Синус"_w
        << "\nMaxLevel=5\nMinLevel=-5\nfreq=2\n"
        << "[Chan3formula_Part2]\nFormula="
        << "Пила"_w
        << "\nMaxLevel=3\nMinLevel=0\nPeriod=0.1\n";
    std::ofstream(settings, std::ios::binary) << "[common]\nCurCFGFile=" << config << "\n";
    ::setenv("TOLVEX_INI", settings.c_str(), 1);
    ::setenv("TOLVEX_UI", "none", 1); // the headless views: nothing may wait for a user

    host::Host h;
    host::LoadedModule* module = h.open(modulePath());
    ASSERT_NE(module, nullptr) << h.lastError();
    ASSERT_NE(QCoreApplication::instance(), nullptr); // made by the module
    ASSERT_EQ(h.channels().size(), 4u);
    h.notifyAll(PN_UPDATECHANNELS);

    h.startRecorder();
    runEventLoop(1300);
    h.stopRecorder();

    for (const char* name : {"Level", "Sine", "Saw", "Sum"}) {
        const host::HostChannel* channel = h.channel(name);
        ASSERT_NE(channel, nullptr) << name;
        const auto& pushed = channel->samples();
        ASSERT_GE(pushed.size(), 100u) << name;
        EXPECT_EQ(pushed.size() % static_cast<std::size_t>(channel->blockLength()), 0u) << name;
        std::vector<double> pulled(pushed.size(), 0.0);
        ASSERT_TRUE(h.requestData(*module, name, static_cast<std::int32_t>(pulled.size()), pulled))
            << name;
        for (std::size_t k = 0; k < pushed.size(); ++k)
            ASSERT_EQ(pushed[k], static_cast<float>(pulled[k])) << name << " sample " << k;
    }
    EXPECT_EQ(h.channel("Level")->samples().front(), 2.5f);

    h.shutdown(*module);
    ::unsetenv("TOLVEX_INI");
    ::unsetenv("TOLVEX_UI");
    std::filesystem::remove_all(dir);
}

// The host removes a channel and then starts the recorder: the module must not
// feed the removed (and by then destroyed) host channel.
TEST(EndToEnd, AChannelTheHostRemovedIsNeverFedAgain) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tolvex_e2e_rm_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string config = (dir / "two.res").string();
    const std::string settings = (dir / "Tolvex.ini").string();
    std::ofstream(config, std::ios::binary)
        << "[common]\nCount=2\n[Chan0]\nFs=1000\nName=A\n[Chan1]\nFs=1000\nName=B\n";
    std::ofstream(settings, std::ios::binary) << "[common]\nCurCFGFile=" << config << "\n";
    ::setenv("TOLVEX_INI", settings.c_str(), 1);
    ::setenv("TOLVEX_UI", "none", 1);

    host::Host h;
    host::LoadedModule* module = h.open(modulePath());
    ASSERT_NE(module, nullptr) << h.lastError();
    h.notifyAll(PN_UPDATECHANNELS);               // both bound; the module's table holds references
    ASSERT_TRUE(h.removeChannel(h.channel("A"))); // PN_UPDATECHANNELS follows
    ASSERT_EQ(h.channel("A"), nullptr);
    h.startRecorder();
    runEventLoop(700);
    h.stopRecorder();
    EXPECT_GT(h.channel("B")->stats().blocks, 0u);

    h.shutdown(*module);
    ::unsetenv("TOLVEX_INI");
    ::unsetenv("TOLVEX_UI");
    std::filesystem::remove_all(dir);
}
