#include "platform/text.h"

namespace platform {

const char16_t kCp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F};

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

char toLower1251(char c) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 'A' && b <= 'Z')
        return static_cast<char>(b + 32);
    if (b >= 0xC0 && b <= 0xDF)
        return static_cast<char>(b + 32);
    for (int i = 0x80; i < 0x100; ++i)
        if (toUpper1251(static_cast<char>(i)) == c && i != b)
            return static_cast<char>(i);
    return c;
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
