// INI profile files by file name. Sections and keys match without regard to
// case; bytes are kept as they are (1251 text); a write replaces the file
// atomically, keeps every other line and puts a new key at the end of its
// section.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr std::size_t kProfileValueMax = 2047;

// The key's value (at most 2047 characters), or `fallback` when the file,
// section or key is missing.
std::string readProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view fallback);
// Creates or replaces the key (and the section and file when missing).
// False when the file cannot be written or is not an INI text (the system's reason in `reason`
// when given); the old file is then unchanged.
bool writeProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value, std::string* reason = nullptr);

struct ProfileEntry {
    std::string section;
    std::string key;
    std::string value;
};
// Writes every entry, in order, and replaces the file once: all of them reach
// the file or none does. False (and the old file unchanged) when the file
// cannot be written, is not an INI text (checkIniText: nothing is ever added
// to another kind of file) or an entry does not fit the line format, with why
// in `reason` when given. The file is replaced as platform::writeWholeFile does.
bool writeProfileStrings(const std::string& file, const std::vector<ProfileEntry>& entries,
                         std::string* reason = nullptr);

// Whether bytes are an INI text that the profile functions read as meant:
// the first line that is not blank nor a comment (";" or "#") is a section
// header. Not one: a binary file (a NUL byte), a file that starts with a
// UTF-8 byte order mark (its first header would read as text), and one cut
// short (its last line has no line break and is no header, key or comment).
// Other odd lines are passed over, as reads do. An empty file is one.
struct IniTextCheck {
    enum class Fault { None, NulByte, ByteOrderMark, BeforeSection, CutShort };
    Fault fault = Fault::None;
    std::size_t line = 0; // from 1: the line of the fault
    bool ok() const { return fault == Fault::None; }
};
IniTextCheck checkIniText(std::string_view data);
// The fault, in words ("line 3 is neither a [section] nor a key=value line");
// empty when there is none.
std::string describeIniFault(const IniTextCheck& check);

enum class IntegerRead { Ok, NoNumber, OutOfRange };
// An integer value as TIniFile::ReadInteger reads it: decimal, or
// hexadecimal after 0x/0X spelling the 32-bit pattern (0xFFFFFFFF is -1).
// OutOfRange for a number that no 32-bit integer holds, NoNumber for text
// that is no number at all; `value` is set only when Ok.
IntegerRead parseProfileInteger(std::string_view text, std::int32_t& value);

// The profile file `fileName` of `program`: the file named by the environment
// variable `overrideVariable` when that is set; otherwise in the Windows
// directory on Windows, and in $XDG_CONFIG_HOME/<program>/ (default
// ~/.config/<program>/) elsewhere; the bare name when no folder is known.
std::string profileFilePath(const std::string& fileName, const std::string& program,
                            const char* overrideVariable);

// Raised by TIniFile's writes: "Unable to write to <file>", and on a line
// of its own the reason when one is known.
class IniWriteError : public std::runtime_error {
public:
    IniWriteError(const std::string& file, const std::string& reason)
        : std::runtime_error("Unable to write to " + file + (reason.empty() ? "" : "\n" + reason)),
          reason_(reason) {}
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

class IniDocument;

// The accessor of one INI file by name. Reads never fail and fall back to the
// given default; the file is parsed once, at the first read. A write goes to
// the file at once, unless an update is open: then the writes are collected
// and UpdateFile replaces the file once with all of them.
class TIniFile {
public:
    explicit TIniFile(std::string fileName);
    // An accessor whose reads see `content` in place of the file's bytes (the
    // file is not read); writes still go to the file, and once they have,
    // reads see the file.
    TIniFile(std::string fileName, std::string content);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;
    const std::string& FileName() const { return file_; }

    // Opens an update; writes are collected (and visible to reads) from here.
    void BeginUpdate();
    // Writes the collected keys in one replacement of the file and closes the
    // update. IniWriteError when the file cannot be written: the old file
    // stays whole and the collected keys are dropped.
    void UpdateFile();

    // The text the reads see, with the writes of an open update in it: what
    // UpdateFile would write.
    std::string Text() const;

    // True when the file has a section of that name.
    bool SectionExists(std::string_view section) const;
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Decimal, or hexadecimal after 0x/0X; anything else gives the default.
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t fallback) const;
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    // Empty or unparsable gives the default.
    double ReadFloat(std::string_view section, std::string_view key, double fallback) const;
    void WriteFloat(std::string_view section, std::string_view key, double value);

private:
    const IniDocument& document() const;
    void put(std::string_view section, std::string_view key, std::string_view value);

    std::string file_;
    std::optional<std::string> content_; // read in place of the file
    mutable std::unique_ptr<IniDocument> cache_;
    std::vector<ProfileEntry> pending_;
    bool updating_ = false;
};

} // namespace platform
