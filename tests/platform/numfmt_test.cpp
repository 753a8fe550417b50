#include "platform/numfmt.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

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
    const char* bad[] = {"",    "   ", "2.5",  "1,2,3", "12abc",  "abc", "-",
                         ",",   "1e",  "1e+",  "E5",    "1 2",    "--1", "+-1",
                         "inf", "NaN", "0x10", "1e400", "1,5E2,0"};
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
    const float samples[] = {0.1f,       -100.0f,   1e-5f,   3.3333333f, 1e30f,
                             -7.25e-12f, 216000.0f, FLT_MIN, FLT_MAX};
    for (float f : samples) {
        double v = 0;
        ASSERT_TRUE(StrToFloat(FloatToStr(widened(f)), v)) << f;
        EXPECT_EQ(static_cast<float>(v), f);
    }
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

TEST_F(NumFmt, LocaleNamesGiveTheirSeparator) {
    using platform::detail::separatorForLocaleName;
    EXPECT_EQ(separatorForLocaleName("ru_RU.UTF-8"), ',');
    EXPECT_EQ(separatorForLocaleName("ru_RU.CP1251"), ','); // rarely installed: the table
    EXPECT_EQ(separatorForLocaleName("de_DE@euro"), ',');
    EXPECT_EQ(separatorForLocaleName("uk"), ',');
    EXPECT_EQ(separatorForLocaleName("en_US.UTF-8"), '.');
    EXPECT_EQ(separatorForLocaleName("ja_JP"), '.');
    EXPECT_EQ(separatorForLocaleName("C"), '.');
    EXPECT_EQ(separatorForLocaleName("POSIX"), '.');
    EXPECT_EQ(separatorForLocaleName(""), '.');
    EXPECT_EQ(separatorForLocaleName("no-such-locale-at-all"), '.');
}
