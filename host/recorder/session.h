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
#include <string>
#include <vector>

namespace recorder {

struct SessionOptions {
    // Module names (looked up beside the program as <name>.so) or paths.
    std::vector<std::string> modules = {"Tolvex", "Brantic"};
    std::string programDirectory; // where module names are looked up
    std::string config;           // an emulator configuration (.res) to load, or empty
    std::string directory = "recordings";
    std::string name; // base name of the recordings; empty: run-<date>-<time>
    bool record = true;
    int updateIntervalMs = 100; // PN_UPDATEDATA while running
    bool keepSamples = false;   // keep every sample in memory (tests)
    double scopeSeconds = 5;
    int scopeColumns = 600;
    Recording::Opener opener; // tests
};

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
    std::string modulePath(const std::string& nameOrPath) const;
    const std::vector<std::string>& failures() const { return failures_; }

    void start() { host_->startRecorder(); }
    void stop() { host_->stopRecorder(); }
    // Stops, and closes every module in load order (once).
    void shutdown();

    // Seconds of the current or last run.
    double runSeconds() const { return host_->time(); }
    std::vector<ChannelSummary> summary() const;
    const Envelope* envelope(const host::HostChannel* channel) const;
    const ScopeTrace* scope(const host::HostChannel* channel) const;
    Recording* recording() { return recording_.get(); }
    // The manifest of the current or last recording ("" before the first).
    std::string currentFile() const;
    // The tick of the latest block that arrived (of any channel).
    std::uint64_t lastBlockTicks() const { return lastBlockTicks_; }

    // Every message of the log (the modules' and the host's).
    void setMessageHandler(std::function<void(const host::LogMessage&)> handler) {
        onMessage_ = std::move(handler);
    }
    void setStateHandler(std::function<void(bool running)> handler) {
        onState_ = std::move(handler);
    }

private:
    void starting();
    void stopped();
    void received(host::HostChannel& channel, const float* block, std::int32_t count);
    void prepareConfig();

    SessionOptions options_;
    std::unique_ptr<QTemporaryDir> configDir_;
    std::unique_ptr<host::Host> host_;
    std::unique_ptr<Recording> recording_;
    QTimer update_;
    int updateTicks_ = 0;
    bool shutDown_ = false;
    std::vector<std::string> failures_;
    struct Kept {
        host::HostChannel* channel; // one reference
        Envelope envelope;
        ScopeTrace scope;
    };
    std::map<const host::HostChannel*, std::unique_ptr<Kept>> kept_;
    std::uint64_t lastBlockTicks_ = 0;
    std::function<void(const host::LogMessage&)> onMessage_;
    std::function<void(bool)> onState_;
};

} // namespace recorder
