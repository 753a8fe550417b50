// `recorder recover`: mends the manifest of a recording whose program never
// ended it (a crash, kill -9, a power cut: status still "recording"). Each
// channel's count is taken from its files (a WAV file's header, the size of
// a raw file, the whole lines of a CSV file), the status becomes
// "interrupted (recovered)", and the manifest is replaced whole.
#pragma once

#include <ostream>
#include <string>

namespace recorder {

extern const char* const kRecoverUsage;

// `target`: a recording's folder, or its manifest. 0 when the manifest was
// mended (or had been already), 1 when it cannot be (why printed), 2 for a
// target that is not a recording.
int recover(const std::string& target, std::ostream& out, std::ostream& err);

// The subcommand: argv[0] is "recover".
int recoverCommand(int argc, char** argv);

} // namespace recorder
