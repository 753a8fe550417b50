// `recorder render`: every sample of a configuration's channels for N
// seconds, computed by the emulator through data requests (no clock), written
// as a recording is (the manifest beside one file per channel), or one
// channel's samples to standard output.
#pragma once

#include "recording.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace recorder {

struct RenderOptions {
    std::string config;  // the .res file
    double seconds = -1; // N; required
    std::string directory = "recordings";
    std::string name; // default: the configuration's base name
    SampleFormat format = SampleFormat::Wav;
    bool formatGiven = false;
    std::vector<std::string> channels; // UTF-8 names; empty: all
    std::string module = "Tolvex";
    std::string programDirectory; // where a module name is looked up
    bool progress = true;         // when standard error is a terminal
    std::size_t chunk = 1 << 16;  // samples per data request
    bool toStdout() const { return directory == "-"; }
};

extern const char* const kRenderUsage;

// Options after "render"; false with `error` set ("" for --help).
bool parseRenderOptions(int argc, char** argv, RenderOptions& options, std::string& error);

// 0 when everything was written, 1 when something failed (printed), 2 for
// options that do not go together, 128 + N after signal N.
int render(const RenderOptions& options, std::ostream& out, std::ostream& err);

// The subcommand: argv[0] is "render".
int renderCommand(int argc, char** argv);

} // namespace recorder
