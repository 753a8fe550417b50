// Configuration files: what saving writes and in which order, the three
// loading passes with their defaults, and the bounds on what a file can ask for.
#include "Config.h"
#include "Fixture.h"

#include "platform/numfmt.h"
#include "platform/text.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_tolvex;
using namespace platform::literals;

namespace {

// Every "section / key=value" line of an INI file, in file order.
std::vector<std::string> entries(const std::string& text) {
    std::vector<std::string> out;
    std::string section;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line.front() == '[')
            section = line.substr(1, line.find(']') - 1);
        else
            out.push_back(section + " / " + line);
    }
    return out;
}

class Saving : public TolvexTest {};
class Loading : public TolvexTest {};

} // namespace

TEST_F(Saving, TwoChannelExampleGivesExactlyItsSectionsKeysAndOrder) {
    addChannel("Chan1", 1000.0f);
    auto sum = std::make_unique<tolvex::CompositeSignal>();
    sum->parts.clear();
    auto level = std::make_unique<tolvex::LevelSignal>();
    level->Level = 5.0f;
    sum->parts.push_back(std::move(level));
    sum->parts.push_back(std::make_unique<tolvex::NoiseSignal>());
    addChannel("Sum", 10.0f, std::move(sum));

    const std::string file = path("two.res");
    tolvex::mainForm(*plugin)->currentFile = file;
    tolvex::mainForm(*plugin)->SaveConfiguration(file);

    EXPECT_EQ(
        entries(read(file)),
        (std::vector<std::string>{
            "common / Count=2", "Chan0 / Fs=1000", "Chan0 / Name=Chan1",
            std::string("Chan0 / Formula=") + "Синус"_w, "Chan0formula / MaxLevel=100",
            "Chan0formula / MinLevel=-100", "Chan0formula / freq=10", "Chan1 / Fs=10",
            "Chan1 / Name=Sum", std::string("Chan1 / Formula=") + "Сумма"_w,
            "Chan1formula / PartsCount=2",
            std::string("Chan1formula_Part0 / Formula=") + "Уровень"_w,
            "Chan1formula_Part0 / Level=5", std::string("Chan1formula_Part1 / Formula=") + "Шум"_w,
            "Chan1formula_Part1 / MaxLevel=100", "Chan1formula_Part1 / MinLevel=-100"}));
    EXPECT_EQ(entries(read(path("Tolvex.ini"))),
              (std::vector<std::string>{"common / CurCFGFile=" + file}));
    EXPECT_EQ(gView->caption(), std::string("Плагин::Эмулятор   [ "_w) + file + " ]");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(Saving, ThreeOverFiveKeepsTheOldSectionsAndLoadsThree) {
    const std::string file = path("five.res");
    for (int i = 0; i < 5; ++i)
        addChannel("C" + std::to_string(i), 10.0f);
    tolvex::mainForm(*plugin)->SaveConfiguration(file);
    tolvex::DeleteChannel(0);
    tolvex::DeleteChannel(0);
    tolvex::mainForm(*plugin)->SaveConfiguration(file);
    const std::string text = read(file);
    EXPECT_NE(text.find("Count=3"), std::string::npos);
    EXPECT_NE(text.find("[Chan4]"), std::string::npos);

    while (!plugin->channels.empty())
        tolvex::DeleteChannel(0);
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    ASSERT_EQ(plugin->channels.size(), 3u);
    EXPECT_EQ(plugin->channels[2]->name, "C4");
}

TEST_F(Saving, UnwritableFileStopsWithItsMessage) {
    addChannel("A", 10.0f);
    const std::string file = path("no/such/dir/x.res");
    tolvex::mainForm(*plugin)->SaveConfiguration(file);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to write to " + file + "\n" + std::strerror(ENOENT));
    EXPECT_EQ(boxes[0].caption, "Error!");
}

TEST_F(Saving, ASettingsFileThatCannotBeWrittenStillLetsTheConfigurationBeSaved) {
    addChannel("A", 10.0f);
    const std::string blocker = path("blocker");
    write(blocker, "a file, not a folder");
    const std::string settings = blocker + "/Tolvex.ini";
    ::setenv("TOLVEX_INI", settings.c_str(), 1);
    const std::string file = path("saved.res");
    tolvex::mainForm(*plugin)->SaveConfiguration(file);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to write to " + settings + "\n" + std::strerror(ENOTDIR));
    EXPECT_NE(read(file).find("Name=A"), std::string::npos);
}

// A save killed at any moment leaves the old file or the new one, never a mix.
TEST_F(Saving, ASaveKilledPartWayLeavesTheOldOrTheNewFile) {
    std::vector<tolvex::LevelSignal*> levels;
    for (int i = 0; i < 50; ++i) {
        auto level = std::make_unique<tolvex::LevelSignal>();
        levels.push_back(level.get());
        addChannel("C" + std::to_string(i), 10.0f, std::move(level));
    }
    const std::string file = path("killed.res");
    auto setAll = [&](float value) {
        for (auto* level : levels)
            level->Level = value;
    };
    setAll(1.0f);
    tolvex::mainForm(*plugin)->SaveConfiguration(file);
    const std::string ones = read(file);
    setAll(2.0f);
    tolvex::mainForm(*plugin)->SaveConfiguration(file);
    const std::string twos = read(file);
    ASSERT_NE(ones, twos);
    for (int delay : {5, 20, 60}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (float value = 1.0f;; value = 3.0f - value) {
                setAll(value);
                tolvex::mainForm(*plugin)->SaveConfiguration(file);
            }
        }
        ::usleep(static_cast<useconds_t>(delay) * 1000);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::string after = read(file);
        EXPECT_TRUE(after == ones || after == twos) << "killed after " << delay << " ms";
    }
}

TEST_F(Loading, SectionsWithoutNameOrFormulaTakeTheirDefaults) {
    const std::string file = path("defaults.res");
    write(file, std::string("[common]\nCount=3\n[Chan0]\nFs=20\n[Chan0formula]\nLevel=4\n") +
                    "[Chan1]\nName=S\nFormula=" + "Синус"_w + "\n[Chan2]\nName=X\n");
    host.clearCalls();
    tolvex::mainForm(*plugin)->currentFile = file;
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    ASSERT_EQ(plugin->channels.size(), 3u);
    // Registered after its section, then renamed by the second pass.
    EXPECT_NE(host.channel("Chan0"), nullptr);
    EXPECT_EQ(plugin->channels[0]->name, "Chan1");
    auto* level = dynamic_cast<tolvex::LevelSignal*>(plugin->channels[0]->signal.get());
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->Level, 4.0f);
    auto* sine = dynamic_cast<tolvex::SineSignal*>(plugin->channels[1]->signal.get());
    ASSERT_NE(sine, nullptr);
    EXPECT_EQ(sine->MaxLevel, 100.0f);
    EXPECT_EQ(sine->MinLevel, -100.0f);
    EXPECT_EQ(sine->freq, 10.0f);
    EXPECT_EQ(plugin->channels[2]->frequency, 10.0f); // no Fs at all
    // Third pass: every channel's range reached the host.
    EXPECT_TRUE(host.channel("Chan0")->property(8).has_value());
    const auto ops = host.callOps();
    EXPECT_EQ(ops.front(), "lockchanges");
    EXPECT_EQ(ops.back(), "unlockchanges");
    EXPECT_EQ(gView->cell(1, 1), "Chan1");
    EXPECT_EQ(gView->caption(), std::string("Плагин::Эмулятор   [ "_w) + file + " ]");
}

TEST_F(Loading, OtherDecimalSeparatorIsAcceptedByTheFirstPassOnly) {
    platform::setDecimalSeparator(',');
    const std::string file = path("fs.res");
    write(file, "[common]\nCount=3\n[Chan0]\nFs=2.5\n[Chan1]\nFs=abc\n[Chan2]\nFs=7,5\n");
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    platform::setDecimalSeparator(0);
    ASSERT_EQ(plugin->channels.size(), 3u);
    EXPECT_EQ(host.channel("Chan0")->frequency(), 2.5);
    EXPECT_EQ(plugin->channels[0]->frequency, 10.0f);
    EXPECT_EQ(host.channel("Chan1")->frequency(), 10.0);
    EXPECT_EQ(plugin->channels[1]->frequency, 10.0f);
    EXPECT_EQ(plugin->channels[2]->frequency, 7.5f);
}

TEST(ParseFloatTolerant, EitherSeparator) {
    platform::setDecimalSeparator('.');
    EXPECT_EQ(tolvex::config::parseFloatTolerant("2.5"), 2.5);
    EXPECT_EQ(tolvex::config::parseFloatTolerant("2,5"), 2.5);
    EXPECT_EQ(tolvex::config::parseFloatTolerant("1,5,5"), 10.0);
    EXPECT_EQ(tolvex::config::parseFloatTolerant(""), 10.0);
    EXPECT_EQ(tolvex::config::parseFloatTolerant("5"), 5.0);
    platform::setDecimalSeparator(0);
}

TEST_F(Loading, KindNameInAnotherCodePageGivesALevel) {
    const std::string file = path("utf8.res");
    write(file, "[common]\nCount=1\n[Chan0]\nName=U\nFormula=Синус\n[Chan0formula]\nLevel=3\n");
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    ASSERT_EQ(plugin->channels.size(), 1u);
    auto* level = dynamic_cast<tolvex::LevelSignal*>(plugin->channels[0]->signal.get());
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(level->Level, 3.0f);
}

// What cannot be a configuration loads nothing and says so, in a box and in
// the host's log; the file stays as it was, also when the window closes.
TEST_F(Loading, AFileThatCannotBeReadIsToldAndLeftAsItWas) {
    const std::string folder = path("folder.res");
    std::filesystem::create_directory(folder);
    const std::string fifo = path("pipe.res");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string file;
        std::optional<std::string> bytes; // nothing: made above, or missing
        std::string reason;
    };
    const std::vector<Case> cases = {
        {path("missing.res"), std::nullopt, "файл не найден"_w},
        {folder, std::nullopt, "это папка, а не файл"_w},
        {fifo, std::nullopt, "это не обычный файл"_w},
        {path("empty.res"), "", "файл пуст"_w},
        {path("blank.res"), " \r\n\t\n", "файл пуст"_w},
        {path("binary.res"),
         std::string("\x7F"
                     "ELF\x02\x01\x01\0\0\0[common]\nCount=1\n",
                     27),
         "это не INI-файл: строка 1 содержит нулевой байт (двоичный файл)"_w},
        {path("text.res"), "Count=1\nName=A\n",
         "это не INI-файл: строка 1 стоит перед первым [разделом]"_w},
        {path("bom.res"), "\xEF\xBB\xBF[common]\r\nCount=1\r\n",
         "это не INI-файл: файл начинается с метки порядка байтов UTF-8"_w},
        {path("cut.res"), "[common]\r\nCount=2\r\n[Chan0]\r\nFs=10\r\nNa",
         "это не INI-файл: строка 5, последняя, оборвана: файл обрезан"_w},
        {path("other.res"), "[window]\nx=1\n", "в разделе [common] нет ключа Count"_w},
        {path("word.res"), "[common]\nCount=many\n", "Count=many не целое число"_w},
        {path("minus.res"), "[common]\nCount=-1\n",
         "Count=-1 вне допустимого диапазона (от 0 до 2147483647)"_w},
        {path("over.res"), "[common]\nCount=2147483648\n",
         "Count=2147483648 вне допустимого диапазона (от 0 до 2147483647)"_w},
        {path("hex.res"), "[common]\nCount=0xFFFFFFFF\n",
         "Count=0xFFFFFFFF вне допустимого диапазона (от 0 до 2147483647)"_w},
    };
    tolvex::TMainFrm& frm = *tolvex::mainForm(*plugin);
    for (const Case& c : cases) {
        if (c.bytes)
            write(c.file, *c.bytes);
        boxes.clear();
        const std::size_t before = tolvexMessages(host).size();
        frm.currentFile = c.file;
        frm.LoadConfiguration(c.file);
        const std::string told =
            std::string("Конфигурация не загружена: "_w) + c.file + "\n" + c.reason;
        EXPECT_TRUE(plugin->channels.empty()) << c.file;
        ASSERT_EQ(boxes.size(), 1u) << c.file;
        EXPECT_EQ(boxes[0].text, told);
        EXPECT_EQ(boxes[0].caption, "Error!");
        const auto logged = tolvexMessages(host);
        ASSERT_EQ(logged.size(), before + 1) << c.file;
        EXPECT_EQ(logged.back().text, platform::cp1251ToUtf16(told));
        EXPECT_EQ(logged.back().kind, 7);
        EXPECT_EQ(tolvex::config::readCurrentFile(), c.file); // as for any load

        frm.FormClose(); // nothing loaded: nothing is saved over it
        EXPECT_EQ(boxes.size(), 1u) << c.file;
        if (c.bytes) {
            EXPECT_EQ(read(c.file), *c.bytes) << c.file;
        } else if (c.file != folder && c.file != fifo) {
            EXPECT_FALSE(std::filesystem::exists(c.file));
        }
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));

    // A channel added after the refusal is saved at close: the user's own
    // work; into a file that is no INI text it is refused, and the file stays.
    const std::string cut = path("cut.res");
    frm.currentFile = cut;
    frm.LoadConfiguration(cut);
    addChannel("New", 10.0f);
    boxes.clear();
    frm.FormClose();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(
        boxes[0].text.rfind("Unable to write to " + cut + "\nit is not an INI text: line 5", 0), 0u)
        << boxes[0].text;
    EXPECT_EQ(read(cut), *cases[8].bytes);
    const std::string missing = path("missing.res");
    frm.currentFile = missing;
    frm.FormClose();
    EXPECT_NE(read(missing).find("Name=New"), std::string::npos);
}

// An empty name is no configuration chosen yet: nothing to load, nothing told.
TEST_F(Loading, NoFileNamedLoadsNothingAndTellsNothing) {
    tolvex::mainForm(*plugin)->LoadConfiguration("");
    EXPECT_TRUE(plugin->channels.empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(tolvexMessages(host).empty());
}

// A settings file that is not an INI text is never written to: a load and a
// save each say so, and the configurations themselves load and save.
TEST_F(Loading, ASettingsFileThatIsNoIniTextIsToldAndNeverAppendedTo) {
    const std::string settings = path("Tolvex.ini");
    const std::string garbage("\x89PNG\r\n\x1A\n\0\0\0\rIHDR\r", 17);
    write(settings, garbage);
    const std::string file = path("good.res");
    write(file, "[common]\nCount=1\n[Chan0]\nName=A\n");
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    ASSERT_EQ(plugin->channels.size(), 1u);
    const std::string told = "Unable to write to " + settings +
                             "\nit is not an INI text: line 1 comes before any [section]";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, told);
    const auto logged = tolvexMessages(host);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].text, platform::cp1251ToUtf16(told));
    EXPECT_EQ(logged[0].kind, 7);
    EXPECT_EQ(read(settings), garbage);

    boxes.clear();
    const std::string saved = path("saved.res");
    tolvex::mainForm(*plugin)->SaveConfiguration(saved);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, told);
    EXPECT_EQ(read(settings), garbage);
    EXPECT_NE(read(saved).find("Name=A"), std::string::npos);
}

TEST_F(Loading, RefusedLockShowsItsMessageAndReadsNothing) {
    const std::string file = path("r.res");
    write(file, "[common]\nCount=1\n[Chan0]\nName=A\n");
    host.refuseLock(true);
    host.clearCalls();
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    EXPECT_TRUE(plugin->channels.empty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Конфигурация не загружена!"_w);
    EXPECT_EQ(boxes[0].caption, "Error!");
    EXPECT_EQ(host.callOps(), (std::vector<std::string>{"lockchanges"}));
    EXPECT_EQ(gView->caption(), "MainFrm");
}

TEST_F(Loading, ChannelsAlreadyInTheListKeepTheirSignals) {
    auto level = std::make_unique<tolvex::LevelSignal>();
    level->Level = 9.0f;
    addChannel("Old", 10.0f, std::move(level));
    const std::string file = path("add.res");
    write(file, "[common]\nCount=1\n[Chan0]\nName=New\nFs=5\n");
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    ASSERT_EQ(plugin->channels.size(), 2u);
    EXPECT_EQ(plugin->channels[0]->name, "Old");
    EXPECT_EQ(dynamic_cast<tolvex::LevelSignal&>(*plugin->channels[0]->signal).Level, 9.0f);
    EXPECT_EQ(plugin->channels[1]->name, "New");
    EXPECT_EQ(plugin->channels[1]->frequency, 5.0f);
}

TEST_F(Loading, HostileCountsAreBoundedAndReportedOnce) {
    const std::string file = path("count.res");
    host.options().recordCalls = false;
    write(file, "[common]\nCount=2000000000\n");
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    EXPECT_EQ(plugin->channels.size(),
              static_cast<std::size_t>(tolvex::config::kMaxDefaultedChannels));
    ASSERT_EQ(boxes.size(), 1u);
    while (!plugin->channels.empty())
        tolvex::DeleteChannel(0);

    // Seven sums claiming 99999 parts each, none stored: every channel loads,
    // the parts share one budget, and one message tells what was cut.
    boxes.clear();
    std::string text = "[common]\nCount=7\n";
    for (int i = 0; i < 7; ++i)
        text += "[Chan" + std::to_string(i) + "]\nFormula=" + "Сумма"_w + "\n[Chan" +
                std::to_string(i) + "formula]\nPartsCount=99999\n";
    write(file, text);
    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    ASSERT_EQ(plugin->channels.size(), 7u);
    std::size_t parts = 0;
    for (const auto& channel : plugin->channels)
        parts += dynamic_cast<tolvex::CompositeSignal&>(*channel->signal).parts.size();
    EXPECT_EQ(parts, tolvex::LoadBounds::kMaxDefaulted);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Error!");
    EXPECT_NE(boxes[0].text.find("Chan6formula"), std::string::npos);
}

// A file the module wrote loads whole, however many channels and parts it
// holds; only nesting beyond the bound is cut, and the user is told.
TEST_F(Loading, WhatTheModuleSavedLoadsWholeBeyondTheOldBounds) {
    host.options().recordCalls = false;
    for (int i = 0; i < 4100; ++i) {
        std::unique_ptr<tolvex::Signal> signal;
        if (i < 7) { // 70007 signals in all
            auto sum = std::make_unique<tolvex::CompositeSignal>();
            sum->parts.clear();
            for (int k = 0; k < 10001; ++k)
                sum->parts.push_back(std::make_unique<tolvex::LevelSignal>());
            signal = std::move(sum);
        } else if (i == 7) { // 70 deep
            auto deep = std::make_unique<tolvex::CompositeSignal>();
            for (int d = 0; d < 69; ++d) {
                auto outer = std::make_unique<tolvex::CompositeSignal>();
                outer->parts.clear();
                outer->parts.push_back(std::move(deep));
                deep = std::move(outer);
            }
            signal = std::move(deep);
        }
        addChannel("C" + std::to_string(i), 10.0f, std::move(signal));
    }
    const std::string file = path("big.res");
    tolvex::mainForm(*plugin)->SaveConfiguration(file);
    ASSERT_TRUE(boxes.empty());
    while (!plugin->channels.empty())
        tolvex::DeleteChannel(0);

    tolvex::mainForm(*plugin)->LoadConfiguration(file);
    ASSERT_EQ(plugin->channels.size(), 4100u);
    EXPECT_EQ(plugin->channels[4099]->name, "C4099");
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(dynamic_cast<tolvex::CompositeSignal&>(*plugin->channels[i]->signal).parts.size(),
                  10001u);
    const tolvex::Signal* level = plugin->channels[7]->signal.get();
    int depth = 0;
    while (const auto* sum = dynamic_cast<const tolvex::CompositeSignal*>(level)) {
        ++depth;
        level = sum->parts.empty() ? nullptr : sum->parts[0].get();
    }
    EXPECT_EQ(depth, tolvex::LoadBounds::kMaxDepth + 1); // the last one without its parts
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("Chan7formula"), std::string::npos);
}

TEST_F(TolvexTest, FuzzFindingsLoadWithoutHarm) {
    namespace fs = std::filesystem;
    if (!fs::exists(FUZZ_CORPUS_DIR))
        GTEST_SKIP() << "no findings kept";
    host.options().recordCalls = false;
    for (const auto& entry : fs::directory_iterator(FUZZ_CORPUS_DIR)) {
        tolvex::mainForm(*plugin)->LoadConfiguration(entry.path().string());
        EXPECT_LE(plugin->channels.size(),
                  static_cast<std::size_t>(tolvex::config::kMaxDefaultedChannels) + 64);
        while (!plugin->channels.empty())
            tolvex::DeleteChannel(0);
    }
}
