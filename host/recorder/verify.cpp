#include "verify.h"

#include "recording.h"
#include "source.h"

#include "host/host.h"
#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QString>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <string_view>
#include <type_traits>

namespace recorder {

namespace {

// Unusable input: exit status 2 with this line.
struct Unusable {
    std::string why;
};

// --- The configuration's noise ------------------------------------------------

// Where a channel draws noise: each noise part's levels, and the keys that
// turn every noise part into a level at its mean.
struct NoiseParts {
    std::vector<std::pair<double, double>> levels; // (MinLevel, MaxLevel) as floats
    std::vector<platform::ProfileEntry> asMeans;
};

// Follows the signal of each channel as the emulator loads it: the kind in
// "Formula" (a level when missing), a sum's parts in <section>_Part<i>.
std::map<std::string, NoiseParts> noiseOf(const std::string& config) {
    const platform::TIniFile ini(config);
    const std::string level = platform::utf8ToCp1251("Уровень");
    const std::string noise = platform::utf8ToCp1251("Шум");
    const std::string sum = platform::utf8ToCp1251("Сумма");
    std::map<std::string, NoiseParts> out;
    auto walk = [&](auto& self, NoiseParts& parts, const std::string& holder,
                    const std::string& params, int depth) -> void {
        const std::string kind = ini.ReadString(holder, "Formula", level);
        if (kind == noise) {
            const auto lo = static_cast<float>(ini.ReadFloat(params, "MinLevel", -100));
            const auto hi = static_cast<float>(ini.ReadFloat(params, "MaxLevel", 100));
            parts.levels.emplace_back(lo, hi);
            const float mean = static_cast<float>((static_cast<double>(hi) + lo) * 0.5);
            parts.asMeans.push_back({holder, "Formula", level});
            parts.asMeans.push_back({params, "Level", platform::FloatToStr(mean)});
        } else if (kind == sum && depth < 64) {
            const std::int32_t n = ini.ReadInteger(params, "PartsCount", 0);
            for (std::int32_t i = 0; i < n && i < 65536; ++i) {
                const std::string part = params + "_Part" + std::to_string(i);
                self(self, parts, part, part, depth + 1);
            }
        }
    };
    const std::int32_t count = ini.ReadInteger("common", "Count", 0);
    for (std::int32_t n = 0; n < count && n < 65536; ++n) {
        const std::string section = "Chan" + std::to_string(n);
        NoiseParts parts;
        walk(walk, parts, section, section + "formula", 1);
        const std::string name = host::utf8(ini.ReadString(section, "Name", "Chan1").c_str());
        if (!parts.levels.empty())
            out[name] = std::move(parts);
    }
    return out;
}

// --- Reading a channel's files ---------------------------------------------------

// How a file holds its samples, by its name's ending as the recorder names
// them: .f32 and .f64 raw little-endian floats, .csv "time,value" lines, any
// other a sound file.
enum class FileKind { Sound, Raw32, Raw64, Csv };

FileKind kindOfFile(const std::string& path) {
    auto ends = [&path](const char* tail) {
        const std::size_t n = std::strlen(tail);
        return path.size() > n && path.compare(path.size() - n, n, tail) == 0;
    };
    if (ends(".f32"))
        return FileKind::Raw32;
    if (ends(".f64"))
        return FileKind::Raw64;
    if (ends(".csv"))
        return FileKind::Csv;
    return FileKind::Sound;
}

// Raw64 and CSV keep each sample as a 64-bit value.
bool wideKind(FileKind kind) {
    return kind == FileKind::Raw64 || kind == FileKind::Csv;
}

std::string excerpt(std::string_view line) {
    std::string s(line.substr(0, 60));
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    return line.size() > 60 ? s + "..." : s;
}

// The samples of a channel's files one after the other, in the channel's
// units: floats from sound files and .f32, doubles from .f64 and CSV (all
// files of a channel are of one width). Integer WAV samples count `scale`
// units each. CSV times are checked against the sample's own time, k / F as
// the writer computes it.
class FileSamples {
public:
    FileSamples(std::vector<std::string> files, double scale, double frequency)
        : files_(std::move(files)), scale_(scale), frequency_(frequency) {}
    ~FileSamples() { closeFile(); }
    FileSamples(const FileSamples&) = delete;
    FileSamples& operator=(const FileSamples&) = delete;

    // Checks that every file can be read and holds whole samples; throws
    // Unusable.
    void check() {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            const FileKind kind = kindOfFile(files_[i]);
            if (i == 0)
                wide_ = wideKind(kind);
            else if (wideKind(kind) != wide_)
                throw Unusable{files_[i] + ": the channel's other files hold samples of " +
                               (wide_ ? "64" : "32") + " bits"};
            openFile(i);
            if (kind == FileKind::Raw32 || kind == FileKind::Raw64) {
                const std::size_t size = kind == FileKind::Raw64 ? 8 : 4;
                const auto bytes =
                    static_cast<std::uint64_t>(QFileInfo(QString::fromStdString(files_[i])).size());
                if (bytes % size != 0)
                    throw Unusable{files_[i] + ": " + std::to_string(bytes) +
                                   " bytes, not a whole number of " + std::to_string(size) +
                                   "-byte samples (" + std::to_string(bytes % size) +
                                   " bytes past sample " + std::to_string(bytes / size) + ")"};
            }
            closeFile();
        }
    }
    bool integer() const { return integer_; }
    bool wide() const { return wide_; }
    // What the CSV time column showed that the writer does not write: a
    // time other than the sample's, or one not after the line before's.
    std::vector<ChannelVerdict::Run>& timeRuns() { return timeRuns_; }
    std::uint64_t timeFindings() const { return timeFindings_; }
    void setMaxEvents(std::size_t n) { maxEvents_ = n; }

    // Up to n samples; fewer at the end. T is double for wide files, float
    // for the others.
    template <typename T> std::size_t read(T* out, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            if (sound_ == nullptr && raw_ == nullptr) {
                if (next_ >= files_.size())
                    break;
                openFile(next_++);
            }
            const std::size_t m = readSome(out + got, n - got);
            got += m;
            if (m == 0)
                closeFile();
        }
        return got;
    }

private:
    std::size_t readRaw(void* out, std::size_t size, std::size_t n) {
        const std::size_t m = std::fread(out, size, n, raw_);
        if (m < n && std::ferror(raw_) != 0)
            throw Unusable{files_[current_] + ": " + std::strerror(errno)};
        return m;
    }
    std::size_t readSome(float* out, std::size_t n) {
        if (raw_ != nullptr)
            return readRaw(out, sizeof(float), n);
        if (integer_) {
            wideBuffer_.resize(n);
            const auto m = static_cast<std::size_t>(
                sf_read_double(sound_, wideBuffer_.data(), static_cast<sf_count_t>(n)));
            for (std::size_t i = 0; i < m; ++i)
                out[i] = static_cast<float>(wideBuffer_[i] * scale_);
            return m;
        }
        return static_cast<std::size_t>(sf_read_float(sound_, out, static_cast<sf_count_t>(n)));
    }
    std::size_t readSome(double* out, std::size_t n) {
        if (kind_ == FileKind::Raw64)
            return readRaw(out, sizeof(double), n);
        std::size_t m = 0;
        std::string_view line;
        while (m < n && nextLine(line)) {
            ++line_;
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            if (line_ == 1 && line == "time,value")
                continue;
            const char* const end = line.data() + line.size();
            double time = 0;
            auto r = std::from_chars(line.data(), end, time);
            if (r.ec != std::errc{} || r.ptr == end || *r.ptr != ',')
                badLine(line, "not \"time,value\"");
            double value = 0;
            r = std::from_chars(r.ptr + 1, end, value);
            if (r.ec != std::errc{} || r.ptr != end)
                badLine(line, "not \"time,value\"");
            checkTime(time);
            out[m++] = value;
            ++sample_;
        }
        return m;
    }

    [[noreturn]] void badLine(std::string_view line, const char* what) {
        throw Unusable{files_[current_] + " line " + std::to_string(line_) + ": " + what + ": \"" +
                       excerpt(line) + "\""};
    }

    void addTimeRun(ChannelVerdict::Run run) {
        ++timeFindings_;
        if (timeRuns_.size() < maxEvents_)
            timeRuns_.push_back(std::move(run));
    }

    void checkTime(double time) {
        const double written = frequency_ > 0 ? static_cast<double>(sample_) / frequency_ : 0.0;
        if (haveLast_ && !(time > lastTime_)) {
            ChannelVerdict::Run run{
                ChannelVerdict::Kind::TimeBackwards, sample_, sample_, 1, time, lastTime_};
            run.file = shortName_;
            run.line = line_;
            addTimeRun(std::move(run));
        } else if (std::memcmp(&time, &written, sizeof time) != 0) {
            ChannelVerdict::Run* last = timeRuns_.empty() ? nullptr : &timeRuns_.back();
            if (last != nullptr && last->kind == ChannelVerdict::Kind::BadTime &&
                last->file == shortName_ && last->line + last->length == line_) {
                ++last->length;
            } else {
                ChannelVerdict::Run run{
                    ChannelVerdict::Kind::BadTime, sample_, sample_, 1, time, written};
                run.file = shortName_;
                run.line = line_;
                addTimeRun(std::move(run));
            }
        }
        haveLast_ = true;
        lastTime_ = time;
    }

    // The next line of the CSV file (without its '\n'); false at its end.
    bool nextLine(std::string_view& line) {
        constexpr std::size_t kBlock = std::size_t{1} << 20;
        for (;;) {
            const char* from = text_.data() + pos_;
            // An empty buffer may have no storage at all: memchr is not given it.
            const void* nl = have_ > pos_ ? std::memchr(from, '\n', have_ - pos_) : nullptr;
            if (nl != nullptr) {
                const auto length = static_cast<std::size_t>(static_cast<const char*>(nl) - from);
                line = std::string_view(from, length);
                pos_ += length + 1;
                return true;
            }
            if (eof_) {
                if (pos_ == have_)
                    return false;
                line = std::string_view(from, have_ - pos_); // the last line, without '\n'
                pos_ = have_;
                return true;
            }
            if (pos_ == 0 && have_ == text_.size() && have_ >= kBlock) {
                ++line_;
                badLine(std::string_view(from, have_), "a line of more than 1 MiB");
            }
            if (have_ > pos_)
                std::memmove(text_.data(), from, have_ - pos_);
            have_ -= pos_;
            pos_ = 0;
            text_.resize(std::max(text_.size(), kBlock));
            const std::size_t m = readRaw(text_.data() + have_, 1, text_.size() - have_);
            have_ += m;
            eof_ = m == 0;
        }
    }

    void openFile(std::size_t i) {
        const std::string& path = files_[i];
        current_ = i;
        kind_ = kindOfFile(path);
        shortName_ = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
        if (kind_ != FileKind::Sound) {
            raw_ = std::fopen(path.c_str(), "rb");
            if (raw_ == nullptr)
                throw Unusable{path + ": " + std::strerror(errno)};
            line_ = 0;
            pos_ = have_ = 0;
            eof_ = false;
            return;
        }
        SF_INFO info{};
        sound_ = sf_open(path.c_str(), SFM_READ, &info);
        if (sound_ == nullptr)
            throw Unusable{path + ": " + sf_strerror(nullptr)};
        if (info.channels != 1) {
            closeFile();
            throw Unusable{path + " holds " + std::to_string(info.channels) +
                           " channels; verify reads mono files"};
        }
        const int sub = info.format & SF_FORMAT_SUBMASK;
        if (sub == SF_FORMAT_FLOAT) {
            integer_ = false;
        } else if (sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32) {
            integer_ = true;
            sf_command(sound_, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE); // whole counts
        } else {
            closeFile();
            throw Unusable{path + ": verify reads 32-bit float or 16/24/32-bit integer samples"};
        }
    }
    void closeFile() {
        if (sound_ != nullptr)
            sf_close(sound_);
        if (raw_ != nullptr)
            std::fclose(raw_);
        sound_ = nullptr;
        raw_ = nullptr;
    }

    std::vector<std::string> files_;
    double scale_;
    double frequency_;
    std::size_t next_ = 0;
    std::size_t current_ = 0;
    std::string shortName_; // the current file's name without its folder
    FileKind kind_ = FileKind::Sound;
    SNDFILE* sound_ = nullptr;
    std::FILE* raw_ = nullptr;
    bool integer_ = false;
    bool wide_ = false;
    std::vector<double> wideBuffer_;
    // CSV: the text read and not yet taken, the line number in the file, the
    // sample's number in the channel, the time column so far.
    std::vector<char> text_;
    std::size_t pos_ = 0;
    std::size_t have_ = 0;
    bool eof_ = false;
    std::uint64_t line_ = 0;
    std::uint64_t sample_ = 0;
    bool haveLast_ = false;
    double lastTime_ = 0;
    std::vector<ChannelVerdict::Run> timeRuns_;
    std::uint64_t timeFindings_ = 0;
    std::size_t maxEvents_ = 50;
};

// A window onto the recorded samples: reads on as far as asked, and lets go
// of what lies before a point once the check has passed it.
template <typename T> class Recorded {
public:
    explicit Recorded(FileSamples& file) : file_(file) {}
    // How many of samples i .. i + m - 1 there are (fewer at the end); at(i)
    // points to them. i is never below the last release.
    std::size_t ensure(std::uint64_t i, std::size_t m) {
        while (base_ + buf_.size() < i + m && !end_) {
            const std::size_t at = buf_.size();
            const std::size_t want = std::max<std::size_t>(
                static_cast<std::size_t>(i + m - base_ - at), std::size_t{1} << 16);
            buf_.resize(at + want);
            const std::size_t got = file_.read(buf_.data() + at, want);
            buf_.resize(at + got);
            end_ = got < want;
        }
        const std::uint64_t last = base_ + buf_.size();
        return i >= last ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(m, last - i));
    }
    const T* at(std::uint64_t i) const { return buf_.data() + (i - base_); }
    std::uint64_t base() const { return base_; }
    void release(std::uint64_t i) {
        if (i <= base_)
            return;
        const auto drop = static_cast<std::size_t>(std::min<std::uint64_t>(i - base_, buf_.size()));
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(drop));
        base_ += drop;
    }

private:
    FileSamples& file_;
    std::vector<T> buf_;
    std::uint64_t base_ = 0;
    bool end_ = false;
};

template <typename T> bool sameBits(T a, T b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Samples first .. first + n - 1 of a channel in the precision T.
template <typename T>
bool fillAs(SampleSource& source, const host::HostChannel& channel, std::uint64_t first,
            std::size_t n, T* out) {
    std::uint32_t state = 1;
    if constexpr (std::is_same_v<T, double>)
        return source.fill(channel, first, n, nullptr, out, state);
    else
        return source.fill(channel, first, n, out, nullptr, state);
}

// --- The exact check ----------------------------------------------------------------

template <typename T> class ExactCheck {
public:
    ExactCheck(SampleSource& source, const host::HostChannel& channel, Recorded<T>& recorded,
               double tolerance, const VerifyOptions& o, ChannelVerdict& verdict)
        : source_(source), channel_(channel), recorded_(recorded), tolerance_(tolerance), o_(o),
          v_(verdict) {
        window_ = static_cast<std::uint64_t>(
            std::clamp(std::ceil(10 * channel.frequency()), 65536.0, 4194304.0));
    }

    void run() {
        std::uint64_t i = 0; // recorded
        std::uint64_t p = 0; // expected
        std::vector<T> expected(o_.chunk);
        int failedSearches = 0;
        for (;;) {
            recorded_.release(i);
            const std::size_t n = recorded_.ensure(i, o_.chunk);
            if (n == 0)
                break;
            expect(p, n, expected.data());
            const T* r = recorded_.at(i);
            std::size_t d = 0;
            if (tolerance_ == 0 && std::memcmp(r, expected.data(), n * sizeof(T)) == 0)
                d = n;
            else
                while (d < n && same(r[d], expected[d]))
                    ++d;
            v_.checked += d;
            i += d;
            p += d;
            if (d == n)
                continue;
            // A sample that differs: what follows tells what happened.
            if (!resolve(i, p)) {
                if (++failedSearches > 100) {
                    lost(i, p);
                    return;
                }
            }
        }
    }

private:
    bool same(T a, T b) const {
        return tolerance_ == 0 ? sameBits(a, b) : std::fabs(double(a) - double(b)) <= tolerance_;
    }

    void expect(std::uint64_t first, std::size_t n, T* out) {
        if (!fillAs(source_, channel_, first, n, out))
            throw Unusable{"the emulator did not answer for " + v_.name};
    }

    // How many samples from (i, q) on agree, up to `cap`.
    std::uint64_t agreeing(std::uint64_t i, std::uint64_t q, std::size_t cap) {
        const std::size_t n = recorded_.ensure(i, cap);
        scratch_.resize(n);
        if (n == 0)
            return 0;
        expect(q, n, scratch_.data());
        const T* r = recorded_.at(i);
        std::size_t k = 0;
        while (k < n && same(r[k], scratch_[k]))
            ++k;
        return k;
    }

    void report(ChannelVerdict::Run run) {
        v_.ok = false;
        ++v_.runsFound;
        if (v_.runs.size() < o_.maxEvents)
            v_.runs.push_back(run);
    }

    // At a differing sample i (expected p): the explanation whose alignment
    // holds longest afterwards: a few changed samples, or the recording going
    // on from another place of the expected sequence (samples missing,
    // repeated, or a start elsewhere). Moves i and p past it.
    bool resolve(std::uint64_t& i, std::uint64_t& p) {
        constexpr std::size_t kProbe = 4096;
        const std::size_t have = recorded_.ensure(i, 1);
        if (have == 0)
            return true;
        const T first = *recorded_.at(i);
        T wanted = 0;
        expect(p, 1, &wanted);

        std::uint64_t bestHold = 0;
        int bestKind = -1; // 0 changed, 1 jump
        std::uint64_t bestChanged = 0;
        std::uint64_t bestQ = 0;
        // Changed samples: the alignment holds again after c of them.
        for (std::uint64_t c = 1; c <= 64; ++c) {
            const std::uint64_t hold = agreeing(i + c, p + c, kProbe);
            if (hold >= 16 || recorded_.ensure(i + c, 1) == 0) {
                bestHold = recorded_.ensure(i + c, 1) == 0 ? kProbe : hold;
                bestKind = 0;
                bestChanged = c;
                break;
            }
        }
        // Jumps: where in the expected sequence the recording goes on.
        const std::uint64_t lo = p > window_ ? p - window_ : 0;
        const std::uint64_t hi = p + window_;
        span_.resize(static_cast<std::size_t>(hi - lo));
        expect(lo, span_.size(), span_.data());
        const std::size_t probe = recorded_.ensure(i, 16);
        std::vector<T> head(recorded_.at(i), recorded_.at(i) + probe);
        int tried = 0;
        for (std::uint64_t d = 1; d <= window_ && tried < 8; ++d) {
            for (const bool back : {false, true}) {
                if (back && d > p - lo)
                    continue;
                const std::uint64_t q = back ? p - d : p + d;
                if (q + probe > hi)
                    continue;
                const T* e = span_.data() + (q - lo);
                std::size_t k = 0;
                while (k < probe && same(head[k], e[k]))
                    ++k;
                if (k < probe)
                    continue;
                ++tried;
                const std::uint64_t hold = agreeing(i, q, kProbe);
                if (hold > bestHold) {
                    bestHold = hold;
                    bestKind = 1;
                    bestQ = q;
                }
            }
        }
        if (bestKind == 0) {
            report({ChannelVerdict::Kind::Changed, i, p, bestChanged, first, wanted});
            i += bestChanged;
            p += bestChanged;
            return true;
        }
        if (bestKind == 1) {
            if (i == 0 && bestQ > p)
                report({ChannelVerdict::Kind::ShiftedStart, i, bestQ, bestQ - p, 0, 0});
            else if (bestQ > p)
                report({ChannelVerdict::Kind::Missing, i, p, bestQ - p, 0, 0});
            else
                report({ChannelVerdict::Kind::Repeated, i, bestQ, p - bestQ, 0, 0});
            p = bestQ;
            return true;
        }
        // Nothing explains it: one changed sample, and on.
        report({ChannelVerdict::Kind::Changed, i, p, 1, first, wanted});
        ++i;
        ++p;
        return false;
    }

    void lost(std::uint64_t i, std::uint64_t p) {
        report({ChannelVerdict::Kind::Lost, i, p, 0, 0, 0});
    }

    SampleSource& source_;
    const host::HostChannel& channel_;
    Recorded<T>& recorded_;
    double tolerance_;
    const VerifyOptions& o_;
    ChannelVerdict& v_;
    std::uint64_t window_;
    std::vector<T> scratch_;
    std::vector<T> span_;
};

// --- Repeats in noise --------------------------------------------------------------

// Finds runs of a channel's samples that repeat an earlier stretch of the
// same recording bit for bit, within the last `window` samples. Noise never
// repeats (its generator's period is far longer than any window), so such a
// run is a block the recording holds twice. Blocks of kBlock samples at
// multiples of kBlock are kept by their hash; every window of kBlock samples
// is looked up, so that every repeated run of 2 kBlock - 1 samples or more is
// met, and runs from kMinRun on are reported.
template <typename T> class RepeatFinder {
public:
    static constexpr std::size_t kBlock = 32;
    static constexpr std::uint64_t kMinRun = 2 * kBlock;

    explicit RepeatFinder(std::uint64_t window) : window_(window) {
        std::size_t size = 1024;
        while (size < 2 * window / kBlock)
            size *= 2;
        table_.assign(size, Slot{});
        power_ = 1;
        for (std::size_t i = 0; i < kBlock; ++i)
            power_ *= kMultiplier;
    }

    // Samples k .. k + n - 1, after those fed before. `sought`: whether
    // windows starting in them are looked up (noise too fine for the
    // samples' precision may repeat by chance).
    void feed(const T* r, std::size_t n, bool sought) {
        for (std::size_t j = 0; j < n; ++j) {
            const std::uint64_t at = next_++;
            history_.push_back(r[j]);
            hash_ = hash_ * kMultiplier + bitsOf(r[j]);
            if (at >= kBlock)
                hash_ -= power_ * bitsOf(sample(at - kBlock));
            if (active_) {
                if (sameBits(sample(at), sample(source_ + (at - start_))))
                    continue;
                finishRun(at);
            }
            if (at + 1 < kBlock)
                continue;
            const std::uint64_t s = at + 1 - kBlock;
            Slot& slot = table_[static_cast<std::size_t>(hash_ & (table_.size() - 1))];
            if (sought && slot.used && slot.hash == hash_ && slot.start + kBlock <= s &&
                s - slot.start <= window_ && slot.start >= base_ && s >= floor_ &&
                std::memcmp(&history_[slot.start - base_], &history_[s - base_],
                            kBlock * sizeof(T)) == 0) {
                std::uint64_t back = 0;
                while (s - back > std::max(floor_, base_) && slot.start - back > base_ &&
                       sameBits(sample(s - back - 1), sample(slot.start - back - 1)))
                    ++back;
                start_ = s - back;
                source_ = slot.start - back;
                active_ = true;
            }
            if (s % kBlock == 0)
                slot = Slot{true, hash_, s};
        }
        // What no window can reach any more is let go, a whole window at once.
        if (next_ - base_ > 3 * window_ + kBlock) {
            const std::uint64_t keep = next_ - window_ - kBlock;
            const std::uint64_t from = active_ ? std::min(keep, source_) : keep;
            history_.erase(history_.begin(),
                           history_.begin() + static_cast<std::ptrdiff_t>(from - base_));
            base_ = from;
        }
    }
    // The end of the samples: a run still open ends there.
    void finish() {
        if (active_)
            finishRun(next_);
    }

    struct Run {
        std::uint64_t start = 0;  // where the second copy begins
        std::uint64_t source = 0; // where the first one does
        std::uint64_t length = 0;
    };
    const std::vector<Run>& runs() const { return runs_; }

private:
    static constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
    struct Slot {
        bool used = false;
        std::uint64_t hash = 0;
        std::uint64_t start = 0;
    };
    static std::uint64_t bitsOf(T x) {
        if constexpr (sizeof(T) == 8) {
            std::uint64_t b = 0;
            std::memcpy(&b, &x, 8);
            return b;
        } else {
            std::uint32_t b = 0;
            std::memcpy(&b, &x, 4);
            return b;
        }
    }
    T sample(std::uint64_t i) const { return history_[static_cast<std::size_t>(i - base_)]; }
    void finishRun(std::uint64_t end) {
        active_ = false;
        if (end - start_ >= kMinRun)
            runs_.push_back({start_, source_, end - start_});
        floor_ = end; // a run is told once, not again in parts
    }

    std::uint64_t window_;
    std::vector<Slot> table_;
    std::uint64_t power_ = 1;
    std::vector<T> history_;
    std::uint64_t base_ = 0; // the first sample history_ holds
    std::uint64_t next_ = 0;
    std::uint64_t hash_ = 0;
    bool active_ = false;
    std::uint64_t start_ = 0;
    std::uint64_t source_ = 0;
    std::uint64_t floor_ = 0;
    std::vector<Run> runs_;
};

// --- The noise check -------------------------------------------------------------

// Variance of one noise part per unit of |Max - Min|: twenty draws of
// r / 32767 - 0.5 (r even over 0 .. 32767), times 0.2237136465324385.
double noiseSpreadPerUnit() {
    const double m = 32767.0;
    const double drawVariance = ((m + 1) * (m + 1) - 1) / 12.0 / (m * m);
    return std::sqrt(20 * drawVariance) * 0.2237136465324385;
}

void report(ChannelVerdict& v, const VerifyOptions& o, ChannelVerdict::Run run) {
    v.ok = false;
    ++v.runsFound;
    if (v.runs.size() < o.maxEvents)
        v.runs.push_back(run);
}

template <typename T>
void checkNoise(SampleSource& clean, const host::HostChannel& channel, Recorded<T>& recorded,
                const NoiseParts& parts, const VerifyOptions& o, ChannelVerdict& v) {
    double variance = 0;
    double bound = 0;
    double magnitude = 0;
    for (const auto& [lo, hi] : parts.levels) {
        const double span = std::fabs(hi - lo);
        variance += std::pow(span * noiseSpreadPerUnit(), 2);
        bound += 2.2371 * span;
        magnitude += std::fabs(hi) + std::fabs(lo);
    }
    const double sigma = std::sqrt(variance);
    std::vector<T> mean(o.chunk);
    std::uint64_t k = 0;
    double runningMean = 0;
    double m2 = 0;
    std::uint64_t outside = 0;
    bool firstOutside = true;
    RepeatFinder<T> repeats(static_cast<std::uint64_t>(
        std::clamp(std::ceil(10 * channel.frequency()), 65536.0, 1048576.0)));
    std::uint64_t unsought = 0;
    for (;;) {
        recorded.release(k);
        const std::size_t n = recorded.ensure(k, o.chunk);
        if (n == 0)
            break;
        if (!fillAs(clean, channel, k, n, mean.data()))
            throw Unusable{"the emulator did not answer for " + v.name};
        const T* r = recorded.at(k);
        double peak = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const double d = double(r[j]) - double(mean[j]);
            // Sums of floats round at each part.
            const double slack = (std::fabs(double(mean[j])) + magnitude + bound) * 1e-6;
            if (!(std::fabs(d) <= bound + slack)) {
                ++outside;
                if (firstOutside) {
                    firstOutside = false;
                    v.runs.push_back(
                        {ChannelVerdict::Kind::Changed, k + j, k + j, 1, r[j], double(mean[j])});
                }
            }
            peak = std::max(peak, std::fabs(double(r[j])));
            const double count = static_cast<double>(k + j + 1);
            const double delta = d - runningMean;
            runningMean += delta / count;
            m2 += delta * (d - runningMean);
        }
        // Repeats are sought where the noise spans many steps of the samples'
        // precision; coarser, equal stretches could come by chance.
        const T top = static_cast<T>(peak);
        const double step = double(std::nextafter(top, std::numeric_limits<T>::infinity())) - top;
        const bool sought = sigma >= 64 * step;
        unsought += sought ? 0 : n;
        repeats.feed(r, n, sought);
        k += n;
    }
    repeats.finish();
    // Where the first copy was due, counting the repeats before it out;
    // samples missing from noise cannot be seen, so none are counted.
    for (const auto& run : repeats.runs()) {
        std::uint64_t before = 0;
        for (const auto& other : repeats.runs())
            if (other.start < run.source)
                before += other.length;
        report(v, o,
               {ChannelVerdict::Kind::Repeated, run.start, run.source - before, run.length, 0, 0});
    }
    if (unsought > 0) {
        char note[200];
        std::snprintf(note, sizeof note,
                      "repeats not sought in %llu samples: the noise is too fine for their "
                      "precision",
                      static_cast<unsigned long long>(unsought));
        v.note = note;
    }
    v.checked = k;
    char text[300];
    if (outside > 0) {
        v.ok = false;
        v.runsFound += outside;
        std::snprintf(text, sizeof text, "%llu samples lie farther than %.9g from the noise's mean",
                      static_cast<unsigned long long>(outside), bound);
        v.why = text;
        return;
    }
    if (k < 2)
        return;
    const double n = static_cast<double>(k);
    const double spread = std::sqrt(m2 / (n - 1));
    const double slack = (magnitude + bound) * 1e-6;
    const double meanLimit = 6 * sigma / std::sqrt(n) + slack;
    if (std::fabs(runningMean) > meanLimit) {
        v.ok = false;
        std::snprintf(text, sizeof text,
                      "the samples' mean lies %.6g from the expected one (allowed: %.6g)",
                      runningMean, meanLimit);
        v.why = text;
        return;
    }
    const double spreadLimit = sigma * (6 / std::sqrt(2 * n) + 0.02) + slack;
    if (std::fabs(spread - sigma) > spreadLimit) {
        v.ok = false;
        std::snprintf(text, sizeof text,
                      "the noise's spread is %.6g where %.6g is expected (allowed: +-%.6g)", spread,
                      sigma, spreadLimit);
        v.why = text;
    }
}

// --- Output ------------------------------------------------------------------

std::string secondsText(std::uint64_t k, double frequency) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g s", frequency > 0 ? double(k) / frequency : 0.0);
    return text;
}

// The shortest text that reads back as the same double, as CSV files hold it.
std::string shortest(double v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

void print(std::ostream& out, const ChannelVerdict& v) {
    char line[400];
    std::snprintf(line, sizeof line, "%s (%.9g Hz): %llu samples checked, %s", v.name.c_str(),
                  v.frequency, static_cast<unsigned long long>(v.checked),
                  v.noise  ? "noise by mean, spread, bounds and repeats"
                  : v.wide ? "exact, 64-bit"
                           : "exact");
    out << line << (v.ok ? ": ok\n" : ": FAILED\n");
    if (!v.why.empty())
        out << "  " << v.why << "\n";
    if (!v.note.empty())
        out << "  note: " << v.note << "\n";
    bool first = true;
    for (const ChannelVerdict::Run& r : v.runs) {
        const double f = v.frequency;
        switch (r.kind) {
        case ChannelVerdict::Kind::Changed:
            std::snprintf(
                line, sizeof line,
                v.wide ? "%s at recorded sample %llu (t = %s): recorded %.17g, expected %.17g%s"
                       : "%s at recorded sample %llu (t = %s): recorded %.9g, expected %.9g%s",
                first ? "first mismatch" : "changed", static_cast<unsigned long long>(r.recorded),
                secondsText(r.expected, f).c_str(), r.recordedValue, r.expectedValue,
                r.length > 1 ? (" (" + std::to_string(r.length) + " samples)").c_str() : "");
            break;
        case ChannelVerdict::Kind::Missing:
        case ChannelVerdict::Kind::Repeated: {
            const bool missing = r.kind == ChannelVerdict::Kind::Missing;
            std::snprintf(
                line, sizeof line,
                "%s: %llu samples, expected %llu .. %llu (t = %s .. %s), %s "
                "recorded sample %llu",
                missing ? "missing" : "repeated", static_cast<unsigned long long>(r.length),
                static_cast<unsigned long long>(r.expected),
                static_cast<unsigned long long>(r.expected + r.length - 1),
                secondsText(r.expected, f).c_str(),
                secondsText(r.expected + r.length - 1, f).c_str(),
                missing ? "before" : "again from", static_cast<unsigned long long>(r.recorded));
            break;
        }
        case ChannelVerdict::Kind::ShiftedStart:
            std::snprintf(line, sizeof line,
                          "shifted start: the recording begins with expected sample %llu (t = "
                          "%s), %llu samples late",
                          static_cast<unsigned long long>(r.expected),
                          secondsText(r.expected, f).c_str(),
                          static_cast<unsigned long long>(r.length));
            break;
        case ChannelVerdict::Kind::BadTime:
            std::snprintf(
                line, sizeof line, "%s line %llu (sample %llu): time %s where %s is the sample's%s",
                r.file.c_str(), static_cast<unsigned long long>(r.line),
                static_cast<unsigned long long>(r.recorded), shortest(r.recordedValue).c_str(),
                shortest(r.expectedValue).c_str(),
                r.length > 1
                    ? (", and so on for " + std::to_string(r.length - 1) + " lines more").c_str()
                    : "");
            break;
        case ChannelVerdict::Kind::TimeBackwards:
            std::snprintf(line, sizeof line,
                          "%s line %llu (sample %llu): time %s is not after the line before's %s",
                          r.file.c_str(), static_cast<unsigned long long>(r.line),
                          static_cast<unsigned long long>(r.recorded),
                          shortest(r.recordedValue).c_str(), shortest(r.expectedValue).c_str());
            break;
        case ChannelVerdict::Kind::Lost:
            std::snprintf(line, sizeof line,
                          "from recorded sample %llu (expected %llu, t = %s) on, the recording "
                          "follows no part of the expected signal; checking stopped",
                          static_cast<unsigned long long>(r.recorded),
                          static_cast<unsigned long long>(r.expected),
                          secondsText(r.expected, f).c_str());
            break;
        }
        out << "  " << line << "\n";
        first = false;
    }
    if (v.runsFound > v.runs.size() && !v.noise)
        out << "  ... and " << (v.runsFound - v.runs.size()) << " more\n";
}

struct ChannelInput {
    std::string name; // UTF-8
    double frequency = 0;
    std::vector<std::string> files;
};

bool endsWith(const std::string& s, const char* tail) {
    const std::size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

} // namespace

const char* const kVerifyUsage =
    "Usage: recorder verify DIR/NAME.kova [--config FILE.res]\n"
    "       recorder verify FILE.wav --channel NAME --rate F --config FILE.res\n"
    "Checks every sample of a recording against the configuration it ran (the copy kept\n"
    "beside the manifest, unless --config names another): level, sine, saw and their sums\n"
    "bit for bit, with every run of samples missing, repeated or shifted located; channels\n"
    "with noise by the mean, spread and bounds their formulas imply, and every run of 64\n"
    "samples or more that repeats an earlier stretch bit for bit (missing samples are not\n"
    "found in them). Reads WAV, raw32\n"
    "(.f32), raw64 (.f64: compared as doubles) and CSV (.csv: the values as doubles, the\n"
    "time column against each sample's own time).\n"
    "\n"
    "  --config FILE.res   the configuration to check against\n"
    "  --channel NAME      a file not made by this recorder: which channel it holds\n"
    "  --rate F            ... and its sampling frequency in hertz\n"
    "  --scale S           integer files: the channel's units per count (default 1); their\n"
    "                      samples must lie within one count of the expected value\n"
    "  --module M          the emulator module (default: Tolvex beside the program)\n"
    "\n"
    "Exit status: 0 when every sample holds, 1 when something does not (printed per\n"
    "channel), 2 when the input cannot be used (one line of why).\n";

bool parseVerifyOptions(int argc, char** argv, VerifyOptions& o, std::string& error) {
    error.clear();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                error = a + " needs " + what;
                return nullptr;
            }
            return argv[++i];
        };
        auto positive = [&](const char* v, double& out) {
            char* end = nullptr;
            out = std::strtod(v, &end);
            if (end == v || *end != '\0' || !std::isfinite(out) || out <= 0) {
                error = a + ": not a positive number: " + v;
                return false;
            }
            return true;
        };
        if (a == "--help" || a == "-h") {
            error.clear();
            return false;
        } else if (a == "--config") {
            const char* v = value("a file");
            if (v == nullptr)
                return false;
            o.config = v;
        } else if (a == "--channel") {
            const char* v = value("a channel name");
            if (v == nullptr)
                return false;
            o.channel = v;
        } else if (a == "--rate") {
            const char* v = value("a frequency in hertz");
            if (v == nullptr || !positive(v, o.rate))
                return false;
        } else if (a == "--scale") {
            const char* v = value("units per count");
            if (v == nullptr || !positive(v, o.scale))
                return false;
        } else if (a == "--module") {
            const char* v = value("a module name or path");
            if (v == nullptr)
                return false;
            o.module = v;
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else if (o.input.empty()) {
            o.input = a;
        } else {
            error = "one recording at a time (" + o.input + " and " + a + ")";
            return false;
        }
    }
    if (o.input.empty()) {
        error = "which recording? (recorder verify DIR/NAME.kova)";
        return false;
    }
    if (!o.channel.empty() && o.rate <= 0) {
        error = "--channel needs --rate F, the file's sampling frequency";
        return false;
    }
    if (o.channel.empty() && o.rate > 0) {
        error = "--rate goes with --channel NAME";
        return false;
    }
    if (!o.channel.empty() && o.config.empty()) {
        error = "a file not made by this recorder needs --config FILE.res";
        return false;
    }
    return true;
}

int verify(const VerifyOptions& o, std::ostream& out, std::ostream& err,
           std::vector<ChannelVerdict>* verdicts) {
    try {
        std::vector<ChannelInput> inputs;
        std::string config = o.config;
        if (o.channel.empty()) {
            RecordedRun run;
            std::string error;
            if (!readManifest(o.input, run, error))
                throw Unusable{error};
            const std::string folder =
                QFileInfo(QString::fromStdString(o.input)).path().toStdString();
            if (config.empty()) {
                if (run.config.empty())
                    throw Unusable{o.input + " keeps no copy of its configuration: give "
                                             "--config FILE.res"};
                config = folder + "/" + run.config;
                if (!QFileInfo::exists(QString::fromStdString(config)))
                    throw Unusable{"the configuration's copy " + config +
                                   " is missing: give --config FILE.res"};
            }
            for (const RecordedChannel& c : run.channels) {
                ChannelInput in{c.name, c.frequency, {}};
                for (const std::string& f : c.files) {
                    if (!endsWith(f, ".wav") && !endsWith(f, ".f32") && !endsWith(f, ".f64") &&
                        !endsWith(f, ".csv"))
                        throw Unusable{f + ": verify reads WAV, raw32 (.f32), raw64 (.f64) and "
                                           "CSV (.csv) files"};
                    in.files.push_back(folder + "/" + f);
                }
                inputs.push_back(std::move(in));
            }
        } else {
            inputs.push_back({o.channel, o.rate, {o.input}});
        }

        const std::map<std::string, NoiseParts> noise = noiseOf(config);
        std::string error;
        SampleSource source;
        const std::string module = modulePathIn(o.programDirectory, o.module);
        if (!source.open(module, config, error))
            throw Unusable{error};
        // The noisy channels' deterministic part: each noise part a level at
        // its mean.
        std::unique_ptr<SampleSource> clean;
        bool noisy = false;
        for (const ChannelInput& in : inputs)
            noisy = noisy || noise.count(in.name) != 0;
        if (noisy) {
            clean = std::make_unique<SampleSource>();
            auto asMeans = [&noise](const std::string& copy, std::string& why) {
                std::vector<platform::ProfileEntry> entries;
                for (const auto& [name, parts] : noise)
                    entries.insert(entries.end(), parts.asMeans.begin(), parts.asMeans.end());
                if (!platform::writeProfileStrings(copy, entries)) {
                    why = "cannot write " + copy;
                    return false;
                }
                return true;
            };
            if (!clean->open(module, config, error, asMeans))
                throw Unusable{error};
        }

        // A file another recorder wrote: the emulator's channel at its rate,
        // as a host that runs it at that rate binds it.
        auto rebind = [](SampleSource& s, host::HostChannel& c, double rate) {
            c.setfrequency(rate);
            s.host().notifyAll(PN_UPDATECHANNELS);
        };
        std::vector<ChannelVerdict> found;
        bool allOk = true;
        for (const ChannelInput& in : inputs) {
            host::HostChannel* channel = source.channelNamed(in.name);
            if (channel == nullptr)
                throw Unusable{"the configuration " + config + " has no channel named " + in.name};
            if (!o.channel.empty()) {
                rebind(source, *channel, in.frequency);
                if (clean)
                    rebind(*clean, *clean->channelNamed(in.name), in.frequency);
            }
            ChannelVerdict v;
            v.name = in.name;
            v.frequency = in.frequency;
            const auto it = noise.find(in.name);
            v.noise = it != noise.end();
            FileSamples file(in.files, o.scale, in.frequency);
            file.setMaxEvents(o.maxEvents);
            file.check();
            v.wide = file.wide();
            std::uint32_t state = 1;
            double frequency = 0;
            source.host().requestRange(*source.host().modules()[0], channel->name(), 0, 0, nullptr,
                                       nullptr, state, &frequency);
            if (frequency != in.frequency) {
                v.ok = false;
                char text[200];
                std::snprintf(text, sizeof text,
                              "recorded at %.17g Hz, while the configuration's channel runs at "
                              "%.17g Hz",
                              in.frequency, frequency);
                v.why = text;
            } else {
                auto check = [&](auto sample) {
                    using T = decltype(sample);
                    Recorded<T> recorded(file);
                    if (v.noise) {
                        checkNoise(*clean, *clean->channelNamed(in.name), recorded, it->second, o,
                                   v);
                    } else {
                        const double tolerance = file.integer() ? o.scale * 1.0000001 : 0.0;
                        ExactCheck<T>(source, *channel, recorded, tolerance, o, v).run();
                    }
                };
                if (file.wide())
                    check(double{});
                else
                    check(float{});
                // The time column, after the samples' own findings.
                if (file.timeFindings() > 0) {
                    v.ok = false;
                    v.runsFound += file.timeFindings();
                    for (ChannelVerdict::Run& r : file.timeRuns())
                        v.runs.push_back(std::move(r));
                }
            }
            print(out, v);
            allOk = allOk && v.ok;
            found.push_back(std::move(v));
        }
        std::size_t bad = 0;
        for (const ChannelVerdict& v : found)
            bad += v.ok ? 0 : 1;
        if (bad == 0)
            out << "verify: every sample of " << found.size() << " channel"
                << (found.size() == 1 ? "" : "s") << " holds\n";
        else
            out << "verify: " << bad << " of " << found.size() << " channels do not hold\n";
        out.flush();
        if (verdicts != nullptr)
            *verdicts = std::move(found);
        return allOk ? 0 : 1;
    } catch (const Unusable& u) {
        err << "recorder verify: " << u.why << "\n";
        err.flush();
        return 2;
    }
}

int verifyCommand(int argc, char** argv) {
    VerifyOptions o;
    std::string error;
    if (!parseVerifyOptions(argc, argv, o, error)) {
        if (error.empty()) {
            std::cout << kVerifyUsage;
            return 0;
        }
        std::cerr << "recorder verify: " << error << " (try recorder verify --help)\n";
        return 2;
    }
    QCoreApplication app(argc, argv);
    o.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    return verify(o, std::cout, std::cerr);
}

} // namespace recorder
