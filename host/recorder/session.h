// One run of the recorder program: the host with its modules, the periodic
// PN_UPDATEDATA, the recording of every pushed block, and what the views and
// the summary read. Runs on the thread of the Qt application.
#pragma once

#include "analysis.h"
#include "recording.h"

#include "host/host.h"

#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace recorder {

struct SessionOptions {
    // Module names (looked up beside the program as <name>.so) or paths.
    std::vector<std::string> modules = {"Tolvex", "Brantic"};
    std::string programDirectory; // where module names are looked up
    // An emulator configuration (.res) to load, or empty. The emulator works
    // on this very file: what it saves goes there.
    std::string config;
    std::string directory = "recordings";
    std::string name; // base name of the recordings; empty: run-<date>-<time>
    bool record = true;
    int updateIntervalMs = 100; // PN_UPDATEDATA while running
    bool keepSamples = false;   // keep every sample in memory (tests)
    double scopeSeconds = 30;   // what the scope keeps of each channel
    // What is kept of each channel for what is drawn: the envelope of the
    // whole run (plots) and the last scopeSeconds (the window's scope). A
    // headless run without plots needs neither.
    bool keepEnvelopes = true;
    bool keepScope = true;
    Recording::Opener opener; // tests
};

// Where a module named on the command line is looked up: a path as it is, a
// name as <name>.so in the program's folder.
std::string modulePath(const SessionOptions& options, const std::string& nameOrPath);

// Whether `path` is a readable emulator configuration; `error` tells why not
// in one line.
bool checkConfiguration(const std::string& path, std::string& error);
// Makes the folder when needed and tries a file in it.
bool checkWritableFolder(const std::string& path, std::string& error);

class Session {
public:
    explicit Session(SessionOptions options);
    ~Session(); // shutdown()
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    host::Host& host() { return *host_; }
    const SessionOptions& options() const { return options_; }

    // Loads and starts every module in order; one that fails is reported and
    // the others go on. The number started.
    int loadModules();
    // Why --config cannot be used ("" when it can, or when there is none).
    const std::string& configError() const { return configError_; }
    std::string modulePath(const std::string& nameOrPath) const;
    // The emulator configuration this run works on (the one the emulator's
    // settings name, --config's file unless loaded otherwise since), when the
    // emulator is loaded; "" when none. Each recording keeps a copy of it as
    // it is at Start.
    std::string configurationInUse() const;
    const std::vector<std::string>& failures() const { return failures_; }

    void start() { host_->startRecorder(); }
    void stop() { host_->stopRecorder(); }
    // Stops a run cut short (a signal): its recording ends as interrupted.
    void interrupt();
    // Stops, and closes every module in load order (once).
    void shutdown();

    // Seconds of the current or last run.
    double runSeconds() const { return host_->time(); }
    std::vector<ChannelSummary> summary() const;
    const Envelope* envelope(const host::HostChannel* channel) const;
    const ScopeTrace* scope(const host::HostChannel* channel) const;
    Recording* recording() { return recording_.get(); }
    const Recording* recording() const { return recording_.get(); }
    // The manifest of the current or last recording ("" before the first).
    std::string currentFile() const;
    // The tick of the latest block that arrived (of any channel, or of one).
    std::uint64_t lastBlockTicks() const { return lastBlockTicks_; }
    std::uint64_t lastBlockTicks(const host::HostChannel* channel) const;

    // Every message of the log (the modules' and the host's).
    void setMessageHandler(std::function<void(const host::LogMessage&)> handler) {
        onMessage_ = std::move(handler);
    }
    void setStateHandler(std::function<void(bool running)> handler) {
        onState_ = std::move(handler);
    }
    // Called when the disk filled up and the recording ended (the run goes on
    // until stopped).
    void setDiskFullHandler(std::function<void()> handler) { onDiskFull_ = std::move(handler); }
    // Called when a run has started and its recording is open.
    void setRunStartHandler(std::function<void()> handler) { onRunStart_ = std::move(handler); }
    // Called when a run has ended and its recording is closed.
    void setRunEndHandler(std::function<void()> handler) { onRunEnd_ = std::move(handler); }

private:
    void starting();
    void stopped();
    void received(host::HostChannel& channel, const float* block, std::int32_t count);
    void prepareConfig();

    SessionOptions options_;
    std::unique_ptr<QTemporaryDir> configDir_;
    bool replacedIni_ = false; // TOLVEX_INI names configDir_'s settings file
    std::string configError_;
    bool interrupted_ = false;
    std::unique_ptr<host::Host> host_;
    std::unique_ptr<Recording> recording_;
    QTimer update_;
    bool shutDown_ = false;
    std::vector<std::string> failures_;
    struct Kept {
        host::HostChannel* channel; // one reference
        std::optional<Envelope> envelope;
        std::optional<ScopeTrace> scope;
        std::uint64_t lastTicks = 0;
    };
    std::map<const host::HostChannel*, std::unique_ptr<Kept>> kept_;
    std::uint64_t lastBlockTicks_ = 0;
    std::function<void(const host::LogMessage&)> onMessage_;
    std::function<void(bool)> onState_;
    std::function<void()> onRunEnd_;
    std::function<void()> onDiskFull_;
    std::function<void()> onRunStart_;
};

} // namespace recorder
