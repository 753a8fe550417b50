#include "platform/numfmt.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#ifndef _WIN32
#include <unistd.h>
#endif

#ifndef _WIN32
// Under LeakSanitizer: the C library's newlocale keeps the LOCPATH search
// list it builds (only the locale test sets LOCPATH).
extern "C" const char* __lsan_default_suppressions();
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:__argz_add_sep\n";
}
#endif

using platform::FloatToStr;
using platform::StrToFloat;

namespace {

class NumFmt : public ::testing::Test {
protected:
    void TearDown() override { platform::setDecimalSeparator(0); }
};

double widened(float f) {
    return static_cast<double>(f);
}

} // namespace

TEST_F(NumFmt, FloatToStrFixedAndScientific) {
    for (char sep : {'.', ','}) {
        platform::setDecimalSeparator(sep);
        const std::string s(1, sep);
        EXPECT_EQ(FloatToStr(10), "10");
        EXPECT_EQ(FloatToStr(-100), "-100");
        EXPECT_EQ(FloatToStr(0), "0");
        EXPECT_EQ(FloatToStr(-0.0), "0");
        EXPECT_EQ(FloatToStr(widened(0.1f)), "0" + s + "100000001490116");
        EXPECT_EQ(FloatToStr(2.5), "2" + s + "5");
        EXPECT_EQ(FloatToStr(1E-5), "1E-5");
        EXPECT_EQ(FloatToStr(1.5E20), "1" + s + "5E20");
        EXPECT_EQ(FloatToStr(-2.25E-7), "-2" + s + "25E-7");
        // The boundaries of fixed notation: 0.0001 and just below 10^15.
        EXPECT_EQ(FloatToStr(0.0001), "0" + s + "0001");
        EXPECT_EQ(FloatToStr(0.00009), "9E-5");
        EXPECT_EQ(FloatToStr(999999999999999.0), "999999999999999");
        EXPECT_EQ(FloatToStr(1E15), "1E15");
        // Rounding to 15 digits may carry into the next power of ten.
        EXPECT_EQ(FloatToStr(9999999999999999.0), "1E16");
        EXPECT_EQ(FloatToStr(123456789.125), "123456789" + s + "125");
    }
    EXPECT_EQ(FloatToStr(widened(FLT_MAX)), "3,40282346638529E38");
    EXPECT_EQ(FloatToStr(INFINITY), "INF");
    EXPECT_EQ(FloatToStr(-INFINITY), "-INF");
    EXPECT_EQ(FloatToStr(NAN), "NAN");
}

TEST_F(NumFmt, StrToFloatAcceptsTheGrammar) {
    platform::setDecimalSeparator(',');
    double v = 0;
    EXPECT_TRUE(StrToFloat("  2,5  ", v));
    EXPECT_EQ(v, 2.5);
    EXPECT_TRUE(StrToFloat("-100", v));
    EXPECT_EQ(v, -100);
    EXPECT_TRUE(StrToFloat("+7", v));
    EXPECT_EQ(v, 7);
    EXPECT_TRUE(StrToFloat("1,5E20", v));
    EXPECT_EQ(v, 1.5E20);
    EXPECT_TRUE(StrToFloat("1e-5", v));
    EXPECT_EQ(v, 1E-5);
    EXPECT_TRUE(StrToFloat("\t3E+2", v));
    EXPECT_EQ(v, 300);
    EXPECT_TRUE(StrToFloat(",5", v));
    EXPECT_EQ(v, 0.5);
    EXPECT_TRUE(StrToFloat("5,", v));
    EXPECT_EQ(v, 5);
    EXPECT_TRUE(StrToFloat("1e-400", v)); // below the doubles: zero
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(StrToFloat("0,100000001490116", v));
    EXPECT_EQ(static_cast<float>(v), 0.1f);
}

TEST_F(NumFmt, StrToFloatRejectsEverythingElseAndLeavesTheValue) {
    platform::setDecimalSeparator(',');
    const char* bad[] = {"",         "   ",  "2.5",  "1,2,3", "12abc",   "abc", "-",
                         ",",        "1e",   "1e+",  "E5",    "1 2",     "--1", "+-1",
                         "INFINITY", "NaN1", "0x10", "1e400", "1,5E2,0", "IN F"};
    for (const char* text : bad) {
        double v = 42;
        EXPECT_FALSE(StrToFloat(text, v)) << text;
        EXPECT_EQ(v, 42) << text;
    }
    platform::setDecimalSeparator('.');
    double v = 0;
    EXPECT_TRUE(StrToFloat("2.5", v));
    EXPECT_EQ(v, 2.5);
    EXPECT_FALSE(StrToFloat("2,5", v));
}

TEST_F(NumFmt, EveryFloatTextReadsBackToTheSameFloat) {
    platform::setDecimalSeparator(',');
    const float samples[] = {0.1f,      -100.0f, 1e-5f,   3.3333333f, 1e30f,    -7.25e-12f,
                             216000.0f, FLT_MIN, FLT_MAX, INFINITY,   -INFINITY};
    for (float f : samples) {
        double v = 0;
        ASSERT_TRUE(StrToFloat(FloatToStr(widened(f)), v)) << f;
        EXPECT_EQ(static_cast<float>(v), f);
    }
    // A level of 1E39 is infinite as a float and must not come back as 0.
    double v = 0;
    ASSERT_TRUE(StrToFloat(FloatToStr(widened(static_cast<float>(1e39))), v));
    EXPECT_EQ(v, HUGE_VAL);
    ASSERT_TRUE(StrToFloat(" nan ", v));
    EXPECT_TRUE(std::isnan(v));
    ASSERT_TRUE(StrToFloat("-inf", v));
    EXPECT_EQ(v, -HUGE_VAL);
}

TEST_F(NumFmt, SeparatorComesFromTheLocaleUnlessSet) {
    platform::setDecimalSeparator(',');
    EXPECT_EQ(platform::decimalSeparator(), ',');
    platform::setDecimalSeparator('.');
    EXPECT_EQ(platform::decimalSeparator(), '.');
    platform::setDecimalSeparator('x'); // not a separator: back to the locale's
    const char fromLocale = platform::decimalSeparator();
    EXPECT_TRUE(fromLocale == '.' || fromLocale == ',');
}

#ifndef _WIN32
// The separator comes from the C library's data of the locale, never from a
// guess by language; a locale that is not installed gives '.'.
TEST_F(NumFmt, LocaleSeparatorComesFromTheLocalesOwnData) {
    using platform::detail::separatorForLocaleName;
    EXPECT_EQ(separatorForLocaleName("C"), '.');
    EXPECT_EQ(separatorForLocaleName("POSIX"), '.');
    EXPECT_EQ(separatorForLocaleName("no-such-locale-at-all"), '.');
    EXPECT_EQ(separatorForLocaleName("de_AT.NO-SUCH-CODESET"), '.');
    EXPECT_EQ(separatorForLocaleName("ru_RU.NO-SUCH-CODESET"), '.');

    // Build the numeric part of a few locales from the system's definitions
    // into a folder of our own (Latin-1 builds in a fraction of a second).
    if (::access("/usr/share/i18n/locales/de_CH", R_OK) != 0 ||
        std::system("command -v localedef >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no locale definitions or localedef to build test locales from";
    char base[] = "/tmp/locales_XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    const std::string dir = base;
    const std::pair<const char*, char> expected[] = {
        {"de_CH", '.'}, {"es_MX", '.'}, {"de_DE", ','}, {"ru_RU", ','}};
    bool built = true;
    for (const auto& [name, sep] : expected) {
        const std::string source = dir + "/" + name + ".src";
        std::ofstream(source) << "LC_NUMERIC\ncopy \"" << name << "\"\nEND LC_NUMERIC\n";
        // localedef exits 1 for the categories left out but writes the rest.
        const std::string command = "timeout 20 localedef -c -i " + source + " -f ISO-8859-1 " +
                                    dir + "/" + name + ".ISO-8859-1 >/dev/null 2>&1";
        (void)std::system(command.c_str());
        built = built && ::access((dir + "/" + name + ".ISO-8859-1/LC_NUMERIC").c_str(), R_OK) == 0;
    }
    const char* oldPath = std::getenv("LOCPATH");
    const std::string saved = oldPath != nullptr ? oldPath : "";
    ::setenv("LOCPATH", dir.c_str(), 1);
    if (built) {
        for (const auto& [name, sep] : expected)
            EXPECT_EQ(separatorForLocaleName(std::string(name) + ".ISO-8859-1"), sep) << name;
    }
    if (oldPath != nullptr)
        ::setenv("LOCPATH", saved.c_str(), 1);
    else
        ::unsetenv("LOCPATH");
    (void)std::system(("rm -rf " + dir).c_str());
    if (!built)
        GTEST_SKIP() << "localedef could not build the test locales";
}
#endif
