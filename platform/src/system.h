// What each operating system provides to the platform layer: one small
// function per system service, implemented in posix/ and win32/.
#pragma once

#include "platform/wholefile.h"

#include <cstdint>
#include <string>
#include <string_view>

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

using ReadResult = ReadOutcome;
// The whole file, as platform::readWholeFile reads it.
ReadResult readFile(const std::string& file, std::string& out, std::string& error);
// Writes a new file beside `target`, flushes it and puts it in the target's
// place in one step: readers see the old file or the new one, never a part.
// False with the system's reason in `error` when any step fails, the old file
// then untouched (see platform::writeWholeFile).
bool replaceFile(const std::string& target, std::string_view data, const WholeFileOptions& options,
                 std::string& error);

// The fault a test asked for before `step`: a system error number, or 0.
int injectedFault(testing::WriteStep step);
// True when `name` is a temporary file of `base` (the file's own name, without
// folder) made by temporaryFileName; `process` is its writer.
bool isTemporaryOf(std::string_view base, std::string_view name, unsigned long& process);

} // namespace platform::sys
