// The recorder program as a whole: its options, the checks made before any
// module starts, a run in the window or headless, signals, and the exit
// status (0 when everything asked for happened, 1 when something failed, 2
// for bad options, 128 + the signal's number when a signal cut the run short).
#pragma once

#include "session.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace recorder {

class MainWindow;

struct ProgramOptions {
    bool help = false;
    bool version = false;
    bool headless = false;
    bool window = false; // the window even on a platform without a screen
    // How long a run lasts after Start. Headless: 5 s unless given. In the
    // window: a run starts by itself only when this is given.
    std::optional<double> seconds;
    bool quitAfterRun = false; // the window: quit once the timed run is over
    bool untilStopped = false; // a run that Ctrl+C (or a remote stop) ends, as asked
    bool remote = false;       // runs started and stopped from elsewhere, until Ctrl+C
    int runs = 0;              // --remote: end after this many runs (0: no end)
    bool plot = false;         // a PNG plot per channel into the recording's folder
    std::vector<std::pair<std::string, std::int32_t>> pulls; // UTF-8 names
    bool trace = false;   // every call a module makes, as it happens
    bool verbose = false; // the modules' traces (log kind 1) too
    std::string screenshot;
    SessionOptions session;
};

extern const char* const kUsage;
// "recorder <version> (Qt ..., libsndfile ...)".
std::string versionText();

// False and `error` set (one line) for options that do not parse or do not go
// together.
bool parseOptions(int argc, char** argv, ProgramOptions& options, std::string& error);
// Whether the options can be honoured in the mode now chosen.
bool checkMode(const ProgramOptions& options, std::string& error);
// What can be checked before any module starts: the configuration, that the
// modules' files exist, and that the recording folder can be written. One
// line of why not.
bool checkBeforeStart(const ProgramOptions& options, std::string& error);
// What can be checked once the modules have started, before Start: that each
// --pull names a channel. One line of why not.
bool checkChannels(const ProgramOptions& options, const host::Host& host, std::string& error);
// The progress line of a headless run: elapsed time, samples received, and,
// when recording, megabytes written and the free space left (negative: not
// known).
std::string progressLine(double seconds, std::uint64_t samples, std::int64_t bytes,
                         std::int64_t freeBytes);

// One line of the log as the program shows it: time, kind, source, text.
std::string formatLogLine(const host::LogMessage& message);

class Program {
public:
    Program(ProgramOptions options, std::ostream& out, std::ostream& err);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Loads the modules, runs, then ends every modal loop, stops, and closes
    // the modules in order; returns the exit status. Needs a QApplication.
    int exec();

    Session* session() { return session_.get(); }
    MainWindow* window() { return window_.get(); }

    // Closes open popups and modal dialogs (rejected), innermost first.
    static void endModalLoops();

private:
    void interrupted(int signal);
    void timedEnd();
    void runEnded();
    void runStarted();
    void state(const std::string& text);
    void writePlots();
    void pull();
    void closeModuleWindows();
    void failure(const std::string& text);
    void showProgress();
    void warnOfSpace(double seconds);
    void clearProgress();

    ProgramOptions options_;
    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<MainWindow> window_;
    QTimer timed_;
    QTimer sweeper_; // ends modal loops that open while closing after a signal
    QTimer progress_;
    bool progressShown_ = false;
    bool askedEnd_ = false; // the signal was the end --until-stopped waits for
    bool timedRun_ = false;
    bool failed_ = false;
    int signal_ = 0;
    int runs_ = 0;
};

} // namespace recorder
