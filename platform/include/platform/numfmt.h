// Number to text and text to number, with the decimal separator of the user's
// settings (read once: the regional settings on Windows, the locale variables
// elsewhere; never by changing the process's locale).
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
// and an optional exponent. False (and `value` untouched) for anything else.
bool StrToFloat(std::string_view text, double& value);

namespace detail {
// The decimal separator of a locale name such as "ru_RU.UTF-8" (what
// decimalSeparator reads once from LC_ALL, LC_NUMERIC or LANG off Windows).
char separatorForLocaleName(const std::string& name);
} // namespace detail

} // namespace platform
