// Channel names from a printf-style template with one int argument, made
// without the C library's printf: only conversions that take exactly that one
// int are honoured, and the name never grows past the buffer it once lived in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolvex {

// The longest name a template gives (a 300-character buffer with its NUL).
inline constexpr std::size_t kTemplateNameMax = 299;

// Expands `pattern` with `index` as its single argument. Understood: "%%" and
// at most one conversion d, i, u, x, X, o or c with the flags "-+ #0", a
// decimal width and precision and the length modifiers h, hh or l. A %c of
// value 0 ends the name there, as the terminating zero would. The result is
// cut at kTemplateNameMax characters. Nothing (no name at all) for any other
// conversion, for a second conversion (it would have no argument), for '*'
// widths, positional arguments and a '%' at the end; whether a template is
// accepted never depends on the index.
std::optional<std::string> formatChannelName(std::string_view pattern, std::int32_t index);

} // namespace tolvex
