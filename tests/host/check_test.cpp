// `recorder check`: each broken configuration is told for what the emulator
// would make of it, a clean one passes, and --config tells the same first.
#include "check.h"
#include "recording.h"
#include "session.h"

#include "platform/text.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

namespace {

const std::string kModules = MODULE_DIR;

// Writes `utf8` as the emulator's files are: code page 1251 (or as it is).
std::string writeFile(const QTemporaryDir& dir, const char* name, const std::string& utf8,
                      bool asUtf8 = false) {
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << (asUtf8 ? utf8 : platform::utf8ToCp1251(utf8));
    return path;
}

std::string findingsOf(const std::string& path) {
    recorder::ConfigurationCheck c;
    std::string error;
    EXPECT_TRUE(recorder::checkEmulatorConfiguration(path, c, error)) << error;
    std::string all;
    for (const std::string& f : c.findings)
        all += f + "\n";
    return all;
}

std::string nested(int depth) {
    // Sums inside sums: the channel's formula is the first, each part the next.
    std::string text = "[common]\nCount=1\n[Chan0]\nFs=10\nName=N\nFormula=Сумма\n";
    std::string section = "Chan0formula";
    for (int d = 1; d <= depth; ++d) {
        text += "[" + section + "]\n" + (d > 1 ? "Formula=Сумма\n" : "") + "PartsCount=1\n";
        section += "_Part0";
    }
    return text + "[" + section + "]\nFormula=Синус\n";
}

QProcess* run(QProcess& p, const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(QString::fromStdString(kModules + "/recorder"), arguments);
    EXPECT_TRUE(p.waitForFinished(60000));
    return &p;
}

} // namespace

TEST(RecorderCheck, EachBrokenFileIsToldForWhatTheEmulatorWouldMakeOfIt) {
    QTemporaryDir dir;
    struct Case {
        const char* file;
        std::string text;
        bool utf8;
        const char* finding;
    };
    const std::string head = "[common]\nCount=1\n[Chan0]\nName=Давление\nFormula=Синус\n";
    const std::vector<Case> cases = {
        {"count.res", "[common]\nCount=3\n[Chan0]\nFs=10\nName=A\nFormula=Уровень\n", false,
         "Count=3, but [Chan1], [Chan2] have no section: the emulator invents them"},
        {"latin.res", "[common]\nCount=1\n[Chan0]\nFs=10\nName=A\nFormula=Sine\n", false,
         "[Chan0] Formula=Sine is no kind the emulator knows"},
        {"utf8.res", head + "Fs=10\n", true,
         "the text is UTF-8, not code page 1251 (what the emulator reads): \"Давление\" would "
         "read as \"Р”Р°РІР»РµРЅРёРµ\""},
        {"negative.res", head + "Fs=-5\n", false,
         "[Chan0] Fs=-5 is outside the channel dialog's range (1 to 216000 Hz)"},
        {"huge.res", head + "Fs=1e12\n", false, "[Chan0] Fs=1e12 is outside"},
        {"nofs.res", head + "Fs=fast\n", false,
         "[Chan0] Fs=fast is no number: the emulator takes 10"},
        {"deep.res", nested(65), false, "nested deeper than 64 sums: the emulator loads none"},
        {"parts.res",
         "[common]\nCount=1\n[Chan0]\nFs=10\nName=A\nFormula=Сумма\n[Chan0formula]\n"
         "PartsCount=70000\n",
         false, "PartsCount=70000: the emulator loads 65536 parts and stops"},
        {"beyond.res", "[common]\nCount=0\n[Chan0]\nFs=10\n", false,
         "[Chan0] lies beyond [common] Count=0"},
    };
    for (const Case& c : cases) {
        const std::string all = findingsOf(writeFile(dir, c.file, c.text, c.utf8));
        EXPECT_NE(all.find(c.finding), std::string::npos) << c.file << ":\n" << all;
    }
    // Within the loader's bounds and the dialog's range nothing is told.
    EXPECT_EQ(findingsOf(writeFile(dir, "deep64.res", nested(64))), "");
    EXPECT_EQ(findingsOf(std::string(EXAMPLES_DIR) + "/demo.res"), "");

    // What the check says is what the emulator does with the file.
    if (QFileInfo::exists(QString::fromStdString(kModules + "/Tolvex.so"))) {
        QTemporaryDir work;
        recorder::SessionOptions o;
        o.modules = {"Tolvex"};
        o.programDirectory = kModules;
        o.directory = work.filePath("rec").toStdString();
        o.config = dir.filePath("count.res").toStdString();
        recorder::Session s(o);
        ASSERT_EQ(s.loadModules(), 1);
        std::vector<std::string> names;
        for (const host::HostChannel* ch : s.host().channels())
            names.push_back(host::utf8(ch->name().c_str()));
        EXPECT_EQ(names, (std::vector<std::string>{"A", "Chan1", "Chan2"}));
    }
}

// What the emulator refuses to load is refused by the check, not passed as a
// file of no channels; a FIFO is refused without waiting on it.
TEST(RecorderCheck, WhatTheEmulatorRefusesToLoadIsRefused) {
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("pipe.res").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {writeFile(dir, "empty.res", ""), "empty.res is empty"},
        {writeFile(dir, "text.res", "not a configuration\n"),
         "text.res is not an INI text: line 1 comes before any [section]"},
        {writeFile(dir, "cut.res", "[common]\nCount=1\n[Chan"),
         "cut.res is not an INI text: line 3, the last, ends without a line break"},
        {writeFile(dir, "minus.res", "[common]\nCount=-1\n"),
         "minus.res: [common] Count=-1 is outside the channels a file can hold (0 to "
         "2147483647)"},
        {writeFile(dir, "over.res", "[common]\nCount=2147483648\n"),
         "over.res: [common] Count=2147483648 is outside"},
        {writeFile(dir, "word.res", "[common]\nCount=two\n"),
         "word.res: [common] Count=two is no whole number"},
        {fifo, "pipe.res: it is not a regular file"},
        {dir.path().toStdString(), "it is a folder, not a file"},
    };
    for (const auto& [path, told] : cases) {
        recorder::ConfigurationCheck c;
        std::string error;
        EXPECT_FALSE(recorder::checkEmulatorConfiguration(path, c, error)) << path;
        EXPECT_NE(error.find(told), std::string::npos) << error;
    }
}

TEST(RecorderCheck, TheSubcommandsStatusAndConfigsWarningsAndRefusal) {
    QTemporaryDir dir;
    const std::string latin =
        writeFile(dir, "latin.res", "[common]\nCount=1\n[Chan0]\nFs=10\nName=A\nFormula=Sine\n");
    const std::string huge = writeFile(
        dir, "huge.res", "[common]\nCount=2\n[Chan0]\nFs=1e12\nName=Fast\n[Chan1]\nFs=1\nName=B\n");
    QProcess clean, found, missing;
    run(clean, {"check", QString(EXAMPLES_DIR) + "/demo.res"});
    EXPECT_EQ(clean.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(clean.readAllStandardOutput())
                    .contains("6 channel(s), 225261 samples a second; nothing the emulator"));
    run(found, {"check", QString::fromStdString(latin), QString::fromStdString(huge)});
    EXPECT_EQ(found.exitCode(), 1);
    const QString out = QString::fromUtf8(found.readAllStandardOutput());
    EXPECT_TRUE(out.contains("Formula=Sine is no kind")) << out.toStdString();
    EXPECT_TRUE(out.contains("the recorder keeps at most 500000000 a second")) << out.toStdString();
    run(missing, {"check", dir.filePath("none.res")});
    EXPECT_EQ(missing.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(missing.readAllStandardError()).contains("No such file"));

    // --config: the findings first as warnings, and the run goes on ...
    QProcess warned;
    run(warned, {"--config", QString::fromStdString(latin), "--seconds", "0.1", "--no-record",
                 "HostProbe"});
    EXPECT_EQ(warned.exitCode(), 0);
    const QString err = QString::fromUtf8(warned.readAllStandardError());
    EXPECT_TRUE(err.contains("recorder: warning: " + QString::fromStdString(latin) +
                             ": [Chan0] Formula=Sine is no kind"))
        << err.toStdString();
    // ... but a rate no run keeps is refused before anything starts.
    QProcess refused;
    run(refused,
        {"--config", QString::fromStdString(huge), "--seconds", "0.1", "--no-record", "HostProbe"});
    EXPECT_EQ(refused.exitCode(), 1);
    const QString why = QString::fromUtf8(refused.readAllStandardError());
    EXPECT_TRUE(why.contains("the fastest, \"Fast\"") && why.contains("nothing runs"))
        << why.toStdString();
    EXPECT_FALSE(why.contains("HostProbe started"));
}
