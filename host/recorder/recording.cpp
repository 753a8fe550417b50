#include "recording.h"

#include "wavfile.h"

#include "host/host.h"
#include "platform/wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QString>

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace recorder {

namespace {

// A live recording hands its files to the disk every 512 KiB of each, so
// that the disk writes while the run goes on instead of all at its end.
constexpr std::int64_t kLiveWriteBehind = 512 << 10;
// Every so many bytes written a file (on the average), the files are put on
// the disk in the background: a file system takes new blocks for good only
// at a sync, which at the end of a long run would otherwise take long.
constexpr std::int64_t kSyncBehind = 16 << 20;

// A channel file through the system's calls, so that a failure keeps the
// system's reason (a full disk says so, never "no error").
class DiskFile final : public ByteFile {
public:
    explicit DiskFile(const std::string& path, std::optional<WriteBehind> behind = {})
        : path_(path), behind_(std::move(behind)) {}
    ~DiskFile() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;
    bool open() {
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            error_ = std::strerror(errno);
        return fd_ >= 0;
    }
    std::int64_t write(const void* data, std::int64_t bytes) override {
        std::int64_t done = 0;
        while (done < bytes) {
            const ssize_t n = ::write(fd_, static_cast<const char*>(data) + done,
                                      static_cast<std::size_t>(bytes - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error_ = std::strerror(n < 0 ? errno : ENOSPC);
                break;
            }
            done += n;
            at_ += n;
        }
        end_ = std::max(end_, at_);
        if (done == bytes && !writeBack())
            return -1;
        return done;
    }
    std::int64_t read(void* data, std::int64_t bytes) override {
        const ssize_t n = ::read(fd_, data, static_cast<std::size_t>(bytes));
        if (n < 0)
            error_ = std::strerror(errno);
        return n;
    }
    std::int64_t seek(std::int64_t offset, int whence) override {
        const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
        if (at < 0)
            error_ = std::strerror(errno);
        else
            at_ = at;
        return at;
    }
    std::int64_t position() override { return ::lseek(fd_, 0, SEEK_CUR); }
    std::int64_t size() override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? st.st_size : -1;
    }
    bool truncate(std::int64_t size) override {
        if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) {
            end_ = std::min(end_, size);
            sent_ = std::min(sent_, size);
            return true;
        }
        error_ = std::strerror(errno);
        return false;
    }
    void startSync() override { (void)startWriteback(fd_, 0, 0); }
    bool syncBehind(std::string& why) override {
        if (::fdatasync(fd_) == 0)
            return true;
        why = std::strerror(errno);
        return false;
    }
    bool sync() override { return syncBehind(error_); }
    std::string error() const override { return error_; }

private:
    // Hands what was written past the last handed-over byte to the disk,
    // in whole 64 KiB pieces, once there is enough of it.
    bool writeBack() {
        if (!behind_ || behind_->every <= 0 || end_ - sent_ < behind_->every)
            return true;
        const std::int64_t upTo = end_ & ~std::int64_t{0xffff};
        if (upTo <= sent_)
            return true;
        const int code = behind_->start(fd_, sent_, upTo - sent_);
        if (code == EINVAL || code == ESPIPE || code == ENOSYS || code == EOPNOTSUPP) {
            behind_.reset(); // not a file that can be written back so
            return true;
        }
        if (code != 0) {
            error_ = std::strerror(code);
            return false;
        }
        sent_ = upTo;
        return true;
    }

    std::string path_;
    std::optional<WriteBehind> behind_;
    int fd_ = -1;
    std::int64_t at_ = 0;   // the file's position
    std::int64_t end_ = 0;  // its size, as written
    std::int64_t sent_ = 0; // bytes handed to the disk
    std::string error_;
};

int wavRate(double frequency) {
    if (!(frequency >= 1))
        return 1;
    if (frequency >= static_cast<double>(INT_MAX))
        return INT_MAX;
    return static_cast<int>(std::llround(frequency));
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char n = text[++i];
            out += n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out += text[i];
        }
    }
    return out;
}

// A failure that says the disk (or the user's quota) is full.
bool isDiskFull(const std::string& why) {
    return why.find(std::strerror(ENOSPC)) != std::string::npos ||
           why.find(std::strerror(EDQUOT)) != std::string::npos;
}

std::string seconds3(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f", v);
    std::string t = text;
    while (t.find('.') != std::string::npos && (t.back() == '0' || t.back() == '.'))
        t.pop_back();
    return t;
}

std::string number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

} // namespace

bool parseSampleFormat(const std::string& name, SampleFormat& format) {
    static const std::pair<const char*, SampleFormat> kNames[] = {{"wav", SampleFormat::Wav},
                                                                  {"raw32", SampleFormat::Raw32},
                                                                  {"raw64", SampleFormat::Raw64},
                                                                  {"csv", SampleFormat::Csv}};
    for (const auto& [text, value] : kNames) {
        if (name == text) {
            format = value;
            return true;
        }
    }
    return false;
}

const char* sampleFormatExtension(SampleFormat format) {
    switch (format) {
    case SampleFormat::Raw32:
        return ".f32";
    case SampleFormat::Raw64:
        return ".f64";
    case SampleFormat::Csv:
        return ".csv";
    case SampleFormat::Wav:
        break;
    }
    return ".wav";
}

const char* sampleFormatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::Raw64:
        return "float64le";
    case SampleFormat::Csv:
        return "csv";
    case SampleFormat::Wav:
    case SampleFormat::Raw32:
        break;
    }
    return "float32le";
}

void appendCsv(std::string& text, std::uint64_t first, double frequency, const double* values,
               std::size_t n) {
    text.reserve(text.size() + n * 40);
    char number[64];
    for (std::size_t i = 0; i < n; ++i) {
        const double k = static_cast<double>(first + i);
        auto r = std::to_chars(number, number + sizeof number, frequency > 0 ? k / frequency : 0.0);
        text.append(number, r.ptr);
        text += ',';
        r = std::to_chars(number, number + sizeof number, values[i]);
        text.append(number, r.ptr);
        text += '\n';
    }
}

std::string soundLibraryVersion() {
    return sf_version_string(); // what reads the files back
}

int startWriteback(int fd, std::int64_t offset, std::int64_t length) {
#ifdef SYNC_FILE_RANGE_WRITE
    return ::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                             SYNC_FILE_RANGE_WRITE) == 0
               ? 0
               : errno;
#else
    (void)fd;
    (void)offset;
    (void)length;
    return ENOSYS;
#endif
}

namespace {
std::unique_ptr<ByteFile> openDiskFile(const std::string& path, std::string& error,
                                       std::optional<WriteBehind> behind) {
    auto file = std::make_unique<DiskFile>(path, std::move(behind));
    if (!file->open()) {
        error = file->error();
        return nullptr;
    }
    return file;
}
} // namespace

std::unique_ptr<ByteFile> openByteFile(const std::string& path, std::string& error) {
    return openDiskFile(path, error, std::nullopt);
}

std::unique_ptr<ByteFile> openByteFile(const std::string& path, std::string& error,
                                       WriteBehind behind) {
    return openDiskFile(path, error, std::move(behind));
}

std::string channelFileStem(std::size_t index, std::size_t count, const std::string& utf8Name) {
    QString name;
    bool gap = false;
    for (const QChar c : QString::fromStdString(utf8Name)) {
        if (c.isLetterOrNumber() || c.isMark() || c.isSurrogate() || c == '.' || c == '+' ||
            c == '-') {
            if (gap && !name.isEmpty())
                name += '_';
            gap = false;
            name += c;
        } else {
            gap = true;
        }
    }
    while (name.startsWith('.') || name.startsWith('_'))
        name.remove(0, 1);
    if (name.isEmpty())
        name = "channel";
    int digits = 2;
    for (std::size_t last = count > 0 ? count - 1 : 0; last >= 100; last /= 10)
        ++digits;
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%0*zu-", digits, index);
    return prefix + name.toStdString();
}

struct Recording::Track {
    host::HostChannel* channel = nullptr; // one reference while recorded
    std::string name;                     // UTF-8
    double frequency = 0;
    std::string file;     // in the recording's folder
    bool started = false; // its file was asked for
    bool created = false; // and made
    std::unique_ptr<ByteFile> bytes;
    std::unique_ptr<WavWriter> wav;
    std::uint64_t samples = 0; // as many as the file's header declares
    std::uint64_t blocks = 0;
    std::vector<std::uint64_t> recentStarts; // of the last blocks, for a cut
    std::string failure;
};

// A thread of its own for a running recording's work that waits for the
// disk (its manifests, the syncs of its files), so that the blocks do not
// wait with it. It does one round at a time; a round not yet begun is
// replaced by a newer one. A round answers its failures: (track, reason).
class Recording::Rounds {
public:
    using Round = std::function<Failures()>;

    Rounds() : thread_([this] { run(); }) {}
    ~Rounds() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            waiting_ = nullptr; // the owner settled what mattered
        }
        wake_.notify_all();
        thread_.join();
    }
    Rounds(const Rounds&) = delete;
    Rounds& operator=(const Rounds&) = delete;

    void post(Round round) {
        {
            std::lock_guard lock(mutex_);
            waiting_ = std::move(round);
        }
        wake_.notify_all();
    }
    // The failures of the rounds done since the last call; `drop` drops the
    // round that waits.
    Failures poll(bool drop = false) {
        std::lock_guard lock(mutex_);
        if (drop)
            waiting_ = nullptr;
        return std::exchange(failures_, {});
    }
    // The same once nothing is under way, and nothing waits (dropped, or
    // done first).
    Failures settle(bool drop) {
        std::unique_lock lock(mutex_);
        if (drop)
            waiting_ = nullptr;
        done_.wait(lock, [this] { return !busy_ && !waiting_; });
        return std::exchange(failures_, {});
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || waiting_; });
            if (!waiting_)
                return;
            const Round round = std::exchange(waiting_, nullptr);
            busy_ = true;
            lock.unlock();
            Failures failed = round();
            lock.lock();
            busy_ = false;
            failures_.insert(failures_.end(), failed.begin(), failed.end());
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    Round waiting_;
    bool busy_ = false;
    bool quit_ = false;
    Failures failures_;
    std::thread thread_; // last: started once the rest is made
};

Recording::Recording(std::string directory, std::string name, Opener opener, SampleFormat format)
    : directory_(std::move(directory)), name_(std::move(name)), opener_(std::move(opener)),
      format_(format) {
    if (!opener_)
        opener_ = [](const std::string& path, std::string& error) {
            return openByteFile(path, error, WriteBehind{kLiveWriteBehind});
        };
    folder_ = directory_ + (directory_.empty() || directory_.back() == '/' ? "" : "/") + name_;
}

Recording::~Recording() {
    close(End::Interrupted);
}

std::string Recording::manifestPath() const {
    return folder_ + "/" + name_ + ".kova";
}

std::string Recording::freeName(const std::string& directory, const std::string& base) {
    const QDir dir(QString::fromStdString(directory));
    std::string name = base;
    for (int n = 2; dir.exists(QString::fromStdString(name)); ++n)
        name = base + "-" + std::to_string(n);
    return name;
}

std::string Recording::status() const {
    if (!error_.empty())
        return "failed: " + error_;
    if (!ended_)
        return "recording";
    return end_ == End::Interrupted ? "interrupted" : "complete";
}

Recording::Track& Recording::track(host::HostChannel& channel) {
    auto it = index_.find(&channel);
    if (it != index_.end())
        return *it->second;
    auto t = std::make_unique<Track>();
    t->channel = &channel;
    channel.AddRef();
    t->name = host::utf8(channel.name().c_str());
    t->frequency = channel.frequency();
    const std::size_t index = tracks_.size();
    t->file = channelFileStem(index, std::max(planned_, index + 1), t->name) +
              sampleFormatExtension(format_);
    tracks_.push_back(std::move(t));
    index_.emplace(&channel, tracks_.back().get());
    return *tracks_.back();
}

bool Recording::open(const std::vector<host::HostChannel*>& channels) {
    if (open_ || ended_ || failed())
        return open_;
    started_ = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    std::error_code code;
    std::filesystem::create_directories(std::filesystem::u8path(folder_), code);
    if (code) {
        fail("cannot create the recording folder " + folder_ + ": " + code.message());
        return false;
    }
    planned_ = channels.size();
    for (host::HostChannel* c : channels)
        track(*c);
    open_ = true;
    std::string why;
    if (!writeManifest(why)) {
        open_ = false;
        fail("cannot write " + manifestPath() + ": " + why);
        return false;
    }
    keepRoom();
    if (failed()) {
        open_ = false;
        return false;
    }
    return true;
}

void Recording::keepRoom() {
    // Room for the manifest's last form, twice over (the new one is written
    // beside the old before the rename), given up when the disk fills or the
    // recording ends.
    const auto room = static_cast<off_t>(65536 + 2048 * tracks_.size());
    const std::string path = folder_ + "/." + name_ + ".room";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int code = fd < 0 ? errno : ::posix_fallocate(fd, 0, room);
    if (code == EOPNOTSUPP || code == EINVAL) { // a file system that cannot: written out
        const std::vector<char> zeros(static_cast<std::size_t>(room), 0);
        code = ::write(fd, zeros.data(), zeros.size()) == static_cast<ssize_t>(zeros.size())
                   ? 0
                   : (errno != 0 ? errno : ENOSPC);
    }
    if (fd >= 0)
        ::close(fd);
    if (code != 0) {
        ::unlink(path.c_str());
        fail("cannot keep room for the manifest in " + folder_ + ": " + std::strerror(code));
        return;
    }
    reserve_ = path;
}

void Recording::giveUpRoom() {
    if (reserve_.empty())
        return;
    ::unlink(reserve_.c_str());
    reserve_.clear();
}

void Recording::updateManifest() {
    if (diskFull_)
        return; // the manifest written when the disk filled stands
    std::string why;
    if (writeManifest(why))
        manifestFailure_.clear();
    else
        manifestFailed(why);
}

void Recording::manifestFailed(const std::string& why) {
    stale_ = true; // written again at the next round
    const std::string what = "cannot write " + manifestPath() + ": " + why;
    if (isDiskFull(why))
        endOnFullDisk(what);
    else if (what != manifestFailure_) // told once while it lasts, not on every round
        fail(what);
    manifestFailure_ = what;
}

void Recording::endOnFullDisk(const std::string& why) {
    if (diskFull_ || !open_)
        return;
    diskFull_ = true;
    collectSyncs(true); // the files are cut below
    // The common end: the earliest end among the channels being written, so
    // that every file ends at the same sample time.
    double end = HUGE_VAL;
    for (const auto& t : tracks_)
        if ((format_ == SampleFormat::Wav ? t->wav != nullptr : t->bytes != nullptr) &&
            t->failure.empty())
            end = std::min(end, static_cast<double>(t->samples) / t->frequency);
    if (!std::isfinite(end))
        end = 0;
    const std::int64_t width = format_ == SampleFormat::Raw64 ? 8 : 4;
    for (auto& t : tracks_) {
        // A CSV file keeps its whole lines: a reader takes those.
        if (t->bytes == nullptr || !t->failure.empty() || format_ == SampleFormat::Csv)
            continue;
        const auto keep = std::min<std::uint64_t>(
            t->samples, static_cast<std::uint64_t>(std::ceil(end * t->frequency - 1e-9)));
        // Also at its own end: the header (or the size) says what is there,
        // and what a short write left past it goes.
        const bool cut = t->wav != nullptr
                             ? t->wav->cut(keep)
                             : t->bytes->truncate(static_cast<std::int64_t>(keep) * width);
        if (!cut) {
            const std::string reason = t->bytes->error();
            t->failure = "cannot cut " + t->file + " at " + seconds3(end) +
                         " s: " + (reason.empty() ? "cannot read it back" : reason);
        } else {
            bytes_ -= static_cast<std::int64_t>(t->samples - keep) * width;
            t->samples = keep;
            t->blocks -= static_cast<std::uint64_t>(
                std::count_if(t->recentStarts.begin(), t->recentStarts.end(),
                              [keep](std::uint64_t start) { return start >= keep; }));
        }
    }
    syncFiles(); // what the last manifest counts is on the disk
    for (auto& t : tracks_) {
        t->wav.reset();
        t->bytes.reset();
    }
    giveUpRoom();
    const std::string status = "disk full after " + seconds3(end) + " s";
    if (onError_)
        onError_(why + "; the recording ends, every channel at " + seconds3(end) + " s");
    error_ = status; // what ended the recording, whatever failed before
    std::string manifest;
    if (!writeManifest(manifest) && onError_)
        onError_("cannot write " + manifestPath() + ": " + manifest);
    if (onDiskFull_)
        onDiskFull_();
}

bool Recording::keepConfiguration(const std::string& path) {
    if (!open_)
        return false;
    const std::string copy = name_ + ".res";
    std::string bytes;
    std::string why;
    if (platform::readWholeFile(path, bytes, why) != platform::ReadOutcome::Ok) {
        fail("cannot read the configuration " + path + ": " + why);
        return false;
    }
    if (!platform::writeWholeFile(folder_ + "/" + copy, bytes, why)) {
        fail("cannot write " + folder_ + "/" + copy + ": " + why);
        return false;
    }
    config_ = copy;
    if (!writeManifest(why)) {
        fail("cannot write " + manifestPath() + ": " + why);
        return false;
    }
    return true;
}

bool Recording::keepLog() {
    if (!open_ || logFd_ >= 0)
        return open_;
    const std::string file = name_ + ".log";
    const std::string path = folder_ + "/" + file;
    logFd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (logFd_ < 0) {
        const std::string why = std::strerror(errno);
        if (isDiskFull(why))
            endOnFullDisk("cannot create " + path + ": " + why);
        else
            fail("cannot create " + path + ": " + why);
        return false;
    }
    log_ = file;
    std::string why;
    if (!writeManifest(why)) {
        closeLog();
        fail("cannot write " + manifestPath() + ": " + why);
        return false;
    }
    return true;
}

void Recording::log(const host::LogMessage& message) {
    if (logFd_ < 0 || !open_ || diskFull_)
        return;
    // "2025-01-01T11:00:00.250Z info  [source] text": UTC, one line a message.
    const char* kind = message.kind == host::kLogInfo    ? "info "
                       : message.kind == host::kLogTrace ? "trace"
                       : message.kind == host::kLogError ? "error"
                                                         : nullptr;
    const std::string kindText =
        kind != nullptr ? std::string(kind) : "kind " + std::to_string(message.kind);
    std::string line = QDateTime::fromMSecsSinceEpoch(message.ms, Qt::UTC)
                           .toString("yyyy-MM-ddTHH:mm:ss.zzzZ")
                           .toStdString() +
                       " " + kindText + " [" +
                       escape(QString::fromStdU16String(message.source).toStdString()) + "] " +
                       escape(QString::fromStdU16String(message.text).toStdString()) + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(logFd_, line.data() + done, line.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const std::string why = std::strerror(n < 0 ? errno : ENOSPC);
        const std::string path = folder_ + "/" + log_;
        closeLog(); // before the report, which comes back here as a message
        if (isDiskFull(why))
            endOnFullDisk("cannot write " + path + ": " + why);
        else
            fail("cannot write " + path + ": " + why);
        return;
    }
}

void Recording::closeLog() {
    if (logFd_ < 0)
        return;
    ::close(logFd_);
    logFd_ = -1;
}

std::string Recording::plotFile(const host::HostChannel& channel) const {
    auto it = index_.find(&channel);
    if (it == index_.end())
        return {};
    const std::string& file = it->second->file;
    return file.substr(0, file.size() - 4) + ".png";
}

void Recording::fail(const std::string& message) {
    const bool first = error_.empty();
    if (first)
        error_ = message;
    if (onError_)
        onError_(message);
}

bool Recording::startFile(Track& t) {
    t.started = true;
    std::string error;
    t.bytes = opener_(folder_ + "/" + t.file, error);
    t.created = t.bytes != nullptr;
    if (!t.bytes) {
        if (isDiskFull(error))
            endOnFullDisk("cannot create " + t.file + ": " + error);
        else
            stopFile(t, "cannot create " + t.file + ": " + error);
        return false;
    }
    if (format_ == SampleFormat::Csv)
        return writeBytes(t, kCsvHeader, 11);
    if (format_ != SampleFormat::Wav)
        return true;
    t.wav = std::make_unique<WavWriter>(*t.bytes, static_cast<std::uint32_t>(wavRate(t.frequency)));
    if (!t.wav->begin()) {
        t.wav.reset();
        const std::string why = t.bytes->error();
        const std::string what =
            "cannot write " + t.file + ": " + (why.empty() ? "the write fell short" : why);
        if (isDiskFull(why)) {
            t.bytes.reset();
            endOnFullDisk(what);
        } else {
            stopFile(t, what);
        }
        return false;
    }
    return true;
}

void Recording::stopFile(Track& t, std::string failure) {
    collectSyncs(true);
    // The header follows every block: what the file holds is declared.
    t.wav.reset();
    t.bytes.reset();
    if (!failure.empty() && t.failure.empty()) {
        t.failure = failure;
        fail(failure + "; this channel is no longer recorded, the run goes on");
        if (open_) // tells what was kept and why it stopped
            updateManifest();
    }
}

bool Recording::writeBytes(Track& t, const void* data, std::int64_t bytes) {
    if (t.bytes->write(data, bytes) == bytes) {
        bytes_ += bytes;
        return true;
    }
    const std::string why = t.bytes->error();
    const std::string what =
        "cannot write " + t.file + ": " + (why.empty() ? "the write fell short" : why);
    if (isDiskFull(why))
        endOnFullDisk(what);
    else
        stopFile(t, what);
    return false;
}

void Recording::written(Track& t, bool ok, std::int32_t count) {
    if (!ok)
        return;
    if (t.recentStarts.size() >= 64)
        t.recentStarts.erase(t.recentStarts.begin());
    t.recentStarts.push_back(t.samples);
    t.samples += static_cast<std::uint64_t>(count);
    t.blocks += 1;
    stale_ = true;
    if (bytes_ - syncAsked_ >= kSyncBehind * static_cast<std::int64_t>(tracks_.size()))
        syncBehind();
}

void Recording::syncBehind() {
    syncAsked_ = bytes_;
    collectSyncs(false);
    reportSyncFailures();
    if (!syncs_)
        syncs_ = std::make_unique<Rounds>();
    std::vector<std::pair<std::size_t, ByteFile*>> files;
    for (std::size_t i = 0; i < tracks_.size(); ++i)
        if (tracks_[i]->bytes != nullptr && tracks_[i]->failure.empty())
            files.emplace_back(i, tracks_[i]->bytes.get());
    syncs_->post([files = std::move(files)] {
        Failures failed;
        for (const auto& [track, file] : files) {
            std::string why;
            if (!file->syncBehind(why))
                failed.emplace_back(track, why);
        }
        return failed;
    });
}

void Recording::collectSyncs(bool wait) {
    // The round that waits is dropped. Waiting, no file is in use once it
    // returns. The failures wait for reportSyncFailures(): this is called on
    // the way to closing a file, which must not close others meanwhile.
    if (syncs_ == nullptr)
        return;
    const Failures failures = wait ? syncs_->settle(true) : syncs_->poll(true);
    syncFailures_.insert(syncFailures_.end(), failures.begin(), failures.end());
}

void Recording::reportSyncFailures() {
    while (!syncFailures_.empty()) {
        const auto [index, why] = syncFailures_.back();
        syncFailures_.pop_back();
        Track& t = *tracks_[index];
        if (t.failure.empty())
            stopFile(t, "cannot put " + t.file + " on the disk: " + why);
    }
}

void Recording::write(host::HostChannel& channel, const float* block, std::int32_t count) {
    if (!open_ || diskFull_ || block == nullptr || count <= 0)
        return;
    if (format_ == SampleFormat::Raw64 || format_ == SampleFormat::Csv) {
        std::vector<double> wide(block, block + count);
        write(channel, wide.data(), count);
        return;
    }
    Track& t = track(channel);
    if (!t.failure.empty() || (!t.started && !startFile(t)))
        return;
    if (format_ == SampleFormat::Raw32) {
        if (t.bytes == nullptr)
            return;
        static_assert(std::endian::native == std::endian::little, "raw files are little-endian");
        written(t, writeBytes(t, block, static_cast<std::int64_t>(count) * 4), count);
        return;
    }
    if (t.wav == nullptr)
        return;
    const bool ok = t.wav->append(block, static_cast<std::size_t>(count));
    if (ok) {
        bytes_ += static_cast<std::int64_t>(count) * 4;
        written(t, true, count);
        return;
    }
    const std::string why = t.bytes->error();
    const std::string what =
        "cannot write " + t.file + ": " + (why.empty() ? "the write fell short" : why);
    if (isDiskFull(why))
        endOnFullDisk(what);
    else
        stopFile(t, what);
}

void Recording::write(host::HostChannel& channel, const double* block, std::int32_t count) {
    if (!open_ || diskFull_ || block == nullptr || count <= 0)
        return;
    if (format_ == SampleFormat::Wav || format_ == SampleFormat::Raw32) {
        std::vector<float> narrow(static_cast<std::size_t>(count));
        for (std::int32_t i = 0; i < count; ++i)
            narrow[static_cast<std::size_t>(i)] = static_cast<float>(block[i]);
        write(channel, narrow.data(), count);
        return;
    }
    Track& t = track(channel);
    if (!t.failure.empty() || (!t.started && !startFile(t)) || t.bytes == nullptr)
        return;
    if (format_ == SampleFormat::Raw64) {
        written(t, writeBytes(t, block, static_cast<std::int64_t>(count) * 8), count);
        return;
    }
    std::string text;
    appendCsv(text, t.samples, t.frequency, block, static_cast<std::size_t>(count));
    written(t, writeBytes(t, text.data(), static_cast<std::int64_t>(text.size())), count);
}

std::string Recording::fileOf(const host::HostChannel& channel) const {
    auto it = index_.find(&channel);
    return it == index_.end() ? std::string() : it->second->file;
}

void Recording::flush() {
    if (!open_)
        return;
    if (manifests_)
        manifestsFailed(manifests_->poll());
    if (!stale_ || diskFull_)
        return;
    if (!manifests_)
        manifests_ = std::make_unique<Rounds>();
    manifests_->post([path = manifestPath(), text = manifestText()] {
        // Whole or not at all: a failed write keeps the manifest written before.
        std::string why;
        if (platform::writeWholeFile(path, text, why))
            return Failures{};
        return Failures{{0, why}};
    });
    stale_ = false;
}

void Recording::settle() {
    if (manifests_)
        manifestsFailed(manifests_->settle(false));
}

void Recording::manifestsFailed(const Failures& failures) {
    if (!failures.empty() && open_)
        manifestFailed(failures.back().second);
}

void Recording::syncFiles() {
    // A background round under way goes on beside these syncs, which take
    // what it has not.
    collectSyncs(false);
    reportSyncFailures();
    // Before the last manifest: its counts claim only what the disk holds.
    // Every file's writing is started first, so that the disk takes them
    // all at once rather than one after the other.
    for (auto& t : tracks_)
        if (t->bytes != nullptr && t->failure.empty())
            t->bytes->startSync();
    for (auto& t : tracks_) {
        if (t->bytes == nullptr || !t->failure.empty() || t->bytes->sync())
            continue;
        const std::string why = t->bytes->error();
        t->failure =
            "cannot put " + t->file + " on the disk: " + (why.empty() ? "the flush failed" : why);
        fail(t->failure);
    }
    collectSyncs(true);
    reportSyncFailures();
}

void Recording::close(End end) {
    if (open_) {
        syncFiles();
        for (auto& t : tracks_)
            stopFile(*t, {});
        end_ = end;
        ended_ = true;
        giveUpRoom(); // the last form of the manifest takes that room
        updateManifest();
        open_ = false;
    }
    manifests_.reset();
    syncs_.reset();
    closeLog();
    for (auto& t : tracks_) {
        if (t->channel != nullptr) {
            t->channel->Release();
            t->channel = nullptr;
        }
    }
    // index_ stays: plotFile() still names the files after the run.
}

bool Recording::writeManifest(std::string& why) {
    // After what is being written in the background, which it replaces (a
    // failure there no longer matters).
    if (manifests_)
        (void)manifests_->settle(true);
    if (!platform::writeWholeFile(manifestPath(), manifestText(), why))
        return false;
    stale_ = false;
    return true;
}

std::string Recording::manifestText() const {
    std::ostringstream text;
    text << "# A run of the recorder: one float WAV file per channel, in this folder.\n";
    text << "[recording]\n";
    text << "format=kova-recording 1\n";
    text << "name=" << escape(name_) << "\n";
    text << "started=" << started_ << "\n";
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.3f", seconds_);
    text << "seconds=" << secs << "\n";
    text << "status=" << escape(status()) << "\n";
    if (!config_.empty())
        text << "config=" << escape(config_) << "\n";
    if (!log_.empty())
        text << "log=" << escape(log_) << "\n";
    text << "channels=" << tracks_.size() << "\n";
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        const Track& t = *tracks_[i];
        text << "\n[channel " << i << "]\n";
        text << "name=" << escape(t.name) << "\n";
        text << "frequency=" << number(t.frequency) << "\n";
        text << "samples=" << t.samples << "\n";
        text << "blocks=" << t.blocks << "\n";
        text << "sample_format=" << sampleFormatName(format_) << "\n";
        text << "files=" << (t.created ? t.file : std::string()) << "\n";
        text << "status="
             << (t.failure.empty() ? std::string("ok") : "failed: " + escape(t.failure)) << "\n";
    }
    return text.str();
}

// --- Reading back ------------------------------------------------------------

bool readManifest(const std::string& path, RecordedRun& run, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    run = {};
    std::string line;
    std::string section;
    bool ours = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            if (section.rfind("channel ", 0) == 0)
                run.channels.emplace_back();
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = unescape(line.substr(eq + 1));
        if (section == "recording") {
            if (key == "format")
                ours = value == "kova-recording 1";
            else if (key == "name")
                run.name = value;
            else if (key == "seconds")
                run.seconds = std::strtod(value.c_str(), nullptr);
            else if (key == "status")
                run.status = value;
            else if (key == "config")
                run.config = value;
            else if (key == "log")
                run.log = value;
        } else if (!run.channels.empty()) {
            RecordedChannel& c = run.channels.back();
            if (key == "name")
                c.name = value;
            else if (key == "frequency")
                c.frequency = std::strtod(value.c_str(), nullptr);
            else if (key == "samples")
                c.samples = std::strtoull(value.c_str(), nullptr, 10);
            else if (key == "status")
                c.status = value;
            else if (key == "files") {
                std::stringstream list(value);
                std::string file;
                while (std::getline(list, file, ','))
                    if (!file.empty())
                        c.files.push_back(file);
            }
        }
    }
    if (!ours) {
        error = path + " is not a recording manifest";
        return false;
    }
    return true;
}

bool readWavInfo(const std::string& path, WavInfo& wav, std::string& error) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
    if (sound == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    sf_close(sound);
    wav.frames = static_cast<std::uint64_t>(info.frames);
    wav.rate = static_cast<std::uint32_t>(info.samplerate);
    wav.channels = info.channels;
    wav.rf64 = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64;
    return true;
}

bool readWavSamples(const std::string& path, std::vector<float>& out, std::uint32_t* rate,
                    std::string& error, std::uint64_t first, std::uint64_t count) {
    SF_INFO info{};
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
    if (sound == nullptr) {
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    if (info.channels != 1) {
        sf_close(sound);
        error = path + " holds " + std::to_string(info.channels) + " channels, not one";
        return false;
    }
    if (rate != nullptr)
        *rate = static_cast<std::uint32_t>(info.samplerate);
    const auto frames = static_cast<std::uint64_t>(info.frames);
    first = std::min(first, frames);
    count = std::min(count, frames - first);
    if (first > 0 && sf_seek(sound, static_cast<sf_count_t>(first), SEEK_SET) < 0) {
        sf_close(sound);
        error = path + ": " + sf_strerror(nullptr);
        return false;
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(count));
    const sf_count_t got = sf_readf_float(sound, out.data() + at, static_cast<sf_count_t>(count));
    sf_close(sound);
    if (got != static_cast<sf_count_t>(count)) {
        out.resize(at);
        error = path + " is shorter than its header says";
        return false;
    }
    return true;
}

} // namespace recorder
