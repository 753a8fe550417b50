// The recorder host with the emulator: sine channels at 216 kHz whose blocks
// go through the recorder's session (statistics, the scope, the envelopes,
// the recording) as the recorder program keeps them. The emulator is built
// in, so that the test clock drives both: one iteration is one 300 ms
// generation step of every channel.
//
// Live (recording off): "load" is the thread's processor time of a step over
// the step's 300 ms; below 1 one core keeps the channels live, and
// "channels_at_load_1" is the count a core would keep at that cost per
// channel. Recording: the channels' files written and synced to disk, beside
// a plain write of as many bytes to as many files on the same disk in the
// same run ("disk_MB/s"; "one_file_MB/s" into a single file); "ratio" is the
// recording's rate over the disk's.
#include "Editors.h"
#include "Tolvex.h"
#include "Umainfrm.h"
#include "Utypes.h"
#include "VirtualChannel.h"

#include "session.h"

#include "host/host.h"
#include "platform/ticks.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

double cpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

constexpr float kRate = 216000.0f;
constexpr double kStepSamples = 64800; // 300 ms at 216 kHz

// Where the recordings go: RECORDER_BENCH_DIR, else the current folder.
QString benchFolder() {
    const char* dir = std::getenv("RECORDER_BENCH_DIR");
    return QString::fromLocal8Bit(dir != nullptr && *dir != '\0' ? dir : ".");
}

enum What { BareHost, Headless, WithScope, WithPlots };
const char* const kWhat[] = {"bare host", "headless", "window (scope)", "headless, --plot"};

// The emulator in a recorder session: N sine channels of 10 Hz, each with the
// block length the recorder gives 216 kHz (21600 samples).
class Rig {
public:
    Rig(int channels, What what, bool record, const std::string& directory) {
        ::setenv("TOLVEX_INI", "/dev/null/none", 1); // nothing is saved
        recorder::SessionOptions o;
        o.modules = {};
        o.record = record;
        o.directory = directory;
        o.name = "bench";
        o.keepScope = what == WithScope;
        o.keepEnvelopes = what == WithPlots;
        session = std::make_unique<recorder::Session>(o);
        if (what == BareHost) // the host library alone: its statistics, no session
            session->host().setSink({});
        module = std::make_unique<host::LoadedModule>(session->host(), "Tolvex");
        tolvex::installEditors();
        plugin = new tolvex::CTolvex();
        tolvex::setCurrentPlugin(plugin);
        plugin->create(module->recorder());
        plugin->config();
        platform::setTestTicks(1000);
        for (int i = 0; i < channels; ++i) {
            auto channel = std::make_unique<tolvex::CVirtualChannel>("S" + std::to_string(i));
            channel->frequency = kRate;
            channel->signal = std::make_unique<tolvex::SineSignal>();
            plugin->channels.push_back(std::move(channel));
            tolvex::RegisterChannel(*plugin->channels.back());
        }
        session->host().processPending(); // block lengths, as the recorder gives them
        plugin->notify(PN_UPDATECHANNELS, 0);
        session->start();
        plugin->notify(PN_RCSTART, 0);
    }
    ~Rig() {
        stop();
        plugin->close();
        plugin->Release();
        session.reset();
        platform::clearTestTicks();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void step() {
        platform::advanceTestTicks(300);
        tolvex::mainForm(*plugin)->Timer1Timer();
        // The files' headers follow every block; the session brings the
        // manifest up to date after every round of blocks.
        ++steps;
        if (session->recording() != nullptr) {
            session->recording()->setRunSeconds(session->runSeconds());
            session->recording()->flush();
        }
    }
    void stop() {
        if (!session->host().running())
            return;
        plugin->notify(PN_RCSTOP, 0);
        session->stop();
    }

    std::unique_ptr<recorder::Session> session;
    std::unique_ptr<host::LoadedModule> module;
    tolvex::CTolvex* plugin = nullptr;
    int steps = 0;
};

// Every file under `folder` to the disk; the bytes they hold.
double syncAll(const QString& folder) {
    double bytes = 0;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fsync(fd);
        bytes += static_cast<double>(::lseek(fd, 0, SEEK_END));
        ::close(fd);
    }
    return bytes;
}

// The disk's write rate in bytes a second for `bytes` written as the
// recorder lays them out: `files` files in turn, a block of 21600 floats at a
// time, then synced. (Many files interleaved are slower to put on a disk than
// one; this measures the disk under the recording's own pattern.)
double diskRate(const QString& folder, int files, double bytes) {
    std::vector<char> block(21600 * sizeof(float), '\x5a');
    std::vector<int> fds;
    std::vector<std::string> paths;
    const double start = wallSeconds();
    for (int i = 0; i < files; ++i) {
        paths.push_back(
            QFile::encodeName(folder + "/disk-probe-" + QString::number(i)).toStdString());
        fds.push_back(::open(paths.back().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
        if (fds.back() < 0)
            return 0;
    }
    double written = 0;
    bool failed = false;
    while (written < bytes && !failed)
        for (const int fd : fds) {
            const ssize_t n = ::write(fd, block.data(), block.size());
            if (n <= 0) {
                failed = true;
                break;
            }
            written += static_cast<double>(n);
        }
    for (const int fd : fds) {
        ::fsync(fd);
        ::close(fd);
    }
    const double seconds = wallSeconds() - start;
    for (const std::string& path : paths)
        ::unlink(path.c_str());
    return failed ? 0 : written / seconds;
}

// Recording off: one 300 ms step of N channels per iteration.
void Live(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const auto what = static_cast<What>(state.range(1));
    state.SetLabel(kWhat[what]);
    Rig rig(channels, what, false, ".");
    rig.step(); // the first blocks make what the session keeps of each channel
    const double start = cpuSeconds();
    for (auto _ : state)
        rig.step();
    const double perStep = (cpuSeconds() - start) / static_cast<double>(state.iterations());
    const double load = perStep / 0.3;
    state.counters["load"] = load;
    state.counters["channels_at_load_1"] = channels / load;
    state.counters["ns_per_sample"] = perStep / (channels * kStepSamples) * 1e9;
    state.counters["goal_channels"] = 2000;
}
BENCHMARK(Live)
    ->ArgsProduct({{2000}, {BareHost, Headless, WithScope, WithPlots}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

// Recording on: N channels for `steps` steps, written and synced; then the
// same number of bytes written plainly to the same disk.
void Recording(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const int steps = static_cast<int>(state.range(1));
    state.SetLabel("headless");
    double recorded = 0;
    double recordSeconds = 0;
    double diskSeconds = 0;
    double writeSeconds = 0; // generating and writing, to the last file's close
    double syncSeconds = 0;  // then to the disk
    double oneFileSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir(benchFolder() + "/recorder-bench-XXXXXX");
        if (!dir.isValid()) {
            state.SkipWithError("cannot make a folder for the recording");
            return;
        }
        state.ResumeTiming();
        const double start = wallSeconds();
        double bytes = 0;
        {
            Rig rig(channels, Headless, true, dir.path().toStdString());
            const double written = wallSeconds();
            for (int s = 0; s < steps; ++s)
                rig.step();
            rig.stop();
            const double synced = wallSeconds();
            bytes = syncAll(dir.path());
            writeSeconds += synced - written;
            syncSeconds += wallSeconds() - synced;
        }
        const double seconds = wallSeconds() - start;
        state.PauseTiming();
        const double rate = diskRate(dir.path(), channels, bytes);
        const double oneFile = diskRate(dir.path(), 1, bytes);
        state.ResumeTiming();
        recorded += bytes;
        recordSeconds += seconds;
        diskSeconds += rate > 0 ? bytes / rate : 0;
        oneFileSeconds += oneFile > 0 ? bytes / oneFile : 0;
    }
    const double recordRate = recorded / recordSeconds;
    const double diskRateSeen = diskSeconds > 0 ? recorded / diskSeconds : 0;
    state.counters["record_MB/s"] = recordRate * 1e-6;
    state.counters["disk_MB/s"] = diskRateSeen * 1e-6;
    state.counters["ratio"] = diskRateSeen > 0 ? recordRate / diskRateSeen : 0;
    state.counters["one_file_MB/s"] = oneFileSeconds > 0 ? recorded / oneFileSeconds * 1e-6 : 0;
    state.counters["goal_ratio"] = 0.7;
    state.counters["write_s"] = writeSeconds / static_cast<double>(state.iterations());
    state.counters["sync_s"] = syncSeconds / static_cast<double>(state.iterations());
    state.counters["MB"] = recorded / static_cast<double>(state.iterations()) * 1e-6;
}
BENCHMARK(Recording)->Args({200, 10})->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // the session's timers
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
