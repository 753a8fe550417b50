// INI profile files: one key a call, by file name. Sections and keys match
// without regard to case; bytes are kept as they are (1251 text); every write
// replaces the file atomically and keeps every other line.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::size_t kProfileValueMax = 2047;

// The key's value (at most 2047 characters), or `fallback` when the file,
// section or key is missing.
std::string readProfileString(const std::string& file, std::string_view section,
                              std::string_view key, std::string_view fallback);
// Creates or replaces the key (and the section and file when missing).
// False when the file cannot be written; the old file is then unchanged.
bool writeProfileString(const std::string& file, std::string_view section, std::string_view key,
                        std::string_view value);

// The profile file `fileName` of `program`: the file named by the environment
// variable `overrideVariable` when that is set; otherwise in the Windows
// directory on Windows, and in $XDG_CONFIG_HOME/<program>/ (default
// ~/.config/<program>/) elsewhere; the bare name when no folder is known.
std::string profileFilePath(const std::string& fileName, const std::string& program,
                            const char* overrideVariable);

// Raised by TIniFile's writes: "Unable to write to <file>".
class IniWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The accessor of one INI file by name. Reads never fail and fall back to the
// given default.
class TIniFile {
public:
    explicit TIniFile(std::string fileName) : file_(std::move(fileName)) {}
    const std::string& FileName() const { return file_; }

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
    std::string file_;
};

} // namespace platform
