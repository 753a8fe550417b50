// Number to text and text to number, with the decimal separator of the user's
// settings (read once: the regional settings on Windows, the C library's data
// of the user's locale elsewhere; never by changing the process's locale).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The decimal separator in use: '.' or ','.
char decimalSeparator();
// Sets the separator (tests); 0 goes back to the user's locale setting.
void setDecimalSeparator(char separator);

// General format, up to 15 significant digits, trailing zeros dropped; fixed
// notation for magnitudes from 0.0001 to below 1E15, otherwise 1.5E20 / 1E-5.
std::string FloatToStr(double value);

// Blanks around, an optional sign, digits with at most one decimal separator
// and an optional exponent; or INF / NAN (any case) as FloatToStr writes
// infinities and NaN. False (and `value` untouched) for anything else.
bool StrToFloat(std::string_view text, double& value);

namespace detail {
#if !defined(_WIN32)
// The separator in the C library's data of a locale name such as
// "ru_RU.UTF-8" ("" is the user's setting); '.' when it is not installed.
char separatorForLocaleName(const std::string& name);
#endif
} // namespace detail

} // namespace platform
