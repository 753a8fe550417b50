// `recorder verify`: checks every sample of a recording against what the
// emulator's configuration makes. Exact kinds (level, sine, saw and their
// sums) bit for bit, with every run of samples that is missing, repeated or
// shifted located in the expected sequence; channels with noise by the mean,
// spread and bounds the formulas imply, and for runs that repeat bit for bit.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace recorder {

struct VerifyOptions {
    std::string input;   // a manifest (.kova), or one channel's file with `channel`
    std::string config;  // default: the copy the recording keeps
    std::string channel; // UTF-8; for a file not made by this recorder
    double rate = 0;     // its sampling frequency (> 0 with `channel`)
    double scale = 1;    // integer files: the channel's units per count
    std::string module = "Tolvex";
    std::string programDirectory;
    std::size_t chunk = 1 << 16;
    std::size_t maxEvents = 50; // runs reported per channel
};

extern const char* const kVerifyUsage;

bool parseVerifyOptions(int argc, char** argv, VerifyOptions& options, std::string& error);

// What was found in one channel.
struct ChannelVerdict {
    // BadTime and TimeBackwards: the time column of a CSV file.
    enum class Kind { Changed, Missing, Repeated, ShiftedStart, Lost, BadTime, TimeBackwards };
    struct Run {
        Run() = default;
        Run(Kind k, std::uint64_t rec, std::uint64_t exp, std::uint64_t len, double recValue,
            double expValue)
            : kind(k), recorded(rec), expected(exp), length(len), recordedValue(recValue),
              expectedValue(expValue) {}
        Kind kind = Kind::Changed;
        std::uint64_t recorded = 0; // where in the recording
        std::uint64_t expected = 0; // the expected sample there (first of the run)
        std::uint64_t length = 0;
        double recordedValue = 0; // Changed: the first sample's values; BadTime: the
        double expectedValue = 0; // time read and the one written; TimeBackwards: the
                                  // time read and the line before's
        std::string file;         // BadTime, TimeBackwards: where (recorded is the sample)
        std::uint64_t line = 0;
    };
    std::string name;
    double frequency = 0;
    std::uint64_t checked = 0;
    bool noise = false;
    bool wide = false; // the samples were written as 64-bit values
    bool ok = true;
    std::vector<Run> runs;
    std::uint64_t runsFound = 0; // also those beyond the reported ones
    std::string why;             // a failed statistical check, or a frequency that differs
    std::string note;            // what could not be checked, when something could not
};

// 0 when everything holds, 1 when something does not (each channel's
// findings printed), 2 for input that cannot be used (one line of why).
int verify(const VerifyOptions& options, std::ostream& out, std::ostream& err,
           std::vector<ChannelVerdict>* verdicts = nullptr);

int verifyCommand(int argc, char** argv);

} // namespace recorder
