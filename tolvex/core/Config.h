// Configuration files (the channel list with its signals) and the settings
// file "Tolvex.ini" that names the current one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvex {

class CTolvex;

namespace config {

// A configuration loads at most this many channels, whatever "Count" says.
inline constexpr std::int32_t kMaxChannels = 4096;
// ... and at most this many signals in all, the parts of composites counted at
// every depth; channels whose signals would go beyond it are not loaded.
inline constexpr std::size_t kMaxSignals = 65536;
// Composites nest at most this deep; a channel nested deeper is not loaded.
inline constexpr int kMaxDepth = 64;

// "Fs" as the first loading pass reads it: either decimal separator; 10 when
// the text is no number.
double parseFloatTolerant(const std::string& text);

// "common" / "CurCFGFile" of the settings file; empty when missing.
std::string readCurrentFile();
// Writes "common" / "CurCFGFile"; platform::IniWriteError when it cannot.
void writeCurrentFile(const std::string& fileName);

// The number of channels of the file's first `count` that fit the bounds.
std::int32_t channelsWithinBounds(const std::string& fileName, std::int32_t count);

// The three loading passes into the plug-in's list (the change lock is the
// caller's). Channels already in the list are left as they are.
void readConfiguration(CTolvex& plugin, const std::string& fileName);

// Writes the channel list into the file (not the settings file);
// platform::IniWriteError at the first write that fails. An empty file name
// writes nothing.
void writeConfiguration(const CTolvex& plugin, const std::string& fileName);

} // namespace config
} // namespace tolvex
