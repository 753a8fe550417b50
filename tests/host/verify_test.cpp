// recorder verify: a clean live recording passes; a removed block, a
// repeated block, a shifted start and a changed sample are found where they
// are; noise by its statistics; files of other recorders; unusable input.
#include "recording.h"
#include "render.h"
#include "session.h"
#include "verify.h"

#include "platform/text.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using Kind = recorder::ChannelVerdict::Kind;

const std::string kDir = MODULE_DIR;

bool haveTolvex() {
    return QFileInfo::exists(QString::fromStdString(kDir + "/Tolvex.so"));
}

std::string w(const char* utf8) {
    return platform::utf8ToCp1251(utf8);
}

// A sine, a sum of a sine and a two-level wave, and a noisy sum.
std::string configuration(const char* noiseMax = "2") {
    std::ostringstream s;
    s << "[common]\r\nCount=3\r\n"
      << "[Chan0]\r\nFs=2000\r\nName=Sine\r\nFormula=" << w("Синус") << "\r\n"
      << "[Chan0formula]\r\nMaxLevel=10\r\nMinLevel=-10\r\nfreq=3\r\n"
      << "[Chan1]\r\nFs=1000\r\nName=Sum\r\nFormula=" << w("Сумма") << "\r\n"
      << "[Chan1formula]\r\nPartsCount=2\r\n"
      << "[Chan1formula_Part0]\r\nFormula=" << w("Синус")
      << "\r\nMaxLevel=100\r\nMinLevel=-100\r\nfreq=7\r\n"
      << "[Chan1formula_Part1]\r\nFormula=" << w("Пила")
      << "\r\nMaxLevel=5\r\nMinLevel=-5\r\nPeriod=0.25\r\n"
      << "[Chan2]\r\nFs=4000\r\nName=Noisy\r\nFormula=" << w("Сумма") << "\r\n"
      << "[Chan2formula]\r\nPartsCount=2\r\n"
      << "[Chan2formula_Part0]\r\nFormula=" << w("Синус")
      << "\r\nMaxLevel=50\r\nMinLevel=-50\r\nfreq=1\r\n"
      << "[Chan2formula_Part1]\r\nFormula=" << w("Шум") << "\r\nMaxLevel=" << noiseMax
      << "\r\nMinLevel=-2\r\n";
    return s.str();
}

std::string writeFile(const QTemporaryDir& dir, const char* name, const std::string& bytes) {
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

struct Verified {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<recorder::ChannelVerdict> channels;
    const recorder::ChannelVerdict& named(const std::string& name) const {
        for (const auto& c : channels)
            if (c.name == name)
                return c;
        throw std::runtime_error("no verdict for " + name);
    }
};

Verified verifyWith(recorder::VerifyOptions o) {
    o.programDirectory = kDir;
    std::ostringstream out;
    std::ostringstream err;
    Verified v;
    v.status = recorder::verify(o, out, err, &v.channels);
    v.out = out.str();
    v.err = err.str();
    return v;
}

Verified verifyManifest(const std::string& manifest, const std::string& config = {}) {
    recorder::VerifyOptions o;
    o.input = manifest;
    o.config = config;
    return verifyWith(o);
}

// A live run of the configuration, recorded (with the configuration's copy).
std::string recordLive(const QTemporaryDir& dir, const std::string& config, int ms) {
    recorder::SessionOptions s;
    s.modules = {"Tolvex"};
    s.programDirectory = kDir;
    s.config = config;
    s.directory = dir.filePath("live").toStdString();
    s.name = "live";
    recorder::Session session(s);
    EXPECT_EQ(session.loadModules(), 1);
    session.start();
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    session.stop();
    return session.currentFile();
}

std::vector<float> readWav(const std::string& path) {
    std::vector<float> v;
    std::string error;
    EXPECT_TRUE(recorder::readWavSamples(path, v, nullptr, error)) << error;
    return v;
}

void writeWav(const std::string& path, const std::vector<float>& v, int rate,
              int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT, double scale = 1) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        sf_write_float(f, v.data(), static_cast<sf_count_t>(v.size()));
    } else {
        sf_command(f, SFC_SET_NORM_DOUBLE, nullptr, SF_FALSE);
        std::vector<double> counts(v.size());
        for (std::size_t k = 0; k < v.size(); ++k)
            counts[k] = std::round(v[k] / scale);
        sf_write_double(f, counts.data(), static_cast<sf_count_t>(counts.size()));
    }
    sf_close(f);
}

// The recording's file of a channel.
std::string fileOf(const std::string& manifest, const std::string& name) {
    recorder::RecordedRun run;
    std::string error;
    EXPECT_TRUE(recorder::readManifest(manifest, run, error)) << error;
    for (const auto& c : run.channels)
        if (c.name == name && !c.files.empty())
            return QFileInfo(QString::fromStdString(manifest)).path().toStdString() + "/" +
                   c.files[0];
    ADD_FAILURE() << "no file for " << name;
    return {};
}

std::string renderOf(const QTemporaryDir& dir, const std::string& config, double seconds,
                     const char* name,
                     recorder::SampleFormat format = recorder::SampleFormat::Wav) {
    recorder::RenderOptions o;
    o.format = format;
    o.config = config;
    o.seconds = seconds;
    o.directory = dir.filePath("out").toStdString();
    o.name = name;
    o.programDirectory = kDir;
    o.progress = false;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(recorder::render(o, out, err), 0) << err.str();
    return dir.filePath(QString("out/%1/%1.kova").arg(name)).toStdString();
}

} // namespace

TEST(RecorderVerify, ACleanLiveRecordingHolds) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "three.res", configuration());
    const std::string manifest = recordLive(dir, config, 1500);
    const Verified v = verifyManifest(manifest); // the copy the recording keeps
    EXPECT_EQ(v.status, 0) << v.out << v.err;
    ASSERT_EQ(v.channels.size(), 3u);
    for (const auto& c : v.channels) {
        EXPECT_TRUE(c.ok) << c.name;
        EXPECT_GT(c.checked, 0u) << c.name;
    }
    EXPECT_FALSE(v.named("Sine").noise);
    EXPECT_TRUE(v.named("Noisy").noise);
    EXPECT_NE(v.out.find("verify: every sample of 3 channels holds"), std::string::npos) << v.out;
}

TEST(RecorderVerify, FindsEachFaultWhereItIs) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "three.res", configuration());
    const std::string manifest = renderOf(dir, config, 10, "r");
    for (const char* name : {"Sine", "Sum"}) {
        const std::string path = fileOf(manifest, name);
        const std::vector<float> clean = readWav(path);
        const int rate = std::string(name) == "Sine" ? 2000 : 1000;
        auto check = [&](std::vector<float> samples, const char* what) {
            writeWav(path, samples, rate);
            Verified v = verifyManifest(manifest);
            writeWav(path, clean, rate);
            EXPECT_EQ(v.status, 1) << what << v.out;
            return v.named(name);
        };
        {
            auto s = clean;
            s.erase(s.begin() + 3000, s.begin() + 3200); // a block removed
            const auto c = check(s, "removed");
            ASSERT_EQ(c.runs.size(), 1u) << name;
            EXPECT_EQ(c.runs[0].kind, Kind::Missing);
            EXPECT_EQ(c.runs[0].recorded, 3000u);
            EXPECT_EQ(c.runs[0].expected, 3000u);
            EXPECT_EQ(c.runs[0].length, 200u);
            EXPECT_EQ(c.checked, clean.size() - 200);
        }
        {
            auto s = clean;
            s.insert(s.begin() + 5100, clean.begin() + 5000, clean.begin() + 5100); // again
            const auto c = check(s, "repeated");
            ASSERT_EQ(c.runs.size(), 1u) << name;
            EXPECT_EQ(c.runs[0].kind, Kind::Repeated);
            EXPECT_EQ(c.runs[0].recorded, 5100u);
            EXPECT_EQ(c.runs[0].expected, 5000u);
            EXPECT_EQ(c.runs[0].length, 100u);
        }
        {
            const std::vector<float> s(clean.begin() + 37, clean.end()); // a late start
            const auto c = check(s, "shifted");
            ASSERT_EQ(c.runs.size(), 1u) << name;
            EXPECT_EQ(c.runs[0].kind, Kind::ShiftedStart);
            EXPECT_EQ(c.runs[0].recorded, 0u);
            EXPECT_EQ(c.runs[0].expected, 37u);
        }
        {
            auto s = clean;
            s[7001] = std::nextafter(s[7001], 1e9f); // one bit
            const auto c = check(s, "changed");
            ASSERT_EQ(c.runs.size(), 1u) << name;
            EXPECT_EQ(c.runs[0].kind, Kind::Changed);
            EXPECT_EQ(c.runs[0].recorded, 7001u);
            EXPECT_EQ(c.runs[0].expected, 7001u);
            EXPECT_EQ(c.runs[0].length, 1u);
            EXPECT_EQ(c.runs[0].recordedValue, s[7001]);
            EXPECT_EQ(c.runs[0].expectedValue, clean[7001]);
        }
    }
    // What the user reads: the time and both values.
    const std::string path = fileOf(manifest, "Sine");
    auto s = readWav(path);
    s[4000] = 1.5f;
    writeWav(path, s, 2000);
    const Verified v = verifyManifest(manifest);
    EXPECT_NE(v.out.find("first mismatch at recorded sample 4000 (t = 2 s): recorded 1.5, "
                         "expected "),
              std::string::npos)
        << v.out;
    EXPECT_NE(v.out.find("verify: 1 of 3 channels do not hold"), std::string::npos) << v.out;
}

TEST(RecorderVerify, NoiseIsCheckedByMeanSpreadAndBounds) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "three.res", configuration());
    const std::string manifest = renderOf(dir, config, 5, "n");
    // Another noise level in the configuration: a wider spread than recorded.
    const std::string wider = writeFile(dir, "wider.res", configuration("4"));
    Verified v = verifyManifest(manifest, wider);
    EXPECT_EQ(v.status, 1);
    EXPECT_FALSE(v.named("Noisy").ok);
    EXPECT_NE(v.named("Noisy").why.find("mean"), std::string::npos) << v.named("Noisy").why;
    EXPECT_TRUE(v.named("Sine").ok);
    // A sample beyond the bounds noise can reach.
    const std::string path = fileOf(manifest, "Noisy");
    auto s = readWav(path);
    s[1234] += 20.0f;
    writeWav(path, s, 4000);
    v = verifyManifest(manifest);
    EXPECT_EQ(v.status, 1);
    ASSERT_FALSE(v.named("Noisy").runs.empty());
    EXPECT_EQ(v.named("Noisy").runs[0].recorded, 1234u);
    EXPECT_NE(v.named("Noisy").why.find("1 samples lie farther than"), std::string::npos);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(RecorderVerify, Raw64AndCsvAreCheckedInTheirOwnPrecision) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "three.res", configuration());
    // raw64: the doubles of the data requests; one bit of one sample is found.
    const std::string raw = renderOf(dir, config, 2, "r64", recorder::SampleFormat::Raw64);
    Verified v = verifyManifest(raw);
    EXPECT_EQ(v.status, 0) << v.out << v.err;
    EXPECT_TRUE(v.named("Sum").wide);
    EXPECT_EQ(v.named("Sum").checked, 2000u);
    const std::string sumPath = fileOf(raw, "Sum");
    const std::string clean = readAll(sumPath);
    std::string bytes = clean;
    double x = 0;
    std::memcpy(&x, bytes.data() + 8 * 777, 8);
    const double changed = std::nextafter(x, 1e300); // lost in a float, not in a double
    std::memcpy(bytes.data() + 8 * 777, &changed, 8);
    std::ofstream(sumPath, std::ios::binary) << bytes;
    v = verifyManifest(raw);
    EXPECT_EQ(v.status, 1) << v.out;
    ASSERT_EQ(v.named("Sum").runs.size(), 1u) << v.out;
    EXPECT_EQ(v.named("Sum").runs[0].kind, Kind::Changed);
    EXPECT_EQ(v.named("Sum").runs[0].recorded, 777u);
    EXPECT_EQ(v.named("Sum").runs[0].recordedValue, changed);
    // A file cut inside a sample cannot be read.
    std::ofstream(sumPath, std::ios::binary) << clean.substr(0, clean.size() - 3);
    v = verifyManifest(raw);
    EXPECT_EQ(v.status, 2);
    EXPECT_NE(v.err.find("15997 bytes, not a whole number of 8-byte samples (5 bytes past "
                         "sample 1999)"),
              std::string::npos)
        << v.err;

    // CSV: the values as doubles, and the time column.
    const std::string csv = renderOf(dir, config, 2, "csv", recorder::SampleFormat::Csv);
    v = verifyManifest(csv);
    EXPECT_EQ(v.status, 0) << v.out << v.err;
    EXPECT_EQ(v.named("Sine").checked, 4000u);
    const std::string sinePath = fileOf(csv, "Sine");
    const std::string text = readAll(sinePath);
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string l; std::getline(split, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 4001u);
    ASSERT_EQ(lines[0], "time,value");
    auto write = [&](const std::vector<std::string>& ls) {
        std::ofstream f(sinePath, std::ios::binary);
        for (const std::string& l : ls)
            f << l << "\n";
    };
    auto edited = lines;
    edited[1001] = lines[1001].substr(0, lines[1001].find(',') + 1) + "0.125"; // sample 1000
    edited[2001] = "1.00025," + lines[2001].substr(lines[2001].find(',') + 1); // its time
    edited[3001] = lines[2999].substr(0, lines[2999].find(',')) + "," +
                   lines[3001].substr(lines[3001].find(',') + 1); // time goes back
    write(edited);
    v = verifyManifest(csv);
    EXPECT_EQ(v.status, 1) << v.out;
    const auto& sine = v.named("Sine");
    ASSERT_EQ(sine.runs.size(), 3u) << v.out;
    EXPECT_EQ(sine.runs[0].kind, Kind::Changed);
    EXPECT_EQ(sine.runs[0].recorded, 1000u);
    EXPECT_EQ(sine.runs[0].recordedValue, 0.125);
    EXPECT_EQ(sine.runs[1].kind, Kind::BadTime);
    EXPECT_EQ(sine.runs[1].line, 2002u);
    EXPECT_EQ(sine.runs[1].recorded, 2000u);
    EXPECT_EQ(sine.runs[1].recordedValue, 1.00025);
    EXPECT_EQ(sine.runs[1].expectedValue, 1.0);
    EXPECT_EQ(sine.runs[2].kind, Kind::TimeBackwards);
    EXPECT_EQ(sine.runs[2].line, 3002u);
    EXPECT_NE(v.out.find("line 2002 (sample 2000): time 1.00025 where 1 is the sample's"),
              std::string::npos)
        << v.out;
    // A line that does not parse: exit 2, naming the file and the line.
    edited = lines;
    edited[10] = "0.0045;1";
    write(edited);
    v = verifyManifest(csv);
    EXPECT_EQ(v.status, 2) << v.out;
    EXPECT_NE(v.err.find("Sine.csv line 11: not \"time,value\": \"0.0045;1\""), std::string::npos)
        << v.err;
    EXPECT_EQ(std::count(v.err.begin(), v.err.end(), '\n'), 1);
}

TEST(RecorderVerify, ARepeatedBlockOfNoiseIsFoundWhereItIs) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "three.res", configuration());
    const std::string manifest = renderOf(dir, config, 5, "rep");
    const std::string path = fileOf(manifest, "Noisy");
    const std::vector<float> clean = readWav(path);
    auto s = clean;
    s.insert(s.begin() + 9000, clean.begin() + 8850, clean.begin() + 8950); // 100 again
    writeWav(path, s, 4000);
    Verified v = verifyManifest(manifest);
    EXPECT_EQ(v.status, 1) << v.out;
    const auto& noisy = v.named("Noisy");
    const auto repeated = std::find_if(noisy.runs.begin(), noisy.runs.end(),
                                       [](const auto& r) { return r.kind == Kind::Repeated; });
    ASSERT_NE(repeated, noisy.runs.end()) << v.out;
    EXPECT_EQ(repeated->recorded, 9000u);
    EXPECT_EQ(repeated->expected, 8850u);
    EXPECT_EQ(repeated->length, 100u);
    EXPECT_NE(v.out.find("repeated: 100 samples, expected 8850 .. 8949"), std::string::npos)
        << v.out;
    // A clean render of the same holds: its noise repeats nowhere.
    writeWav(path, clean, 4000);
    v = verifyManifest(manifest);
    EXPECT_EQ(v.status, 0) << v.out;
}

TEST(RecorderVerify, FilesOfOtherRecordersByNameAndRate) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "three.res", configuration());
    // What another recorder wrote at 3000 Hz from the channel "Sum".
    std::string at3k = configuration();
    at3k.replace(at3k.find("Fs=1000"), 7, "Fs=3000");
    const std::string manifest = renderOf(dir, writeFile(dir, "3k.res", at3k), 4, "f");
    const std::vector<float> sum = readWav(fileOf(manifest, "Sum"));
    const std::string floats = dir.filePath("other.wav").toStdString();
    writeWav(floats, sum, 3000);
    recorder::VerifyOptions o;
    o.input = floats;
    o.channel = "Sum";
    o.rate = 3000;
    o.config = config; // the configuration's own 1000 Hz are not what counts
    Verified v = verifyWith(o);
    EXPECT_EQ(v.status, 0) << v.out << v.err;
    EXPECT_EQ(v.channels.at(0).checked, sum.size());
    o.rate = 3001;
    v = verifyWith(o);
    EXPECT_EQ(v.status, 1) << v.out;

    // Integers: 16-bit counts of 0.01 units, 24-bit and 32-bit of 0.001.
    o.rate = 3000;
    for (const auto& [format, scale] : {std::pair{SF_FORMAT_PCM_16, 0.01},
                                        {SF_FORMAT_PCM_24, 0.001},
                                        {SF_FORMAT_PCM_32, 0.001}}) {
        const std::string ints = dir.filePath("ints.wav").toStdString();
        writeWav(ints, sum, 3000, SF_FORMAT_WAV | format, scale);
        o.input = ints;
        o.scale = scale;
        v = verifyWith(o);
        EXPECT_EQ(v.status, 0) << format << v.out << v.err;
        auto changed = sum;
        changed[99] += static_cast<float>(3 * scale);
        writeWav(ints, changed, 3000, SF_FORMAT_WAV | format, scale);
        v = verifyWith(o);
        EXPECT_EQ(v.status, 1) << format << v.out;
        ASSERT_FALSE(v.channels.at(0).runs.empty());
        EXPECT_EQ(v.channels.at(0).runs[0].recorded, 99u);
    }
}

TEST(RecorderVerify, UnusableInputIsRefusedWithOneLine) {
    QTemporaryDir dir;
    Verified v = verifyManifest(dir.filePath("none.kova").toStdString());
    EXPECT_EQ(v.status, 2);
    EXPECT_NE(v.err.find("cannot open"), std::string::npos) << v.err;
    EXPECT_EQ(std::count(v.err.begin(), v.err.end(), '\n'), 1);
    auto parse = [](std::vector<std::string> args, std::string& error) {
        args.insert(args.begin(), "verify");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        recorder::VerifyOptions o;
        return recorder::parseVerifyOptions(static_cast<int>(argv.size()), argv.data(), o, error);
    };
    std::string error;
    EXPECT_FALSE(parse({"x.wav", "--channel", "A"}, error));
    EXPECT_NE(error.find("--rate"), std::string::npos);
    EXPECT_FALSE(parse({"x.wav", "--channel", "A", "--rate", "10"}, error));
    EXPECT_NE(error.find("--config"), std::string::npos);
    EXPECT_FALSE(parse({"x.wav", "--rate", "-1"}, error));
    if (!haveTolvex())
        return;
    const std::string config = writeFile(dir, "three.res", configuration());
    const std::string manifest = renderOf(dir, config, 1, "u");
    // Against a configuration without one of the recorded channels.
    std::string two = configuration();
    two.replace(two.find("Count=3"), 7, "Count=2");
    v = verifyManifest(manifest, writeFile(dir, "two.res", two));
    EXPECT_EQ(v.status, 2);
    EXPECT_NE(v.err.find("has no channel named Noisy"), std::string::npos) << v.err;
    // A recording without its configuration's copy.
    QFile::remove(dir.filePath("out/u/u.res"));
    v = verifyManifest(manifest);
    EXPECT_EQ(v.status, 2);
    EXPECT_NE(v.err.find("give --config"), std::string::npos) << v.err;
}
