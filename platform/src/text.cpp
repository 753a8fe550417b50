#include "platform/text.h"

namespace platform {

namespace {

char16_t unitOf(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x80 ? char16_t{b} : kCp1251High[b - 0x80];
}

char byteOf(char32_t cp) {
    const int b = detail::cp1251ByteOf(cp);
    return b < 0 ? '?' : static_cast<char>(static_cast<unsigned char>(b));
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::u16string cp1251ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text)
        out += unitOf(c);
    return out;
}

std::string utf16ToCp1251(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out += '?'; // no astral character is in the code page
            ++i;
            continue;
        }
        out += byteOf(cp);
    }
    return out;
}

std::string cp1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text)
        appendUtf8(out, unitOf(c));
    return out;
}

std::string utf8ToCp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80             ? 0
                    : (b & 0xE0) == 0xC0 ? 1
                    : (b & 0xF0) == 0xE0 ? 2
                    : (b & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= text.size()) {
            out += '?';
            ++i;
            continue;
        }
        char32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += byteOf(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

char toUpper1251(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'a' && b <= 'z')
        return static_cast<char>(b - 32);
    if (b >= 0xE0) // а..я
        return static_cast<char>(b - 32);
    switch (b) {
    case 0xB8:
        return static_cast<char>(0xA8); // ё
    case 0x90:
        return static_cast<char>(0x80); // ђ
    case 0x83:
        return static_cast<char>(0x81); // ѓ
    case 0x9A:
        return static_cast<char>(0x8A); // љ
    case 0x9C:
        return static_cast<char>(0x8C); // њ
    case 0x9D:
        return static_cast<char>(0x8D); // ќ
    case 0x9E:
        return static_cast<char>(0x8E); // ћ
    case 0x9F:
        return static_cast<char>(0x8F); // џ
    case 0xA2:
        return static_cast<char>(0xA1); // ў
    case 0xBC:
        return static_cast<char>(0xA3); // ј
    case 0xB4:
        return static_cast<char>(0xA5); // ґ
    case 0xBA:
        return static_cast<char>(0xAA); // є
    case 0xBF:
        return static_cast<char>(0xAF); // ї
    case 0xB3:
        return static_cast<char>(0xB2); // і
    case 0xBE:
        return static_cast<char>(0xBD); // ѕ
    default:
        return c;
    }
}

int compareTextNoCase1251(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(toUpper1251(a[i]));
        const auto y = static_cast<unsigned char>(toUpper1251(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool equalsNoCase1251(std::string_view a, std::string_view b) {
    return a.size() == b.size() && compareTextNoCase1251(a, b) == 0;
}

} // namespace platform
