// The emulator module as it ships, loaded through its exports as a host loads
// it (Tolvex.so on Linux, Tolvex.dll on Windows, run under Wine): the same
// program built in both builds, so that their rates compare in one run on one
// machine (bench/compare-windows). On the process's processor time:
// - LiveSine: 400 channels of a sine at 216000 Hz generating live (the module's
//   own timer, in this thread's message loop) for four seconds: processor
//   time per pushed sample, the share of one core ("load"), and how far the
//   samples received fall behind those due at the end ("behind_ms", at most
//   one 300 ms period plus a block when the run keeps up), and the module's
//   messages of skipped samples in the log (none when live);
// - DataRequest: a data request of 10,000,000 doubles of each kind, MS/s.
// Usage: bench_module [module folder, default: this program's] [benchmark flags]
#include "platform/cputime.h"
#include "platform/ticks.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <QCoreApplication>
#include <QThread>
#include <dlfcn.h>
#endif

#if defined(__i386__)
#define STD __attribute__((stdcall))
#else
#define STD
#endif

namespace {

std::string gFolder;

// ---- The host's objects: operation tables the module calls by slot.

struct Variant {
    std::uint16_t vt, r1, r2, r3;
    union {
        std::int32_t lVal;
        void* punkVal;
        void* pair[2];
    } u;
};

struct Channel {
    void** table;
    char name[32];
    double frequency;
    std::uint64_t received;
};

struct Log {
    void** table;
    int messages;
};

struct Recorder {
    void** table;
    std::vector<Channel>* channels;
    Log* log;
};

void* gChannelTable[17];
void* gRecorderTable[71];
void* gLogTable[4];

constexpr std::int32_t kBlock = 1000;
constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);
constexpr std::int32_t kNotImplemented = static_cast<std::int32_t>(0x80004001u);

std::int32_t STD reservedSlot(void*) {
    return kNotImplemented;
}
std::int32_t STD query(void* self, const void*, void** out) {
    if (out != nullptr)
        *out = self; // the module asks only for the interfaces these are
    return 0;
}
std::uint32_t STD refCount(void*) {
    return 1;
}
std::int32_t STD setName(Channel* c, const char* name) {
    std::snprintf(c->name, sizeof c->name, "%s", name != nullptr ? name : "");
    return 0;
}
const char* STD getName(Channel* c) {
    return c->name;
}
std::int32_t STD setFrequency(Channel* c, double f) {
    c->frequency = f;
    return 0;
}
double STD getFrequency(Channel* c) {
    return c->frequency;
}
std::int32_t STD setProperty(Channel*, std::uint32_t, Variant) {
    return 0;
}
bool STD getProperty(Channel*, std::uint32_t id, Variant* v) {
    if (id != 0 || v == nullptr)
        return false;
    v->vt = 3;
    v->u.lVal = kBlock;
    return true;
}
std::int32_t STD activate(Channel*, std::int32_t) {
    return 0;
}
std::int32_t STD putData(Channel* c, const float* block, std::int32_t) {
    benchmark::DoNotOptimize(block);
    c->received += kBlock;
    return 0;
}
std::int32_t STD addMessage(Log* l, const void*, const void*, std::int32_t) {
    ++l->messages;
    return 0;
}
Channel* STD getChannel(Recorder* r, std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= r->channels->size())
        return nullptr;
    return &(*r->channels)[static_cast<std::size_t>(index)];
}
std::int32_t STD getChannelCount(Recorder* r) {
    return static_cast<std::int32_t>(r->channels->size());
}
std::uint32_t STD getState(Recorder*, std::uint32_t) {
    return 0;
}
Channel* STD addChannel(Recorder* r, const char* name, std::int32_t, std::int32_t) {
    if (r->channels->size() == r->channels->capacity())
        return nullptr; // the channels handed out never move
    r->channels->push_back(Channel{});
    Channel* added = &r->channels->back();
    added->table = gChannelTable;
    setName(added, name);
    return added;
}
std::int32_t STD zeroOf3(Recorder*, void*, std::int32_t) {
    return 0;
}
std::int32_t STD removeChannel(Recorder*, void*) {
    return 0;
}
std::int32_t STD getRecorderProperty(Recorder* r, std::uint32_t id, Variant* v) {
    if (id != 32)
        return kNotImplemented;
    v->vt = 13;
    v->u.punkVal = r->log;
    return 0;
}
void* STD mainWindow(Recorder*) {
    return nullptr;
}
const char* STD translatePath(Recorder*, const char* path) {
    return path;
}
double STD getTime(Recorder*) {
    return 0.0;
}

template <typename F> void* slot(F f) {
    return reinterpret_cast<void*>(f);
}

void fillTables() {
    for (auto& s : gChannelTable)
        s = slot(&reservedSlot);
    for (auto& s : gRecorderTable)
        s = slot(&reservedSlot);
    for (void** table : {gChannelTable, gRecorderTable, gLogTable}) {
        table[0] = slot(&query);
        table[1] = slot(&refCount);
        table[2] = slot(&refCount);
    }
    gChannelTable[5] = slot(&setName);
    gChannelTable[6] = slot(&getName);
    gChannelTable[7] = slot(&setFrequency);
    gChannelTable[8] = slot(&getFrequency);
    gChannelTable[10] = slot(&setProperty);
    gChannelTable[11] = slot(&getProperty);
    gChannelTable[15] = slot(&activate);
    gChannelTable[16] = slot(&putData);
    gRecorderTable[8] = slot(&getChannel);
    gRecorderTable[9] = slot(&getChannelCount);
    gRecorderTable[14] = slot(&getState);
    gRecorderTable[18] = slot(&addChannel);
    gRecorderTable[19] = slot(&removeChannel);
    gRecorderTable[20] = slot(&zeroOf3);
    gRecorderTable[24] = slot(&getRecorderProperty);
    gRecorderTable[37] = slot(&mainWindow);
    gRecorderTable[49] = slot(&zeroOf3);
    gRecorderTable[50] = slot(&zeroOf3);
    gRecorderTable[59] = slot(&translatePath);
    gRecorderTable[70] = slot(&getTime);
    gLogTable[3] = slot(&addMessage);
}

// ---- The module.

struct Object {
    void** table;
};

void* gLibrary = nullptr;

void* symbol(const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(gLibrary), name));
#else
    return ::dlsym(gLibrary, name);
#endif
}

bool loadModule() {
    if (gLibrary != nullptr)
        return true;
#ifdef _WIN32
    gLibrary = reinterpret_cast<void*>(::LoadLibraryA((gFolder + "\\Tolvex.dll").c_str()));
#else
    gLibrary = ::dlopen((gFolder + "/Tolvex.so").c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    return gLibrary != nullptr;
}

// Runs this thread's message loop for `ms` milliseconds: the module's timers
// fire in it.
void pump(unsigned ms) {
    const std::uint64_t until = platform::tickCount64() + ms;
    while (platform::tickCount64() < until) {
#ifdef _WIN32
        MSG m;
        while (::PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&m);
            ::DispatchMessageA(&m);
        }
        ::Sleep(5);
#else
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(5);
#endif
    }
}

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    ::SetEnvironmentVariableA(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

// One session: the module's plug-in object with a configuration file of its
// own, the host's channels, and the notifications a host sends.
class Session {
public:
    explicit Session(const std::string& configuration) {
        fillTables();
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / "bench_module";
        std::filesystem::create_directories(folder);
        const std::string res = (folder / "bench.res").string();
        const std::string ini = (folder / "Tolvex.ini").string();
        std::ofstream(res, std::ios::binary) << configuration;
        std::ofstream(ini, std::ios::binary) << "[common]\r\nCurCFGFile=" << res << "\r\n";
        setVariable("TOLVEX_INI", ini);
        setVariable("TOLVEX_UI", "none"); // no windows; the timers run all the same
        if (!loadModule())
            return;
        auto create = reinterpret_cast<Object* (*)()>(symbol("_CreatePluginClass"));
        object_ = create != nullptr ? create() : nullptr;
        if (object_ == nullptr)
            return;
        channels_.reserve(2048); // the host's channels never move
        log_.table = gLogTable;
        recorder_ = {gRecorderTable, &channels_, &log_};
        ok_ = call<bool, void*>(3, &recorder_) && call<bool>(4) && call<bool>(6) && notify(1, 0);
    }
    ~Session() {
        if (object_ == nullptr)
            return;
        call<bool>(14);
        auto destroy = reinterpret_cast<std::int32_t (*)(Object*)>(symbol("_DestroyPluginClass"));
        if (destroy != nullptr)
            destroy(object_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool ok() const { return ok_; }
    bool notify(std::uint32_t code, std::uintptr_t param) {
        return call<bool, std::uint32_t, std::uintptr_t>(9, code, param);
    }
    std::vector<Channel>& channels() { return channels_; }
    int logMessages() const { return log_.messages; }

private:
    template <typename R, typename... A> R call(int index, A... args) {
        auto fn = reinterpret_cast<R(STD*)(Object*, A...)>(object_->table[index]);
        return fn(object_, args...);
    }

    Object* object_ = nullptr;
    std::vector<Channel> channels_;
    Log log_{};
    Recorder recorder_{};
    bool ok_ = false;
};

// The kinds' sections, in the configuration file's encoding (1251).
const char kLevel[] = "\xD3\xF0\xEE\xE2\xE5\xED\xFC";
const char kSine[] = "\xD1\xE8\xED\xF3\xF1";
const char kSaw[] = "\xCF\xE8\xEB\xE0";
const char kNoise[] = "\xD8\xF3\xEC";
const char kSum[] = "\xD1\xF3\xEC\xEC\xE0";

std::string sineChannel(int n, double rate) {
    return "[Chan" + std::to_string(n) + "]\r\nFs=" + std::to_string(rate) + "\r\nName=C" +
           std::to_string(n) + "\r\nFormula=" + kSine + "\r\n[Chan" + std::to_string(n) +
           "formula]\r\nMaxLevel=100\r\nMinLevel=-100\r\nfreq=10\r\n";
}

void LiveSine(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    constexpr double kRate = 216000.0;
    std::string configuration = "[common]\r\nCount=" + std::to_string(count) + "\r\n";
    for (int i = 0; i < count; ++i)
        configuration += sineChannel(i, kRate);
    Session session(configuration);
    if (!session.ok()) {
        state.SkipWithError("the module did not load or set up its channels");
        return;
    }
    double cpu = 0.0;
    double wall = 0.0;
    double received = 0.0;
    double behind = 0.0;
    for (auto _ : state) {
        for (Channel& c : session.channels())
            c.received = 0;
        const double cpuStart = platform::processCpuSeconds();
        const std::uint64_t start = platform::tickCount64();
        session.notify(3, 0);
        pump(4000);
        const std::uint64_t end = platform::tickCount64();
        session.notify(5, 0);
        cpu += platform::processCpuSeconds() - cpuStart;
        wall += static_cast<double>(end - start) * 1e-3;
        const double due = static_cast<double>(end - start) * 1e-3 * kRate;
        for (const Channel& c : session.channels()) {
            received += static_cast<double>(c.received);
            const double lag = (due - static_cast<double>(c.received)) / kRate * 1e3;
            behind = lag > behind ? lag : behind;
        }
    }
    state.counters["ns/sample"] = cpu / received * 1e9;
    state.counters["load"] = cpu / wall;
    state.counters["behind_ms"] = behind;
    state.counters["skip_msgs"] = session.logMessages();
}
BENCHMARK(LiveSine)->Arg(400)->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->Unit(
    benchmark::kMillisecond);

enum Kind { Level, Saw, Sine, SumOfThree, Noise };
const char* const kKindNames[] = {"level", "saw", "sine", "sum of three", "noise"};

std::string kindChannel(int kind) {
    std::string s = "[common]\r\nCount=1\r\n[Chan0]\r\nFs=216000\r\nName=C0\r\nFormula=";
    switch (kind) {
    case Level:
        return s + kLevel + "\r\n[Chan0formula]\r\nLevel=1.5\r\n";
    case Saw:
        return s + kSaw + "\r\n[Chan0formula]\r\nMaxLevel=100\r\nMinLevel=-100\r\nPeriod=1\r\n";
    case Sine:
        return s + kSine + "\r\n[Chan0formula]\r\nMaxLevel=100\r\nMinLevel=-100\r\nfreq=10\r\n";
    case SumOfThree:
        return s + kSum +
               "\r\n[Chan0formula]\r\nPartsCount=3\r\n[Chan0formula_Part0]\r\nFormula=" + kSine +
               "\r\nMaxLevel=100\r\nMinLevel=-100\r\nfreq=10\r\n" +
               "[Chan0formula_Part1]\r\nFormula=" + kSaw +
               "\r\nMaxLevel=100\r\nMinLevel=-100\r\nPeriod=1\r\n" +
               "[Chan0formula_Part2]\r\nFormula=" + kLevel + "\r\nLevel=0\r\n";
    default:
        return s + kNoise + "\r\n[Chan0formula]\r\nMaxLevel=100\r\nMinLevel=-100\r\n";
    }
}

struct DataRequest {
    std::uint32_t reserved0;
    void* asking;
    std::uint32_t reserved8;
    std::int32_t count;
    std::uint32_t reserved16;
    std::uint32_t reserved20;
    double* buffer;
};

void DataRequestTenMillion(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    state.SetLabel(kKindNames[kind]);
    Session session(kindChannel(kind));
    if (!session.ok() || session.channels().size() != 1) {
        state.SkipWithError("the module did not load or set up its channel");
        return;
    }
    std::vector<double> buffer(10000000);
    DataRequest request{};
    request.asking = &session.channels()[0];
    request.count = static_cast<std::int32_t>(buffer.size());
    request.buffer = buffer.data();
    // Over the whole loop (a second at least): Wine counts processor time in
    // steps of 10 ms.
    const double start = platform::processCpuSeconds();
    for (auto _ : state) {
        const bool ok = session.notify(10, reinterpret_cast<std::uintptr_t>(&request));
        benchmark::DoNotOptimize(ok);
        benchmark::DoNotOptimize(buffer.data());
    }
    const double cpu = platform::processCpuSeconds() - start;
    state.counters["MS/s"] =
        static_cast<double>(buffer.size()) * static_cast<double>(state.iterations()) / cpu * 1e-6;
}
BENCHMARK(DataRequestTenMillion)
    ->DenseRange(Level, Noise)
    ->MinTime(1.0)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The module folder: the first argument unless it is a benchmark flag,
    // else this program's own folder.
    if (argc > 1 && std::strncmp(argv[1], "--", 2) != 0) {
        gFolder = argv[1];
        for (int i = 1; i + 1 < argc; ++i)
            argv[i] = argv[i + 1];
        --argc;
    } else {
        gFolder = std::filesystem::absolute(std::filesystem::path(argv[0])).parent_path().string();
    }
    benchmark::Initialize(&argc, argv);
    if (!loadModule()) {
        std::fprintf(stderr, "bench_module: cannot load the module from %s\n", gFolder.c_str());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
