#include "platform/numfmt.h"

#include "system.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale>
#include <string>

namespace platform {

namespace {

// Languages whose usual decimal separator is a comma, for locales that the C++
// library cannot construct.
constexpr const char* kCommaLanguages[] = {
    "ru", "uk", "be", "kk", "uz", "ky", "tg", "az", "hy", "ka", "bg", "mk", "sr", "hr", "bs",
    "sl", "sk", "cs", "pl", "lt", "lv", "et", "fi", "sv", "da", "nb", "nn", "no", "is", "de",
    "nl", "fr", "es", "ca", "gl", "eu", "it", "pt", "ro", "hu", "el", "tr", "id", "vi", "af"};

char separatorFromTable(const std::string& name) {
    const std::string language = name.substr(0, name.find_first_of("_.@"));
    for (const char* comma : kCommaLanguages)
        if (language == comma)
            return ',';
    return '.';
}

std::atomic<char> gOverride{0};

} // namespace

char detail::separatorForLocaleName(const std::string& name) {
    if (name.empty() || name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0)
        return '.';
    try {
        // A named locale object is independent of the global one.
        const std::locale loc(name.c_str());
        const char c = std::use_facet<std::numpunct<char>>(loc).decimal_point();
        if (c == '.' || c == ',')
            return c;
    } catch (...) {
        // The locale is not installed here: fall back to the table.
    }
    return separatorFromTable(name);
}

char decimalSeparator() {
    const char forced = gOverride.load(std::memory_order_relaxed);
    if (forced != 0)
        return forced;
    static const char fromLocale = sys::userDecimalSeparator();
    return fromLocale;
}

void setDecimalSeparator(char separator) {
    gOverride.store(separator == '.' || separator == ',' ? separator : '\0',
                    std::memory_order_relaxed);
}

std::string FloatToStr(double value) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    if (value == 0.0)
        return "0";
    // 15 significant digits: d.dddddddddddddde[+-]x
    char buf[64];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 14);
    const std::string sci(buf, res.ptr);
    const std::size_t ePos = sci.find('e');
    std::string digits = sci.substr(0, 1) + sci.substr(2, ePos - 2);
    const int exponent = std::atoi(sci.c_str() + ePos + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    const char sep = decimalSeparator();
    std::string out = value < 0 ? "-" : "";
    if (exponent >= -4 && exponent < 15) {
        if (exponent < 0) {
            out += '0';
            out += sep;
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += digits;
        } else {
            const auto intDigits = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intDigits) {
                out += digits;
                out.append(intDigits - digits.size(), '0');
            } else {
                out += digits.substr(0, intDigits);
                out += sep;
                out += digits.substr(intDigits);
            }
        }
    } else {
        out += digits[0];
        if (digits.size() > 1) {
            out += sep;
            out += digits.substr(1);
        }
        out += 'E';
        out += std::to_string(exponent);
    }
    return out;
}

bool StrToFloat(std::string_view text, double& value) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && blank(text[b]))
        ++b;
    while (e > b && blank(text[e - 1]))
        --e;
    const std::string_view t = text.substr(b, e - b);
    const char sep = decimalSeparator();

    // Validate and rewrite into the form from_chars reads: [-]digits[.digits][e[-]digits]
    std::string norm;
    norm.reserve(t.size());
    std::size_t i = 0;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        negative = t[i] == '-';
        ++i;
    }
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    int mantissaDigits = 0;
    long leadingExponent = 0; // decimal magnitude of the mantissa, roughly
    bool seenNonZero = false;
    bool fraction = false;
    for (; i < t.size(); ++i) {
        const char c = t[i];
        if (digit(c)) {
            ++mantissaDigits;
            if (c != '0')
                seenNonZero = true;
            if (!fraction && seenNonZero)
                ++leadingExponent;
            if (fraction && !seenNonZero)
                --leadingExponent;
            norm += c;
        } else if (c == sep && !fraction) {
            fraction = true;
            norm += '.';
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return false;
    long exponent = 0;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        norm += 'e';
        ++i;
        bool negExp = false;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            negExp = t[i] == '-';
            if (negExp)
                norm += '-';
            ++i;
        }
        int expDigits = 0;
        for (; i < t.size() && digit(t[i]); ++i) {
            ++expDigits;
            norm += t[i];
            if (exponent < 100000)
                exponent = exponent * 10 + (t[i] - '0');
        }
        if (expDigits == 0)
            return false;
        if (negExp)
            exponent = -exponent;
    }
    if (i != t.size())
        return false;

    double parsed = 0.0;
    const auto res =
        std::from_chars(norm.data(), norm.data() + norm.size(), parsed, std::chars_format::general);
    if (res.ptr != norm.data() + norm.size())
        return false;
    if (res.ec == std::errc::result_out_of_range) {
        if (!seenNonZero || leadingExponent + exponent < 0)
            parsed = 0.0; // too small for a double: zero
        else
            return false; // too large for a double
    } else if (res.ec != std::errc()) {
        return false;
    }
    if (std::isinf(parsed))
        return false;
    value = negative ? -parsed : parsed;
    return true;
}

} // namespace platform
