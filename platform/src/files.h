// Whole-file reading and replacing for the profile functions; each operating
// system has its own implementation (posix/, win32/).
#pragma once

#include <string>

namespace platform::files {

enum class ReadResult { Ok, Missing, Failed };

// The file's bytes. Missing when neither the file nor its folder exists;
// Failed when it exists but cannot be read (or is no regular file).
ReadResult readWhole(const std::string& file, std::string& out);

// Replaces the file's content by `data` in one step: a temporary file in the
// same folder, flushed, renamed over the file, the folder flushed, so that a
// crash or a full disk leaves the old file or the new one. The file's
// permissions are kept and a symbolic link is written through. When the folder
// cannot take a temporary file but the file itself is writable, it is
// rewritten in place instead. False when the file could not be written; the
// old content is then untouched (in place: as far as the system allows).
bool replaceWhole(const std::string& file, const std::string& data);

} // namespace platform::files
