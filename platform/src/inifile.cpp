#include "platform/inifile.h"

#include "platform/numfmt.h"
#include "platform/text.h"

#include "system.h"

#include <charconv>
#include <string>
#include <vector>

namespace platform {

namespace {

// One line of the file, with its own line break (empty for a last line
// without one). Lines are kept byte for byte; only the line of the key being
// written is replaced or inserted.
struct Line {
    std::string_view text;
    std::string_view brk;
};

std::vector<Line> splitLines(std::string_view data) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t end = pos;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        std::size_t next = end;
        if (next < data.size()) {
            if (data[next] == '\r' && next + 1 < data.size() && data[next + 1] == '\n')
                next += 2;
            else
                next += 1;
        }
        lines.push_back({data.substr(pos, end - pos), data.substr(end, next - end)});
        pos = next;
    }
    return lines;
}

bool blankChar(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && blankChar(s[b]))
        ++b;
    while (e > b && blankChar(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// A section header "[name]": true and the trimmed name.
bool sectionOf(std::string_view line, std::string_view& name) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() != '[')
        return false;
    const std::size_t close = t.rfind(']');
    if (close == std::string_view::npos || close == 0)
        return false;
    name = trim(t.substr(1, close - 1));
    return true;
}

// A key line "key=value": true, the trimmed key and the raw value.
bool keyOf(std::string_view line, std::string_view& key, std::string_view& value) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[')
        return false;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = trim(t.substr(0, eq));
    value = trim(t.substr(eq + 1));
    return !key.empty();
}

// A value in matching quotes loses them (values with outer blanks are
// written quoted so that they read back as written).
std::string unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > kProfileValueMax)
        v = v.substr(0, kProfileValueMax);
    return std::string(v);
}

std::string quoteForFile(std::string_view v) {
    const bool outerBlank = !v.empty() && (blankChar(v.front()) || blankChar(v.back()));
    const bool looksQuoted =
        v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    if (outerBlank || looksQuoted)
        return "\"" + std::string(v) + "\"";
    return std::string(v);
}

// Where a key sits in the file: the first section of that name, and in it
// the first key of that name.
struct Location {
    bool sectionFound = false;
    std::size_t afterSection = 0; // index after the section's last non-blank line
    bool keyFound = false;
    std::size_t keyLine = 0;
    std::string_view value;
};

Location locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location loc;
    bool inside = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (sectionOf(lines[i].text, name)) {
            if (inside)
                break; // only the first section of that name counts
            if (equalsNoCase1251(name, section)) {
                inside = true;
                loc.sectionFound = true;
                loc.afterSection = i + 1;
            }
            continue;
        }
        if (!inside)
            continue;
        if (!trim(lines[i].text).empty())
            loc.afterSection = i + 1;
        std::string_view k;
        std::string_view v;
        if (!loc.keyFound && keyOf(lines[i].text, k, v) && equalsNoCase1251(k, key)) {
            loc.keyFound = true;
            loc.keyLine = i;
            loc.value = v;
        }
    }
    return loc;
}

bool hasLineBreakOrNul(std::string_view s) {
    for (char c : s)
        if (c == '\n' || c == '\r' || c == '\0')
            return true;
    return false;
}

// Section, key and value must fit the line format: nothing else could be
// read back as written, and a line break would inject other keys.
bool writable(std::string_view section, std::string_view key, std::string_view value) {
    if (hasLineBreakOrNul(section) || hasLineBreakOrNul(key) || hasLineBreakOrNul(value))
        return false;
    if (trim(section).empty() || trim(section) != section || section.find(']') != section.npos)
        return false;
    if (trim(key).empty() || trim(key) != key || key.find('=') != key.npos)
        return false;
    return key.front() != ';' && key.front() != '[';
}

} // namespace

std::string readProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view fallback) {
    std::string data;
    if (sys::readFile(file, data) != sys::ReadResult::Ok)
        return std::string(fallback.substr(0, kProfileValueMax));
    const Location loc = locate(splitLines(data), section, key);
    if (!loc.keyFound)
        return std::string(fallback.substr(0, kProfileValueMax));
    return unquote(loc.value);
}

bool writeProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value) {
    try {
        if (file.empty() || !writable(section, key, value))
            return false;
        std::string data;
        if (sys::readFile(file, data) == sys::ReadResult::Failed)
            return false; // never replace a file we could not read
        const std::vector<Line> lines = splitLines(data);
        const Location loc = locate(lines, section, key);

        std::string_view newline = "\n";
        for (const Line& l : lines)
            if (!l.brk.empty()) {
                newline = l.brk;
                break;
            }
        std::vector<Line> edited = lines;
        std::string replaced;
        const std::string keyLine = std::string(key) + "=" + quoteForFile(value);
        const std::string header = "[" + std::string(section) + "]";
        if (loc.keyFound) {
            // Keep the key's own spelling and the line's break.
            std::string_view k;
            std::string_view v;
            keyOf(lines[loc.keyLine].text, k, v);
            replaced = std::string(k) + "=" + quoteForFile(value);
            edited[loc.keyLine].text = replaced;
        } else if (loc.sectionFound) {
            edited.insert(edited.begin() + static_cast<std::ptrdiff_t>(loc.afterSection),
                          Line{keyLine, newline});
        } else {
            edited.push_back(Line{header, newline});
            edited.push_back(Line{keyLine, newline});
        }
        std::string out;
        out.reserve(data.size() + keyLine.size() + header.size() + 8);
        for (std::size_t i = 0; i < edited.size(); ++i) {
            out += edited[i].text;
            // A last line without a break gets one when something follows it.
            out += edited[i].brk.empty() && i + 1 < edited.size() ? newline : edited[i].brk;
        }
        return sys::replaceFile(file, out);
    } catch (...) {
        return false;
    }
}

std::string profileFilePath(const std::string& fileName, const std::string& program,
                            const char* overrideVariable) {
    std::string path;
    if (overrideVariable != nullptr && sys::environmentValue(overrideVariable, path))
        return path;
    return sys::profileFolder(program) + fileName;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
    return readProfileString(file_, section, key, fallback);
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (!writeProfileString(file_, section, key, value))
        throw IniWriteError("Unable to write to " + file_);
}

std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t fallback) const {
    const std::string text = ReadString(section, key, "");
    std::string_view t = text;
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        t.remove_prefix(2);
    }
    if (t.empty() || t.front() == '+' || t.front() == '-')
        return fallback;
    std::uint64_t magnitude = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
    if (res.ec != std::errc() || res.ptr != t.data() + t.size())
        return fallback;
    if (base == 16) {
        // Hexadecimal spells the 32-bit pattern: 0xFFFFFFFF is -1.
        if (magnitude > 0xFFFFFFFFull)
            return fallback;
        auto bits = static_cast<std::uint32_t>(magnitude);
        if (negative)
            bits = 0u - bits;
        return static_cast<std::int32_t>(bits);
    }
    if (negative) {
        if (magnitude > 2147483648ull)
            return fallback;
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude));
    }
    if (magnitude > 2147483647ull)
        return fallback;
    return static_cast<std::int32_t>(magnitude);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double fallback) const {
    const std::string text = ReadString(section, key, "");
    if (text.empty())
        return fallback;
    double v = 0.0;
    return StrToFloat(text, v) ? v : fallback;
}

void TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, FloatToStr(value));
}

} // namespace platform
