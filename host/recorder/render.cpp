#include "render.h"

#include "analysis.h"
#include "session.h"
#include "source.h"

#include "host/host.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QString>

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

namespace recorder {

namespace {

volatile std::sig_atomic_t gStop = 0;

extern "C" void onRenderSignal(int number) {
    if (gStop != 0)
        std::_Exit(128 + number); // a second signal ends at once
    gStop = number;
}

// The signal handlers of a render, and the old ones back afterwards.
class StopOnSignal {
public:
    StopOnSignal() {
        gStop = 0;
        int_ = std::signal(SIGINT, onRenderSignal);
        term_ = std::signal(SIGTERM, onRenderSignal);
        pipe_ = std::signal(SIGPIPE, SIG_IGN); // a closed pipe is a write error
    }
    ~StopOnSignal() {
        std::signal(SIGINT, int_);
        std::signal(SIGTERM, term_);
        std::signal(SIGPIPE, pipe_);
    }
    StopOnSignal(const StopOnSignal&) = delete;
    StopOnSignal& operator=(const StopOnSignal&) = delete;
    int signal() const { return static_cast<int>(gStop); }

private:
    using Handler = void (*)(int);
    Handler int_;
    Handler term_;
    Handler pipe_;
};

// A progress bar on standard error, redrawn at most five times a second.
class Progress {
public:
    Progress(bool shown, std::uint64_t total, std::ostream& err)
        : shown_(shown), total_(total), err_(err), start_(Clock::now()), last_(start_) {}
    void update(std::uint64_t done, bool force = false) {
        if (!shown_)
            return;
        const auto now = Clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(200))
            return;
        last_ = now;
        const auto d = static_cast<double>(done);
        const auto t = static_cast<double>(total_);
        const double part = total_ == 0 ? 1.0 : d / t;
        const int width = 30;
        const int filled = static_cast<int>(part * width);
        const double seconds = std::chrono::duration<double>(now - start_).count();
        char line[160];
        std::snprintf(line, sizeof line, "\rrender [%-*.*s] %5.1f %%  %.1f of %.1f MS  %.0f MS/s ",
                      width, filled, "##############################", part * 100, d / 1e6, t / 1e6,
                      seconds > 0 ? d / seconds / 1e6 : 0.0);
        err_ << line;
        err_.flush();
        drawn_ = true;
    }
    void finish() {
        if (drawn_)
            err_ << "\n";
        drawn_ = false;
    }

private:
    using Clock = std::chrono::steady_clock;
    bool shown_;
    std::uint64_t total_;
    std::ostream& err_;
    Clock::time_point start_;
    Clock::time_point last_;
    bool drawn_ = false;
};

// One computed run of a channel's samples, in one of the writer's slots.
struct Chunk {
    host::HostChannel* channel = nullptr;
    std::uint64_t first = 0;
    std::uint64_t count = 0;
    std::size_t slot = 0;
};

// Writes the chunks a render computes on a thread of its own, in order, so
// that the next chunks are computed while the last ones go to the disk. The
// computing side fills slot `next()` once `waitForSlot` says it is free and
// hands it over with `submit`; after a failed write the rest is dropped.
class ChunkWriter {
public:
    static constexpr std::size_t kSlots = 3;

    explicit ChunkWriter(std::function<bool(const Chunk&)> write)
        : write_(std::move(write)), thread_([this] { run(); }) {}
    ~ChunkWriter() { finish(); }
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    std::size_t next() const { return submitted_ % kSlots; }
    // False once a write has failed.
    bool waitForSlot() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return inHand_ < kSlots || failed_; });
        return !failed_;
    }
    void submit(Chunk chunk) {
        chunk.slot = next();
        ++submitted_;
        {
            const std::lock_guard lock(mutex_);
            queue_.push_back(chunk);
            ++inHand_;
        }
        changed_.notify_all();
    }
    // Writes what is queued and ends the thread; false when a write failed.
    bool finish() {
        if (thread_.joinable()) {
            {
                const std::lock_guard lock(mutex_);
                closing_ = true;
            }
            changed_.notify_all();
            thread_.join();
        }
        return !failed_;
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
            if (queue_.empty())
                return;
            const Chunk chunk = queue_.front();
            queue_.pop_front();
            const bool skip = failed_;
            lock.unlock();
            const bool ok = skip || write_(chunk);
            lock.lock();
            --inHand_;
            failed_ = failed_ || !ok;
            changed_.notify_all();
        }
    }

    std::function<bool(const Chunk&)> write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> queue_;
    std::size_t inHand_ = 0; // queued or being written
    std::size_t submitted_ = 0;
    bool closing_ = false;
    bool failed_ = false;
    std::thread thread_; // last: starts once the rest is there
};

bool writeAll(std::FILE* file, const void* data, std::size_t bytes) {
    return std::fwrite(data, 1, bytes, file) == bytes;
}

std::string baseNameOf(const std::string& path) {
    const std::string base =
        QFileInfo(QString::fromStdString(path)).completeBaseName().toStdString();
    return base.empty() ? "render" : base;
}

} // namespace

const char* const kRenderUsage =
    "Usage: recorder render FILE.res --seconds N [options]\n"
    "Computes every channel's samples k = 0 .. ceil(F*N) - 1 through the emulator's data\n"
    "requests (no clock) and writes them as a recording: <dir>/<name>/<name>.kova beside one\n"
    "file per channel. Noise is drawn in channel order from the generator's start.\n"
    "\n"
    "  --seconds N         how many seconds of each channel\n"
    "  --dir DIR           folder of the recordings (default: recordings); - writes one\n"
    "                      channel's samples to standard output (needs --channel)\n"
    "  --name NAME         name of the recording (default: the configuration's name)\n"
    "  --format F          wav (32-bit float, RF64 past 4 GiB; the default), raw32, raw64\n"
    "                      (little-endian floats) or csv (time,value); to standard output\n"
    "                      raw32 (the default), raw64 or csv\n"
    "  --channel NAME      only this channel (may be given more than once)\n"
    "  --module M          the emulator module (default: Tolvex beside the program)\n"
    "  --no-progress       no progress bar (it is shown only on a terminal)\n"
    "\n"
    "Exit status: 0 when everything was written, 1 when something failed (the reason is\n"
    "printed), 2 for bad options, 128 + N after signal N (Ctrl+C: 130; the files written\n"
    "so far are complete and the manifest says interrupted).\n";

bool parseRenderOptions(int argc, char** argv, RenderOptions& o, std::string& error) {
    error.clear();
    bool seconds = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                error = a + " needs " + what;
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            error.clear();
            return false;
        } else if (a == "--seconds") {
            const char* v = value("a number of seconds");
            if (v == nullptr)
                return false;
            char* end = nullptr;
            o.seconds = std::strtod(v, &end);
            if (end == v || *end != '\0' || !std::isfinite(o.seconds) || o.seconds < 0 ||
                o.seconds > 1e9) {
                error = "--seconds must be a number from 0 to 1000000000";
                return false;
            }
            seconds = true;
        } else if (a == "--dir") {
            const char* v = value("a folder");
            if (v == nullptr)
                return false;
            o.directory = v;
        } else if (a == "--name") {
            const char* v = value("a name");
            if (v == nullptr)
                return false;
            o.name = v;
            if (o.name.empty() || o.name.find('/') != std::string::npos || o.name == "." ||
                o.name == "..") {
                error = "--name must be a plain file name";
                return false;
            }
        } else if (a == "--format") {
            const char* v = value("wav, raw32, raw64 or csv");
            if (v == nullptr)
                return false;
            if (!parseSampleFormat(v, o.format)) {
                error = std::string("--format: not wav, raw32, raw64 or csv: ") + v;
                return false;
            }
            o.formatGiven = true;
        } else if (a == "--channel") {
            const char* v = value("a channel name");
            if (v == nullptr)
                return false;
            o.channels.emplace_back(v);
        } else if (a == "--module") {
            const char* v = value("a module name or path");
            if (v == nullptr)
                return false;
            o.module = v;
        } else if (a == "--no-progress") {
            o.progress = false;
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (o.config.empty()) {
            o.config = a;
        } else {
            error = "one configuration only (" + o.config + " and " + a + ")";
            return false;
        }
    }
    if (o.config.empty()) {
        error = "which configuration? (recorder render FILE.res --seconds N)";
        return false;
    }
    if (!seconds) {
        error = "--seconds is needed";
        return false;
    }
    if (o.toStdout()) {
        if (o.channels.size() != 1) {
            error = "--dir - writes one channel: name it with --channel NAME";
            return false;
        }
        if (!o.formatGiven)
            o.format = SampleFormat::Raw32;
        if (o.format == SampleFormat::Wav) {
            error = "--dir -: a WAV file needs a seekable file; use raw32, raw64 or csv";
            return false;
        }
        if (!o.name.empty()) {
            error = "--name names a recording folder, which --dir - does not write";
            return false;
        }
    }
    return true;
}

int render(const RenderOptions& o, std::ostream& out, std::ostream& err) {
    auto failed = [&err](const std::string& why) {
        err << "recorder render: " << why << "\n";
        err.flush();
        return 1;
    };
    if (!o.toStdout()) {
        std::string error;
        if (!checkWritableFolder(o.directory, error))
            return failed(error);
    }
    SampleSource source;
    std::string error;
    if (!source.open(modulePathIn(o.programDirectory, o.module), o.config, error))
        return failed(error);

    // Which channels, each at most once; a name that two channels carry
    // cannot be asked for (a data request serves the later one).
    const auto& all = source.channels();
    std::vector<bool> chosen(all.size(), o.channels.empty());
    for (const std::string& name : o.channels) {
        host::HostChannel* c = source.channelNamed(name);
        if (c == nullptr)
            return failed("no channel is named " + name + " in " + o.config);
        for (std::size_t i = 0; i < all.size(); ++i)
            if (all[i] == c)
                chosen[i] = true;
    }
    std::set<std::string> names;
    std::set<std::string> twice;
    for (const host::HostChannel* c : all)
        if (!names.insert(c->name()).second)
            twice.insert(c->name());
    std::vector<host::HostChannel*> selected;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!chosen[i])
            continue;
        if (twice.count(all[i]->name()) != 0)
            return failed("two channels are named " + host::utf8(all[i]->name().c_str()) +
                          "; a data request serves only the later one: rename one");
        selected.push_back(all[i]);
        total += samplesDue(all[i]->frequency(), o.seconds);
    }

    StopOnSignal stop;
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    Progress progress(o.progress && terminal, total, err);
    std::mutex errMutex; // the writer's messages and the progress bar share it
    const bool wide = o.format == SampleFormat::Raw64 || o.format == SampleFormat::Csv;
    std::vector<std::vector<float>> floats(ChunkWriter::kSlots,
                                           std::vector<float>(wide ? 0 : o.chunk));
    std::vector<std::vector<double>> doubles(ChunkWriter::kSlots,
                                             std::vector<double>(wide ? o.chunk : 0));

    std::unique_ptr<Recording> recording;
    if (!o.toStdout()) {
        const std::string name =
            Recording::freeName(o.directory, o.name.empty() ? baseNameOf(o.config) : o.name);
        // Written behind as they grow: at the end little is left for the
        // disk to take, rather than the whole run.
        auto opener = [](const std::string& path, std::string& why) {
            return openByteFile(path, why, WriteBehind{});
        };
        recording = std::make_unique<Recording>(o.directory, name, opener, o.format);
        recording->setErrorHandler([&err, &errMutex](const std::string& m) {
            const std::lock_guard lock(errMutex);
            err << "\nrecorder render: " << m << "\n";
        });
        recording->setRunSeconds(o.seconds);
        if (!recording->open(selected) || !recording->keepConfiguration(o.config))
            return failed(recording->error());
    }

    const auto began = std::chrono::steady_clock::now();
    std::atomic<std::uint64_t> done{0}; // samples written
    int writeErrno = 0;                 // standard output's failure
    auto lastFlush = began;
    std::string text;
    // From here to its finish() only the writer's thread touches the
    // recording and standard output.
    ChunkWriter writer([&](const Chunk& c) {
        const auto count = static_cast<std::int32_t>(c.count);
        const float* f = floats[c.slot].data();
        const double* d = doubles[c.slot].data();
        if (recording) {
            if (wide)
                recording->write(*c.channel, d, count);
            else
                recording->write(*c.channel, f, count);
            if (recording->failed())
                return false;
            const auto now = std::chrono::steady_clock::now();
            if (now - lastFlush > std::chrono::seconds(1)) {
                recording->flush();
                lastFlush = now;
            }
        } else {
            bool ok = false;
            if (o.format == SampleFormat::Csv) {
                text.clear();
                if (c.first == 0)
                    text = kCsvHeader;
                appendCsv(text, c.first, c.channel->frequency(), d, c.count);
                ok = writeAll(stdout, text.data(), text.size());
            } else {
                ok = wide ? writeAll(stdout, d, c.count * sizeof(double))
                          : writeAll(stdout, f, c.count * sizeof(float));
            }
            if (!ok) {
                writeErrno = errno;
                return false;
            }
        }
        done += c.count;
        return true;
    });
    auto showProgress = [&](bool force) {
        const std::lock_guard lock(errMutex);
        progress.update(done.load(), force);
    };
    bool writeFailed = false;
    // Noise: one state, from the generator's start, through every channel
    // in the recorder's order; channels not rendered still move it on.
    std::uint32_t noise = 1;
    for (std::size_t i = 0; i < all.size() && stop.signal() == 0 && !writeFailed; ++i) {
        host::HostChannel& channel = *all[i];
        const std::uint64_t due = samplesDue(channel.frequency(), o.seconds);
        if (!chosen[i]) {
            if (!source.skip(channel, due, noise)) {
                writer.finish();
                if (recording)
                    recording->close(Recording::End::Complete);
                return failed("the emulator did not answer for " +
                              host::utf8(channel.name().c_str()));
            }
            continue;
        }
        for (std::uint64_t k = 0; k < due && stop.signal() == 0; k += o.chunk) {
            if (!writer.waitForSlot()) {
                writeFailed = true;
                break;
            }
            const std::uint64_t n = std::min<std::uint64_t>(o.chunk, due - k);
            const std::size_t slot = writer.next();
            if (!source.fill(channel, k, n, wide ? nullptr : floats[slot].data(),
                             wide ? doubles[slot].data() : nullptr, noise)) {
                writer.finish();
                if (recording)
                    recording->close(Recording::End::Complete);
                return failed("the emulator did not answer for " +
                              host::utf8(channel.name().c_str()) + " at sample " +
                              std::to_string(k));
            }
            writer.submit({&channel, k, n, slot});
            showProgress(false);
        }
    }
    writeFailed = !writer.finish() || writeFailed;
    showProgress(true);
    progress.finish();
    if (!recording && writeFailed) {
        if (writeErrno == EPIPE)
            return 0; // the reader has what it wanted
        return failed(std::string("cannot write to standard output: ") + std::strerror(writeErrno));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (!recording) {
        if (std::fflush(stdout) != 0 && errno != EPIPE)
            return failed(std::string("cannot write to standard output: ") + std::strerror(errno));
        if (stop.signal() != 0) {
            err << "recorder render: interrupted after " << done.load() << " samples\n";
            return 128 + stop.signal();
        }
        return 0;
    }
    recording->close(stop.signal() != 0 ? Recording::End::Interrupted : Recording::End::Complete);
    char line[200];
    std::snprintf(line, sizeof line, "%zu channels, %.0f samples in %.2f s (%.1f MS/s)\n",
                  selected.size(), static_cast<double>(done.load()), seconds,
                  seconds > 0 ? static_cast<double>(done.load()) / seconds / 1e6 : 0.0);
    out << "Rendered: " << recording->manifestPath() << " (" << recording->status() << "), "
        << line;
    out.flush();
    if (recording->failed())
        return failed(recording->error());
    if (stop.signal() != 0) {
        err << "recorder render: interrupted; the files hold what was written, the manifest "
               "says interrupted\n";
        return 128 + stop.signal();
    }
    return 0;
}

int renderCommand(int argc, char** argv) {
    RenderOptions o;
    std::string error;
    if (!parseRenderOptions(argc, argv, o, error)) {
        if (error.empty()) {
            std::cout << kRenderUsage;
            return 0;
        }
        std::cerr << "recorder render: " << error << " (try recorder render --help)\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
    o.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    // With samples on standard output, what the program says goes to its
    // error output.
    return render(o, o.toStdout() ? std::cerr : std::cout, std::cerr);
}

} // namespace recorder
