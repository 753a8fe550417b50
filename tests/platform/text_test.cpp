#include "platform/text.h"

#include <gtest/gtest.h>

using namespace platform::literals;

TEST(Cp1251, LiteralBecomesCodePageBytesAtCompileTime) {
    constexpr const char* name = "Эмулятор каналов"_w;
    EXPECT_STREQ(name, "\xDD\xEC\xF3\xEB\xFF\xF2\xEE\xF0 \xEA\xE0\xED\xE0\xEB\xEE\xE2");
    EXPECT_STREQ("Ёё №"_w, "\xA8\xB8 \xB9");
    EXPECT_STREQ("plain"_w, "plain");
}

TEST(Cp1251, EveryByteRoundTripsThroughUtf16AndUtf8) {
    std::string all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98) // the one byte the code page leaves undefined
            all += static_cast<char>(b);
    EXPECT_EQ(platform::utf16ToCp1251(platform::cp1251ToUtf16(all)), all);
    EXPECT_EQ(platform::utf8ToCp1251(platform::cp1251ToUtf8(all)), all);
    EXPECT_EQ(platform::cp1251ToUtf16("\x98"), u"\uFFFD");
}

TEST(Cp1251, TextOutsideTheCodePageBecomesQuestionMarks) {
    EXPECT_EQ(platform::utf16ToCp1251(u"a\u4E2Db\U0001F600c"), "a?b?c");
    EXPECT_EQ(platform::utf8ToCp1251("a\xE4\xB8\xAD"
                                     "b"),
              "a?b");
    EXPECT_EQ(platform::utf8ToCp1251("\xD0"), "?");             // cut sequence
    EXPECT_EQ(platform::utf8ToCp1251("\xFF\xD0\x90"), "?\xC0"); // stray byte, then А
}

TEST(Cp1251, CaseInsensitiveComparisonFoldsLatinAndCyrillic) {
    EXPECT_TRUE(platform::equalsNoCase1251("Temp", "TEMP"));
    EXPECT_TRUE(platform::equalsNoCase1251("Канал"_w, "КАНАЛ"_w));
    EXPECT_TRUE(platform::equalsNoCase1251("ёж"_w, "ЁЖ"_w));
    EXPECT_FALSE(platform::equalsNoCase1251("temp", "temp2"));
    EXPECT_LT(platform::compareTextNoCase1251("abc", "ABD"), 0);
    EXPECT_EQ(platform::toUpper1251('\xE0'), '\xC0');
    EXPECT_EQ(platform::toUpper1251('\xB8'), '\xA8');
}
