// What each operating system provides to the platform layer: one small
// function per system service, implemented in posix/ and win32/.
#pragma once

#include <cstdint>
#include <string>

namespace platform::sys {

// Milliseconds since boot; the 64-bit count never wraps.
std::uint64_t ticks64();
std::uint32_t ticks32();

// The decimal separator of the user's settings: '.' or ','.
char userDecimalSeparator();

// The value of an environment variable of the project's own (never a Unix
// one such as HOME on Windows); false when unset or empty.
bool environmentValue(const char* name, std::string& value);
// The folder, with its trailing separator, where the profile files of
// `program` live: the Windows directory on Windows, the user's configuration
// folder for `program` elsewhere. Empty when there is none.
std::string profileFolder(const std::string& program);

enum class ReadResult { Ok, Missing, Failed };
// The whole file; Missing when neither it nor its folder exists.
ReadResult readFile(const std::string& file, std::string& out);
// Writes a new file beside `target`, flushes it and puts it in the target's
// place in one step: readers see the old file or the new one, never a part.
bool replaceFile(const std::string& target, const std::string& data);

} // namespace platform::sys
