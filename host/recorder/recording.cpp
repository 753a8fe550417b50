#include "recording.h"

#include "host/host.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace recorder {

namespace {

constexpr std::uint32_t kHeaderBytes = 58;

void put16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v & 0xFF);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t get16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t wavRate(double frequency) {
    if (!(frequency >= 1))
        return 1;
    if (frequency > 4294967295.0)
        return 0xFFFFFFFFu;
    return static_cast<std::uint32_t>(std::llround(frequency));
}

// A float WAV header (IEEE float format with its fact chunk) for `samples`.
void header(unsigned char (&h)[kHeaderBytes], std::uint32_t rate, std::uint64_t samples) {
    const auto data = static_cast<std::uint32_t>(samples * 4);
    std::memcpy(h + 0, "RIFF", 4);
    put32(h + 4, 50 + data);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    put32(h + 16, 18);
    put16(h + 20, 3); // IEEE float
    put16(h + 22, 1); // one channel
    put32(h + 24, rate);
    put32(h + 28, rate > 0x3FFFFFFFu ? 0xFFFFFFFFu : rate * 4);
    put16(h + 32, 4);
    put16(h + 34, 32);
    put16(h + 36, 0);
    std::memcpy(h + 38, "fact", 4);
    put32(h + 42, 4);
    put32(h + 46, static_cast<std::uint32_t>(samples));
    std::memcpy(h + 50, "data", 4);
    put32(h + 54, data);
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

std::string number(double v) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

} // namespace

Recording::Recording(std::string directory, std::string name, Opener opener)
    : directory_(std::move(directory)), name_(std::move(name)), opener_(std::move(opener)) {
    if (!opener_)
        opener_ = [](const std::string& path) { return std::fopen(path.c_str(), "wb"); };
    folder_ = directory_ + (directory_.empty() || directory_.back() == '/' ? "" : "/") + name_;
}

Recording::~Recording() {
    close();
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

bool Recording::open() {
    if (open_ || failed_)
        return open_;
    started_ = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    if (!QDir().mkpath(QString::fromStdString(folder_))) {
        fail("cannot create the recording folder " + folder_);
        return false;
    }
    open_ = true;
    if (!writeManifest()) {
        open_ = false;
        fail("cannot write " + manifestPath());
        return false;
    }
    return true;
}

void Recording::fail(const std::string& message) {
    if (failed_)
        return;
    failed_ = true;
    error_ = message;
    closeFiles();
    if (open_)
        writeManifest(); // says what was kept and why it stopped
    if (onError_)
        onError_(message + "; recording stopped, the run goes on");
}

bool Recording::startFile(Track& track) {
    const std::size_t index = static_cast<std::size_t>(&track - tracks_.data());
    char base[32];
    std::snprintf(base, sizeof base, "ch%03zu", index);
    std::string file = base;
    if (!track.files.empty())
        file += "-" + std::to_string(track.files.size() + 1);
    file += ".wav";
    const std::string path = folder_ + "/" + file;
    track.file = opener_(path);
    if (track.file == nullptr) {
        fail("cannot create " + path + ": " + std::strerror(errno));
        return false;
    }
    track.files.push_back(file);
    track.bytesInFile = 0;
    unsigned char h[kHeaderBytes];
    header(h, wavRate(track.frequency), 0);
    if (std::fwrite(h, 1, sizeof h, track.file) != sizeof h) {
        fail("cannot write " + path + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

bool Recording::finishFile(Track& track) {
    if (track.file == nullptr)
        return true;
    unsigned char h[kHeaderBytes];
    header(h, wavRate(track.frequency), track.bytesInFile / 4);
    bool ok = std::fflush(track.file) == 0 && std::fseek(track.file, 0, SEEK_SET) == 0 &&
              std::fwrite(h, 1, sizeof h, track.file) == sizeof h &&
              std::fseek(track.file, 0, SEEK_END) == 0 && std::fflush(track.file) == 0;
    return ok;
}

void Recording::write(host::HostChannel& channel, const float* block, std::int32_t count) {
    if (!open_ || failed_ || block == nullptr || count <= 0)
        return;
    auto it = index_.find(&channel);
    if (it == index_.end()) {
        Track track;
        track.channel = &channel;
        channel.AddRef();
        track.name = host::utf8(channel.name().c_str());
        track.frequency = channel.frequency();
        tracks_.push_back(std::move(track));
        it = index_.emplace(&channel, tracks_.size() - 1).first;
        writeManifest();
    }
    Track& track = tracks_[it->second];
    if (track.file == nullptr && !startFile(track))
        return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(block);
    std::uint64_t left = static_cast<std::uint64_t>(count) * 4;
    while (left > 0) {
        std::uint64_t room =
            maxFileBytes_ > track.bytesInFile ? maxFileBytes_ - track.bytesInFile : 0;
        room -= room % 4;
        if (room == 0) {
            if (!finishFile(track)) {
                fail("cannot write " + folder_ + "/" + track.files.back() + ": " +
                     std::strerror(errno));
                return;
            }
            std::fclose(track.file);
            track.file = nullptr;
            if (!startFile(track))
                return;
            continue;
        }
        const std::uint64_t n = std::min(room, left);
        if (std::fwrite(bytes, 1, n, track.file) != n) {
            fail("cannot write " + folder_ + "/" + track.files.back() + ": " +
                 std::strerror(errno));
            return;
        }
        bytes += n;
        left -= n;
        track.bytesInFile += n;
    }
    track.samples += static_cast<std::uint64_t>(count);
    track.blocks += 1;
}

void Recording::flush() {
    if (!open_ || failed_)
        return;
    for (Track& track : tracks_) {
        if (track.file != nullptr && !finishFile(track)) {
            fail("cannot write " + folder_ + "/" + track.files.back() + ": " +
                 std::strerror(errno));
            return;
        }
    }
    if (!writeManifest())
        fail("cannot write " + manifestPath());
}

void Recording::closeFiles() {
    for (Track& track : tracks_) {
        if (track.file != nullptr) {
            const bool ok = failed_ || finishFile(track);
            const bool closed = std::fclose(track.file) == 0;
            track.file = nullptr;
            if (!(ok && closed) && !failed_)
                fail("cannot write " + folder_ + "/" + track.files.back() + ": " +
                     std::strerror(errno));
        }
    }
}

void Recording::close() {
    if (open_) {
        closeFiles();
        writeManifest();
        open_ = false;
    }
    for (Track& track : tracks_) {
        if (track.channel != nullptr) {
            track.channel->Release();
            track.channel = nullptr;
        }
    }
    index_.clear();
}

bool Recording::writeManifest() {
    std::ostringstream text;
    text << "# A run of the recorder: one float WAV file per channel, in this folder.\n";
    text << "[recording]\n";
    text << "format=kova-recording 1\n";
    text << "name=" << escape(name_) << "\n";
    text << "started=" << started_ << "\n";
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.3f", seconds_);
    text << "seconds=" << secs << "\n";
    text << "status=" << (failed_ ? "incomplete: " + escape(error_) : std::string("complete"))
         << "\n";
    text << "channels=" << tracks_.size() << "\n";
    for (std::size_t i = 0; i < tracks_.size(); ++i) {
        const Track& t = tracks_[i];
        text << "\n[channel " << i << "]\n";
        text << "name=" << escape(t.name) << "\n";
        text << "frequency=" << number(t.frequency) << "\n";
        text << "samples=" << t.samples << "\n";
        text << "blocks=" << t.blocks << "\n";
        text << "sample_format=float32le\n";
        text << "files=";
        for (std::size_t k = 0; k < t.files.size(); ++k)
            text << (k == 0 ? "" : ",") << t.files[k];
        text << "\n";
    }
    QSaveFile file(QString::fromStdString(manifestPath()));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const std::string bytes = text.str();
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size()))
        return false;
    return file.commit();
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
        } else if (!run.channels.empty()) {
            RecordedChannel& c = run.channels.back();
            if (key == "name")
                c.name = value;
            else if (key == "frequency")
                c.frequency = std::strtod(value.c_str(), nullptr);
            else if (key == "samples")
                c.samples = std::strtoull(value.c_str(), nullptr, 10);
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

bool readWavSamples(const std::string& path, std::vector<float>& out, std::uint32_t* rate,
                    std::string& error) {
    std::ifstream in(path, std::ios::binary);
    unsigned char h[kHeaderBytes];
    if (!in.read(reinterpret_cast<char*>(h), sizeof h) || std::memcmp(h, "RIFF", 4) != 0 ||
        std::memcmp(h + 8, "WAVE", 4) != 0 || get16(h + 20) != 3 || get16(h + 34) != 32 ||
        std::memcmp(h + 50, "data", 4) != 0) {
        error = path + " is not a float WAV file of ours";
        return false;
    }
    if (rate != nullptr)
        *rate = get32(h + 24);
    const std::uint32_t bytes = get32(h + 54);
    const std::size_t first = out.size();
    out.resize(first + bytes / 4);
    if (!in.read(reinterpret_cast<char*>(out.data() + first), bytes - bytes % 4)) {
        error = path + " is shorter than its header says";
        out.resize(first);
        return false;
    }
    return true;
}

} // namespace recorder
