// recorder: loads plug-in modules, runs them, shows and records their
// channels. With --headless (or without a display) it runs for a while, then
// prints a summary per channel.
#include "analysis.h"
#include "mainwindow.h"
#include "session.h"

#include "platform/text.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTimer>

#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

volatile std::sig_atomic_t interrupted = 0;

extern "C" void onSignal(int) {
    interrupted = 1;
}

struct Options {
    bool headless = false;
    double seconds = 5;
    std::string plotDir;
    std::vector<std::pair<std::string, std::int32_t>> pulls; // UTF-8 names
    bool trace = false;
    recorder::SessionOptions session;
};

const char* kUsage =
    "Usage: recorder [options] [MODULE...]\n"
    "Loads the plug-in modules (default: Tolvex and Brantic beside the program), runs them\n"
    "and records their channels to <dir>/<name>/<name>.kova.\n"
    "\n"
    "  --headless          no window (also chosen when there is no display)\n"
    "  --seconds N         headless: run N seconds after Start, then stop (default 5)\n"
    "  --config FILE       emulator configuration (.res) to load\n"
    "  --dir DIR           folder of the recordings (default: recordings)\n"
    "  --name NAME         name of the recording (default: run-<date>-<time>)\n"
    "  --no-record         record nothing\n"
    "  --plot DIR          headless: write a PNG plot per channel into DIR\n"
    "  --pull NAME COUNT   headless: print COUNT values of channel NAME from a data request\n"
    "  --trace             print every call a module makes to the host, as it happens\n"
    "  --update-ms N       interval of PN_UPDATEDATA while running (default 100)\n";

bool parse(int argc, char** argv, Options& o, std::string& error) {
    std::vector<std::string> modules;
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
            if (end == text || *end != '\0') {
                error = a + ": not a number: " + text;
                return false;
            }
            return true;
        };
        if (a == "--help" || a == "-h") {
            error.clear();
            return false;
        } else if (a == "--headless") {
            o.headless = true;
        } else if (a == "--seconds") {
            const char* v = value("a number of seconds");
            if (v == nullptr || !number(v, o.seconds))
                return false;
            if (!(o.seconds >= 0)) {
                error = "--seconds must not be negative";
                return false;
            }
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
            if (o.session.name.find('/') != std::string::npos || o.session.name == "." ||
                o.session.name == "..") {
                error = "--name must be a plain file name";
                return false;
            }
        } else if (a == "--no-record") {
            o.session.record = false;
        } else if (a == "--plot") {
            const char* v = value("a folder");
            if (v == nullptr)
                return false;
            o.plotDir = v;
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
        } else if (a == "--trace") {
            o.trace = true;
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
    return true;
}

bool haveDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return std::strcmp(platform, "offscreen") != 0 && std::strcmp(platform, "minimal") != 0;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (wayland != nullptr && *wayland != '\0');
}

void printMessage(const host::LogMessage& m) {
    std::cerr << "[" << QString::fromStdU16String(m.source).toStdString() << "] "
              << QString::fromStdU16String(m.text).toStdString() << "\n";
}

// Every `interval` ms: quits the loop once a signal came.
void watchSignals(QTimer& timer) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    QObject::connect(&timer, &QTimer::timeout, [] {
        if (interrupted)
            QCoreApplication::quit();
    });
    timer.start(50);
}

std::string fileSafe(const std::string& utf8Name, std::size_t index) {
    std::string out;
    for (char c : utf8Name) {
        const auto u = static_cast<unsigned char>(c);
        out += (u >= 0x80 || std::isalnum(u) || c == '-' || c == '_') ? c : '_';
    }
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%02zu-", index);
    return prefix + out + ".png";
}

int runHeadless(Options& o) {
    o.session.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    recorder::Session session(o.session);
    if (o.trace)
        session.host().setTrace(
            [](const host::Call& c) { std::cerr << "trace: " << c.text() << "\n"; });
    session.setMessageHandler(printMessage);
    const int started = session.loadModules();
    if (started == 0)
        std::cerr << "recorder: no module started\n";

    QTimer signalWatch;
    watchSignals(signalWatch);
    session.start();
    QTimer::singleShot(static_cast<int>(o.seconds * 1000), [] { QCoreApplication::quit(); });
    if (!interrupted)
        QCoreApplication::exec();
    session.stop();

    std::cout << recorder::formatSummary(session.summary(), session.runSeconds());
    if (const recorder::Recording* r = session.recording()) {
        if (r->failed())
            std::cout << "Recording failed: " << r->error() << "\n";
        else
            std::cout << "Recording: " << session.currentFile() << "\n";
    }

    int status = started == 0 ? 1 : 0;
    if (!o.plotDir.empty()) {
        if (!QDir().mkpath(QString::fromStdString(o.plotDir))) {
            std::cerr << "recorder: cannot create " << o.plotDir << "\n";
            status = 1;
        } else {
            const auto& channels = session.host().channels();
            for (std::size_t i = 0; i < channels.size(); ++i) {
                const host::HostChannel* c = channels[i];
                const recorder::Envelope empty;
                const recorder::Envelope* e = session.envelope(c);
                const std::string name = host::utf8(c->name().c_str());
                const std::string path = o.plotDir + "/" + fileSafe(name, i);
                std::string error;
                if (!recorder::writePlot(path, name, c->frequency(), e != nullptr ? *e : empty,
                                         error)) {
                    std::cerr << "recorder: " << error << "\n";
                    status = 1;
                } else {
                    std::cout << "Plot: " << path << "\n";
                }
            }
        }
    }
    for (const auto& [name, count] : o.pulls) {
        const std::string wanted = platform::utf8ToCp1251(name);
        bool answered = false;
        std::vector<double> values;
        for (const auto& m : session.host().modules()) {
            values.assign(static_cast<std::size_t>(count), 0.0);
            if (session.host().requestData(*m, wanted, count, values)) {
                answered = true;
                std::cout << "Pull " << name << " (" << m->name() << ", " << count << " values):\n";
                for (std::int32_t k = 0; k < count; ++k)
                    std::printf("%d\t%.9g\n", k, values[static_cast<std::size_t>(k)]);
                std::fflush(stdout);
                break;
            }
        }
        if (!answered) {
            std::cerr << "recorder: no module answered a data request for " << name << "\n";
            status = 1;
        }
    }
    session.shutdown();
    return status;
}

int runWindow(Options& o) {
    o.session.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    recorder::Session session(o.session);
    if (o.trace)
        session.host().setTrace(
            [](const host::Call& c) { std::cerr << "trace: " << c.text() << "\n"; });
    recorder::MainWindow window(session);
    session.loadModules();
    window.refresh();
    window.show();
    QTimer signalWatch;
    watchSignals(signalWatch);
    const int status = QApplication::exec();
    window.closeModules();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (!parse(argc, argv, o, error)) {
        if (error.empty()) {
            std::cout << kUsage;
            return 0;
        }
        std::cerr << "recorder: " << error << "\n" << kUsage;
        return 2;
    }
    if (!o.headless && !haveDisplay())
        o.headless = true;

    if (o.headless) {
        // The modules show nothing either; plots still need fonts, hence the
        // offscreen platform of Qt GUI.
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        setenv("TOLVEX_UI", "none", 0);
        setenv("BRANTIC_UI", "none", 0);
        QGuiApplication app(argc, argv);
        app.setApplicationName("recorder");
        return runHeadless(o);
    }
    QApplication app(argc, argv);
    app.setApplicationName("recorder");
    return runWindow(o);
}
