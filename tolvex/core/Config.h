// Configuration files (the channel list with its signals) and the settings
// file "Tolvex.ini" that names the current one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvex {

class CTolvex;

namespace config {

// Channels that "Count" claims without a section of their own load with
// defaults, at most this many; a channel with its section always loads.
inline constexpr std::int32_t kMaxDefaultedChannels = 4096;

// "Fs" as the first loading pass reads it: either decimal separator; 10 when
// the text is no number.
double parseFloatTolerant(const std::string& text);

// "common" / "CurCFGFile" of the settings file; empty when missing.
std::string readCurrentFile();
// Writes "common" / "CurCFGFile"; platform::IniWriteError when it cannot.
void writeCurrentFile(const std::string& fileName);

// The three loading passes into the plug-in's list (the change lock is the
// caller's). Channels already in the list are left as they are. Answers what
// the bounds against hostile files cut (1251 lines; empty when the file
// loaded whole).
std::vector<std::string> readConfiguration(CTolvex& plugin, const std::string& fileName);

// The text of the one message that tells the user what a load cut.
std::string cutsMessage(const std::vector<std::string>& cuts);

// Writes the channel list into the file (not the settings file);
// platform::IniWriteError at the first write that fails. An empty file name
// writes nothing.
void writeConfiguration(const CTolvex& plugin, const std::string& fileName);

} // namespace config
} // namespace tolvex
