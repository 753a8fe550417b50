// Code page 1251 and UTF-16, and the compile-time conversion of readable UTF-8
// literals into 1251 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The UTF-16 code unit of each 1251 byte from 0x80 to 0xFF (0xFFFD where the
// code page leaves the byte undefined). The one table of the code page: the
// run-time conversions and the compile-time literals both read it.
inline constexpr char16_t kCp1251High[128] = {
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

std::u16string cp1251ToUtf16(std::string_view text);
// Characters outside the code page become '?'.
std::string utf16ToCp1251(std::u16string_view text);
std::string cp1251ToUtf8(std::string_view text);
std::string utf8ToCp1251(std::string_view text);

// Letter case folding of 1251 text: Latin and Cyrillic letters (Ё/ё included).
char toUpper1251(char c);
// Compares without regard to letter case; <0, 0, >0 as strcmp.
int compareTextNoCase1251(std::string_view a, std::string_view b);
bool equalsNoCase1251(std::string_view a, std::string_view b);

namespace detail {

// 1251 byte of a Unicode code point, or -1 when the code page has none.
constexpr int cp1251ByteOf(char32_t cp) {
    if (cp < 0x80)
        return static_cast<int>(cp);
    if (cp >= 0x0410 && cp <= 0x044F)
        return static_cast<int>(cp - 0x0410 + 0xC0);
    // 0xC0..0xFF were answered above; the search covers 0x80..0xBF.
    for (int i = 0; i < 64; ++i)
        if (kCp1251High[i] == cp)
            return 0x80 + i;
    return -1;
}

template <std::size_t N> struct Utf8Literal {
    char bytes[N]{};
    consteval Utf8Literal(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i)
            bytes[i] = s[i];
    }
};

template <std::size_t N> consteval std::array<char, N> toCp1251(const Utf8Literal<N>& in) {
    std::array<char, N> out{};
    std::size_t o = 0;
    for (std::size_t i = 0; i + 1 < N;) {
        auto b = static_cast<unsigned char>(in.bytes[i]);
        char32_t cp = 0;
        int extra = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
        } else {
            throw "literal is not UTF-8 text that code page 1251 can hold";
        }
        ++i;
        for (int k = 0; k < extra; ++k, ++i) {
            if (i + 1 >= N || (static_cast<unsigned char>(in.bytes[i]) & 0xC0) != 0x80)
                throw "literal is not valid UTF-8";
            cp = (cp << 6) | (static_cast<unsigned char>(in.bytes[i]) & 0x3F);
        }
        int byte = cp1251ByteOf(cp);
        if (byte < 0)
            throw "character has no place in code page 1251";
        out[o++] = static_cast<char>(static_cast<unsigned char>(byte));
    }
    out[o] = '\0';
    return out;
}

template <Utf8Literal L> struct Cp1251Literal {
    static constexpr std::array<char, sizeof(L.bytes)> value = toCp1251(L);
};

} // namespace detail

namespace literals {
// "Текст"_w: the literal's 1251 bytes, NUL-terminated, made at compile time.
template <detail::Utf8Literal L> constexpr const char* operator""_w() {
    return detail::Cp1251Literal<L>::value.data();
}
} // namespace literals

} // namespace platform
