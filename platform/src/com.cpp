#include "platform/com.h"

#include "platform/text.h"

namespace platform {

OleString oleFrom1251(std::string_view text) {
    OleString out;
    out.reserve(text.size());
    for (char16_t unit : cp1251ToUtf16(text))
        out += static_cast<OLECHAR>(unit);
    return out;
}

std::string oleTo1251(const OLECHAR* text, std::size_t length) {
    if (text == nullptr)
        return {};
    std::u16string units;
    units.reserve(length);
    for (std::size_t i = 0; i < length; ++i)
        units += static_cast<char16_t>(text[i]);
    return utf16ToCp1251(units);
}

std::string oleTo1251(const OLECHAR* text) {
    if (text == nullptr)
        return {};
    std::size_t n = 0;
    while (text[n] != 0)
        ++n;
    return oleTo1251(text, n);
}

BSTR bstrFrom1251(std::string_view text) {
    const OleString wide = oleFrom1251(text);
    return SysAllocStringLen(wide.data(), static_cast<std::uint32_t>(wide.size()));
}

std::string bstrTo1251(BSTR text) {
    return oleTo1251(text, SysStringLen(text));
}

} // namespace platform
