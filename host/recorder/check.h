// `recorder check FILE.res`: what the emulator would change without a word
// when it loads a configuration (channels invented for a Count without their
// sections, unknown kinds, text that is not code page 1251, frequencies the
// channel dialog does not offer, parts cut by the loader's bounds), and the
// rate the configuration asks of the recorder.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace recorder {

struct ConfigurationCheck {
    std::vector<std::string> findings; // UTF-8, one line each, in the file's order
    std::size_t channels = 0;          // as the emulator would load them
    double samplesPerSecond = 0;       // of all of them together
    std::string fastest;               // the fastest channel's name (UTF-8)
    double fastestFrequency = 0;
};

// The channel dialog's range of frequencies, in hertz.
inline constexpr double kDialogFrequencyMin = 1;
inline constexpr double kDialogFrequencyMax = 216000;
// The most samples a second the recorder keeps, all channels together: every
// sample is computed live by the module and handed over in blocks; beyond
// this no run keeps to its clock.
inline constexpr double kMaxSamplesPerSecond = 5e8;

// The file's bytes when the emulator would load it. False, with `error` (one
// line naming the file), for what the emulator refuses to load with a
// message: a file that cannot be read or is not a regular file (never waited
// on), an empty file, one that is not an INI text, one without [common]
// Count or with a Count outside 0 to 2147483647.
bool loadableConfiguration(const std::string& path, std::string& bytes, std::string& error);

// False (and `error` set, one line) when the emulator would refuse the file
// (loadableConfiguration).
bool checkEmulatorConfiguration(const std::string& path, ConfigurationCheck& check,
                                std::string& error);
// Why the recorder cannot keep the configuration's rate; "" when it can.
std::string rateProblem(const ConfigurationCheck& check);

// The subcommand: argv[0] is "check". Exit status 0 when the file is clean, 1
// with findings, 2 for unusable input.
int checkCommand(int argc, char** argv, std::ostream& out, std::ostream& err);

} // namespace recorder
