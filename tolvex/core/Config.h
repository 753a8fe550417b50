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

// What a load did. `refused` tells why nothing was loaded (1251, one line
// naming the file, then the reason): a file that is missing, not a regular
// file, unreadable, empty, not an INI text, without "Count" or with a
// "Count" outside 0..2147483647. `cuts` lists what the bounds against
// hostile files cut (1251 lines; empty when the file loaded whole).
struct LoadOutcome {
    std::string refused;
    std::vector<std::string> cuts;
};

// Reads the file whole (without waiting on a FIFO or a device) and loads it
// as loadConfigurationText does. An empty file name loads nothing and is no
// refusal: no configuration has been chosen yet.
LoadOutcome readConfiguration(CTolvex& plugin, const std::string& fileName);

// The three loading passes from the bytes of a configuration file, into the
// plug-in's list (the change lock is the caller's); `fileName` only names it
// in the messages. Channels already in the list are left as they are; a
// refused text adds none.
LoadOutcome loadConfigurationText(CTolvex& plugin, const std::string& fileName, std::string text);

// The text of the one message that tells the user what a load cut.
std::string cutsMessage(const std::vector<std::string>& cuts);

// The text of a new configuration file holding the channel list, as
// writeConfiguration would write it into a file that does not exist.
std::string configurationText(const CTolvex& plugin);

// Writes the channel list into the file (not the settings file);
// platform::IniWriteError at the first write that fails. An empty file name
// writes nothing.
void writeConfiguration(const CTolvex& plugin, const std::string& fileName);

} // namespace config
} // namespace tolvex
