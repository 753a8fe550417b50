#include "NameTemplate.h"

#include <algorithm>
#include <climits>

namespace tolvex {

namespace {

// Appends to a name that never grows past kTemplateNameMax characters.
class NameBuffer {
public:
    void put(char c) {
        if (!closed_ && text_.size() < kTemplateNameMax)
            text_.push_back(c);
    }
    void put(std::string_view s) {
        for (char c : s)
            put(c);
    }
    // Padding of any requested width costs no more than the room left.
    void pad(char c, std::size_t count) {
        std::size_t room = closed_ ? 0 : kTemplateNameMax - text_.size();
        text_.append(std::min(count, room), c);
    }
    // A NUL byte: the name ends here; the rest is still parsed but not kept.
    void close() { closed_ = true; }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
    bool closed_ = false;
};

struct Spec {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    std::size_t width = 0;
    bool hasPrecision = false;
    std::size_t precision = 0;
    int length = 0; // 0 none, 1 h, 2 hh, 3 l
    char conversion = 0;
};

// Reads a decimal number, saturating far above any width that could matter.
std::size_t readNumber(std::string_view s, std::size_t& pos) {
    std::size_t n = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (n < 100000)
            n = n * 10 + static_cast<std::size_t>(s[pos] - '0');
        ++pos;
    }
    return n;
}

// Parses the conversion that starts after a '%' at `pos`; false when it is
// not one this formatter takes.
bool parseSpec(std::string_view s, std::size_t& pos, Spec& spec) {
    for (; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '-')
            spec.left = true;
        else if (c == '+')
            spec.plus = true;
        else if (c == ' ')
            spec.space = true;
        else if (c == '#')
            spec.alt = true;
        else if (c == '0')
            spec.zero = true;
        else
            break;
    }
    spec.width = readNumber(s, pos);
    if (pos < s.size() && (s[pos] == '*' || s[pos] == '$'))
        return false;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        spec.hasPrecision = true;
        spec.precision = readNumber(s, pos);
        if (pos < s.size() && (s[pos] == '*' || s[pos] == '$'))
            return false;
    }
    if (pos < s.size() && s[pos] == 'h') {
        ++pos;
        spec.length = 1;
        if (pos < s.size() && s[pos] == 'h') {
            ++pos;
            spec.length = 2;
        }
    } else if (pos < s.size() && s[pos] == 'l') {
        ++pos;
        spec.length = 3; // long is the int's own width where the name is used
    }
    if (pos >= s.size())
        return false;
    spec.conversion = s[pos++];
    switch (spec.conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'x':
    case 'X':
    case 'o':
        return true;
    case 'c':
        return spec.length == 0;
    default:
        return false;
    }
}

std::string digits(std::uint32_t value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    do {
        out.push_back(set[value % base]);
        value /= base;
    } while (value != 0);
    std::reverse(out.begin(), out.end());
    return out;
}

void formatInteger(NameBuffer& out, const Spec& spec, std::int32_t arg) {
    // The argument as printf would see it after the length modifier.
    std::int64_t value = arg;
    if (spec.length == 1)
        value = static_cast<short>(arg);
    else if (spec.length == 2)
        value = static_cast<signed char>(arg);

    bool isSigned = spec.conversion == 'd' || spec.conversion == 'i';
    std::uint32_t magnitude = 0;
    std::string sign;
    if (isSigned) {
        if (value < 0)
            sign = "-";
        else if (spec.plus)
            sign = "+";
        else if (spec.space)
            sign = " ";
        magnitude = static_cast<std::uint32_t>(value < 0 ? -value : value);
    } else {
        std::uint32_t bits = static_cast<std::uint32_t>(arg);
        if (spec.length == 1)
            bits &= 0xFFFFu;
        else if (spec.length == 2)
            bits &= 0xFFu;
        magnitude = bits;
    }

    unsigned base = 10;
    if (spec.conversion == 'x' || spec.conversion == 'X')
        base = 16;
    else if (spec.conversion == 'o')
        base = 8;

    std::string body;
    if (!(spec.hasPrecision && spec.precision == 0 && magnitude == 0))
        body = digits(magnitude, base, spec.conversion == 'X');
    std::size_t precision = spec.hasPrecision ? spec.precision : 1;
    std::size_t leadingZeros = precision > body.size() ? precision - body.size() : 0;
    if (spec.alt && base == 8 && leadingZeros == 0 && (body.empty() || body[0] != '0'))
        leadingZeros = 1;
    std::string prefix = sign;
    if (spec.alt && base == 16 && magnitude != 0)
        prefix += spec.conversion == 'X' ? "0X" : "0x";

    std::size_t length = prefix.size() + leadingZeros + body.size();
    std::size_t fill = spec.width > length ? spec.width - length : 0;
    bool zeroFill = spec.zero && !spec.left && !spec.hasPrecision;
    if (!spec.left && !zeroFill)
        out.pad(' ', fill);
    out.put(prefix);
    if (zeroFill)
        out.pad('0', fill);
    out.pad('0', leadingZeros);
    out.put(body);
    if (spec.left)
        out.pad(' ', fill);
}

void formatChar(NameBuffer& out, const Spec& spec, std::int32_t arg) {
    std::size_t fill = spec.width > 1 ? spec.width - 1 : 0;
    if (!spec.left)
        out.pad(' ', fill);
    char c = static_cast<char>(static_cast<unsigned char>(static_cast<std::uint32_t>(arg) & 0xFFu));
    if (c == '\0')
        out.close();
    else
        out.put(c);
    if (spec.left)
        out.pad(' ', fill);
}

} // namespace

std::optional<std::string> formatChannelName(std::string_view pattern, std::int32_t index) {
    NameBuffer out;
    bool argumentUsed = false;
    for (std::size_t pos = 0; pos < pattern.size();) {
        char c = pattern[pos++];
        if (c != '%') {
            out.put(c);
            continue;
        }
        if (pos < pattern.size() && pattern[pos] == '%') {
            ++pos;
            out.put('%');
            continue;
        }
        Spec spec;
        if (!parseSpec(pattern, pos, spec) || argumentUsed)
            return std::nullopt;
        argumentUsed = true;
        if (spec.conversion == 'c')
            formatChar(out, spec, index);
        else
            formatInteger(out, spec, index);
    }
    return out.take();
}

} // namespace tolvex
