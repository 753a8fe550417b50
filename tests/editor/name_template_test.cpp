// Channel names from templates: the formatter must give what printf gives for
// the one-int conversions it takes, never read a second argument, and never
// grow a name past 299 characters.
#include "NameTemplate.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

using tolvex::formatChannelName;
using tolvex::kTemplateNameMax;

namespace {

std::string viaPrintf(const std::string& pattern, int value) {
    char buffer[2048];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buffer, sizeof buffer, pattern.c_str(), value);
#pragma GCC diagnostic pop
    return std::string(buffer).substr(0, kTemplateNameMax);
}

} // namespace

TEST(NameTemplate, ExamplesOfTheTemplateDialog) {
    EXPECT_EQ(formatChannelName("Channel%d", 0), "Channel0");
    EXPECT_EQ(formatChannelName("Ch%d", 3), "Ch3");
    EXPECT_EQ(formatChannelName("Ch%03d", 7), "Ch007");
    EXPECT_EQ(formatChannelName("Ch%03d", 8), "Ch008");
    EXPECT_EQ(formatChannelName("%%d", 5), "%d");
    EXPECT_EQ(formatChannelName("", 5), "");
    EXPECT_EQ(formatChannelName("Fixed", 5), "Fixed");
    EXPECT_EQ(formatChannelName("100%% %d%%", 42), "100% 42%");
}

TEST(NameTemplate, IntegerConversionsMatchPrintf) {
    const std::vector<std::string> flags = {"",   "-",  "+",  " ",  "#", "0",
                                            "-0", "+0", " -", "#0", "+ "};
    const std::vector<std::string> widths = {"", "1", "5", "12"};
    const std::vector<std::string> precisions = {"", ".", ".0", ".3", ".10"};
    // %l would make printf read a 64-bit long here; it is checked apart below.
    const std::vector<std::string> lengths = {"", "h", "hh"};
    const std::vector<char> conversions = {'d', 'i', 'u', 'x', 'X', 'o'};
    const std::vector<int> values = {0,     1,     -1,        7,       255,    -300,
                                     65535, 65536, 123456789, INT_MIN, INT_MAX};
    int checked = 0;
    for (const auto& f : flags)
        for (const auto& w : widths)
            for (const auto& p : precisions)
                for (const auto& l : lengths)
                    for (char c : conversions) {
                        std::string pattern = "<%" + f + w + p + l + c + ">";
                        for (int v : values) {
                            auto mine = formatChannelName(pattern, v);
                            ASSERT_TRUE(mine.has_value()) << pattern;
                            ASSERT_EQ(*mine, viaPrintf(pattern, v)) << pattern << " " << v;
                            ++checked;
                        }
                    }
    EXPECT_GT(checked, 10000);
    // A long is the int's own width on the system the names come from.
    EXPECT_EQ(formatChannelName("%ld", -5), "-5");
    EXPECT_EQ(formatChannelName("%lx", -1), "ffffffff");
    EXPECT_EQ(formatChannelName("%08lu", 42), "00000042");
}

TEST(NameTemplate, CharacterConversion) {
    EXPECT_EQ(formatChannelName("[%c]", 'A'), "[A]");
    EXPECT_EQ(formatChannelName("[%3c]", 'B'), "[  B]");
    EXPECT_EQ(formatChannelName("[%-3c]", 'C'), "[C  ]");
    // The byte 0 ends the name as the terminating zero would.
    EXPECT_EQ(formatChannelName("ab%ccd", 0), "ab");
    EXPECT_EQ(formatChannelName("ab%ccd", 256 + 'x'), "abxcd");
}

TEST(NameTemplate, ConversionsThatNeedAnotherArgumentAreRefused) {
    for (const char* pattern : {"%s",   "Ch%s", "%f",  "%e",  "%g",  "%p",   "%n",    "%lld",
                                "%jd",  "%zd",  "%Lf", "%lc", "%ls", "%d%d", "%d-%i", "%*d",
                                "%.*d", "%1$d", "%",   "Ch%", "%-",  "%05",  "%q",    "%5%"}) {
        EXPECT_FALSE(formatChannelName(pattern, 1).has_value()) << pattern;
        // Whether a template is accepted never depends on the index.
        EXPECT_FALSE(formatChannelName(pattern, 0).has_value()) << pattern;
    }
}

TEST(NameTemplate, NamesAreCutAt299Characters) {
    std::string longText(400, 'a');
    EXPECT_EQ(formatChannelName(longText, 1)->size(), kTemplateNameMax);
    auto padded = formatChannelName("%400d", 12);
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->size(), kTemplateNameMax);
    EXPECT_EQ(*padded, std::string(kTemplateNameMax, ' '));
    // A huge width or precision is neither read into an overflow nor spent.
    auto huge = formatChannelName("x%2147483647999d", 5);
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->size(), kTemplateNameMax);
    auto zeros = formatChannelName("%.99999999u", 5);
    ASSERT_TRUE(zeros);
    EXPECT_EQ(*zeros, std::string(kTemplateNameMax, '0'));
    // The number at the end of a cut name is cut too, not moved.
    std::string prefix(297, 'p');
    EXPECT_EQ(formatChannelName(prefix + "%d", 12345), prefix + "12");
}
