// The emulator module as a source of samples, without a clock: loaded as the
// recorder loads it, on a private copy of a configuration, and asked for any
// run of samples of its channels through data requests from an index
// (PN_GETDATARANGE). Used by `recorder render` and `recorder verify`.
#pragma once

#include "host/host.h"

#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace recorder {

// The path of a module given by name (looked up in `programDirectory` as
// <name>.so) or by path.
std::string modulePathIn(const std::string& programDirectory, const std::string& nameOrPath);

class SampleSource {
public:
    SampleSource();
    ~SampleSource();
    SampleSource(const SampleSource&) = delete;
    SampleSource& operator=(const SampleSource&) = delete;

    // Copies `config` into a folder of its own, lets the module at
    // `modulePath` load that copy (the user's file is never written) and waits
    // until its channels are bound. `prepare`, when given, may change the copy
    // first (platform profile functions on its path). False with one line of
    // why.
    bool open(const std::string& modulePath, const std::string& config, std::string& error,
              const std::function<bool(const std::string& copy, std::string& error)>& prepare = {});

    host::Host& host() { return *host_; }
    // The channels in the recorder's order, as the module registered them.
    const std::vector<host::HostChannel*>& channels() const { return host_->channels(); }
    // The first channel with this UTF-8 name, or null.
    host::HostChannel* channelNamed(const std::string& utf8Name) const;

    // Samples first .. first + count - 1 of the channel into one of the
    // buffers, noise drawn from `noiseState` (updated). False when the module
    // does not answer.
    bool fill(const host::HostChannel& channel, std::uint64_t first, std::uint64_t count,
              float* floats, double* doubles, std::uint32_t& noiseState);
    // Moves the noise state past `count` samples of the channel.
    bool skip(const host::HostChannel& channel, std::uint64_t count, std::uint32_t& noiseState);

private:
    // A variable of the process environment this source set for its module,
    // and what it was before: given back when the module has closed, so that
    // a later session or source does not take this source's settings file
    // (gone with its folder) for one the user chose.
    struct Replaced {
        std::string name;
        bool wasSet = false;
        std::string value;
    };
    void setForModule(const char* name, const std::string& value);

    std::vector<Replaced> replaced_;
    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<host::Host> host_;
    host::LoadedModule* module_ = nullptr;
};

} // namespace recorder
