// Writing a run to disk: <directory>/<name>/<name>.kova, a small text manifest,
// beside one 32-bit float WAV file per channel (see docs/recording.md).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace host {
class HostChannel;
}

namespace recorder {

class Recording {
public:
    // Opens a file for writing ("wb"); tests replace it to make writes fail.
    using Opener = std::function<std::FILE*(const std::string& path)>;
    using ErrorHandler = std::function<void(const std::string& message)>;

    Recording(std::string directory, std::string name, Opener opener = {});
    ~Recording(); // closes what is still open
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // Makes the folder and writes the first manifest. False (and error() set)
    // when that is not possible; the recording then stays failed.
    bool open();
    // Appends a block of a channel; the first block of a channel opens its
    // file. A failure is reported once, the files are closed and everything
    // later is dropped (the run itself goes on).
    void write(host::HostChannel& channel, const float* block, std::int32_t count);
    // Writes the data out, brings the WAV headers and the manifest up to date.
    void flush();
    void close();

    bool failed() const { return failed_; }
    bool isOpen() const { return open_; }
    const std::string& error() const { return error_; }
    const std::string& folder() const { return folder_; }
    std::string manifestPath() const;
    void setErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }
    // A file rolls over to a new part at this many bytes of samples (WAV sizes
    // are 32-bit).
    void setMaxFileBytes(std::uint64_t bytes) { maxFileBytes_ = bytes; }
    void setRunSeconds(double seconds) { seconds_ = seconds; }

    // Picks a name that is not yet a folder in `directory`: `base`, else
    // base-2, base-3, ...
    static std::string freeName(const std::string& directory, const std::string& base);

private:
    struct Track {
        host::HostChannel* channel = nullptr; // one reference while recorded
        std::string name;                     // UTF-8
        double frequency = 0;
        std::vector<std::string> files;
        std::FILE* file = nullptr;
        std::uint64_t bytesInFile = 0;
        std::uint64_t samples = 0;
        std::uint64_t blocks = 0;
    };

    bool startFile(Track& track);
    bool finishFile(Track& track);
    bool writeManifest();
    void fail(const std::string& message);
    void closeFiles();

    std::string directory_;
    std::string name_;
    std::string folder_;
    Opener opener_;
    ErrorHandler onError_;
    std::uint64_t maxFileBytes_ = 0xFFFFFFFFull - 4096;
    double seconds_ = 0;
    std::string started_;
    bool open_ = false;
    bool failed_ = false;
    std::string error_;
    std::vector<Track> tracks_;
    std::map<const host::HostChannel*, std::size_t> index_;
};

// Reading a recording back (tests, and anyone who wants the data).
struct RecordedChannel {
    std::string name; // UTF-8
    double frequency = 0;
    std::uint64_t samples = 0;
    std::vector<std::string> files; // relative to the manifest's folder
};
struct RecordedRun {
    std::string name;
    double seconds = 0;
    std::vector<RecordedChannel> channels;
};
// False when the manifest cannot be read or is not one of ours.
bool readManifest(const std::string& path, RecordedRun& run, std::string& error);
// The samples of a float WAV file written by Recording, appended to `out`.
bool readWavSamples(const std::string& path, std::vector<float>& out, std::uint32_t* rate,
                    std::string& error);

} // namespace recorder
