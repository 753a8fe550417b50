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
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>

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

// The samples of a channel's files one after the other, as floats in the
// channel's units. Integer WAV samples count `scale` units each.
class FileSamples {
public:
    FileSamples(std::vector<std::string> files, double scale)
        : files_(std::move(files)), scale_(scale) {}
    ~FileSamples() { closeFile(); }
    FileSamples(const FileSamples&) = delete;
    FileSamples& operator=(const FileSamples&) = delete;

    // Checks that every file can be read; throws Unusable.
    void check() {
        for (std::size_t i = 0; i < files_.size(); ++i) {
            openFile(i);
            closeFile();
        }
    }
    bool integer() const { return integer_; }
    // Up to n samples; fewer at the end.
    std::size_t read(float* out, std::size_t n) {
        std::size_t got = 0;
        while (got < n) {
            if (sound_ == nullptr && raw_ == nullptr) {
                if (next_ >= files_.size())
                    break;
                openFile(next_++);
            }
            std::size_t m = 0;
            if (raw_ != nullptr) {
                m = std::fread(out + got, sizeof(float), n - got, raw_);
            } else if (integer_) {
                wide_.resize(n - got);
                m = static_cast<std::size_t>(
                    sf_read_double(sound_, wide_.data(), static_cast<sf_count_t>(n - got)));
                for (std::size_t i = 0; i < m; ++i)
                    out[got + i] = static_cast<float>(wide_[i] * scale_);
            } else {
                m = static_cast<std::size_t>(
                    sf_read_float(sound_, out + got, static_cast<sf_count_t>(n - got)));
            }
            got += m;
            if (m == 0)
                closeFile();
        }
        return got;
    }

private:
    void openFile(std::size_t i) {
        const std::string& path = files_[i];
        const bool raw = path.size() > 4 && path.compare(path.size() - 4, 4, ".f32") == 0;
        if (raw) {
            raw_ = std::fopen(path.c_str(), "rb");
            if (raw_ == nullptr)
                throw Unusable{path + ": " + std::strerror(errno)};
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
    std::size_t next_ = 0;
    SNDFILE* sound_ = nullptr;
    std::FILE* raw_ = nullptr;
    bool integer_ = false;
    std::vector<double> wide_;
};

// A window onto the recorded samples: reads on as far as asked, and lets go
// of what lies before a point once the check has passed it.
class Recorded {
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
    const float* at(std::uint64_t i) const { return buf_.data() + (i - base_); }
    void release(std::uint64_t i) {
        if (i <= base_)
            return;
        const auto drop = static_cast<std::size_t>(std::min<std::uint64_t>(i - base_, buf_.size()));
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(drop));
        base_ += drop;
    }

private:
    FileSamples& file_;
    std::vector<float> buf_;
    std::uint64_t base_ = 0;
    bool end_ = false;
};

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// --- The exact check ----------------------------------------------------------------

class ExactCheck {
public:
    ExactCheck(SampleSource& source, const host::HostChannel& channel, Recorded& recorded,
               double tolerance, const VerifyOptions& o, ChannelVerdict& verdict)
        : source_(source), channel_(channel), recorded_(recorded), tolerance_(tolerance), o_(o),
          v_(verdict) {
        window_ = static_cast<std::uint64_t>(
            std::clamp(std::ceil(10 * channel.frequency()), 65536.0, 4194304.0));
    }

    void run() {
        std::uint64_t i = 0; // recorded
        std::uint64_t p = 0; // expected
        std::vector<float> expected(o_.chunk);
        int failedSearches = 0;
        for (;;) {
            recorded_.release(i);
            const std::size_t n = recorded_.ensure(i, o_.chunk);
            if (n == 0)
                break;
            expect(p, n, expected.data());
            const float* r = recorded_.at(i);
            std::size_t d = 0;
            if (tolerance_ == 0 && std::memcmp(r, expected.data(), n * sizeof(float)) == 0)
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
    bool same(float a, float b) const {
        return tolerance_ == 0 ? sameBits(a, b) : std::fabs(double(a) - double(b)) <= tolerance_;
    }

    void expect(std::uint64_t first, std::size_t n, float* out) {
        std::uint32_t state = 1;
        if (!source_.fill(channel_, first, n, out, nullptr, state))
            throw Unusable{"the emulator did not answer for " + v_.name};
    }

    // How many samples from (i, q) on agree, up to `cap`.
    std::uint64_t agreeing(std::uint64_t i, std::uint64_t q, std::size_t cap) {
        const std::size_t n = recorded_.ensure(i, cap);
        scratch_.resize(n);
        if (n == 0)
            return 0;
        expect(q, n, scratch_.data());
        const float* r = recorded_.at(i);
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
        const float first = *recorded_.at(i);
        float wanted = 0;
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
        std::vector<float> head(recorded_.at(i), recorded_.at(i) + probe);
        int tried = 0;
        for (std::uint64_t d = 1; d <= window_ && tried < 8; ++d) {
            for (const bool back : {false, true}) {
                if (back && d > p - lo)
                    continue;
                const std::uint64_t q = back ? p - d : p + d;
                if (q + probe > hi)
                    continue;
                const float* e = span_.data() + (q - lo);
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
    Recorded& recorded_;
    double tolerance_;
    const VerifyOptions& o_;
    ChannelVerdict& v_;
    std::uint64_t window_;
    std::vector<float> scratch_;
    std::vector<float> span_;
};

// --- The noise check -------------------------------------------------------------

// Variance of one noise part per unit of |Max - Min|: twenty draws of
// r / 32767 - 0.5 (r even over 0 .. 32767), times 0.2237136465324385.
double noiseSpreadPerUnit() {
    const double m = 32767.0;
    const double drawVariance = ((m + 1) * (m + 1) - 1) / 12.0 / (m * m);
    return std::sqrt(20 * drawVariance) * 0.2237136465324385;
}

void checkNoise(SampleSource& clean, const host::HostChannel& channel, Recorded& recorded,
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
    std::vector<float> mean(o.chunk);
    std::uint64_t k = 0;
    double runningMean = 0;
    double m2 = 0;
    std::uint64_t outside = 0;
    bool firstOutside = true;
    for (;;) {
        recorded.release(k);
        const std::size_t n = recorded.ensure(k, o.chunk);
        if (n == 0)
            break;
        std::uint32_t state = 1;
        if (!clean.fill(channel, k, n, mean.data(), nullptr, state))
            throw Unusable{"the emulator did not answer for " + v.name};
        const float* r = recorded.at(k);
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
            const double count = static_cast<double>(k + j + 1);
            const double delta = d - runningMean;
            runningMean += delta / count;
            m2 += delta * (d - runningMean);
        }
        k += n;
    }
    v.checked = k;
    char text[300];
    if (outside > 0) {
        v.ok = false;
        v.runsFound = outside;
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

void print(std::ostream& out, const ChannelVerdict& v) {
    char line[400];
    std::snprintf(line, sizeof line, "%s (%.9g Hz): %llu samples checked, %s", v.name.c_str(),
                  v.frequency, static_cast<unsigned long long>(v.checked),
                  v.noise ? "noise by mean, spread and bounds" : "exact");
    out << line << (v.ok ? ": ok\n" : ": FAILED\n");
    if (!v.why.empty())
        out << "  " << v.why << "\n";
    bool first = true;
    for (const ChannelVerdict::Run& r : v.runs) {
        const double f = v.frequency;
        switch (r.kind) {
        case ChannelVerdict::Kind::Changed:
            std::snprintf(
                line, sizeof line,
                "%s at recorded sample %llu (t = %s): recorded %.9g, "
                "expected %.9g%s",
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
    "with noise by the mean, spread and bounds their formulas imply.\n"
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
                    if (!endsWith(f, ".wav") && !endsWith(f, ".f32"))
                        throw Unusable{f + ": verify reads WAV and raw32 (.f32) files"};
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
            FileSamples file(in.files, o.scale);
            file.check();
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
                Recorded recorded(file);
                if (v.noise) {
                    checkNoise(*clean, *clean->channelNamed(in.name), recorded, it->second, o, v);
                } else {
                    const double tolerance = file.integer() ? o.scale * 1.0000001 : 0.0;
                    ExactCheck(source, *channel, recorded, tolerance, o, v).run();
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
