// Files written whole: the one way every writer of the project replaces a
// file (configurations, the settings file, recording manifests, token files).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

struct WholeFileOptions {
    // A new file is readable and writable by its owner only (an existing
    // file keeps its permissions). POSIX only: Windows keeps the folder's.
    bool ownerOnly = false;
    // A file that exists is never replaced: the write fails with the
    // system's "file exists" reason.
    bool keepExisting = false;
};

// Writes `data` as the whole content of `file`: into a new file beside it,
// flushed to the disk, then put in the file's place in one step, every step's
// result checked. Readers see the old file or the new one, never a part.
// False, with the system's reason in `error`, when any step fails; the old
// file is then as it was. A folder that takes no new file fails the write:
// the file is never rewritten in place. A symbolic link is written through
// (unless `keepExisting`). Temporary files that earlier writers of `file`
// left behind (killed during their write, no longer running) are removed.
bool writeWholeFile(const std::string& file, std::string_view data, std::string& error,
                    WholeFileOptions options = {});

enum class ReadOutcome { Ok, Missing, Failed };
// The whole content of `file`, opened without waiting (a FIFO or a device in
// its place never blocks) and read only when it is a regular file. Missing
// when neither it nor its folder exists; Failed with the reason in `error`
// otherwise ("it is not a regular file", or the system's reason).
ReadOutcome readWholeFile(const std::string& file, std::string& out, std::string& error);

// The name of one writer's temporary file of `file`: "<file>.tmp<pid>_<n>".
std::string temporaryFileName(const std::string& file, unsigned long process, unsigned serial);

namespace testing {
// The steps of a write at which a test may stop it.
enum class WriteStep { Create, Write, Flush, Close, Replace };
// Called before each step (Write once for every piece of at most 64 KiB); a
// non-zero result makes the step fail with that system error number (errno,
// or the code of GetLastError on Windows). For tests only; null removes it.
using WriteFault = std::function<int(WriteStep)>;
void setWriteFault(WriteFault fault);
} // namespace testing

} // namespace platform
