// Files written whole: every failed step and every kill leaves the old file
// or the new one, and what killed writers leave behind goes at the next save.
#include "platform/inifile.h"
#include "platform/wholefile.h"

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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <windows.h>
#endif

using platform::testing::WriteStep;

namespace {

class WholeFile : public ::testing::Test {
protected:
    void SetUp() override {
        temp_ = std::make_unique<TempDir>("wholefile_test_");
        ASSERT_FALSE(temp_->path().empty());
        dir_ = temp_->path();
        file_ = dir_ + "/conf.res";
        // Several pieces of 64 KiB: a kill can fall between two of them.
        for (int i = 0; (oldText_.size() < 150000); ++i)
            oldText_ += "[Chan" + std::to_string(i) + "]\nName=old" + std::to_string(i) + "\n";
        for (int i = 0; (newText_.size() < 200000); ++i)
            newText_ += "[Chan" + std::to_string(i) + "]\nName=new" + std::to_string(i) + "\n";
    }
    void TearDown() override {
        platform::testing::setWriteFault(nullptr);
        temp_.reset();
    }

    void put(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }
    std::string content() const {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    std::unique_ptr<TempDir> temp_;
    std::string dir_;
    std::string file_;
    std::string oldText_;
    std::string newText_;
};

// Fails the `nth` call of `step` (from 1) with `code`.
platform::testing::WriteFault failAt(WriteStep step, int nth, int code) {
    auto calls = std::make_shared<int>(0);
    return [=](WriteStep s) { return s == step && ++*calls == nth ? code : 0; };
}

#ifdef _WIN32
constexpr int kFull = ERROR_DISK_FULL;
constexpr int kIo = ERROR_WRITE_FAULT;
#else
constexpr int kFull = ENOSPC;
constexpr int kIo = EIO;
#endif

} // namespace

TEST_F(WholeFile, EveryFailedStepKeepsTheOldFileAndTellsTheSystemsReason) {
    struct Case {
        WriteStep step;
        int nth;
        int code;
    };
    const Case cases[] = {{WriteStep::Create, 1, kFull}, {WriteStep::Write, 1, kFull},
                          {WriteStep::Write, 3, kFull},  {WriteStep::Flush, 1, kIo},
                          {WriteStep::Close, 1, kIo},    {WriteStep::Replace, 1, kIo}};
#ifndef _WIN32
    const std::string full = std::strerror(ENOSPC);
    const std::string io = std::strerror(EIO);
#endif
    for (const Case& c : cases) {
        put(oldText_);
        platform::testing::setWriteFault(failAt(c.step, c.nth, c.code));
        std::string error;
        EXPECT_FALSE(platform::writeWholeFile(file_, newText_, error)) << static_cast<int>(c.step);
        EXPECT_FALSE(error.empty());
#ifndef _WIN32
        EXPECT_EQ(error, c.code == ENOSPC ? full : io);
#endif
        EXPECT_TRUE(content() == oldText_) << "step " << static_cast<int>(c.step);
        EXPECT_EQ(temp_->fileCount(), 1); // no temporary file stays
    }
    platform::testing::setWriteFault(nullptr);
    std::string error;
    EXPECT_TRUE(platform::writeWholeFile(file_, newText_, error)) << error;
    EXPECT_TRUE(content() == newText_);

    // The INI writers pass the reason on, under their own line.
    platform::testing::setWriteFault(failAt(WriteStep::Flush, 1, kIo));
    platform::TIniFile ini(file_);
    try {
        ini.WriteString("Chan0", "Name", "x");
        ADD_FAILURE() << "no error";
    } catch (const platform::IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + file_ + "\n" + e.reason());
        EXPECT_FALSE(e.reason().empty());
    }
    EXPECT_TRUE(content() == newText_);
}

TEST_F(WholeFile, ExistingFilesAndOtherKindsOfFile) {
    platform::WholeFileOptions keep;
    keep.keepExisting = true;
    keep.ownerOnly = true;
    std::string error;
    ASSERT_TRUE(platform::writeWholeFile(file_, "first\n", error, keep)) << error;
    EXPECT_FALSE(platform::writeWholeFile(file_, "second\n", error, keep));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(content(), "first\n");
    EXPECT_EQ(temp_->fileCount(), 1);
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A FIFO or a folder in the file's place is left as it is.
    const std::string fifo = dir_ + "/pipe.res";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(platform::writeWholeFile(fifo, "x", error));
    EXPECT_EQ(error, "it is not a regular file");
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
#endif
    std::filesystem::create_directory(dir_ + "/sub.res");
    EXPECT_FALSE(platform::writeWholeFile(dir_ + "/sub.res", "x", error));
    EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/sub.res"));
}

#ifndef _WIN32
TEST_F(WholeFile, AKillAtEveryStepLeavesTheOldFileOrTheNewOneAndTheNextSaveTidiesUp) {
    // The steps of one write of newText_, in order: create, 4 pieces, flush,
    // close, replace. The child is killed before each in turn, and once more
    // after the last (the write then completes).
    std::vector<std::pair<WriteStep, int>> points = {{WriteStep::Create, 1}};
    const int pieces = static_cast<int>((newText_.size() + 65535) / 65536);
    for (int i = 1; i <= pieces; ++i)
        points.emplace_back(WriteStep::Write, i);
    points.emplace_back(WriteStep::Flush, 1);
    points.emplace_back(WriteStep::Close, 1);
    points.emplace_back(WriteStep::Replace, 1);
    int olds = 0;
    int leftovers = 0;
    for (std::size_t k = 0; k <= points.size(); ++k) {
        put(oldText_);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (k < points.size()) {
                auto calls = std::make_shared<int>(0);
                const auto [step, nth] = points[k];
                platform::testing::setWriteFault([=](WriteStep s) {
                    if (s == step && ++*calls == nth)
                        ::raise(SIGKILL);
                    return 0;
                });
            }
            std::string error;
            ::_exit(platform::writeWholeFile(file_, newText_, error) ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(k < points.size(), WIFSIGNALED(status)) << k;
        const std::string now = content();
        EXPECT_TRUE(now == oldText_ || now == newText_) << "killed at point " << k;
        olds += now == oldText_;
        leftovers += temp_->fileCount() - 1;
    }
    EXPECT_EQ(olds, static_cast<int>(points.size())); // nothing is in place before the rename
    EXPECT_GT(leftovers, 0);                          // the kills left temporary files behind ...

    // ... which the next save removes, and only those: a file of a writer
    // that runs (process 1 always does) and other names stay.
    std::ofstream(platform::temporaryFileName(file_, 1, 7)) << "running";
    std::ofstream(file_ + ".tmp12x") << "other";
    std::ofstream(dir_ + "/other.res.tmp999999_1") << "another file's";
    std::string error;
    ASSERT_TRUE(platform::writeWholeFile(file_, "done\n", error)) << error;
    EXPECT_EQ(content(), "done\n");
    EXPECT_TRUE(std::filesystem::exists(platform::temporaryFileName(file_, 1, 7)));
    EXPECT_TRUE(std::filesystem::exists(file_ + ".tmp12x"));
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/other.res.tmp999999_1"));
    EXPECT_EQ(temp_->fileCount(), 4);
}

TEST_F(WholeFile, AFolderThatTakesNoNewFileRefusesTheSaveAndTheFileStaysWhole) {
    put(oldText_);
    ASSERT_EQ(::chmod(file_.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    // Root writes into any folder: the check runs as an ordinary user.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeEnds[0]);
        if (::geteuid() == 0 && ::setuid(65534) != 0)
            ::_exit(2);
        ::chmod(dir_.c_str(), 0555); // no effect when the folder is root's
        std::string error;
        const bool ok = platform::writeWholeFile(file_, newText_, error);
        (void)!::write(pipeEnds[1], error.data(), error.size());
        ::_exit(ok ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    std::string error;
    char buffer[512];
    for (ssize_t n = 0; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;)
        error.append(buffer, static_cast<std::size_t>(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::chmod(dir_.c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(error, "the folder " + dir_ + " takes no new file (" + std::strerror(EACCES) +
                         "), and the file is not rewritten in place");
    EXPECT_TRUE(content() == oldText_);
    EXPECT_EQ(temp_->fileCount(), 1);
}
#endif
