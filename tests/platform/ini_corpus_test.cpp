// Replays every input kept in the INI fuzz target's corpus.
#include "IniFuzzCheck.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

TEST(IniFuzzCorpus, EveryKeptInputPasses) {
    const std::string corpus = INI_FUZZ_CORPUS;
    DIR* d = ::opendir(corpus.c_str());
    ASSERT_NE(d, nullptr) << corpus;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/ini_corpus_XXXXXX";
    ASSERT_NE(::mkdtemp(dir.data()), nullptr);
    const std::string file = dir + "/input.ini";
    int replayed = 0;
    while (dirent* e = ::readdir(d)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream in(corpus + "/" + e->d_name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(
            inifuzz::check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), file),
            "")
            << e->d_name;
        ++replayed;
    }
    ::closedir(d);
    ::unlink(file.c_str());
    ::rmdir(dir.c_str());
    EXPECT_GT(replayed, 0);
}
