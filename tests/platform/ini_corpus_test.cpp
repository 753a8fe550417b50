// Replays every input kept in the INI fuzz target's corpus.
#include "IniFuzzCheck.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

TEST(IniFuzzCorpus, EveryKeptInputPasses) {
    const std::filesystem::path corpus = INI_FUZZ_CORPUS;
    const TempDir dir("ini_corpus_");
    ASSERT_FALSE(dir.path().empty());
    const std::string file = dir.path() + "/input.ini";
    int replayed = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string name = entry.path().filename().string();
        if (name.front() == '.')
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(
            inifuzz::check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), file),
            "")
            << name;
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}
