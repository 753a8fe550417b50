// recorder render: every kind and nesting, in every format and in pieces,
// against the emulator's data requests; noise in channel order; a render
// against a live recording; Ctrl+C; what is refused.
#include "recording.h"
#include "render.h"
#include "session.h"
#include "source.h"

#include "Utypes.h"

#include "platform/text.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const std::string kModuleDir = MODULE_DIR;

bool haveTolvex() {
    return QFileInfo::exists(QString::fromStdString(kModuleDir + "/Tolvex.so"));
}

std::string w(const char* utf8) {
    return platform::utf8ToCp1251(utf8);
}

// Every kind, sums nested three deep, two noise channels with a clean one
// between them.
std::string everyKind() {
    std::ostringstream s;
    s << "[common]\r\nCount=7\r\n"
      << "[Chan0]\r\nFs=10\r\nName=Level\r\nFormula=" << w("Уровень") << "\r\n"
      << "[Chan0formula]\r\nLevel=5.25\r\n"
      << "[Chan1]\r\nFs=48000\r\nName=Sine\r\nFormula=" << w("Синус") << "\r\n"
      << "[Chan1formula]\r\nMaxLevel=7\r\nMinLevel=-3\r\nfreq=13\r\n"
      << "[Chan2]\r\nFs=1000\r\nName=Saw\r\nFormula=" << w("Пила") << "\r\n"
      << "[Chan2formula]\r\nMaxLevel=2\r\nMinLevel=-1\r\nPeriod=0.01\r\n"
      << "[Chan3]\r\nFs=8000\r\nName=Noise A\r\nFormula=" << w("Шум") << "\r\n"
      << "[Chan3formula]\r\nMaxLevel=1\r\nMinLevel=-1\r\n"
      << "[Chan4]\r\nFs=44100\r\nName=Nested\r\nFormula=" << w("Сумма") << "\r\n"
      << "[Chan4formula]\r\nPartsCount=2\r\n"
      << "[Chan4formula_Part0]\r\nFormula=" << w("Сумма") << "\r\nPartsCount=2\r\n"
      << "[Chan4formula_Part0_Part0]\r\nFormula=" << w("Сумма") << "\r\nPartsCount=2\r\n"
      << "[Chan4formula_Part0_Part0_Part0]\r\nFormula=" << w("Синус")
      << "\r\nMaxLevel=100\r\nMinLevel=-100\r\nfreq=440\r\n"
      << "[Chan4formula_Part0_Part0_Part1]\r\nFormula=" << w("Уровень") << "\r\nLevel=20\r\n"
      << "[Chan4formula_Part0_Part1]\r\nFormula=" << w("Пила")
      << "\r\nMaxLevel=10\r\nMinLevel=-10\r\nPeriod=0.1\r\n"
      << "[Chan4formula_Part1]\r\nFormula=" << w("Синус")
      << "\r\nMaxLevel=1\r\nMinLevel=0\r\nfreq=3\r\n"
      << "[Chan5]\r\nFs=2000\r\nName=Noisy sum\r\nFormula=" << w("Сумма") << "\r\n"
      << "[Chan5formula]\r\nPartsCount=3\r\n"
      << "[Chan5formula_Part0]\r\nFormula=" << w("Синус")
      << "\r\nMaxLevel=50\r\nMinLevel=-50\r\nfreq=2\r\n"
      << "[Chan5formula_Part1]\r\nFormula=" << w("Шум") << "\r\nMaxLevel=3\r\nMinLevel=1\r\n"
      << "[Chan5formula_Part2]\r\nFormula=" << w("Сумма") << "\r\nPartsCount=1\r\n"
      << "[Chan5formula_Part2_Part0]\r\nFormula=" << w("Шум")
      << "\r\nMaxLevel=0.5\r\nMinLevel=-0.5\r\n"
      << "[Chan6]\r\nFs=300\r\nName=Noise B\r\nFormula=" << w("Шум") << "\r\n"
      << "[Chan6formula]\r\nMaxLevel=5\r\nMinLevel=-5\r\n";
    return s.str();
}

// The noisy channels built by hand, in channel order, for a reference drawn
// from the generator's start in this program's own copy of the signals.
std::vector<std::pair<std::string, std::unique_ptr<tolvex::Signal>>> noisyChannels() {
    std::vector<std::pair<std::string, std::unique_ptr<tolvex::Signal>>> out;
    auto noise = [](float lo, float hi) {
        auto n = std::make_unique<tolvex::NoiseSignal>();
        n->MinLevel = lo;
        n->MaxLevel = hi;
        return n;
    };
    out.emplace_back("Noise A", noise(-1, 1));
    auto sum = std::make_unique<tolvex::CompositeSignal>();
    sum->parts.clear();
    auto sine = std::make_unique<tolvex::SineSignal>();
    sine->MaxLevel = 50;
    sine->MinLevel = -50;
    sine->freq = 2;
    sum->parts.push_back(std::move(sine));
    sum->parts.push_back(noise(1, 3));
    auto inner = std::make_unique<tolvex::CompositeSignal>();
    inner->parts.clear();
    inner->parts.push_back(noise(-0.5f, 0.5f));
    sum->parts.push_back(std::move(inner));
    out.emplace_back("Noisy sum", std::move(sum));
    out.emplace_back("Noise B", noise(-5, 5));
    return out;
}

std::string writeFile(const QTemporaryDir& dir, const char* name, const std::string& bytes) {
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

template <class T> std::vector<T> readRaw(const std::string& path) {
    const std::string bytes = readAll(path);
    std::vector<T> v(bytes.size() / sizeof(T));
    std::memcpy(v.data(), bytes.data(), v.size() * sizeof(T));
    return v;
}

struct Rendered {
    int status = -1;
    std::string out;
    std::string err;
    recorder::RecordedRun run;
    std::string folder;
};

Rendered renderWith(recorder::RenderOptions o) {
    o.programDirectory = kModuleDir;
    o.progress = false;
    std::ostringstream out;
    std::ostringstream err;
    Rendered r;
    r.status = recorder::render(o, out, err);
    r.out = out.str();
    r.err = err.str();
    const std::size_t at = r.out.find("Rendered: ");
    if (at != std::string::npos) {
        const std::string manifest = r.out.substr(at + 10, r.out.find(" (", at) - at - 10);
        std::string error;
        EXPECT_TRUE(recorder::readManifest(manifest, r.run, error)) << error;
        r.folder = QFileInfo(QString::fromStdString(manifest)).path().toStdString();
    }
    return r;
}

// A channel's values as doubles, from the file in any format.
std::vector<double> valuesOf(const Rendered& r, const recorder::RecordedChannel& c,
                             recorder::SampleFormat format, double frequency) {
    std::vector<double> values;
    EXPECT_EQ(c.files.size(), 1u) << c.name;
    if (c.files.empty())
        return values;
    const std::string path = r.folder + "/" + c.files[0];
    switch (format) {
    case recorder::SampleFormat::Wav: {
        std::vector<float> f;
        std::string error;
        std::uint32_t rate = 0;
        EXPECT_TRUE(recorder::readWavSamples(path, f, &rate, error)) << error;
        EXPECT_EQ(rate, static_cast<std::uint32_t>(frequency));
        values.assign(f.begin(), f.end());
        break;
    }
    case recorder::SampleFormat::Raw32: {
        const auto f = readRaw<float>(path);
        values.assign(f.begin(), f.end());
        break;
    }
    case recorder::SampleFormat::Raw64:
        values = readRaw<double>(path);
        break;
    case recorder::SampleFormat::Csv: {
        std::istringstream in(readAll(path));
        std::string line;
        std::getline(in, line);
        EXPECT_EQ(line, "time,value");
        for (std::uint64_t k = 0; std::getline(in, line); ++k) {
            const auto comma = line.find(',');
            EXPECT_EQ(std::strtod(line.c_str(), nullptr), static_cast<double>(k) / frequency)
                << line;
            values.push_back(std::strtod(line.c_str() + comma + 1, nullptr));
        }
        break;
    }
    }
    return values;
}

} // namespace

TEST(RecorderRender, EveryKindAndNestingInEveryFormatEqualsTheDataRequests) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "every.res", everyKind());
    const double seconds = 1.3;

    // The reference: PN_GETDATA, from t = 0, of the module loaded as the
    // render loads it; the noisy channels from this program's own signals,
    // drawn in channel order from the generator's start.
    recorder::SampleSource source;
    std::string error;
    ASSERT_TRUE(source.open(kModuleDir + "/Tolvex.so", config, error)) << error;
    ASSERT_EQ(source.channels().size(), 7u);
    std::map<std::string, std::vector<double>> expected;
    std::map<std::string, double> rates;
    for (const host::HostChannel* c : source.channels()) {
        const std::string name = host::utf8(c->name().c_str());
        const auto n = static_cast<std::int32_t>(recorder::samplesDue(c->frequency(), seconds));
        ASSERT_TRUE(
            source.host().requestData(*source.host().modules()[0], c->name(), n, expected[name]));
        rates[name] = c->frequency();
    }
    tolvex::noise::reset(1);
    for (auto& [name, signal] : noisyChannels()) {
        auto& v = expected[name];
        signal->fill(v.data(), 0, v.size(), rates[name]);
    }

    for (const auto format : {recorder::SampleFormat::Wav, recorder::SampleFormat::Raw32,
                              recorder::SampleFormat::Raw64, recorder::SampleFormat::Csv}) {
        recorder::RenderOptions o;
        o.config = config;
        o.seconds = seconds;
        o.directory = dir.filePath("out").toStdString();
        o.format = format;
        o.chunk = 977; // requests in uneven pieces, across the channels' ends
        const Rendered r = renderWith(o);
        const std::string kind = recorder::sampleFormatExtension(format);
        ASSERT_EQ(r.status, 0) << kind << r.err;
        EXPECT_EQ(r.run.status, "complete");
        ASSERT_EQ(r.run.channels.size(), 7u) << kind;
        for (const recorder::RecordedChannel& c : r.run.channels) {
            const std::vector<double>& want = expected[c.name];
            EXPECT_EQ(c.samples, want.size()) << c.name << kind;
            EXPECT_EQ(c.status, "ok");
            const std::vector<double> got = valuesOf(r, c, format, c.frequency);
            ASSERT_EQ(got.size(), want.size()) << c.name << kind;
            const bool wide =
                format == recorder::SampleFormat::Raw64 || format == recorder::SampleFormat::Csv;
            for (std::size_t k = 0; k < got.size(); ++k) {
                const double w = wide ? want[k] : static_cast<double>(static_cast<float>(want[k]));
                ASSERT_EQ(got[k], w) << c.name << kind << " sample " << k;
            }
        }
    }
}

TEST(RecorderRender, AChannelAloneDrawsItsNoiseWhereTheWholeRenderDoes) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "every.res", everyKind());
    recorder::RenderOptions o;
    o.config = config;
    o.seconds = 2;
    o.directory = dir.filePath("out").toStdString();
    o.format = recorder::SampleFormat::Raw32;
    o.name = "all";
    const Rendered all = renderWith(o);
    ASSERT_EQ(all.status, 0) << all.err;
    o.name = "alone";
    o.channels = {"Noise B"};
    const Rendered alone = renderWith(o);
    ASSERT_EQ(alone.status, 0) << alone.err;
    ASSERT_EQ(alone.run.channels.size(), 1u);
    const std::string mine = readAll(alone.folder + "/" + alone.run.channels[0].files[0]);
    EXPECT_EQ(mine, readAll(all.folder + "/" + all.run.channels[6].files[0]));
    EXPECT_EQ(mine.size(), 600u * 4);

    // The same bytes on standard output, for a pipe.
    QProcess p;
    p.start(QString::fromStdString(kModuleDir + "/recorder"),
            {"render", QString::fromStdString(config), "--seconds", "2", "--dir", "-", "--channel",
             "Noise B"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.readAllStandardOutput().toStdString(), mine);
}

TEST(RecorderRender, ANoiseFreeRenderEqualsALiveRecording) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    std::string text = everyKind();
    text.replace(text.find("Count=7"), 7, "Count=3"); // level, sine, saw
    const std::string config = writeFile(dir, "clean.res", text);
    recorder::SessionOptions s;
    s.modules = {"Tolvex"};
    s.programDirectory = kModuleDir;
    s.config = config;
    s.directory = dir.filePath("live").toStdString();
    s.name = "live";
    recorder::RecordedRun live;
    {
        recorder::Session session(s);
        ASSERT_EQ(session.loadModules(), 1);
        session.start();
        QEventLoop loop;
        QTimer::singleShot(1500, &loop, &QEventLoop::quit);
        loop.exec();
        session.stop();
        std::string error;
        ASSERT_TRUE(recorder::readManifest(session.currentFile(), live, error)) << error;
    }
    recorder::RenderOptions o;
    o.config = config;
    o.seconds = 3;
    o.directory = dir.filePath("out").toStdString();
    const Rendered r = renderWith(o);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(live.channels.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        std::vector<float> recorded;
        std::vector<float> rendered;
        std::string error;
        ASSERT_FALSE(live.channels[i].files.empty()) << live.channels[i].name;
        ASSERT_TRUE(recorder::readWavSamples(s.directory + "/live/" + live.channels[i].files[0],
                                             recorded, nullptr, error))
            << error;
        ASSERT_TRUE(recorder::readWavSamples(r.folder + "/" + r.run.channels[i].files[0], rendered,
                                             nullptr, error));
        ASSERT_GT(recorded.size(), 0u);
        ASSERT_LE(recorded.size(), rendered.size());
        rendered.resize(recorded.size());
        EXPECT_EQ(std::memcmp(recorded.data(), rendered.data(), recorded.size() * 4), 0)
            << live.channels[i].name;
    }
}

// A render loads the emulator on a settings file of its own, named in the
// environment: afterwards the environment is as it was, so that a session
// later in the same process neither takes the render's settings file (gone
// with its folder) for one the user chose nor loses its configuration.
TEST(RecorderRender, LeavesTheModulesEnvironmentAsItFoundIt) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    std::string text = everyKind();
    text.replace(text.find("Count=7"), 7, "Count=3");
    const std::string config = writeFile(dir, "clean.res", text);
    recorder::RenderOptions o;
    o.config = config;
    o.seconds = 1;
    o.directory = dir.filePath("out").toStdString();
    o.name = "unset";
    const std::string ui = std::getenv("TOLVEX_UI") != nullptr ? std::getenv("TOLVEX_UI") : "";
    unsetenv("TOLVEX_INI");
    unsetenv("TOLVEX_UI");
    const Rendered first = renderWith(o);
    const bool iniUnset = std::getenv("TOLVEX_INI") == nullptr;
    const bool uiUnset = std::getenv("TOLVEX_UI") == nullptr;
    setenv("TOLVEX_UI", ui.c_str(), 1);
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_TRUE(iniUnset) << std::getenv("TOLVEX_INI");
    EXPECT_TRUE(uiUnset);

    recorder::SessionOptions s;
    s.modules = {"Tolvex"};
    s.programDirectory = kModuleDir;
    s.config = config;
    s.directory = dir.filePath("live").toStdString();
    {
        recorder::Session session(s);
        ASSERT_EQ(session.loadModules(), 1);
        EXPECT_EQ(session.host().channels().size(), 3u);
        EXPECT_EQ(session.configurationInUse(),
                  QFileInfo(QString::fromStdString(config)).absoluteFilePath().toStdString());
    }

    // A settings file the user chose stays the one named.
    const std::string chosen = dir.filePath("Tolvex.ini").toStdString();
    setenv("TOLVEX_INI", chosen.c_str(), 1);
    o.name = "chosen";
    const Rendered second = renderWith(o);
    const std::string after = std::getenv("TOLVEX_INI") != nullptr ? std::getenv("TOLVEX_INI") : "";
    unsetenv("TOLVEX_INI");
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(after, chosen);
}

TEST(RecorderRender, CtrlCLeavesCompleteFilesAndAManifestSayingInterrupted) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "every.res", everyKind());
    QProcess p;
    p.start(QString::fromStdString(kModuleDir + "/recorder"),
            {"render", QString::fromStdString(config), "--seconds", "100000", "--dir",
             dir.filePath("out"), "--name", "long"});
    const QString sine = dir.filePath("out/long/01-Sine.wav");
    for (int i = 0; i < 2000 && QFileInfo(sine).size() < (4 << 20); ++i)
        p.waitForFinished(10);
    ASSERT_GE(QFileInfo(sine).size(), 4 << 20);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 128 + SIGINT);
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(
        recorder::readManifest(dir.filePath("out/long/long.kova").toStdString(), run, error))
        << error;
    EXPECT_EQ(run.status, "interrupted");
    std::uint64_t total = 0;
    for (const recorder::RecordedChannel& c : run.channels) {
        total += c.samples;
        if (c.files.empty()) {
            EXPECT_EQ(c.samples, 0u) << c.name;
            continue;
        }
        recorder::WavInfo info;
        ASSERT_TRUE(recorder::readWavInfo(dir.filePath("out/long/").toStdString() + c.files[0],
                                          info, error))
            << error;
        EXPECT_EQ(info.frames, c.samples) << c.name;
    }
    EXPECT_GE(total, 1u << 20);
}

// One channel to standard output that stops taking samples: a full device
// ends the render at once with the reason; a reader that closes the pipe
// early (as `| head` does) has what it wanted, and the render ends quietly.
TEST(RecorderRender, StandardOutputThatFailsEndsTheRender) {
    if (!haveTolvex())
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const std::string config = writeFile(dir, "every.res", everyKind());
    const QString program = QString::fromStdString(kModuleDir + "/recorder");
    const QStringList args{
        "render", QString::fromStdString(config), "--seconds", "100000", "--dir", "-", "--channel",
        "Sine"};
    QProcess full;
    full.setStandardOutputFile("/dev/full");
    full.start(program, args);
    ASSERT_TRUE(full.waitForFinished(60000));
    EXPECT_EQ(full.exitCode(), 1);
    const QString why = QString::fromUtf8(full.readAllStandardError());
    EXPECT_TRUE(why.contains("cannot write to standard output: No space left on device"))
        << why.toStdString();

    QProcess closing;
    QProcess head;
    closing.setStandardOutputProcess(&head);
    head.setStandardOutputFile("/dev/null");
    head.start("head", {"-c", "100"});
    closing.start(program, args);
    ASSERT_TRUE(closing.waitForFinished(60000));
    EXPECT_TRUE(head.waitForFinished(60000));
    EXPECT_EQ(closing.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(closing.exitCode(), 0) << closing.readAllStandardError().toStdString();
}

TEST(RecorderRender, WhatCannotBeRenderedIsRefusedWithAReason) {
    auto parse = [](std::vector<std::string> args, std::string& error) {
        args.insert(args.begin(), "render");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        recorder::RenderOptions o;
        return recorder::parseRenderOptions(static_cast<int>(argv.size()), argv.data(), o, error);
    };
    std::string error;
    EXPECT_FALSE(parse({"a.res"}, error));
    EXPECT_EQ(error, "--seconds is needed");
    EXPECT_FALSE(parse({"a.res", "--seconds", "1", "--dir", "-"}, error));
    EXPECT_NE(error.find("--channel"), std::string::npos);
    EXPECT_FALSE(parse(
        {"a.res", "--seconds", "1", "--dir", "-", "--channel", "X", "--format", "wav"}, error));
    EXPECT_NE(error.find("seekable"), std::string::npos);
    EXPECT_FALSE(parse({"a.res", "--seconds", "-1"}, error));
    EXPECT_FALSE(parse({"a.res", "--seconds", "1", "--format", "flac"}, error));
    EXPECT_TRUE(parse({"a.res", "--seconds", "1", "--format", "raw64"}, error)) << error;

    if (!haveTolvex())
        return;
    QTemporaryDir dir;
    recorder::RenderOptions o;
    o.seconds = 1;
    o.directory = dir.filePath("out").toStdString();
    o.config = dir.filePath("missing.res").toStdString();
    Rendered r = renderWith(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.res: No such file"), std::string::npos) << r.err;
    o.config = writeFile(dir, "every.res", everyKind());
    o.channels = {"Nope"};
    r = renderWith(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no channel is named Nope"), std::string::npos) << r.err;
    std::string twice = everyKind();
    twice.replace(twice.find("Name=Saw"), 8, "Name=Sine");
    o.config = writeFile(dir, "twice.res", twice);
    o.channels = {};
    r = renderWith(o);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("two channels are named Sine"), std::string::npos) << r.err;
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out/twice")));
}
