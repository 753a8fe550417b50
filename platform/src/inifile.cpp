#include "platform/inifile.h"

#include "platform/numfmt.h"
#include "platform/text.h"
#include "platform/wholefile.h"

#include "system.h"

#include <algorithm>
#include <charconv>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

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
    std::string out;
    if (!outerBlank && !looksQuoted)
        return out.assign(v);
    out.reserve(v.size() + 2);
    out += '"';
    out += v;
    out += '"';
    return out;
}

// The key used to find a section or key: each byte in upper case, so that two
// names are equal exactly when equalsNoCase1251 says so.
std::string folded(std::string_view name) {
    std::string out(name.size(), '\0');
    for (std::size_t i = 0; i < name.size(); ++i)
        out[i] = toUpper1251(name[i]);
    return out;
}

} // namespace

// A parsed INI file. Lines are kept byte for byte with their own line breaks;
// only the lines of keys written are replaced or inserted. The file is split
// into blocks, each a section header with the lines up to the next header
// (the first block holds what comes before any header); only the first
// section of a name and the first key of a name in it count.
class IniDocument {
public:
    explicit IniDocument(std::string data) : data_(std::move(data)) { parse(); }
    IniDocument(const IniDocument&) = delete; // lines point into data_
    IniDocument& operator=(const IniDocument&) = delete;

    // The raw value of the key, or nothing.
    std::optional<std::string_view> find(std::string_view section, std::string_view key) const {
        const auto s = sections_.find(folded(section));
        if (s == sections_.end())
            return std::nullopt;
        const auto k = keys_.find(KeyId{s->second, folded(key)});
        if (k == keys_.end())
            return std::nullopt;
        std::string_view spelling;
        std::string_view value;
        keyOf(blocks_[s->second].lines[k->second].text, spelling, value);
        return value;
    }

    bool hasSection(std::string_view section) const {
        return sections_.find(folded(section)) != sections_.end();
    }

    void set(std::string_view section, std::string_view key, std::string_view value) {
        std::string sectionKey = folded(section);
        auto s = sections_.find(sectionKey);
        if (s == sections_.end()) {
            blocks_.emplace_back();
            std::string header;
            header.reserve(section.size() + 2);
            header += '[';
            header += section;
            header += ']';
            blocks_.back().lines.push_back({own(std::move(header)), newline_});
            s = sections_.emplace(std::move(sectionKey), blocks_.size() - 1).first;
        }
        Block& block = blocks_[s->second];
        KeyId id{s->second, folded(key)};
        const auto k = keys_.find(id);
        if (k != keys_.end()) {
            // Keep the key's own spelling and the line's break.
            Line& line = block.lines[k->second];
            std::string_view spelling;
            std::string_view old;
            keyOf(line.text, spelling, old);
            line.text = own(std::string(spelling) + "=" + quoteForFile(value));
            return;
        }
        // After the section's last non-blank line; only blank lines move down.
        const std::size_t at = block.lastNonBlank + 1;
        const std::string_view text = own(std::string(key) + "=" + quoteForFile(value));
        block.lines.insert(block.lines.begin() + static_cast<std::ptrdiff_t>(at),
                           Line{text, newline_});
        keys_.emplace(std::move(id), at);
        block.lastNonBlank = at;
    }

    std::string text() const {
        std::size_t size = 0;
        for (const Block& block : blocks_)
            for (const Line& line : block.lines)
                size += line.text.size() + 2;
        std::string out;
        out.reserve(size);
        for (std::size_t b = 0; b < blocks_.size(); ++b) {
            const auto& lines = blocks_[b].lines;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                out += lines[i].text;
                // A last line without a break gets one when something follows it.
                const bool last = b + 1 == blocks_.size() && i + 1 == lines.size();
                out += lines[i].brk.empty() && !last ? newline_ : lines[i].brk;
            }
        }
        return out;
    }

private:
    struct Line {
        std::string_view text;
        std::string_view brk;
    };
    struct Block {
        std::vector<Line> lines;
        std::size_t lastNonBlank = 0;
    };
    // A key of a block, by its folded name.
    struct KeyId {
        std::size_t block;
        std::string name;
        bool operator==(const KeyId&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const KeyId& id) const {
            // Spread the block index over the word (a golden-ratio multiple).
            constexpr std::size_t spread = static_cast<std::size_t>(0x9E3779B97F4A7C15ull);
            return std::hash<std::string>()(id.name) ^ (id.block * spread);
        }
    };

    std::string_view own(std::string text) {
        owned_.push_back(std::move(text));
        return owned_.back();
    }

    void parse() {
        const std::string_view data = data_;
        const std::size_t estimate =
            static_cast<std::size_t>(std::count(data.begin(), data.end(), '\n') +
                                     std::count(data.begin(), data.end(), '\r'));
        keys_.reserve(estimate);
        bool newlineSeen = false;
        std::size_t pos = 0;
        while (pos < data.size()) {
            std::size_t end = pos;
            while (end < data.size() && data[end] != '\n' && data[end] != '\r')
                ++end;
            std::size_t next = end;
            if (next < data.size())
                next +=
                    data[next] == '\r' && next + 1 < data.size() && data[next + 1] == '\n' ? 2 : 1;
            const Line line{data.substr(pos, end - pos), data.substr(end, next - end)};
            pos = next;
            if (!newlineSeen && !line.brk.empty()) {
                newline_ = line.brk;
                newlineSeen = true;
            }
            std::string_view name;
            if (sectionOf(line.text, name)) {
                blocks_.emplace_back();
                sections_.emplace(folded(name), blocks_.size() - 1);
            }
            Block& block = blocks_.back();
            std::string_view key;
            std::string_view value;
            // Keys before the first section belong to none.
            if (blocks_.size() > 1 && !block.lines.empty() && keyOf(line.text, key, value))
                keys_.emplace(KeyId{blocks_.size() - 1, folded(key)}, block.lines.size());
            if (!trim(line.text).empty())
                block.lastNonBlank = block.lines.size();
            block.lines.push_back(line);
        }
    }

    std::string data_;
    std::deque<std::string> owned_; // text of the lines written
    std::vector<Block> blocks_{1};  // the first: what comes before any section
    std::unordered_map<std::string, std::size_t> sections_; // first block of each name
    std::unordered_map<KeyId, std::size_t, KeyHash> keys_;  // first line of each key
    std::string_view newline_ = "\n";
};

namespace {

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

IniTextCheck checkIniText(std::string_view data) {
    IniTextCheck check;
    if (data.substr(0, 3) == "\xEF\xBB\xBF") {
        check.fault = IniTextCheck::Fault::ByteOrderMark;
        check.line = 1;
        return check;
    }
    bool sectionSeen = false;
    std::size_t pos = 0;
    for (std::size_t line = 1; pos < data.size(); ++line) {
        std::size_t end = pos;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r')
            ++end;
        const std::string_view text = data.substr(pos, end - pos);
        const bool unended = end == data.size();
        if (end < data.size())
            end += data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n' ? 2 : 1;
        pos = end;
        auto fail = [&](IniTextCheck::Fault fault) {
            check.fault = fault;
            check.line = line;
            return check;
        };
        if (text.find('\0') != std::string_view::npos)
            return fail(IniTextCheck::Fault::NulByte);
        const std::string_view t = trim(text);
        if (t.empty() || t.front() == ';' || t.front() == '#')
            continue;
        std::string_view name;
        if (sectionOf(t, name)) {
            sectionSeen = true;
            continue;
        }
        if (!sectionSeen)
            return fail(IniTextCheck::Fault::BeforeSection);
        // Other lines are kept and passed over, as the profile functions do;
        // only a last one without its line break tells a file cut short.
        std::string_view key;
        std::string_view value;
        if (unended && !keyOf(t, key, value))
            return fail(IniTextCheck::Fault::CutShort);
    }
    return check;
}

std::string describeIniFault(const IniTextCheck& check) {
    const std::string line = "line " + std::to_string(check.line);
    switch (check.fault) {
    case IniTextCheck::Fault::None:
        break;
    case IniTextCheck::Fault::NulByte:
        return line + " holds a NUL byte (a binary file)";
    case IniTextCheck::Fault::ByteOrderMark:
        return "it starts with a UTF-8 byte order mark";
    case IniTextCheck::Fault::BeforeSection:
        return line + " comes before any [section]";
    case IniTextCheck::Fault::CutShort:
        return line + ", the last, ends without a line break inside a line: the file is cut short";
    }
    return {};
}

IntegerRead parseProfileInteger(std::string_view t, std::int32_t& value) {
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
        return IntegerRead::NoNumber;
    std::uint64_t magnitude = 0;
    const auto res = std::from_chars(t.data(), t.data() + t.size(), magnitude, base);
    if (res.ptr != t.data() + t.size() || res.ec == std::errc::invalid_argument)
        return IntegerRead::NoNumber;
    if (res.ec != std::errc()) // more digits than 64 bits hold
        return IntegerRead::OutOfRange;
    if (base == 16) {
        // Hexadecimal spells the 32-bit pattern: 0xFFFFFFFF is -1.
        if (magnitude > 0xFFFFFFFFull)
            return IntegerRead::OutOfRange;
        auto bits = static_cast<std::uint32_t>(magnitude);
        if (negative)
            bits = 0u - bits;
        value = static_cast<std::int32_t>(bits);
        return IntegerRead::Ok;
    }
    if (magnitude > (negative ? 2147483648ull : 2147483647ull))
        return IntegerRead::OutOfRange;
    value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
    return IntegerRead::Ok;
}

std::string readProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view fallback) {
    try {
        std::string data;
        std::string why;
        if (sys::readFile(file, data, why) == sys::ReadResult::Ok) {
            const IniDocument doc(std::move(data));
            if (const auto value = doc.find(section, key))
                return unquote(*value);
        }
    } catch (...) {
        // Out of memory: the default, as for an unreadable file.
    }
    return std::string(fallback.substr(0, kProfileValueMax));
}

bool writeProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value, std::string* reason) {
    try {
        return writeProfileStrings(
            file, {ProfileEntry{std::string(section), std::string(key), std::string(value)}},
            reason);
    } catch (...) {
        return false;
    }
}

bool writeProfileStrings(const std::string& file, const std::vector<ProfileEntry>& entries,
                         std::string* reason) {
    std::string why;
    bool ok = false;
    try {
        if (file.empty()) {
            why = "no file name";
        } else if (!std::all_of(entries.begin(), entries.end(), [](const ProfileEntry& e) {
                       return writable(e.section, e.key, e.value);
                   })) {
            why = "a section, key or value does not fit on one INI line";
        } else {
            std::string data;
            if (sys::readFile(file, data, why) == sys::ReadResult::Failed) {
                why = "it cannot be read: " + why; // never replace a file we could not read
            } else if (const IniTextCheck check = checkIniText(data); !check.ok()) {
                // Whatever the file holds, it is the user's: never add to it.
                why = "it is not an INI text: " + describeIniFault(check);
            } else {
                IniDocument doc(std::move(data));
                for (const ProfileEntry& e : entries)
                    doc.set(e.section, e.key, e.value);
                ok = writeWholeFile(file, doc.text(), why);
            }
        }
    } catch (...) {
        why = "out of memory";
        ok = false;
    }
    if (reason != nullptr)
        *reason = ok ? std::string() : why;
    return ok;
}

std::string profileFilePath(const std::string& fileName, const std::string& program,
                            const char* overrideVariable) {
    std::string path;
    if (overrideVariable != nullptr && sys::environmentValue(overrideVariable, path))
        return path;
    return sys::profileFolder(program) + fileName;
}

TIniFile::TIniFile(std::string fileName) : file_(std::move(fileName)) {}

TIniFile::TIniFile(std::string fileName, std::string content)
    : file_(std::move(fileName)), content_(std::move(content)) {}

TIniFile::~TIniFile() = default;

const IniDocument& TIniFile::document() const {
    if (!cache_) {
        std::string data;
        std::string why;
        if (content_)
            data = *content_;
        else if (sys::readFile(file_, data, why) != sys::ReadResult::Ok)
            data.clear();
        cache_ = std::make_unique<IniDocument>(std::move(data));
        for (const ProfileEntry& e : pending_)
            cache_->set(e.section, e.key, e.value);
    }
    return *cache_;
}

void TIniFile::BeginUpdate() {
    updating_ = true;
}

void TIniFile::UpdateFile() {
    std::vector<ProfileEntry> entries;
    entries.swap(pending_);
    updating_ = false;
    cache_.reset(); // read the file as written from here on
    content_.reset();
    std::string reason;
    if (!entries.empty() && !writeProfileStrings(file_, entries, &reason))
        throw IniWriteError(file_, reason);
}

void TIniFile::put(std::string_view section, std::string_view key, std::string_view value) {
    if (!writable(section, key, value))
        throw IniWriteError(file_, "a section, key or value does not fit on one INI line");
    if (!updating_) {
        cache_.reset();
        content_.reset();
        std::string reason;
        if (!writeProfileString(file_, section, key, value, &reason))
            throw IniWriteError(file_, reason);
        return;
    }
    pending_.push_back({std::string(section), std::string(key), std::string(value)});
    if (cache_)
        cache_->set(section, key, value);
}

std::string TIniFile::Text() const {
    return document().text();
}

bool TIniFile::SectionExists(std::string_view section) const {
    return document().hasSection(section);
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
    if (const auto value = document().find(section, key))
        return unquote(*value);
    return std::string(fallback.substr(0, kProfileValueMax));
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    put(section, key, value);
}
std::int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key,
                                   std::int32_t fallback) const {
    std::int32_t value = 0;
    return parseProfileInteger(ReadString(section, key, ""), value) == IntegerRead::Ok ? value
                                                                                       : fallback;
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
