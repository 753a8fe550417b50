#include "program.h"

#include "analysis.h"
#include "check.h"
#include "mainwindow.h"

#include "platform/text.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace recorder {

namespace {

// Signals: the first one is taken up by the event loop that runs (a modal
// dialog's as well); a second one ends the program at once.
volatile std::sig_atomic_t gSignal = 0;
volatile std::sig_atomic_t gSignalCount = 0;

extern "C" void onSignal(int number) {
    gSignal = number;
    gSignalCount = gSignalCount + 1;
    if (gSignalCount >= 2)
        std::_Exit(128 + number);
}

class SignalWatch {
public:
    template <class F> explicit SignalWatch(F onFirst) {
        gSignal = 0;
        gSignalCount = 0;
        previousInt_ = std::signal(SIGINT, onSignal);
        previousTerm_ = std::signal(SIGTERM, onSignal);
        QObject::connect(&poll_, &QTimer::timeout, [this, onFirst] {
            if (gSignal != 0 && !taken_) {
                taken_ = true;
                onFirst(static_cast<int>(gSignal));
            }
        });
        poll_.start(25);
    }
    ~SignalWatch() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    using Handler = void (*)(int);
    Handler previousInt_;
    Handler previousTerm_;
    QTimer poll_;
    bool taken_ = false;
};

} // namespace

const char* const kUsage =
    "Usage: recorder [options] [MODULE...]\n"
    "       recorder check FILE.res...   what the emulator would change in a configuration\n"
    "       recorder recover DIR         mend the manifest of a recording a crash cut short\n"
    "Loads the plug-in modules (default: Tolvex and Brantic beside the program), runs them\n"
    "and records their channels to <dir>/<name>/<name>.kova.\n"
    "\n"
    "  --headless          no window (also chosen when there is no display)\n"
    "  --window            the window even where Qt has no screen (for screenshots)\n"
    "  --seconds N         run N seconds after Start, then stop (headless: default 5;\n"
    "                      in the window the run then starts by itself)\n"
    "  --until-stopped     run from Start until Ctrl+C or a remote stop, which end it\n"
    "                      as complete (exit status 0)\n"
    "  --remote            wait for remote starts and stops (Brantic), one recording per\n"
    "                      run (NAME, NAME-2, ...), each change printed with its time;\n"
    "                      Ctrl+C ends, a run then in progress ends as complete\n"
    "  --runs N            --remote: end after N runs\n"
    "  --quit              window: quit once the timed run is over\n"
    "  --config FILE       emulator configuration (.res) to work on; its edits are kept;\n"
    "                      what `recorder check FILE` finds is told first as warnings\n"
    "  --dir DIR           folder of the recordings (default: recordings)\n"
    "  --name NAME         name of the recording (default: run-<date>-<time>)\n"
    "  --no-record         record nothing\n"
    "  --plot              write a PNG plot per channel into the recording's folder when\n"
    "                      a run ends\n"
    "  --pull NAME COUNT   print COUNT values of channel NAME from a data request when a\n"
    "                      run ends; NAME is compared with the channels' names exactly\n"
    "                      (letter case and spaces count) in code page 1251, checked\n"
    "                      before Start\n"
    "  --screenshot FILE   window: save a picture of the window before the timed run stops\n"
    "  -v, --verbose       print the modules' traces too (log kind 1)\n"
    "  --trace             print every call a module makes to the host (implies -v)\n"
    "  --update-ms N       interval of PN_UPDATEDATA while running (default 100)\n"
    "  --version           print the version and end\n"
    "\n"
    "Modules are names (MODULE.so beside the program) or paths; each must exist, and a run\n"
    "starts only when at least one module starts.\n"
    "\n"
    "Exit status: 0 when all asked for was done, 1 when something failed (the reason is\n"
    "printed), 2 for bad options, 128 + N when signal N (Ctrl+C: 2) cut the run short.\n"
    "Ctrl+C closes open dialogs, stops and closes the modules in order; a second Ctrl+C\n"
    "ends the program at once.\n";

std::string versionText() {
    return std::string("recorder " RECORDER_VERSION " (Qt ") + qVersion() + ", " +
           soundLibraryVersion() + ")";
}

bool parseOptions(int argc, char** argv, ProgramOptions& o, std::string& error) {
    std::vector<std::string> modules;
    error.clear();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                error = a + " needs " + what;
                return nullptr;
            }
            return argv[++i];
        };
        auto number = [&](const char* text, double& out) {
            char* end = nullptr;
            out = std::strtod(text, &end);
            if (end == text || *end != '\0' || !std::isfinite(out)) {
                error = a + ": not a finite number: " + text;
                return false;
            }
            return true;
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
            return true;
        } else if (a == "--version") {
            o.version = true;
            return true;
        } else if (a == "--until-stopped") {
            o.untilStopped = true;
        } else if (a == "--remote") {
            o.remote = true;
        } else if (a == "--runs") {
            const char* v = value("a number of runs");
            double n = 0;
            if (v == nullptr || !number(v, n))
                return false;
            if (n < 1 || n > 1000000 || n != std::floor(n)) {
                error = "--runs must be a whole number from 1 to 1000000";
                return false;
            }
            o.runs = static_cast<int>(n);
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--window") {
            o.window = true;
        } else if (a == "--seconds") {
            const char* v = value("a number of seconds");
            double n = 0;
            if (v == nullptr || !number(v, n))
                return false;
            if (n < 0 || n > 1e7) {
                error = "--seconds must be from 0 to 10000000";
                return false;
            }
            o.seconds = n;
        } else if (a == "--quit") {
            o.quitAfterRun = true;
        } else if (a == "--config") {
            const char* v = value("a file");
            if (v == nullptr)
                return false;
            o.session.config = v;
        } else if (a == "--dir") {
            const char* v = value("a folder");
            if (v == nullptr)
                return false;
            o.session.directory = v;
        } else if (a == "--name") {
            const char* v = value("a name");
            if (v == nullptr)
                return false;
            o.session.name = v;
            if (o.session.name.empty() || o.session.name.find('/') != std::string::npos ||
                o.session.name == "." || o.session.name == "..") {
                error = "--name must be a plain file name";
                return false;
            }
        } else if (a == "--no-record") {
            o.session.record = false;
        } else if (a == "--plot") {
            o.plot = true;
        } else if (a == "--pull") {
            const char* name = value("a channel name and a count");
            const char* count = name == nullptr ? nullptr : value("a count");
            double n = 0;
            if (count == nullptr || !number(count, n))
                return false;
            if (n < 0 || n > 10000000 || n != std::floor(n)) {
                error = "--pull: the count must be a whole number from 0 to 10000000";
                return false;
            }
            o.pulls.emplace_back(name, static_cast<std::int32_t>(n));
        } else if (a == "--screenshot") {
            const char* v = value("a file");
            if (v == nullptr)
                return false;
            o.screenshot = v;
        } else if (a == "-v" || a == "--verbose") {
            o.verbose = true;
        } else if (a == "--trace") {
            o.trace = true;
            o.verbose = true;
        } else if (a == "--update-ms") {
            const char* v = value("milliseconds");
            double n = 0;
            if (v == nullptr || !number(v, n))
                return false;
            if (n < 1 || n > 60000) {
                error = "--update-ms must be from 1 to 60000";
                return false;
            }
            o.session.updateIntervalMs = static_cast<int>(n);
        } else if (!a.empty() && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else {
            modules.push_back(a);
        }
    }
    if (!modules.empty())
        o.session.modules = modules;
    if (o.headless && o.window) {
        error = "--headless and --window exclude each other";
        return false;
    }
    if (o.runs > 0 && !o.remote) {
        error = "--runs needs --remote";
        return false;
    }
    if (o.remote && (o.seconds || o.untilStopped)) {
        error = "--remote waits for remote stops: not with --seconds or --until-stopped";
        return false;
    }
    if (o.untilStopped && o.seconds) {
        error = "--until-stopped and --seconds exclude each other";
        return false;
    }
    if (o.plot && !o.session.record) {
        error = "--plot puts the plots into the recording's folder: not with --no-record";
        return false;
    }
    return true;
}

bool checkMode(const ProgramOptions& o, std::string& error) {
    if (o.quitAfterRun && !o.seconds) {
        error = "--quit needs --seconds";
        return false;
    }
    if (o.headless) {
        if (!o.screenshot.empty()) {
            error = "--screenshot needs the window (a display, or --window)";
            return false;
        }
        return true;
    }
    if (!o.screenshot.empty() && !o.seconds) {
        error = "--screenshot needs --seconds (it is taken before the timed run stops)";
        return false;
    }
    return true;
}

bool checkBeforeStart(const ProgramOptions& o, std::string& error) {
    if (!o.session.config.empty() && !checkConfiguration(o.session.config, error))
        return false;
    for (const std::string& m : o.session.modules) {
        const std::string path = modulePath(o.session, m);
        std::error_code code;
        if (!std::filesystem::is_regular_file(std::filesystem::u8path(path), code)) {
            error =
                "no module " + m + ": " + path +
                (std::filesystem::exists(std::filesystem::u8path(path), code) ? " is not a file"
                                                                              : " does not exist");
            return false;
        }
    }
    if (o.session.record && !checkWritableFolder(o.session.directory, error))
        return false;
    if (!o.screenshot.empty()) {
        const std::string folder = QFileInfo(QString::fromStdString(o.screenshot))
                                       .absoluteDir()
                                       .absolutePath()
                                       .toStdString();
        if (!checkWritableFolder(folder, error))
            return false;
    }
    return true;
}

bool checkChannels(const ProgramOptions& o, const host::Host& host, std::string& error) {
    for (const auto& [name, count] : o.pulls) {
        if (host.channel(platform::utf8ToCp1251(name)) != nullptr)
            continue;
        std::string known;
        for (const host::HostChannel* c : host.channels())
            known += (known.empty() ? "" : ", ") + host::utf8(c->name().c_str());
        error = "--pull: no channel is named \"" + name +
                "\" (names are compared exactly, letter case and spaces included); the channels: " +
                (known.empty() ? std::string("none") : known);
        return false;
    }
    return true;
}

std::string progressLine(double seconds, std::uint64_t samples, std::int64_t bytes,
                         std::int64_t freeBytes) {
    char line[160];
    int n = std::snprintf(line, sizeof line, "%.0f s, %llu samples", seconds,
                          static_cast<unsigned long long>(samples));
    if (bytes >= 0 && n > 0 && static_cast<std::size_t>(n) < sizeof line)
        n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", %.1f MB written",
                           static_cast<double>(bytes) / 1e6);
    if (freeBytes >= 0 && n > 0 && static_cast<std::size_t>(n) < sizeof line)
        std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), ", %.1f GB free",
                      static_cast<double>(freeBytes) / 1e9);
    return line;
}

std::string formatLogLine(const host::LogMessage& m) {
    const QString time =
        QDateTime::fromMSecsSinceEpoch(m.ms).toLocalTime().toString("HH:mm:ss.zzz");
    QString kind;
    switch (m.kind) {
    case host::kLogInfo:
        kind = "info ";
        break;
    case host::kLogTrace:
        kind = "trace";
        break;
    case host::kLogError:
        kind = "error";
        break;
    default:
        kind = QString("kind %1").arg(m.kind);
    }
    return QString("%1 %2 [%3] %4")
        .arg(time, kind, QString::fromStdU16String(m.source), QString::fromStdU16String(m.text))
        .toStdString();
}

Program::Program(ProgramOptions options, std::ostream& out, std::ostream& err)
    : options_(std::move(options)), out_(out), err_(err) {
    timed_.setSingleShot(true);
    timed_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timed_, &QTimer::timeout, [this] { timedEnd(); });
    sweeper_.setInterval(20);
    QObject::connect(&sweeper_, &QTimer::timeout, [] { endModalLoops(); });
    progress_.setInterval(1000);
    QObject::connect(&progress_, &QTimer::timeout, [this] { showProgress(); });
}

Program::~Program() {
    window_.reset();
    session_.reset();
}

void Program::showProgress() {
    if (!session_ || !session_->host().running())
        return;
    std::uint64_t samples = 0;
    for (const host::HostChannel* c : session_->host().channels())
        samples += c->stats().samples;
    std::int64_t bytes = -1;
    std::int64_t free = -1;
    if (const Recording* r = session_->recording()) {
        bytes = r->bytesWritten();
        std::error_code code;
        const auto space = std::filesystem::space(std::filesystem::u8path(r->folder()), code);
        if (!code)
            free = static_cast<std::int64_t>(space.available);
    }
    // One line, written over in place; stderr, so that stdout stays the summary.
    err_ << "\r" << progressLine(session_->runSeconds(), samples, bytes, free) << "\x1b[K";
    err_.flush();
    progressShown_ = true;
}

void Program::clearProgress() {
    if (!progressShown_)
        return;
    err_ << "\r\x1b[K";
    err_.flush();
    progressShown_ = false;
}

void Program::warnOfSpace(double seconds) {
    double rate = 0;
    for (const host::HostChannel* c : session_->host().channels())
        rate += std::max(c->frequency(), 0.0);
    const double need = rate * 4 * seconds; // 32-bit samples
    std::error_code code;
    const auto space =
        std::filesystem::space(std::filesystem::u8path(options_.session.directory), code);
    if (code || need <= static_cast<double>(space.available))
        return;
    char line[320];
    std::snprintf(
        line, sizeof line,
        "recorder: warning: %g s at the channels' %g samples a second need about %.1f MB, "
        "and %s has %.1f MB free: the recording will end when the disk is full\n",
        seconds, rate, need / 1e6, options_.session.directory.c_str(),
        static_cast<double>(space.available) / 1e6);
    err_ << line;
    err_.flush();
}

void Program::failure(const std::string& text) {
    clearProgress();
    failed_ = true;
    err_ << "recorder: " << text << "\n";
    err_.flush();
}

void Program::endModalLoops() {
    // Each pass closes the innermost one; its loop ends when control returns
    // to it, and the module's code after it goes on as after a Cancel.
    for (int guard = 0; guard < 64; ++guard) {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            popup->close();
            continue;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            modal->hide(); // refused to close: hidden, it no longer blocks
    }
}

void Program::closeModuleWindows() {
    // As at the end of a desktop session: each window gets its close event
    // (the emulator saves its configuration there).
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != window_.get() && w->isVisible() && !w->isModal() && w->windowType() != Qt::Popup)
            w->close();
    }
}

void Program::interrupted(int signal) {
    clearProgress();
    signal_ = signal;
    // What waits is dropped and nothing more is taken: the end comes first.
    session_->host().closeCommands();
    // A run that waits for Ctrl+C ends as asked: complete.
    askedEnd_ = signal == SIGINT && (options_.untilStopped || options_.remote);
    err_ << "\nrecorder: "
         << (askedEnd_          ? "stopping"
             : signal == SIGINT ? "interrupted"
                                : "terminated")
         << "; closing the modules (a second Ctrl+C ends at once)\n";
    err_.flush();
    endModalLoops();
    sweeper_.start();
    QCoreApplication::exit(128 + signal);
}

void Program::timedEnd() {
    if (!session_->host().running())
        return;
    const double left = *options_.seconds - session_->runSeconds();
    if (left > 0) { // the recorder's clock says when, not the timer
        timed_.start(static_cast<int>(std::ceil(left * 1000)));
        return;
    }
    if (window_ && !options_.screenshot.empty()) {
        window_->repaint();
        if (!window_->grab().save(QString::fromStdString(options_.screenshot), "PNG"))
            failure("cannot write " + options_.screenshot);
        else
            out_ << "Screenshot: " << options_.screenshot << "\n";
    }
    timedRun_ = false;
    session_->stop();
    if (!window_ || options_.quitAfterRun)
        QCoreApplication::exit(0);
}

void Program::state(const std::string& text) {
    clearProgress();
    out_ << QDateTime::currentDateTime().toString("HH:mm:ss.zzz").toStdString() << " " << text
         << "\n";
    out_.flush();
}

void Program::runStarted() {
    if (options_.remote) {
        const Recording* r = session_->recording();
        state(r != nullptr ? "started: recording to " + r->manifestPath()
                           : std::string("started: recording nothing"));
    }
    if (options_.headless && isatty(STDERR_FILENO) == 1)
        progress_.start();
}

void Program::runEnded() {
    progress_.stop();
    clearProgress();
    ++runs_;
    if (options_.remote) {
        char text[64];
        std::snprintf(text, sizeof text, "stopped after %.3f s", session_->runSeconds());
        const Recording* r = session_->recording();
        state(text + (r != nullptr ? ": " + r->status() : std::string()));
    }
    out_ << formatSummary(session_->summary(), session_->runSeconds());
    const Recording* r = session_->recording();
    if (r != nullptr) {
        out_ << "Recording: " << r->manifestPath() << " (" << r->status() << ")\n";
        if (r->failed())
            failure("recording failed: " + r->error());
    }
    if (const std::uint64_t dropped = session_->host().messagesDropped(); dropped > 0) {
        out_ << "Log: the newest " << session_->host().messages().size() << " messages kept, "
             << dropped << " older ones dropped";
        if (r != nullptr && !r->logPath().empty())
            out_ << " (this run's are all in " << r->logPath() << ")";
        out_ << "\n";
    }
    out_.flush();
    if (options_.plot)
        writePlots();
    pull();
    if (options_.remote) {
        if (options_.runs > 0 && runs_ >= options_.runs)
            QCoreApplication::exit(0);
        else if (signal_ == 0)
            state("waiting for a remote start (Ctrl+C ends)");
        return;
    }
    // Headless, the run is the program: a stop from elsewhere (a remote stop)
    // ends it as the timer would.
    if (!window_ && signal_ == 0)
        QCoreApplication::exit(0);
}

void Program::writePlots() {
    // Beside the channel's WAV file, named as it is: each recording has its own.
    const Recording* r = session_->recording();
    if (r == nullptr)
        return;
    for (const host::HostChannel* c : session_->host().channels()) {
        const std::string file = r->plotFile(*c);
        if (file.empty())
            continue; // came after the recording ended
        const Envelope empty;
        const Envelope* e = session_->envelope(c);
        const std::string name = host::utf8(c->name().c_str());
        const std::string path = r->folder() + "/" + file;
        std::string error;
        if (!writePlot(path, name, c->frequency(), e != nullptr ? *e : empty, error))
            failure(error);
        else
            out_ << "Plot: " << path << "\n";
    }
}

void Program::pull() {
    for (const auto& [name, count] : options_.pulls) {
        const std::string wanted = platform::utf8ToCp1251(name);
        bool answered = false;
        std::vector<double> values;
        for (const auto& m : session_->host().modules()) {
            values.assign(static_cast<std::size_t>(count), 0.0);
            if (session_->host().requestData(*m, wanted, count, values)) {
                answered = true;
                out_ << "Pull " << name << " (" << m->name() << ", " << count << " values):\n";
                char line[64];
                for (std::int32_t k = 0; k < count; ++k) {
                    // Seventeen digits: the printed value reads back as the same double.
                    std::snprintf(line, sizeof line, "%d\t%.17g\n", k,
                                  values[static_cast<std::size_t>(k)]);
                    out_ << line;
                }
                break;
            }
        }
        if (!answered)
            failure("no module answered a data request for " + name);
    }
    out_.flush();
}

int Program::exec() {
    std::string error;
    if (options_.session.programDirectory.empty())
        options_.session.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    if (options_.session.programDirectory.empty())
        options_.session.programDirectory = ".";
    if (!checkBeforeStart(options_, error)) {
        failure(error);
        return 1;
    }
    if (!options_.session.config.empty()) {
        // What the emulator would change without a word, told first; a rate
        // no run keeps is refused.
        ConfigurationCheck check;
        if (checkEmulatorConfiguration(options_.session.config, check, error)) {
            for (const std::string& f : check.findings)
                err_ << "recorder: warning: " << options_.session.config << ": " << f << "\n";
            const std::string rate = rateProblem(check);
            if (!rate.empty()) {
                failure(options_.session.config + ": " + rate + "; nothing runs");
                return 1;
            }
        }
    }
    QApplication::setQuitOnLastWindowClosed(false);
    // Only what will be drawn is kept: the scope's window of each channel
    // when the window shows, the envelopes when plots are asked for.
    options_.session.keepScope = !options_.headless;
    options_.session.keepEnvelopes = options_.plot;
    session_ = std::make_unique<Session>(options_.session);
    if (options_.trace)
        session_->host().setTrace(
            [this](const host::Call& c) { err_ << "call " << c.text() << "\n"; });
    const bool verbose = options_.verbose;
    session_->setMessageHandler([this, verbose](const host::LogMessage& m) {
        if (verbose || m.kind != host::kLogTrace)
            err_ << formatLogLine(m) << "\n";
    });
    session_->setRunEndHandler([this] { runEnded(); });
    session_->setRunStartHandler([this] { runStarted(); });
    // Headless, a recording that ended on a full disk ends the run: nothing
    // more of it can be kept.
    session_->setDiskFullHandler([this] {
        if (!window_)
            QTimer::singleShot(0, [this] {
                timed_.stop();
                session_->stop();
            });
    });
    SignalWatch watch([this](int number) { interrupted(number); });

    if (!options_.headless) {
        window_ = std::make_unique<MainWindow>(*session_);
        window_->setShowTraces(verbose);
    }
    const int started = session_->loadModules();
    for (const std::string& f : session_->failures())
        failure(f);
    // Nothing runs that is known to fall short of what was asked.
    bool ready = true;
    if (started == 0) {
        failure("no module started; nothing runs");
        ready = false;
    } else if (!checkChannels(options_, session_->host(), error)) {
        failure(error + "; nothing runs");
        ready = false;
    }
    if (window_ && ready) {
        window_->refresh();
        window_->show();
        window_->placeModuleWindows();
    }

    if (ready && options_.session.record && !options_.remote &&
        (options_.headless || options_.seconds))
        warnOfSpace(options_.seconds.value_or(5.0));
    const bool timed = options_.headless || options_.seconds.has_value() || options_.untilStopped;
    if (ready && options_.remote && signal_ == 0)
        state("waiting for a remote start (Ctrl+C ends)");
    if (ready && timed && !options_.remote && signal_ == 0) {
        session_->start();
        if (!options_.untilStopped) {
            timedRun_ = true;
            const double seconds = options_.seconds.value_or(5.0);
            options_.seconds = seconds;
            timed_.start(static_cast<int>(std::ceil(seconds * 1000)));
        }
    }
    if (ready && signal_ == 0)
        QApplication::exec();
    session_->host().closeCommands();

    // Closing, in order: modal loops, the modules' windows, stop, then
    // canclose and close of every module.
    if (signal_ != 0)
        endModalLoops();
    closeModuleWindows();
    if (signal_ != 0 && !askedEnd_)
        session_->interrupt();
    else
        session_->stop();
    if (window_)
        window_->closeModules();
    else
        session_->shutdown();
    sweeper_.stop();
    if (signal_ != 0 && !askedEnd_)
        return 128 + signal_;
    return failed_ ? 1 : 0;
}

} // namespace recorder
