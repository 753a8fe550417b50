#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/text.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace platform::literals;
using platform::readProfileString;
using platform::TIniFile;
using platform::writeProfileString;

namespace {

class Ini : public ::testing::Test {
protected:
    void SetUp() override {
        temp_ = std::make_unique<TempDir>("ini_test_");
        ASSERT_FALSE(temp_->path().empty());
        dir_ = temp_->path();
        file_ = dir_ + "/conf.res";
        platform::setDecimalSeparator(',');
    }
    void TearDown() override {
        platform::setDecimalSeparator(0);
        temp_.reset();
    }

    void put(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }
    std::string content() const {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    int filesInDir() const { return temp_->fileCount(); }

    std::unique_ptr<TempDir> temp_;
    std::string dir_;
    std::string file_;
};

} // namespace

TEST_F(Ini, MissingFileReadsEmptyAndFirstWriteCreatesIt) {
    TIniFile ini(file_);
    EXPECT_EQ(ini.ReadString("common", "Count", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("common", "Count", 7), 7);
    EXPECT_EQ(ini.ReadFloat("common", "Fs", 10.0), 10.0);
    EXPECT_EQ(readProfileString(dir_ + "/no/such/dir.ini", "a", "b", "x"), "x");

    ini.WriteInteger("common", "Count", 2);
    ini.WriteFloat("Chan0", "Fs", 1000);
    ini.WriteString("Chan0", "Name", "Chan1");
    ini.WriteString("Chan0", "Formula", "Синус"_w);
    ini.WriteFloat("Chan0formula", "MinLevel", -100);
    ini.WriteFloat("Chan0formula", "freq", static_cast<double>(0.1f));
    EXPECT_EQ(content(), std::string("[common]\nCount=2\n[Chan0]\nFs=1000\nName=Chan1\nFormula=") +
                             "Синус"_w +
                             "\n[Chan0formula]\nMinLevel=-100\nfreq=0,100000001490116\n");
    EXPECT_EQ(ini.ReadString("Chan0", "Formula", ""), "Синус"_w);
    EXPECT_EQ(static_cast<float>(ini.ReadFloat("Chan0formula", "freq", 0)), 0.1f);
    EXPECT_EQ(filesInDir(), 1); // no temporary file left behind
}

TEST_F(Ini, SectionsAndKeysMatchWithoutRegardToCaseIncludingCyrillic) {
    put(std::string("[Common]\nCOUNT = 3 \n[") + "Канал"_w + "]\n" + "Имя"_w + "=x\n");
    TIniFile ini(file_);
    EXPECT_EQ(ini.ReadInteger("common", "count", 0), 3);
    EXPECT_EQ(ini.ReadString("кАНАЛ"_w, "ИМЯ"_w, ""), "x");
    ini.WriteInteger("COMMON", "count", 4);
    ini.WriteString("КАНАЛ"_w, "имя"_w, "y");
    // The existing spellings stay; no second section or key appears.
    EXPECT_EQ(content(),
              std::string("[Common]\nCOUNT=4\n[") + "Канал"_w + "]\n" + "Имя"_w + "=y\n");
}

TEST_F(Ini, RewriteKeepsEveryOtherLineAndPutsNewKeysAtTheEndOfTheirSection) {
    const std::string before = "; configuration\r\n"
                               "[common]\r\n"
                               "Count=5\r\n"
                               "# not a key\r\n"
                               "\r\n"
                               "[Chan0]\r\n"
                               "Name=a\r\n"
                               "junk line without equals\r\n"
                               "\r\n"
                               "[Chan1]\r\n"
                               "Name=b";
    put(before);
    TIniFile ini(file_);
    ini.WriteInteger("common", "Count", 3);
    ini.WriteString("common", "Extra", "1");
    ini.WriteString("Chan1", "Fs", "10");
    ini.WriteString("New", "Key", "v");
    EXPECT_EQ(content(), "; configuration\r\n"
                         "[common]\r\n"
                         "Count=3\r\n"
                         "# not a key\r\n"
                         "Extra=1\r\n"
                         "\r\n"
                         "[Chan0]\r\n"
                         "Name=a\r\n"
                         "junk line without equals\r\n"
                         "\r\n"
                         "[Chan1]\r\n"
                         "Name=b\r\n"
                         "Fs=10\r\n"
                         "[New]\r\n"
                         "Key=v\r\n");
}

TEST_F(Ini, FirstSectionAndFirstKeyOfANameWin) {
    put("[a]\nk=1\nk=2\n[A]\nk=3\nj=4\n");
    EXPECT_EQ(readProfileString(file_, "a", "k", ""), "1");
    EXPECT_EQ(readProfileString(file_, "a", "j", "none"), "none");
}

TEST_F(Ini, ValuesReadUpTo2047CharactersAndRoundTripAsWritten) {
    TIniFile ini(file_);
    const std::string longValue(3000, 'z');
    ini.WriteString("s", "long", longValue);
    EXPECT_EQ(ini.ReadString("s", "long", ""), std::string(2047, 'z'));
    const std::string tricky[] = {
        "  padded  ", "\"quoted\"", "'q'", "a=b=c",
        "[x]",        ";semi",      "",    std::string("\xFF\x98\x01", 3)};
    for (const std::string& v : tricky) {
        ini.WriteString("s", "k", v);
        EXPECT_EQ(ini.ReadString("s", "k", "dflt"), v) << v;
    }
}

TEST_F(Ini, WritesThatCannotBeReadBackAreRefusedAndChangeNothing) {
    put("[s]\nk=1\n");
    TIniFile ini(file_);
    EXPECT_FALSE(writeProfileString(file_, "s", "k", "a\n[common]\nCount=99"));
    EXPECT_FALSE(writeProfileString(file_, "s", "k", "a\rb"));
    EXPECT_FALSE(writeProfileString(file_, "s]", "k", "v"));
    EXPECT_FALSE(writeProfileString(file_, "", "k", "v"));
    EXPECT_FALSE(writeProfileString(file_, "s", "a=b", "v"));
    EXPECT_FALSE(writeProfileString(file_, "s", "", "v"));
    EXPECT_FALSE(writeProfileString(file_, "s", ";k", "v"));
    EXPECT_EQ(content(), "[s]\nk=1\n");
    try {
        ini.WriteString("s", "k", "x\ny");
        FAIL() << "no error raised";
    } catch (const platform::IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + file_ +
                      "\na section, key or value does not fit on one INI line");
    }
}

#ifndef _WIN32
TEST_F(Ini, AFailedWriteKeepsTheOldFileAndRaisesTheError) {
    put("[s]\nk=old\n");
    TIniFile ini(file_);
    // A full disk: the file size limit stops the temporary file's write.
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = writeProfileString(file_, "s", "k", std::string(1000, 'n'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(content(), "[s]\nk=old\n");
    EXPECT_EQ(filesInDir(), 1);

    // Neither the folder nor the file can be written (root may write anyway).
    ASSERT_EQ(::chmod(file_.c_str(), 0400), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
    if (::geteuid() != 0) {
        EXPECT_THROW(ini.WriteString("s", "k", "new"), platform::IniWriteError);
        EXPECT_EQ(ini.ReadString("s", "k", ""), "old");
    }
    ::chmod(dir_.c_str(), 0700);
    ::chmod(file_.c_str(), 0600);
    // A file that exists but cannot be read is never replaced.
    ASSERT_EQ(::mkdir((dir_ + "/sub.ini").c_str(), 0700), 0);
    EXPECT_FALSE(writeProfileString(dir_ + "/sub.ini", "s", "k", "v"));
    ::rmdir((dir_ + "/sub.ini").c_str());
}

TEST_F(Ini, WritingKeepsTheFilesPermissionsAndSymbolicLinks) {
    put("[s]\nk=1\n");
    ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
    const std::string link = dir_ + "/link.ini";
    ASSERT_EQ(::symlink(file_.c_str(), link.c_str()), 0);
    ASSERT_TRUE(writeProfileString(link, "s", "k", "2"));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(content(), "[s]\nk=2\n");
}
#endif

TEST_F(Ini, AWriteReplacesTheFileAndLeavesNoTemporaryFile) {
    // Windows' rename does not replace: each write must still land.
    put("[s]\nk=1\n");
    for (int i = 2; i <= 4; ++i)
        ASSERT_TRUE(writeProfileString(file_, "s", "k", std::to_string(i)));
    EXPECT_EQ(content(), "[s]\nk=4\n");
    EXPECT_EQ(filesInDir(), 1);
    // A folder in the file's place is never replaced.
    std::filesystem::create_directory(dir_ + "/sub.ini");
    EXPECT_FALSE(writeProfileString(dir_ + "/sub.ini", "s", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/sub.ini"));
}

TEST_F(Ini, IntegersAndFloatsFallBackToTheirDefaults) {
    put("[n]\ndec=-42\nhex=0x1F\nHEX=0XfF\nneg1=0xFFFFFFFF\nbig=2147483648\nmin=-2147483648\n"
        "word=12a\nempty=\nfloat=2,5\npoint=2.5\nsp=  7 \n");
    TIniFile ini(file_);
    EXPECT_EQ(ini.ReadInteger("n", "dec", 0), -42);
    EXPECT_EQ(ini.ReadInteger("n", "hex", 0), 31);
    EXPECT_EQ(ini.ReadInteger("n", "neg1", 0), -1);
    EXPECT_EQ(ini.ReadInteger("n", "big", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "min", 5), INT32_MIN);
    EXPECT_EQ(ini.ReadInteger("n", "word", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "empty", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "float", 5), 5);
    EXPECT_EQ(ini.ReadInteger("n", "sp", 5), 7);
    EXPECT_EQ(ini.ReadFloat("n", "float", 1), 2.5);
    EXPECT_EQ(ini.ReadFloat("n", "point", 1), 1);
    EXPECT_EQ(ini.ReadFloat("n", "empty", 1), 1);
    EXPECT_EQ(ini.ReadFloat("n", "word", 1), 1);
}

TEST_F(Ini, OddBytesReadSafely) {
    using namespace std::string_literals;
    std::string bytes = "[a\nk=1\n[b]\r\rk=2\r\n\0x=3\n[c]]\nk\n=5\n[]\nk=6\n   [ d ]  \n k = 7 "s;
    bytes += "\n[e]\nk=" + std::string(100000, 'q');
    put(bytes);
    EXPECT_EQ(readProfileString(file_, "a", "k", "none"), "none");
    EXPECT_EQ(readProfileString(file_, "b", "k", ""), "2");
    EXPECT_EQ(readProfileString(file_, "c]", "k", "none"), "none");
    EXPECT_EQ(readProfileString(file_, "d", "k", ""), "7");
    EXPECT_EQ(readProfileString(file_, std::string(1, '\0') + "x", "k", "none"), "none");
    EXPECT_EQ(readProfileString(file_, "e", "k", "").size(), 2047u);
    // Not an INI text (it starts before any section and holds a NUL): never
    // written to.
    std::string why;
    EXPECT_FALSE(writeProfileString(file_, "d", "new", "8", &why));
    EXPECT_EQ(why, "it is not an INI text: line 1 comes before any [section]");
    EXPECT_EQ(content(), bytes);
}

// What is no INI text is told by its first fault; odd lines inside sections
// are passed over as reads pass over them.
TEST(IniText, TheFirstFaultIsToldByItsLine) {
    using platform::IniTextCheck;
    using namespace std::string_literals;
    auto fault = [](std::string_view text) {
        const IniTextCheck c = platform::checkIniText(text);
        return std::make_pair(c.fault, c.line);
    };
    using F = IniTextCheck::Fault;
    EXPECT_EQ(fault(""), std::make_pair(F::None, std::size_t{0}));
    EXPECT_EQ(fault("; note\r\n# other\r\n\r\n[a]\r\njunk\r\nk=v"),
              std::make_pair(F::None, std::size_t{0}));
    EXPECT_EQ(fault("[a]\nk=v\n[b"), std::make_pair(F::CutShort, std::size_t{3}));
    EXPECT_EQ(fault("[a]\rk=v\rjunk"), std::make_pair(F::CutShort, std::size_t{3}));
    EXPECT_EQ(fault("[a]\nk=v\njunk\n"), std::make_pair(F::None, std::size_t{0}));
    EXPECT_EQ(fault("\n k=v\n[a]\n"), std::make_pair(F::BeforeSection, std::size_t{2}));
    EXPECT_EQ(fault("[a]\nk=\0v\n"s), std::make_pair(F::NulByte, std::size_t{2}));
    EXPECT_EQ(fault("\xEF\xBB\xBF[a]\n"), std::make_pair(F::ByteOrderMark, std::size_t{1}));
}

TEST(IniText, IntegersTellANumberOutOfRangeFromNoNumber) {
    using platform::IntegerRead;
    auto read = [](std::string_view text) {
        std::int32_t value = 12345;
        const IntegerRead r = platform::parseProfileInteger(text, value);
        return std::make_pair(r, value);
    };
    EXPECT_EQ(read("2147483647"), std::make_pair(IntegerRead::Ok, INT32_MAX));
    EXPECT_EQ(read("-2147483648"), std::make_pair(IntegerRead::Ok, INT32_MIN));
    EXPECT_EQ(read("0xFFFFFFFF"), std::make_pair(IntegerRead::Ok, -1));
    EXPECT_EQ(read("2147483648").first, IntegerRead::OutOfRange);
    EXPECT_EQ(read("-2147483649").first, IntegerRead::OutOfRange);
    EXPECT_EQ(read("0x100000000").first, IntegerRead::OutOfRange);
    EXPECT_EQ(read("123456789012345678901234567890").first, IntegerRead::OutOfRange);
    EXPECT_EQ(read("12a"), std::make_pair(IntegerRead::NoNumber, 12345));
    EXPECT_EQ(read("").first, IntegerRead::NoNumber);
    EXPECT_EQ(read("--1").first, IntegerRead::NoNumber);
    EXPECT_EQ(read("0x").first, IntegerRead::NoNumber);
}

TEST_F(Ini, AnUpdateReachesTheFileOnceWithAllItsKeysOrNotAtAll) {
    put("; kept\n[common]\nCount=5\nOld=1\n[Chan4]\nName=e\n");
    TIniFile ini(file_);
    ini.BeginUpdate();
    ini.WriteInteger("Common", "count", 2);
    for (int n = 0; n < 2; ++n) {
        ini.WriteString("Chan" + std::to_string(n), "Name", "c" + std::to_string(n));
        ini.WriteFloat("Chan" + std::to_string(n), "Fs", 2.5);
    }
    EXPECT_EQ(content(), "; kept\n[common]\nCount=5\nOld=1\n[Chan4]\nName=e\n");
    EXPECT_EQ(ini.ReadInteger("common", "Count", 0), 2); // reads see the update
    ini.UpdateFile();
    EXPECT_EQ(content(), "; kept\n[common]\nCount=2\nOld=1\n[Chan4]\nName=e\n"
                         "[Chan0]\nName=c0\nFs=2,5\n[Chan1]\nName=c1\nFs=2,5\n");
    EXPECT_EQ(filesInDir(), 1);
}

#ifndef _WIN32
TEST_F(Ini, AnUpdateThatCannotBeWrittenLeavesTheOldFileWhole) {
    put("[Chan0]\nName=c0\n");
    TIniFile ini(file_);
    // A full disk part-way through: the error, and the old file whole.
    const std::string before = content();
    ini.BeginUpdate();
    for (int n = 0; n < 100; ++n)
        ini.WriteString("Chan" + std::to_string(n), "Name", std::string(50, 'x'));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool raised = false;
    try {
        ini.UpdateFile();
    } catch (const platform::IniWriteError& e) {
        raised =
            std::string(e.what()) == "Unable to write to " + file_ + "\n" + std::strerror(EFBIG);
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(raised);
    EXPECT_EQ(content(), before);
    EXPECT_EQ(filesInDir(), 1);
    EXPECT_EQ(ini.ReadString("Chan0", "Name", ""), "c0"); // the dropped update is gone
}

#endif
