// `recorder render` and `recorder verify` against what bounds them, each
// measured in the same run:
//
// Render/<kind>: one channel of 216 kHz rendered to a raw32 file and synced,
// beside the module's data requests of the same samples into memory and a
// plain write of as many bytes to the same disk (synced). Counters in
// samples a second: render_MS/s, request_MS/s, disk_MS/s (and disk_MB/s);
// "ratio" is the render's rate over the lower of the other two (the goal
// 0.8), "cpu_ratio" the same on processor time (render over requests), which
// stays meaningful on a loaded machine.
//
// Verify/<kind>/<format>: a rendered recording checked sample by sample, on
// the process's processor time (verify_MS/s; verify_wall_MS/s on the clock)
// beside the data requests of the same samples (request_MS/s: verify computes
// every expected sample through them); the goal is 200 MS/s.
//
// Memory/<seconds>: the recorder program's peak resident memory (getrusage of
// the child) rendering and verifying a sine and a noise channel of 216 kHz for
// a short and a long run; the two should match.
//
// The files go to RECORDER_BENCH_DIR (default: the current folder).
#include "render.h"
#include "source.h"
#include "verify.h"

#include "host/host.h"
#include "platform/text.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

const std::string kModuleDir = MODULE_DIR;
const std::string kRecorder = RECORDER_PROGRAM;
constexpr double kRate = 216000.0;

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double processSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

QString benchFolder() {
    const char* dir = std::getenv("RECORDER_BENCH_DIR");
    return QString::fromLocal8Bit(dir != nullptr && *dir != '\0' ? dir : ".");
}

enum Kind { Level, Saw, Sine, SumOfThree, Noise };
const char* const kKindNames[] = {"level", "saw", "sine", "sum of three", "noise"};

std::string w(const char* utf8) {
    return platform::utf8ToCp1251(utf8);
}

// One part's keys: Formula and the parameters of its kind.
std::string partKeys(int kind) {
    std::ostringstream s;
    switch (kind) {
    case Level:
        s << "Formula=" << w("Уровень") << "\r\nLevel=12.5\r\n";
        break;
    case Saw:
        s << "Formula=" << w("Пила") << "\r\nMaxLevel=100\r\nMinLevel=-100\r\nPeriod=1\r\n";
        break;
    case Sine:
        s << "Formula=" << w("Синус") << "\r\nMaxLevel=100\r\nMinLevel=-100\r\nfreq=10\r\n";
        break;
    default:
        s << "Formula=" << w("Шум") << "\r\nMaxLevel=100\r\nMinLevel=-100\r\n";
    }
    return s.str();
}

// A configuration of channels named C0, C1, ... at 216 kHz, one per kind
// given; a sum of three is a sine, a saw and a level.
std::string configuration(const std::vector<int>& kinds) {
    std::ostringstream s;
    s << "[common]\r\nCount=" << kinds.size() << "\r\n";
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const std::string section = "Chan" + std::to_string(i);
        s << "[" << section << "]\r\nFs=" << kRate << "\r\nName=C" << i << "\r\n";
        if (kinds[i] == SumOfThree) {
            s << "Formula=" << w("Сумма") << "\r\n[" << section << "formula]\r\nPartsCount=3\r\n";
            const int parts[] = {Sine, Saw, Level};
            for (int p = 0; p < 3; ++p)
                s << "[" << section << "formula_Part" << p << "]\r\n" << partKeys(parts[p]);
        } else {
            const std::string keys = partKeys(kinds[i]);
            const std::size_t formulaEnd = keys.find("\r\n") + 2;
            s << keys.substr(0, formulaEnd) << "[" << section << "formula]\r\n"
              << keys.substr(formulaEnd);
        }
    }
    return s.str();
}

std::string writeConfiguration(const QTemporaryDir& dir, const std::vector<int>& kinds) {
    const std::string path = QFile::encodeName(dir.filePath("bench.res")).toStdString();
    std::ofstream(path, std::ios::binary) << configuration(kinds);
    return path;
}

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

// Seconds to write `bytes` bytes into a new file in `folder`, 256 KiB at a
// time as a render writes them, and sync it; the file is removed. Negative
// when the disk refuses.
double diskSeconds(const QString& folder, double bytes) {
    const std::vector<char> block(std::size_t{1} << 18, '\x5a');
    const std::string path = QFile::encodeName(folder + "/disk-probe").toStdString();
    const double start = wallSeconds();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return -1;
    double written = 0;
    bool failed = false;
    while (written < bytes && !failed) {
        const auto n =
            static_cast<std::size_t>(std::min(static_cast<double>(block.size()), bytes - written));
        const ssize_t done = ::write(fd, block.data(), n);
        failed = done <= 0;
        written += static_cast<double>(std::max<ssize_t>(done, 0));
    }
    ::fsync(fd);
    ::close(fd);
    const double seconds = wallSeconds() - start;
    ::unlink(path.c_str());
    return failed ? -1 : seconds;
}

// Wall and processor seconds of data requests for every sample of the
// channel, in chunks as a render asks for them.
bool requestSeconds(const std::string& config, std::uint64_t samples, double& wall, double& cpu) {
    recorder::SampleSource source;
    std::string error;
    if (!source.open(recorder::modulePathIn(kModuleDir, "Tolvex"), config, error))
        return false;
    const host::HostChannel& channel = *source.channels().front();
    std::vector<float> floats(std::size_t{1} << 16);
    std::uint32_t noise = 1;
    const double w0 = wallSeconds();
    const double c0 = processSeconds();
    for (std::uint64_t k = 0; k < samples; k += floats.size()) {
        const std::uint64_t n = std::min<std::uint64_t>(floats.size(), samples - k);
        if (!source.fill(channel, k, n, floats.data(), nullptr, noise))
            return false;
        benchmark::DoNotOptimize(floats.data());
    }
    cpu = processSeconds() - c0;
    wall = wallSeconds() - w0;
    return true;
}

recorder::RenderOptions renderOptions(const std::string& config, const QTemporaryDir& dir,
                                      double seconds, recorder::SampleFormat format) {
    recorder::RenderOptions o;
    o.config = config;
    o.seconds = seconds;
    o.directory = dir.path().toStdString();
    o.name = "bench";
    o.format = format;
    o.formatGiven = true;
    o.programDirectory = kModuleDir;
    o.progress = false;
    return o;
}

// One channel of each kind: data requests, the render, the disk, in turn.
void Render(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const double seconds = static_cast<double>(state.range(1));
    state.SetLabel(kKindNames[kind]);
    const auto samples = static_cast<std::uint64_t>(seconds * kRate);
    double requestWall = 0;
    double requestCpu = 0;
    double renderWall = 0;
    double renderCpu = 0;
    double disk = 0;
    double bytes = 0;
    for (auto _ : state) {
        QTemporaryDir dir(benchFolder() + "/render-bench-XXXXXX");
        if (!dir.isValid()) {
            state.SkipWithError("cannot make a folder for the render");
            return;
        }
        const std::string config = writeConfiguration(dir, {kind});
        double wall = 0;
        double cpu = 0;
        if (!requestSeconds(config, samples, wall, cpu)) {
            state.SkipWithError("the emulator does not serve data requests");
            return;
        }
        requestWall += wall;
        requestCpu += cpu;

        const double w0 = wallSeconds();
        const double c0 = processSeconds();
        std::ostringstream out;
        std::ostringstream err;
        const int status = recorder::render(
            renderOptions(config, dir, seconds, recorder::SampleFormat::Raw32), out, err);
        const double written = syncAll(dir.path() + "/bench");
        renderCpu += processSeconds() - c0;
        renderWall += wallSeconds() - w0;
        if (status != 0) {
            state.SkipWithError(("render failed: " + err.str()).c_str());
            return;
        }
        bytes += written;
        QDir(dir.path() + "/bench").removeRecursively();

        const double d = diskSeconds(dir.path(), written);
        if (d < 0) {
            state.SkipWithError("the disk refused the probe's bytes");
            return;
        }
        disk += d;
    }
    const double all = static_cast<double>(samples) * static_cast<double>(state.iterations());
    const double render = all / renderWall;
    const double request = all / requestWall;
    const double diskSamples = bytes / 4 / disk;
    state.counters["render_MS/s"] = render * 1e-6;
    state.counters["request_MS/s"] = request * 1e-6;
    state.counters["disk_MS/s"] = diskSamples * 1e-6;
    state.counters["disk_MB/s"] = bytes / disk * 1e-6;
    state.counters["ratio"] = render / std::min(request, diskSamples);
    state.counters["cpu_ratio"] = requestCpu / renderCpu;
    state.counters["goal_ratio"] = 0.8;
}
BENCHMARK(Render)
    ->ArgsProduct({{Level, Saw, Sine, SumOfThree, Noise}, {200}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// A rendered recording of one exact channel, verified; its data requests
// timed beside.
void Verify(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const auto format = static_cast<recorder::SampleFormat>(state.range(1));
    const double seconds = static_cast<double>(state.range(2));
    state.SetLabel(std::string(kKindNames[kind]) +
                   (format == recorder::SampleFormat::Wav ? ", wav" : ", raw32"));
    const auto samples = static_cast<std::uint64_t>(seconds * kRate);
    QTemporaryDir dir(benchFolder() + "/verify-bench-XXXXXX");
    if (!dir.isValid()) {
        state.SkipWithError("cannot make a folder for the recording");
        return;
    }
    const std::string config = writeConfiguration(dir, {kind});
    {
        std::ostringstream out;
        std::ostringstream err;
        if (recorder::render(renderOptions(config, dir, seconds, format), out, err) != 0) {
            state.SkipWithError(("render failed: " + err.str()).c_str());
            return;
        }
    }
    recorder::VerifyOptions o;
    o.input = dir.filePath("bench/bench.kova").toStdString();
    o.programDirectory = kModuleDir;
    double verifyWall = 0;
    double verifyCpu = 0;
    double requestCpu = 0;
    for (auto _ : state) {
        double wall = 0;
        double cpu = 0;
        if (!requestSeconds(config, samples, wall, cpu)) {
            state.SkipWithError("the emulator does not serve data requests");
            return;
        }
        requestCpu += cpu;
        std::ostringstream out;
        std::ostringstream err;
        const double w0 = wallSeconds();
        const double c0 = processSeconds();
        const int status = recorder::verify(o, out, err);
        verifyCpu += processSeconds() - c0;
        verifyWall += wallSeconds() - w0;
        if (status != 0) {
            state.SkipWithError(("verify failed: " + out.str() + err.str()).c_str());
            return;
        }
    }
    const double all = static_cast<double>(samples) * static_cast<double>(state.iterations());
    state.counters["verify_MS/s"] = all / verifyCpu * 1e-6;
    state.counters["verify_wall_MS/s"] = all / verifyWall * 1e-6;
    state.counters["request_MS/s"] = all / requestCpu * 1e-6;
    state.counters["goal_MS/s"] = 200;
}
BENCHMARK(Verify)
    ->ArgsProduct({{Level, Saw, Sine, SumOfThree},
                   {static_cast<int>(recorder::SampleFormat::Wav),
                    static_cast<int>(recorder::SampleFormat::Raw32)},
                   {100}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// The recorder program run as a child; its exit status and peak resident
// memory in bytes.
bool runRecorder(const std::vector<std::string>& args, int& status, double& peakBytes) {
    std::vector<char*> argv;
    std::string program = kRecorder;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int wstatus = 0;
    rusage usage{};
    if (::wait4(pid, &wstatus, 0, &usage) != pid)
        return false;
    status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    peakBytes = static_cast<double>(usage.ru_maxrss) * 1024; // kilobytes on Linux
    return true;
}

void Memory(benchmark::State& state) {
    const auto seconds = std::to_string(state.range(0));
    state.SetLabel("sine and noise, " + seconds + " s at 216 kHz");
    double renderPeak = 0;
    double verifyPeak = 0;
    for (auto _ : state) {
        QTemporaryDir dir(benchFolder() + "/memory-bench-XXXXXX");
        if (!dir.isValid()) {
            state.SkipWithError("cannot make a folder for the recording");
            return;
        }
        const std::string config = writeConfiguration(dir, {Sine, Noise});
        const std::string folder = dir.path().toStdString();
        int status = -1;
        if (!runRecorder({"render", config, "--seconds", seconds, "--dir", folder, "--name",
                          "bench", "--no-progress"},
                         status, renderPeak) ||
            status != 0) {
            state.SkipWithError("recorder render failed");
            return;
        }
        if (!runRecorder({"verify", folder + "/bench/bench.kova"}, status, verifyPeak) ||
            status != 0) {
            state.SkipWithError("recorder verify failed");
            return;
        }
    }
    state.counters["render_peak_MB"] = renderPeak * 1e-6;
    state.counters["verify_peak_MB"] = verifyPeak * 1e-6;
    state.counters["samples_M"] = 2 * static_cast<double>(state.range(0)) * kRate * 1e-6;
}
BENCHMARK(Memory)->Arg(5)->Arg(500)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
