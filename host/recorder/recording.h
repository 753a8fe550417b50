// Writing a run to disk: <directory>/<name>/<name>.kova, a small text manifest,
// beside one 32-bit float WAV file per channel (see docs/recording.md). The
// channel files are written by WavWriter (wavfile.h): a float WAVE header
// with a PEAK chunk, turned into RF64 past 4 GiB, brought up to date
// after every block, so that whatever a crash leaves is readable and declares
// what it holds. They are read back through libsndfile.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace host {
class HostChannel;
struct LogMessage;
} // namespace host

namespace recorder {

// The bytes of one channel file. The recorder writes through this, so that
// tests can stand in for the disk (a full one, or a sparse one).
class ByteFile {
public:
    virtual ~ByteFile() = default;
    // Bytes written; fewer than asked (or -1) on a failure, which error() tells.
    virtual std::int64_t write(const void* data, std::int64_t bytes) = 0;
    virtual std::int64_t read(void* data, std::int64_t bytes) = 0;
    // whence: SEEK_SET, SEEK_CUR or SEEK_END; the new position or -1.
    virtual std::int64_t seek(std::int64_t offset, int whence) = 0;
    virtual std::int64_t position() = 0;
    virtual std::int64_t size() = 0;
    // Cuts the file to `size` bytes.
    virtual bool truncate(std::int64_t size) = 0;
    // Puts what was written on the disk; false on a failure (error() tells).
    virtual bool sync() = 0;
    // Starts putting what was written on the disk without waiting for it, so
    // that the syncs of many files overlap; sync() still waits.
    virtual void startSync() {}
    // Puts what was written on the disk from another thread while the file
    // is still written (it touches nothing but the system's file): false,
    // with the system's reason in `why`, on a failure.
    virtual bool syncBehind(std::string& why) {
        (void)why;
        return true;
    }
    virtual std::string error() const = 0;
};

// The sound file library's name and version.
std::string soundLibraryVersion();

// A file on disk, created or emptied, written without buffering in between.
std::unique_ptr<ByteFile> openByteFile(const std::string& path, std::string& error);

// Starts the system's writing of bytes [offset, offset + length) of an open
// file to the disk, without waiting for it: 0, or the errno of the failure.
int startWriteback(int fd, std::int64_t offset, std::int64_t length);

// Writing behind a file that grows from its start: each time `every` bytes
// past what was last handed over are written, the system is asked to start
// writing them to the disk (through `start`), so that a long file is mostly
// on the disk when it is synced rather than all of it then. A file that
// cannot be written back so (a pipe) is written as without; a failure of the
// request fails the write that made it, with the system's reason.
struct WriteBehind {
    std::int64_t every = 8 << 20;
    std::function<int(int fd, std::int64_t offset, std::int64_t length)> start = startWriteback;
};
std::unique_ptr<ByteFile> openByteFile(const std::string& path, std::string& error,
                                       WriteBehind behind);

// "NN-Name": the channel's place in the recorder, at least two digits (more
// when there are 100 channels or more), then its name with everything but
// letters, digits and "._+-" turned into single underscores.
std::string channelFileStem(std::size_t index, std::size_t count, const std::string& utf8Name);

// How a recording's channel files hold their samples: 32-bit float WAV
// (RF64 past 4 GiB), raw little-endian 32-bit or 64-bit floats, or CSV text
// (a line "time,value" per sample, each number in the shortest form that
// reads back as the same double).
enum class SampleFormat { Wav, Raw32, Raw64, Csv };
// "wav", "raw32", "raw64", "csv"; false for another name.
bool parseSampleFormat(const std::string& name, SampleFormat& format);
// The file name ending of a format (".wav", ".f32", ".f64", ".csv") and the
// manifest's sample_format ("float32le", "float32le", "float64le", "csv").
const char* sampleFormatExtension(SampleFormat format);
const char* sampleFormatName(SampleFormat format);

// CSV lines of samples first .. first + n - 1 at `frequency`: "time,value",
// each number in its shortest exact form.
void appendCsv(std::string& text, std::uint64_t first, double frequency, const double* values,
               std::size_t n);
inline constexpr const char* kCsvHeader = "time,value\n";

class Recording {
public:
    // Opens a channel file; null (and `error` set) when it cannot be made.
    using Opener =
        std::function<std::unique_ptr<ByteFile>(const std::string& path, std::string& error)>;
    using ErrorHandler = std::function<void(const std::string& message)>;
    // How a run ended, when nothing failed.
    enum class End { Complete, Interrupted };

    Recording(std::string directory, std::string name, Opener opener = {},
              SampleFormat format = SampleFormat::Wav);
    ~Recording(); // an open recording ends as interrupted
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Makes the folder and writes the manifest with status "recording". The
    // channels, in the recorder's order, decide the numbers and names of the
    // files; a channel met later is numbered after them. False (and error()
    // set) when the folder or the manifest cannot be written.
    bool open(const std::vector<host::HostChannel*>& channels);
    // Keeps a copy of the configuration the run works on, byte for byte, as
    // <name>.res beside the manifest (named there as `config`). False (and the
    // recording failed) when it cannot be read or written.
    bool keepConfiguration(const std::string& path);
    // Keeps the run's log as <name>.log beside the manifest (named there as
    // `log`): every message given to log() until the recording ends, one line
    // each, written through at once. False (and the recording failed) when the
    // file cannot be made.
    bool keepLog();
    // Appends a message to the log file, when one is kept and the recording
    // is open.
    void log(const host::LogMessage& message);
    // The file name (in folder()) a channel's plot gets: its file's stem.
    std::string plotFile(const host::HostChannel& channel) const;
    // Appends a block of a channel; the first block opens its file. A full
    // disk ends the recording as a whole (see diskFull()); another failure
    // stops that channel's file (what it holds stays readable), is reported
    // once, and the run goes on.
    void write(host::HostChannel& channel, const float* block, std::int32_t count);
    // The same with 64-bit values, for the raw64 and CSV formats (the others
    // take them rounded to float).
    void write(host::HostChannel& channel, const double* block, std::int32_t count);
    // Brings the manifest up to date when a block was written since it was
    // written last. It is written in the background, so that the blocks do
    // not wait for the disk; its failure is taken at the next flush() (or
    // settle()), as a failure of the recording.
    void flush();
    // Waits for the manifest flush() handed over and takes its outcome.
    void settle();
    // Puts every channel file on the disk, closes them and writes the final
    // status: failed when anything failed (a file that cannot be put on the
    // disk too), else as `end` says.
    void close(End end);

    bool failed() const { return !error_.empty(); }
    // The disk filled up: every channel's file was cut at the same sample
    // time, the room kept for the manifest given up for its last form, and
    // nothing more is written.
    bool diskFull() const { return diskFull_; }
    // Called once when the disk is full.
    void setDiskFullHandler(std::function<void()> handler) { onDiskFull_ = std::move(handler); }
    bool isOpen() const { return open_; }
    // The first failure, "" when none.
    const std::string& error() const { return error_; }
    // "recording", "complete", "interrupted" or "failed: <why>".
    std::string status() const;
    const std::string& folder() const { return folder_; }
    std::string manifestPath() const;
    // The log file kept by keepLog(), "" when none.
    std::string logPath() const { return log_.empty() ? std::string() : folder_ + "/" + log_; }
    void setErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }
    void setRunSeconds(double seconds) { seconds_ = seconds; }
    SampleFormat format() const { return format_; }
    // The file of a channel in the recording's folder ("" before it is known).
    std::string fileOf(const host::HostChannel& channel) const;
    // Bytes of samples written into the channels' files so far.
    std::int64_t bytesWritten() const { return bytes_; }

    // Picks a name that is not yet a folder in `directory`: `base`, else
    // base-2, base-3, ...
    static std::string freeName(const std::string& directory, const std::string& base);

private:
    struct Track;

    Track& track(host::HostChannel& channel);
    bool startFile(Track& track);
    bool writeBytes(Track& track, const void* data, std::int64_t bytes);
    void written(Track& track, bool ok, std::int32_t count);
    void stopFile(Track& track, std::string failure);
    void syncFiles();
    // (track, reason) of what the threads below failed at.
    using Failures = std::vector<std::pair<std::size_t, std::string>>;
    class Rounds;
    void syncBehind();
    void collectSyncs(bool wait);
    void reportSyncFailures();

    std::string manifestText() const;
    bool writeManifest(std::string& why);
    // Writes the manifest; a full disk then ends the recording.
    void updateManifest();
    void manifestFailed(const std::string& why);
    void manifestsFailed(const Failures& failures);
    void fail(const std::string& message);
    void endOnFullDisk(const std::string& why);
    void keepRoom();
    void closeLog();
    void giveUpRoom();

    std::string directory_;
    std::string name_;
    std::string folder_;
    Opener opener_;
    SampleFormat format_;
    ErrorHandler onError_;
    double seconds_ = 0;
    std::int64_t bytes_ = 0;
    bool stale_ = false;                // the manifest's counts lag the files
    std::string manifestFailure_;       // its last update's failure, "" when it went well
    std::unique_ptr<Rounds> manifests_; // a running recording's manifests
    std::unique_ptr<Rounds> syncs_;     // its files, to the disk as they grow
    std::int64_t syncAsked_ = 0;        // bytes_ when they were last sent there
    Failures syncFailures_;
    bool diskFull_ = false;
    std::function<void()> onDiskFull_;
    std::string reserve_; // the file that keeps room for the manifest, "" when none
    std::string started_;
    std::string config_; // the copy's file name, "" when none
    std::string log_;    // the log's file name, "" when none
    int logFd_ = -1;
    bool open_ = false;
    bool ended_ = false;
    End end_ = End::Complete;
    std::string error_;
    std::vector<std::unique_ptr<Track>> tracks_;
    std::map<const host::HostChannel*, Track*> index_;
    std::size_t planned_ = 0; // channels named at open
};

// Reading a recording back (tests, and anyone who wants the data).
struct RecordedChannel {
    std::string name; // UTF-8
    double frequency = 0;
    std::uint64_t samples = 0;
    std::string status;             // "ok" or "failed: <why>"
    std::vector<std::string> files; // relative to the manifest's folder
};
struct RecordedRun {
    std::string name;
    double seconds = 0;
    std::string status;
    std::string config; // the configuration's copy, relative to the folder; "" when none
    std::string log;    // the run's log, relative to the folder; "" when none
    std::vector<RecordedChannel> channels;
};
// False when the manifest cannot be read or is not one of ours.
bool readManifest(const std::string& path, RecordedRun& run, std::string& error);
// What the header of a WAV or RF64 file declares.
struct WavInfo {
    std::uint64_t frames = 0;
    std::uint32_t rate = 0;
    int channels = 0;
    bool rf64 = false;
};
bool readWavInfo(const std::string& path, WavInfo& info, std::string& error);
// The samples of a mono float WAV or RF64 file, appended to `out`: from
// sample `first` on, at most `count`, and no more than the header declares.
bool readWavSamples(const std::string& path, std::vector<float>& out, std::uint32_t* rate,
                    std::string& error, std::uint64_t first = 0, std::uint64_t count = UINT64_MAX);

} // namespace recorder
