// The recorder program: sessions with the test modules and the emulator, the
// headless program, and the window under the offscreen platform.
#include "../brantic/HttpProbe.h"
#include "analysis.h"
#include "mainwindow.h"
#include "program.h"
#include "recording.h"
#include "recover.h"
#include "session.h"

#include "platform/com.h"
#include "platform/inifile.h"
#include "platform/text.h"
#include "platform/ticks.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>

using namespace platform::literals;

namespace {

const std::string kModules = MODULE_DIR;

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("TOLVEX_UI", "none", 1);
        setenv("BRANTIC_UI", "none", 1);
        static int argc = 1;
        static char name[] = "recorder_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QApplication* app_ = nullptr;
};
const auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool have(const std::string& module) {
    return QFileInfo::exists(QString::fromStdString(kModules + "/" + module + ".so"));
}

recorder::SessionOptions options(const QTemporaryDir& dir, std::vector<std::string> modules) {
    recorder::SessionOptions o;
    o.modules = std::move(modules);
    o.programDirectory = kModules;
    o.directory = dir.filePath("rec").toStdString();
    o.name = "run";
    o.keepSamples = true;
    return o;
}

std::vector<float> recorded(const std::string& folder, const recorder::RecordedChannel& c) {
    std::vector<float> all;
    for (const std::string& f : c.files) {
        std::string error;
        EXPECT_TRUE(recorder::readWavSamples(folder + "/" + f, all, nullptr, error)) << error;
    }
    return all;
}

// Pixels of a PNG that are neither white nor the grid's grey.
int inkedPixels(const std::string& path) {
    QImage image(QString::fromStdString(path));
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            n += qBlue(p) > qRed(p) + 60 ? 1 : 0; // the trace is blue
        }
    return n;
}

// A variable of the environment set (or, with null, unset) for one test and
// given back as it was, whichever way the test ends.
struct Env {
    Env(const char* name, const char* value) : name_(name) {
        if (const char* before = std::getenv(name); before != nullptr)
            before_ = before;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~Env() {
        if (before_)
            setenv(name_, before_->c_str(), 1);
        else
            unsetenv(name_);
    }
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;
    const char* name_;
    std::optional<std::string> before_;
};

} // namespace

TEST(RecorderSession, AFailingModuleIsReportedAndTheOthersGoOn) {
    QTemporaryDir dir;
    std::vector<std::string> messages; // outlives the session, which logs its shutdown
    recorder::Session s(
        options(dir, {"HostProbe", "NoSuchModule", "HostNoExports", "HostProbePlain"}));
    s.setMessageHandler([&](const host::LogMessage& m) {
        messages.push_back(QString::fromStdU16String(m.text).toStdString());
    });
    EXPECT_EQ(s.loadModules(), 2);
    ASSERT_EQ(s.failures().size(), 2u);
    EXPECT_NE(s.failures()[0].find("NoSuchModule.so"), std::string::npos);
    EXPECT_NE(s.failures()[1].find("exports no CreatePluginClass"), std::string::npos);
    EXPECT_EQ(s.host().channels().size(), 4u);
    EXPECT_NE(std::find(messages.begin(), messages.end(), "HostProbePlain started"),
              messages.end());

    if (have("Brantic")) {
        // The remote-control module alone, without its server library beside it.
        QTemporaryDir lonely;
        const QString copy = lonely.filePath("Brantic.so");
        ASSERT_TRUE(QFile::copy(QString::fromStdString(kModules + "/Brantic.so"), copy));
        recorder::Session b(options(dir, {copy.toStdString(), "HostProbe"}));
        EXPECT_EQ(b.loadModules(), 1);
        ASSERT_EQ(b.failures().size(), 1u);
        EXPECT_EQ(b.failures()[0], "Brantic: create failed");
        bool told = false;
        for (const host::LogMessage& m : b.host().messages())
            told = told || (m.kind == 7 && m.module == "Brantic");
        EXPECT_TRUE(told); // its own message in the log
    }

    Env fail("HOST_PROBE_FAIL", "create");
    recorder::Session t(options(dir, {"HostProbe"}));
    EXPECT_EQ(t.loadModules(), 0);
    ASSERT_EQ(t.failures().size(), 1u);
    EXPECT_EQ(t.failures()[0], "HostProbe: create failed");
}

TEST(RecorderSession, StartRecordsEveryBlockAndNamesTheCurrentFile) {
    QTemporaryDir dir;
    recorder::Session s(options(dir, {"HostProbe"}));
    ASSERT_EQ(s.loadModules(), 1);
    host::LoadedModule& probe = *s.host().modules()[0];
    s.start(); // the probe pushes one block per channel on PN_RCSTART
    VARIANT v;
    v.vt = VT_EMPTY;
    ASSERT_TRUE(probe.plugin()->getproperty(201, v));
    const std::string file = platform::bstrTo1251(v.bstrVal);
    platform::VariantClear(&v);
    ASSERT_NE(file.find("/rec/|run"), std::string::npos) << file; // directory | name
    EXPECT_EQ(file.substr(file.size() - 4), "|run");
    EXPECT_EQ(s.currentFile(), dir.filePath("rec/run/run.kova").toStdString());
    s.stop();
    // A second run gets a recording of its own.
    s.start();
    EXPECT_EQ(s.currentFile(), dir.filePath("rec/run-2/run-2.kova").toStdString());
    s.stop();

    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(s.currentFile(), run, error)) << error;
    EXPECT_EQ(run.status, "complete");
    ASSERT_EQ(run.channels.size(), 2u);
    // The same channels give the same file names in every run.
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("rec/run/00-Probe_A.wav")));
    EXPECT_EQ(run.channels[0].files, std::vector<std::string>{"00-Probe_A.wav"});
    EXPECT_EQ(run.channels[1].files, std::vector<std::string>{"01-Канал_Б.wav"});
    for (std::size_t i = 0; i < 2; ++i) {
        const host::HostChannel* c = s.host().channels()[i];
        EXPECT_EQ(run.channels[i].name, host::utf8(c->name().c_str()));
        EXPECT_EQ(recorded(s.recording()->folder(), run.channels[i]), c->samples());
    }
    // The host's block length follows the channel's frequency.
    EXPECT_EQ(s.host().channels()[0]->blockLength(), 100);
    EXPECT_EQ(s.host().channels()[1]->blockLength(), 5);
}

// The host keeps the newest messages and counts the others; a recording's
// log file has every message of its run, one line each, and nothing after it.
TEST(RecorderSession, TheLogKeepsAWindowAndTheRecordingEveryMessage) {
    QTemporaryDir dir;
    recorder::Session s(options(dir, {"HostProbe"}));
    std::uint64_t seen = 0;
    s.setMessageHandler([&](const host::LogMessage&) { ++seen; });
    ASSERT_EQ(s.loadModules(), 1);
    const host::Host& h = s.host();
    s.start();
    IRecorderLog& log = s.host().modules()[0]->log();
    const std::size_t kept = s.host().options().keptMessages;
    const int n = static_cast<int>(kept) * 3 + 7;
    auto text = [](int i) { return QString("message %1").arg(i).toStdU16String(); };
    for (int i = 0; i < n; ++i) {
        const std::u16string t = i == 5 ? text(i) + u"\nsecond line" : text(i);
        ASSERT_EQ(log.addmessage(u"Probe", t.c_str(), i % 2 == 0 ? 1 : 7), S_OK);
    }
    ASSERT_EQ(h.messages().size(), kept);
    EXPECT_EQ(h.messages().front().text, text(n - static_cast<int>(kept)));
    EXPECT_EQ(h.messages().back().text, text(n - 1));
    EXPECT_EQ(h.messagesDropped() + kept, seen); // every message is kept or counted
    s.stop();
    EXPECT_EQ(h.messagesDropped() + kept, seen);

    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(s.currentFile(), run, error)) << error;
    EXPECT_EQ(run.log, "run.log");
    const std::string path = dir.filePath("rec/run/run.log").toStdString();
    ASSERT_EQ(s.recording()->logPath(), path);
    auto lines = [&] {
        std::vector<std::string> all;
        std::ifstream in(path, std::ios::binary);
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        return all;
    };
    const std::vector<std::string> all = lines();
    ASSERT_FALSE(all.empty());
    EXPECT_NE(all[0].find(" info  [host] recording to "), std::string::npos) << all[0];
    // Every line: UTC time to the millisecond, kind, source, text on one line.
    const QRegularExpression form(
        R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (info |trace|error|kind \d+) \[[^]]*\] )");
    int next = 0;
    for (const std::string& line : all) {
        ASSERT_TRUE(form.match(QString::fromStdString(line)).hasMatch()) << line;
        if (line.find(" [Probe] message ") == std::string::npos)
            continue;
        const std::string end =
            " [Probe] message " + std::to_string(next) + (next == 5 ? "\\nsecond line" : "");
        ASSERT_GE(line.size(), end.size());
        ASSERT_EQ(line.substr(line.size() - end.size()), end);
        EXPECT_EQ(line.find(next % 2 == 0 ? " trace " : " error "), 24u) << line;
        ++next;
    }
    EXPECT_EQ(next, n);
    log.addmessage(u"Probe", u"after the run", 0);
    EXPECT_EQ(lines().size(), all.size());
}

TEST(RecorderSession, ARecordingThatFailsLeavesTheRunGoing) {
    QTemporaryDir dir;
    auto o = options(dir, {"HostProbe"});
    o.opener = [](const std::string&, std::string& error) {
        return recorder::openByteFile("/dev/full", error);
    };
    std::vector<std::string> failures;
    recorder::Session s(o);
    s.setMessageHandler([&](const host::LogMessage& m) {
        if (m.kind == 7)
            failures.push_back(QString::fromStdU16String(m.text).toStdString());
    });
    ASSERT_EQ(s.loadModules(), 1);
    s.start();
    s.host().modules()[0]->plugin()->notify(PN_RCSTART, 0); // more blocks
    s.stop();
    ASSERT_EQ(failures.size(), 1u); // the first file that met the full disk ended it all
    EXPECT_NE(failures[0].find("No space left on device; the recording ends"), std::string::npos)
        << failures[0];
    EXPECT_TRUE(s.recording()->failed());
    EXPECT_EQ(s.recording()->status(), "failed: disk full after 0 s");
    EXPECT_EQ(s.host().channels()[0]->stats().blocks, 2u); // still counted and shown
    const auto rows = s.summary();
    EXPECT_EQ(rows[0].received, 200u);
}

TEST(RecorderProgram, HeadlessRunPrintsTheSummaryPlotsAndPulls) {
    QTemporaryDir dir;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", ":93"); // no server behind it: headless, not an abort
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(kModules + "/recorder"),
            {"--seconds", "0.3", "--dir", dir.filePath("rec"), "--name", "t", "--plot", "--pull",
             "Probe A", "3", "HostProbe", "HostNoExports"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_TRUE(err.contains("no display server answers at DISPLAY=:93")) << err.toStdString();
    EXPECT_TRUE(out.contains("Recorder ran")) << out.toStdString();
    EXPECT_TRUE(out.contains("Канал Б"));
    EXPECT_TRUE(out.contains("Pull Probe A (HostProbe, 3 values):\n0\t0\n1\t0.5\n2\t1\n"));
    EXPECT_TRUE(out.contains("(complete)"));
    // A module asked for did not start: the run went on, the status tells.
    EXPECT_TRUE(err.contains("exports no CreatePluginClass")) << err.toStdString();
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("rec/t/t.kova")));
    // The plots go beside the channels' files, in the recording's folder.
    const std::string plot = dir.filePath("rec/t/00-Probe_A.png").toStdString();
    EXPECT_GT(inkedPixels(plot), 200);
}

// Each run stops before any module starts: what was asked for cannot happen.
TEST(RecorderProgram, WhatCannotHappenIsRefusedWithAReasonAndAStatus) {
    QTemporaryDir dir;
    const QString file = dir.filePath("file");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not a configuration\n");
    f.close();
    const QString fifo = dir.filePath("pipe.res");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    struct Case {
        QStringList arguments;
        int status;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {{"--config", dir.filePath("missing.res")}, 1, "No such file or directory"},
        {{"--config", file}, 1, "file is not an INI text: line 1 comes before any [section]"},
        {{"--config", fifo}, 1, "pipe.res: it is not a regular file"},
        {{"--config", dir.path()}, 1, "it is a folder, not a file"},
        {{"--dir", file + "/rec"}, 1, "Not a directory"},
        {{"--no-record", "--plot"}, 2, "not with --no-record"},
        {{"--seconds", "inf"}, 2, "not a finite number"},
        {{"--window", "--quit"}, 2, "--quit needs --seconds"},
        {{"--headless", "--screenshot", "x.png"}, 2, "--screenshot needs the window"},
        {{"--headless", "--quit"}, 2, "--quit needs --seconds; try --help"},
        {{"--until-stopped", "--seconds", "1"}, 2, "exclude each other"},
        {{"--seconds", "9", "--bogus"}, 2, "recorder: unknown option --bogus; try --help\n"},
        {{"--seconds", "9", "--no-record", "Nope"}, 1, "no module Nope: "},
        {{"--seconds", "9", "--no-record", dir.path()}, 1, " is not a file"},
    };
    for (const Case& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(kModules + "/recorder"),
                c.arguments + QStringList{"HostProbe"});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(err.contains(c.reason)) << err.toStdString();
        EXPECT_FALSE(err.contains("HostProbe started")) << c.arguments.join(' ').toStdString();
        if (c.status == 2) { // one line, not the whole usage
            EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
        }
    }
}

// What only the started modules tell is still checked before Start: no run,
// no recording, when a --pull names no channel or no module started.
TEST(RecorderProgram, WhatTheModulesTellIsCheckedBeforeStart) {
    QTemporaryDir dir;
    struct Case {
        QStringList arguments;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {{"--pull", "probe a", "4", "HostProbe"}, "no channel is named \"probe a\""},
        {{"HostNoExports"}, "no module started; nothing runs"},
    };
    for (const Case& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("XDG_RUNTIME_DIR");
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(kModules + "/recorder"),
                QStringList{"--seconds", "30", "--dir", dir.filePath("rec")} + c.arguments);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        EXPECT_EQ(p.exitCode(), 1);
        EXPECT_TRUE(err.contains(c.reason)) << err.toStdString();
        EXPECT_FALSE(out.contains("Recorder ran")) << out.toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir.filePath("rec")) &&
                     !QDir(dir.filePath("rec")).isEmpty(QDir::Dirs | QDir::NoDotAndDotDot));
        EXPECT_FALSE(err.contains("XDG_RUNTIME_DIR")) << err.toStdString();
    }
    QProcess v;
    v.start(QString::fromStdString(kModules + "/recorder"), {"--version"});
    ASSERT_TRUE(v.waitForFinished(60000));
    EXPECT_EQ(v.exitCode(), 0);
    EXPECT_TRUE(
        QString::fromUtf8(v.readAllStandardOutput())
            .contains(QRegularExpression("^recorder \\d+\\.\\d+\\.\\d+ \\(Qt [^)]*\\)\n$")));
}

// A run until Ctrl+C ends as asked: complete, exit status 0. On a terminal a
// headless run shows its progress on one line.
TEST(RecorderProgram, ARunUntilCtrlCEndsCompleteAndShowsItsProgress) {
    QTemporaryDir dir;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOST_PROBE_STREAM", "1");
    p.setProcessEnvironment(env);
    // script(1) gives the recorder a terminal; its output comes back through it.
    const QString command =
        QString("exec %1 --until-stopped --update-ms 10 --dir %2 --name u HostProbe")
            .arg(QString::fromStdString(kModules + "/recorder"), dir.filePath("rec"));
    p.start("script", {"-qefc", command, "/dev/null"});
    ASSERT_TRUE(p.waitForStarted(60000));
    QString seen;
    for (int i = 0; i < 600 && !seen.contains("MB written"); ++i) {
        p.waitForReadyRead(50);
        seen += QString::fromUtf8(p.readAllStandardOutput());
    }
    EXPECT_TRUE(seen.contains(QRegularExpression("\r\\d+ s, \\d+ samples, \\d+\\.\\d MB written, "
                                                 "\\d+\\.\\d GB free")))
        << seen.toStdString();
    // Ctrl+C, typed on the terminal.
    p.write("\x03");
    ASSERT_TRUE(p.waitForFinished(60000));
    seen += QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0) << seen.toStdString();
    EXPECT_TRUE(seen.contains("(complete)")) << seen.toStdString();
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(dir.filePath("rec/u/u.kova").toStdString(), run, error))
        << error;
    EXPECT_EQ(run.status, "complete");
    EXPECT_GT(run.channels.at(0).samples, 0u);
}

// A run killed outright leaves files that read back as they are and a
// manifest that says the run never ended; a run ended by SIGTERM says
// interrupted and exits with 128 + 15.
TEST(RecorderProgram, KilledAndTerminatedRunsLeaveTruthfulFiles) {
    for (const bool kill : {true, false}) {
        QTemporaryDir dir;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOST_PROBE_STREAM", "1");
        p.setProcessEnvironment(env);
        p.start(QString::fromStdString(kModules + "/recorder"),
                {"--seconds", "60", "--update-ms", "10", "--dir", dir.filePath("rec"), "--name",
                 "k", "HostProbe"});
        const std::string folder = dir.filePath("rec/k").toStdString();
        const QString wav = dir.filePath("rec/k/00-Probe_A.wav");
        for (int i = 0; i < 400 && QFileInfo(wav).size() < 20000; ++i)
            p.waitForFinished(25);
        ASSERT_GE(QFileInfo(wav).size(), 20000) << kill;
        recorder::RecordedRun run;
        std::string error;
        ASSERT_TRUE(recorder::readManifest(folder + "/k.kova", run, error)) << error;
        EXPECT_EQ(run.status, "recording");
        if (kill)
            p.kill();
        else
            p.terminate();
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_TRUE(recorder::readManifest(folder + "/k.kova", run, error)) << error;
        EXPECT_EQ(run.status, kill ? "recording" : "interrupted");
        if (!kill) {
            EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(p.exitCode(), 128 + SIGTERM);
        }
        std::vector<float> samples;
        recorder::WavInfo info;
        ASSERT_TRUE(recorder::readWavInfo(wav.toStdString(), info, error)) << error;
        ASSERT_TRUE(recorder::readWavSamples(wav.toStdString(), samples, nullptr, error)) << error;
        EXPECT_EQ(samples.size(), info.frames);
        EXPECT_EQ(info.frames % 100, 0u); // whole blocks
        // Nothing lies beyond what the header declares.
        EXPECT_LE(QFileInfo(wav).size() - static_cast<qint64>(info.frames) * 4, 200);
        for (std::size_t k = 0; k < samples.size(); k += 100)
            ASSERT_EQ(samples[k + 99] - samples[k], 99.0f) << k;
        if (!kill)
            continue;
        // The manifest follows every round of blocks: it lags the file by at
        // most the last block (one per update here), and `recover` takes the
        // counts from the files.
        ASSERT_EQ(run.channels.size(), 2u);
        EXPECT_LE(info.frames - run.channels[0].samples, 100u) << run.channels[0].samples;
        EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(folder + "/.k.room")));
        QProcess r;
        r.start(QString::fromStdString(kModules + "/recorder"),
                {"recover", QString::fromStdString(folder)});
        ASSERT_TRUE(r.waitForFinished(60000));
        EXPECT_EQ(r.exitCode(), 0) << r.readAllStandardError().toStdString();
        recorder::RecordedRun mended;
        ASSERT_TRUE(recorder::readManifest(folder + "/k.kova", mended, error)) << error;
        EXPECT_EQ(mended.status, "interrupted (recovered)");
        ASSERT_EQ(mended.channels.size(), 2u);
        for (std::size_t i = 0; i < 2; ++i) {
            recorder::WavInfo each;
            ASSERT_TRUE(
                recorder::readWavInfo(folder + "/" + mended.channels[i].files.at(0), each, error))
                << error;
            EXPECT_EQ(mended.channels[i].samples, each.frames) << i;
            EXPECT_EQ(mended.channels[i].name, run.channels[i].name);
        }
        EXPECT_GE(mended.seconds,
                  static_cast<double>(info.frames) / mended.channels[0].frequency - 0.001);
        EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder + "/.k.room")));
        // Once mended, a second time changes nothing; an ended recording is refused.
        r.start(QString::fromStdString(kModules + "/recorder"),
                {"recover", QString::fromStdString(folder + "/k.kova")});
        ASSERT_TRUE(r.waitForFinished(60000));
        EXPECT_EQ(r.exitCode(), 0);
    }
}

// `recover` refuses what it cannot mend and leaves it as it was: a recording
// that ended, a folder without a manifest, a file that is not a manifest, and
// a channel file that cannot be read.
TEST(RecorderProgram, RecoverRefusesWhatItCannotMend) {
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    {
        recorder::Recording rec(d, "ended");
        host::Host host;
        host::HostChannel* c = host.addChannel("A", 10);
        ASSERT_TRUE(rec.open(host.channels()));
        const std::vector<float> v = {1, 2, 3};
        rec.write(*c, v.data(), 3);
        rec.close(recorder::Recording::End::Complete);
    }
    std::ostringstream out, err;
    EXPECT_EQ(recorder::recover(d + "/ended", out, err), 1);
    EXPECT_NE(err.str().find("ended as \"complete\""), std::string::npos) << err.str();
    QDir(dir.path()).mkdir("empty");
    EXPECT_EQ(recorder::recover(d + "/empty", out, err), 2);
    std::ofstream(d + "/other.kova") << "[recording]\nformat=something else\n";
    EXPECT_EQ(recorder::recover(d + "/other.kova", out, err), 2);

    // A recording left "recording" whose file is not a WAV file any more.
    QDir(dir.path()).mkdir("torn");
    const std::string manifest = "[recording]\nformat=kova-recording 1\nname=torn\n"
                                 "status=recording\nchannels=1\n\n[channel 0]\nname=A\n"
                                 "frequency=10\nsamples=0\nfiles=00-A.wav\nstatus=ok\n";
    std::ofstream(d + "/torn/torn.kova") << manifest;
    std::ofstream(d + "/torn/00-A.wav") << "not a sound file";
    err.str("");
    EXPECT_EQ(recorder::recover(d + "/torn", out, err), 1);
    EXPECT_NE(err.str().find("is not changed"), std::string::npos) << err.str();
    std::ifstream in(d + "/torn/torn.kova", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), manifest);
}

// Ctrl+C while modal dialogs are open (one inside the other, as a module's
// question over its dialog): they end, the modules' windows close, and then
// the run stops and each module gets canclose and close, in that order.
TEST(RecorderProgram, ASignalDuringModalDialogsClosesEverythingInOrder) {
    QTemporaryDir dir;
    recorder::ProgramOptions o;
    o.window = true;
    o.seconds = 60;
    o.trace = true;
    o.session = options(dir, {"HostProbe"});
    o.session.keepSamples = false;
    std::ostringstream out, err;
    recorder::Program program(o, out, err);

    // Stands for a module's own window; closing it is where a module saves.
    struct ModuleWindow : QWidget {
        std::ostringstream* log = nullptr;
        void closeEvent(QCloseEvent* event) override {
            *log << "module window closed\n";
            event->accept();
        }
    } moduleWindow;
    moduleWindow.log = &err;
    moduleWindow.show();

    std::vector<std::string> ended;
    QTimer::singleShot(100, [&] {
        QDialog dialog(&moduleWindow);
        QTimer::singleShot(50, [&] {
            QTimer::singleShot(100, [] { std::raise(SIGINT); });
            QMessageBox::question(&dialog, "Q", "Delete?");
            ended.push_back("question");
        });
        dialog.exec();
        ended.push_back("dialog");
    });
    EXPECT_EQ(program.exec(), 128 + SIGINT);
    EXPECT_EQ(ended, (std::vector<std::string>{"question", "dialog"}));
    EXPECT_EQ(program.session()->host().modules()[0]->stage(), host::Stage::Destroyed);
    const std::string log = err.str();
    const auto window = log.find("module window closed");
    const auto stop = log.find("notify(" + std::to_string(PN_RCSTOP) + ",");
    const auto canclose = log.find("canclose()");
    const auto close = log.find("<- close()");
    ASSERT_NE(window, std::string::npos) << log;
    ASSERT_NE(stop, std::string::npos) << log;
    EXPECT_LT(window, stop);
    EXPECT_LT(stop, canclose);
    EXPECT_LT(canclose, close);
    EXPECT_NE(close, std::string::npos);
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(dir.filePath("rec/run/run.kova").toStdString(), run, error))
        << error;
    EXPECT_EQ(run.status, "interrupted");
}

TEST(RecorderProgram, TheDemoRunsOnTheEmulator) {
    if (!have("Tolvex"))
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    auto o = options(dir, {"Tolvex"});
    o.config = std::string(EXAMPLES_DIR) + "/demo.res";
    recorder::Session s(o);
    ASSERT_EQ(s.loadModules(), 1) << (s.failures().empty() ? "" : s.failures()[0]);
    const auto& channels = s.host().channels();
    std::vector<std::string> names;
    for (const host::HostChannel* c : channels)
        names.push_back(host::utf8(c->name().c_str()));
    EXPECT_EQ(names,
              (std::vector<std::string>{"Уровень 5 @ 1 Гц", "Sine 5 Hz @ 1 kHz",
                                        "Пила ±50, 0.5 Гц @ 250 Гц", "Noise -1..1 @ 216 kHz",
                                        "Сумма трёх @ 8 кГц", "Температура 20..30 @ 10 Гц"}));
    s.start();
    runFor(2500);
    s.stop();
    const std::uint64_t start = s.host().startTicks();
    const double seconds = s.runSeconds();

    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(s.currentFile(), run, error)) << error;
    // The recording keeps the configuration it ran, byte for byte.
    ASSERT_EQ(run.config, "run.res");
    QFile copy(QString::fromStdString(s.recording()->folder() + "/run.res"));
    QFile original(QString::fromStdString(o.config));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), original.readAll());
    for (const host::HostChannel* c : channels) {
        const std::string name = host::utf8(c->name().c_str());
        const std::uint64_t got = c->stats().samples;
        // Whole blocks only; never more than fell due while it ran, and no less
        // than fell due by the last generation step, less one partly filled block.
        EXPECT_EQ(got % static_cast<std::uint64_t>(c->blockLength()), 0u) << name;
        EXPECT_LE(got, recorder::samplesDue(c->frequency(), seconds) + 1) << name;
        // By the time of this channel's own last block: a step computes the
        // channels one after the other, a fast one taking a while.
        const double byLastStep =
            static_cast<double>(std::max(s.lastBlockTicks(c), start) - start) / 1000.0;
        const std::uint64_t dueThen = recorder::samplesDue(c->frequency(), byLastStep);
        // The module starts its clock a little after the host does (the
        // notification's way in), and a step's last block of a fast channel
        // arrives a while after the step read the clock (its samples take time
        // to compute); 100 ms covers both on a loaded machine or in a sanitizer
        // build. A lost step would still be 300 ms short.
        const std::uint64_t startLag = recorder::samplesDue(c->frequency(), 0.1);
        EXPECT_GE(got + static_cast<std::uint64_t>(c->blockLength()) + 1 + startLag, dueThen)
            << name;
        // The recording holds exactly what arrived.
        auto it = std::find_if(run.channels.begin(), run.channels.end(),
                               [&](const recorder::RecordedChannel& r) { return r.name == name; });
        if (got == 0) {
            EXPECT_TRUE(it == run.channels.end() || it->samples == 0) << name;
            continue;
        }
        ASSERT_NE(it, run.channels.end()) << name;
        EXPECT_EQ(it->frequency, c->frequency());
        EXPECT_EQ(recorded(s.recording()->folder(), *it), c->samples()) << name;
        // Its plot has a trace.
        const std::string plot =
            dir.filePath(QString::number(c->frequency()) + ".png").toStdString();
        ASSERT_TRUE(recorder::writePlot(plot, name, c->frequency(), *s.envelope(c), error));
        EXPECT_GT(inkedPixels(plot), 100) << name;
    }
    // A level channel holds its level exactly.
    EXPECT_EQ(channels[0]->stats().minimum, 5.0);
    EXPECT_EQ(channels[0]->stats().maximum, 5.0);
    std::vector<double> pulled;
    ASSERT_TRUE(
        s.host().requestData(*s.host().modules()[0], "Пила ±50, 0.5 Гц @ 250 Гц"_w, 3, pulled));
    EXPECT_EQ(pulled, (std::vector<double>{50, 50, 50}));
}

TEST(RecorderWindow, ListsTheChannelsAndStartsAndStopsTheModules) {
    QTemporaryDir dir;
    std::vector<std::string> modules = {"HostProbe"};
    const bool remote = have("Brantic") && have("Orvane");
    if (remote)
        modules.push_back("Brantic");
    recorder::Session s(options(dir, modules));
    recorder::MainWindow w(s);
    s.loadModules();
    w.refresh();
    w.show();
    QTableWidget* t = w.table();
    ASSERT_EQ(t->rowCount(), 2);
    EXPECT_EQ(t->item(0, 0)->text(), "Probe A");
    EXPECT_EQ(t->item(1, 0)->text(), QString::fromUtf8("Канал Б"));
    EXPECT_EQ(t->item(0, 1)->text(), "1000");
    EXPECT_EQ(w.stateLabel()->text(), "Stopped");
    EXPECT_FALSE(w.stopAction()->isEnabled());
    EXPECT_FALSE(w.modulesMenu()->actions().isEmpty());

    w.startAction()->trigger();
    EXPECT_TRUE(s.host().running());
    EXPECT_EQ(w.stateLabel()->text(), "Running");
    t->selectAll();
    runFor(300);
    EXPECT_EQ(t->item(0, 4)->text(), "100");  // the probe's block arrived
    EXPECT_EQ(t->item(0, 8)->text(), "49.5"); // its mean
    // Every selected channel has its strip, each at a readable height.
    EXPECT_EQ(w.scope()->channels().size(), 2u);
    EXPECT_GE(w.scope()->height(), 2 * recorder::ScopeWidget::kStripHeight);
    // The time axis follows the recorder's clock, until paused.
    w.timeBaseBox()->setCurrentIndex(0);
    EXPECT_EQ(w.scope()->timeBase(), 1.0);
    w.pauseAction()->trigger();
    const double held = w.scope()->now();
    runFor(60);
    EXPECT_EQ(w.scope()->now(), held);
    w.pauseAction()->trigger();
    EXPECT_GT(w.scope()->now(), held);
    EXPECT_TRUE(w.fileLabel()->text().contains("run.kova"));
    w.stopAction()->trigger();
    EXPECT_FALSE(s.host().running());
    EXPECT_EQ(w.stateLabel()->text(), "Stopped");
    // The modules' traces (kind 1) show only when asked for; each line has
    // its time and kind.
    EXPECT_FALSE(w.logView()->toPlainText().contains("[Probe] created"));
    w.tracesBox()->setChecked(true);
    const QString log = w.logView()->toPlainText();
    EXPECT_TRUE(
        log.contains(QRegularExpression("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} trace \\[Probe\\] created")))
        << log.toStdString();
    EXPECT_TRUE(log.contains("info  [host] recorder started"));
    if (remote) {
        EXPECT_TRUE(log.contains("PN_RCSTART")) << log.toStdString();
    }
    // The probe took a channel away; the table follows.
    VARIANT index;
    index.vt = VT_I4;
    index.lVal = 0;
    s.host().modules()[0]->plugin()->setproperty(102, index);
    runFor(300);
    EXPECT_EQ(t->rowCount(), 1);
    w.closeModules();
    EXPECT_EQ(s.host().modules()[0]->stage(), host::Stage::Destroyed);
}

// With a settings file of the user's choosing, --config names its file
// there and leaves TOLVEX_INI alone: a later Load is remembered in it.
TEST(RecorderSession, AChosenSettingsFileIsToldTheConfigurationAndKept) {
    QTemporaryDir dir;
    const QString config = dir.filePath("demo.res");
    ASSERT_TRUE(QFile::copy(QString(EXAMPLES_DIR) + "/demo.res", config));
    const std::string ini = dir.filePath("Tolvex.ini").toStdString();
    Env chosen("TOLVEX_INI", ini.c_str());
    recorder::SessionOptions o = options(dir, {});
    o.config = config.toStdString();
    recorder::Session s(o);
    EXPECT_EQ(std::string(std::getenv("TOLVEX_INI")), ini);
    EXPECT_EQ(platform::readProfileString(ini, "common", "CurCFGFile", ""),
              QFileInfo(config).absoluteFilePath().toStdString());
}

TEST(RecorderWindow, ModuleWindowsGoBesideTheRecordersNotUnderIt) {
    const QRect screen(0, 0, 1920, 1080);
    const QRect module(0, 0, 600, 440);
    // Room on the right.
    EXPECT_EQ(recorder::besidePosition(QRect(100, 50, 1100, 800), module, screen, 50),
              QPoint(1208, 50));
    // Only on the left.
    EXPECT_EQ(recorder::besidePosition(QRect(700, 50, 1100, 800), module, screen, 50),
              QPoint(92, 50));
    // Neither: against the screen's right edge, and within its height.
    EXPECT_EQ(recorder::besidePosition(QRect(0, 0, 1500, 800), module, screen, 900),
              QPoint(1320, 640));
    // A screen that does not start at 0.
    EXPECT_EQ(
        recorder::besidePosition(QRect(1920, 0, 1100, 800), module, QRect(1920, 0, 1920, 1080), 0),
        QPoint(3028, 0));
}

// Modules -> Tolvex -> Edit... brings back the emulator's window after the
// user closed it, in front and beside the recorder's window, not under it.
TEST(RecorderWindow, EditBringsBackTheEmulatorsWindowBesideTheRecorder) {
    if (!have("Tolvex"))
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const QString config = dir.filePath("demo.res");
    ASSERT_TRUE(QFile::copy(QString(EXAMPLES_DIR) + "/demo.res", config));
    QFile::setPermissions(config, QFile::ReadOwner | QFile::WriteOwner);
    Env ini("TOLVEX_INI", dir.filePath("Tolvex.ini").toUtf8().constData());
    Env views("TOLVEX_UI", nullptr); // its Qt views, on the offscreen platform
    recorder::ProgramOptions o;
    o.window = true;
    o.trace = true;
    o.session = options(dir, {"Tolvex"});
    o.session.config = config.toStdString();
    o.session.keepSamples = false;
    std::ostringstream out, err;
    recorder::Program program(o, out, err);
    auto emulator = [&]() -> QWidget* {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top != program.window() &&
                top->windowTitle().startsWith(QString::fromUtf8("Плагин")))
                return top;
        return nullptr;
    };
    auto editAction = [&]() -> QAction* {
        for (QAction* a : program.window()->modulesMenu()->actions())
            if (a->menu() != nullptr && a->text().startsWith("Tolvex"))
                for (QAction* item : a->menu()->actions())
                    if (item->text() == "&Edit...")
                        return item;
        return nullptr;
    };
    bool checked = false;
    QTimer::singleShot(200, [&] {
        QCoreApplication::exit(0); // after the checks, whatever they found
        recorder::MainWindow* w = program.window();
        QWidget* e = emulator();
        ASSERT_NE(e, nullptr);
        ASSERT_TRUE(e->isVisible());
        const QRect area = w->screen()->availableGeometry();
        auto room = [&] {
            return w->frameGeometry().width() + e->frameGeometry().width() + 8 <= area.width();
        };
        if (room()) {
            EXPECT_FALSE(e->frameGeometry().intersects(w->frameGeometry()))
                << "placed under the recorder's window at start";
        } else { // no room beside it: on the screen's right edge
            EXPECT_EQ(e->frameGeometry().right(), area.right());
        }
        // Room on the screen beside a narrower recorder; the user puts the
        // emulator's window over it and closes it.
        w->setGeometry(area.left(), area.top(),
                       std::max(w->minimumSizeHint().width(), area.width() - e->width() - 40), 400);
        e->move(w->frameGeometry().topLeft());
        e->close();
        ASSERT_FALSE(e->isVisible());
        QAction* edit = editAction();
        ASSERT_NE(edit, nullptr);
        edit->trigger();
        EXPECT_TRUE(e->isVisible());
        EXPECT_TRUE(QTest::qWaitForWindowActive(e));
        if (room()) {
            EXPECT_FALSE(e->frameGeometry().intersects(w->frameGeometry()));
            EXPECT_GT(e->x(), w->frameGeometry().right());
        }
        checked = true;
    });
    const int status = program.exec();
    EXPECT_TRUE(checked);
    EXPECT_EQ(status, 0) << err.str();
    EXPECT_NE(err.str().find("<- edit() = true"), std::string::npos) << err.str();
}

// The same with the emulator's own question, asked over its own window.
TEST(RecorderProgram, ASignalDuringTheEmulatorsQuestionClosesItInOrder) {
    if (!have("Tolvex"))
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const QString config = dir.filePath("demo.res");
    ASSERT_TRUE(QFile::copy(QString(EXAMPLES_DIR) + "/demo.res", config));
    QFile::setPermissions(config, QFile::ReadOwner | QFile::WriteOwner);
    Env views("TOLVEX_UI", nullptr); // its Qt views, on the offscreen platform
    recorder::ProgramOptions o;
    o.window = true;
    o.trace = true;
    o.session = options(dir, {"Tolvex"});
    o.session.config = config.toStdString();
    o.session.keepSamples = false;
    std::ostringstream out, err;
    recorder::Program program(o, out, err);
    bool asked = false;
    QTimer::singleShot(100, [&] {
        program.session()->host().edit(*program.session()->host().modules()[0]);
        for (QWidget* top : QApplication::topLevelWidgets())
            for (QAbstractButton* b : top->findChildren<QAbstractButton*>())
                if (top->isVisible() && b->text() == "Delete") {
                    QTimer::singleShot(100, [] { std::raise(SIGINT); });
                    asked = true;
                    b->click(); // the question whether to delete: modal
                    return;
                }
    });
    const int status = program.exec();
    EXPECT_TRUE(asked);
    EXPECT_EQ(status, 128 + SIGINT);
    EXPECT_EQ(program.session()->host().modules()[0]->stage(), host::Stage::Destroyed);
    EXPECT_EQ(program.session()->host().channels().size(), 6u) << "the question was answered No";
    EXPECT_NE(err.str().find("<- close() = true"), std::string::npos) << err.str();
}

// The demo into a 2 MiB file system (its own mount, in a namespace of the
// test's own): the disk fills, the recording ends as a whole, the manifest
// says so and its counts are what the files declare and hold.
TEST(RecorderProgram, AFullDiskEndsTheRecordingWithAWholeManifest) {
    if (!have("Tolvex"))
        GTEST_SKIP() << "Tolvex.so is not part of this build";
    QTemporaryDir dir;
    const QString small = dir.filePath("small");
    const QString kept = dir.filePath("kept");
    ASSERT_TRUE(QDir().mkpath(small));
    const QString script =
        QString("mount -t tmpfs -o size=2m tmpfs '%1' || exit 77; "
                "'%2' --seconds 20 --config '%3' --dir '%1/rec' --name demo Tolvex; status=$?; "
                "cp -r '%1/rec' '%4'; exit $status")
            .arg(small, QString::fromStdString(kModules + "/recorder"),
                 QString(EXAMPLES_DIR) + "/demo.res", kept);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TOLVEX_INI", dir.filePath("Tolvex.ini"));
    p.setProcessEnvironment(env);
    p.start("unshare", {"-rm", "sh", "-c", script});
    ASSERT_TRUE(p.waitForFinished(120000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    if (p.exitCode() == 77 || (p.exitCode() == 1 && err.contains("unshare")))
        GTEST_SKIP() << "no file system of our own here: " << err.toStdString();
    EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("warning: 20 s at the channels'")) << err.toStdString();
    EXPECT_TRUE(err.contains("No space left on device; the recording ends, every channel at"))
        << err.toStdString();
    EXPECT_FALSE(err.contains("No Error"));
    recorder::RecordedRun run;
    std::string error;
    const std::string folder = (kept + "/demo").toStdString();
    ASSERT_TRUE(recorder::readManifest(folder + "/demo.kova", run, error)) << error;
    EXPECT_EQ(run.status.rfind("failed: disk full after ", 0), 0u) << run.status;
    EXPECT_EQ(run.config, "demo.res");
    ASSERT_EQ(run.channels.size(), 6u);
    // Every channel ends at one time: the earliest end among them.
    double end = HUGE_VAL;
    for (const recorder::RecordedChannel& c : run.channels)
        end = std::min(end, static_cast<double>(c.samples) / c.frequency);
    for (const recorder::RecordedChannel& c : run.channels) {
        ASSERT_EQ(c.files.size(), 1u) << c.name;
        recorder::WavInfo info;
        ASSERT_TRUE(recorder::readWavInfo(folder + "/" + c.files[0], info, error)) << error;
        EXPECT_EQ(info.frames, c.samples) << c.name;
        EXPECT_EQ(recorded(folder, c).size(), c.samples) << c.name;
        EXPECT_EQ(c.samples, static_cast<std::uint64_t>(std::ceil(end * c.frequency - 1e-9)))
            << c.name;
    }
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(folder + "/.demo.room")));
}

namespace {

// A command to the remote-control endpoint, tried until the server answers
// (it starts with the module): its HTTP status, 0 when it never answered.
int remoteCommand(int port, const std::string& command) {
    for (int i = 0; i < 100; ++i) {
        const auto reply =
            brantic_test::http(port, "POST", "/api/" + command, "recorder-test-token");
        if (reply.status > 0)
            return reply.status;
        runFor(50);
    }
    return 0;
}

// Reads the program's output until `text` shows (10 s at most).
bool waitForOutput(QProcess& p, QString& seen, const QString& text) {
    for (int i = 0; i < 200 && !seen.contains(text); ++i) {
        p.waitForReadyRead(50);
        seen += QString::fromUtf8(p.readAllStandardOutput());
    }
    return seen.contains(text);
}

} // namespace

// --remote: runs started and stopped through the endpoint, each change told
// with its time, one recording per run; --runs ends it. Without --remote, a
// remote stop ends a timed run as complete, at the stop's time.
TEST(RecorderProgram, RemoteStartsAndStopsMakeOneRecordingEach) {
    if (!have("Brantic") || !have("Orvane"))
        GTEST_SKIP() << "the remote-control module is not part of this build";
    QTemporaryDir dir;
    const int port = brantic_test::freeLoopbackPort();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ORVANE_PORT", QString::number(port));
    env.insert("ORVANE_TOKEN", "recorder-test-token");
    env.insert("HOME", dir.path()); // the server's own files go there
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(kModules + "/recorder"),
            {"--remote", "--runs", "2", "--dir", dir.filePath("rec"), "--name", "r", "HostProbe",
             "Brantic"});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, seen, "waiting for a remote start")) << seen.toStdString();
    for (const char* name : {"r/r.kova", "r-2/r-2.kova"}) {
        ASSERT_EQ(remoteCommand(port, "start"), 200);
        ASSERT_TRUE(waitForOutput(
            p, seen, QString("started: recording to ") + dir.filePath(QString("rec/") + name)))
            << seen.toStdString();
        ASSERT_EQ(remoteCommand(port, "stop"), 200);
        ASSERT_TRUE(waitForOutput(p, seen, QString("(complete)"))) << seen.toStdString();
        seen.replace("(complete)", "(seen)");
    }
    ASSERT_TRUE(p.waitForFinished(60000));
    seen += QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0) << QString::fromUtf8(p.readAllStandardError()).toStdString();
    EXPECT_EQ(seen.count(QRegularExpression("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} stopped after "
                                            "\\d+\\.\\d{3} s: complete\n")),
              2)
        << seen.toStdString();
    for (const char* name : {"rec/r/r.kova", "rec/r-2/r-2.kova"}) {
        recorder::RecordedRun run;
        std::string error;
        ASSERT_TRUE(recorder::readManifest(dir.filePath(name).toStdString(), run, error)) << error;
        EXPECT_EQ(run.status, "complete");
    }

    // A timed run that a remote stop ends.
    QProcess timed;
    timed.setProcessEnvironment(env);
    timed.start(
        QString::fromStdString(kModules + "/recorder"),
        {"--seconds", "600", "--dir", dir.filePath("rec"), "--name", "t", "HostProbe", "Brantic"});
    ASSERT_TRUE(timed.waitForStarted(60000));
    ASSERT_EQ(remoteCommand(port, "stop"), 200);
    ASSERT_TRUE(timed.waitForFinished(60000));
    EXPECT_EQ(timed.exitCode(), 0);
    recorder::RecordedRun run;
    std::string error;
    ASSERT_TRUE(recorder::readManifest(dir.filePath("rec/t/t.kova").toStdString(), run, error))
        << error;
    EXPECT_EQ(run.status, "complete");
    EXPECT_LT(run.seconds, 60);
}

// Resident memory of a process in KiB (0 when it cannot be read).
long residentKiB(qint64 pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// Clients flood the endpoint with starts, stops and status requests while the
// recorder runs; SIGTERM then ends it at once, with only the few recordings
// the endpoint let through.
TEST(RecorderProgram, CommandFloodEndsPromptlyOnSigterm) {
    if (!have("Brantic") || !have("Orvane"))
        GTEST_SKIP() << "the remote-control module is not part of this build";
    QTemporaryDir dir;
    const int port = brantic_test::freeLoopbackPort();
    const std::string token = "recorder-test-token";
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ORVANE_PORT", QString::number(port));
    env.insert("ORVANE_TOKEN", QString::fromStdString(token));
    env.insert("HOME", dir.path());
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(kModules + "/recorder"),
            {"--remote", "--dir", dir.filePath("rec"), "--name", "f", "HostProbe", "Brantic"});
    QString seen;
    ASSERT_TRUE(waitForOutput(p, seen, "waiting for a remote start")) << seen.toStdString();
    ASSERT_EQ(remoteCommand(port, "start"), 200);
    ASSERT_TRUE(waitForOutput(p, seen, "started: recording to")) << seen.toStdString();
    const long before = residentKiB(p.processId());

    std::atomic<bool> flooding{true};
    std::atomic<long> answered{0};
    std::atomic<long> carried{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < 3; ++c)
        clients.emplace_back([&, c] {
            for (long i = 0; flooding; ++i) {
                const char* path = i % 3 == 2    ? "/api/status"
                                   : (i + c) % 2 ? "/api/start"
                                                 : "/api/stop";
                const auto r = brantic_test::http(port, i % 3 == 2 ? "GET" : "POST", path, token);
                answered += r.status > 0;
                carried += r.status == 200 && i % 3 != 2;
            }
        });
    const auto floodStart = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - floodStart < std::chrono::seconds(3)) {
        p.waitForReadyRead(50);
        seen += QString::fromUtf8(p.readAllStandardOutput());
    }
    const long after = residentKiB(p.processId());
    const auto sent = std::chrono::steady_clock::now();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    const bool ended = p.waitForFinished(30000);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    flooding = false;
    for (std::thread& t : clients)
        t.join();
    const double flooded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - floodStart).count();
    const long folders = static_cast<long>(
        QDir(dir.filePath("rec")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    std::printf(
        "command flood: %ld answers in 3 s, %ld starts and stops carried out, %ld recording "
        "folders; resident memory %ld KiB before, %ld KiB after; SIGTERM to exit %lld ms\n",
        answered.load(), carried.load(), folders, before, after,
        static_cast<long long>(took.count()));
    ASSERT_TRUE(ended) << "the recorder did not end after SIGTERM";
    EXPECT_EQ(p.exitCode(), 128 + SIGTERM);
    EXPECT_LT(took, std::chrono::seconds(5));
    // Four changes at once and four a second; a folder needs a start.
    EXPECT_LE(static_cast<double>(carried), 4 + 4 * std::ceil(flooded));
    EXPECT_LE(folders, carried + 1);
    EXPECT_GE(folders, 1);
#if !defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back (its quarantine), so the
    // recorder's resident size says nothing about what it keeps there.
    EXPECT_LT(after - before, 32 * 1024);
#endif
}
