// recorder: loads plug-in modules, runs them, shows and records their
// channels. With --headless (or without a display) it runs for a while, then
// prints a summary per channel.
#include "check.h"
#include "program.h"
#include "recover.h"
#include "render.h"
#include "verify.h"

#include <QApplication>
#include <QString>
#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

namespace {

const char* env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

bool screenless(const char* platform) {
    return std::strcmp(platform, "offscreen") == 0 || std::strcmp(platform, "minimal") == 0;
}

QtMessageHandler gQtHandler = nullptr;

// Qt warns on every start when XDG_RUNTIME_DIR is not set (a root shell, a
// container, CI); the recorder keeps nothing there, so that one says nothing.
void quietQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtWarningMsg && text.contains(QLatin1String("XDG_RUNTIME_DIR not set")))
        return;
    gQtHandler(type, context, text);
}

// The subcommands: `recorder NAME ...` runs one with argv from NAME on.
struct Subcommand {
    const char* name;
    int (*run)(int argc, char** argv);
};
const Subcommand kSubcommands[] = {
    {"check", [](int argc,
                 char** argv) { return recorder::checkCommand(argc, argv, std::cout, std::cerr); }},
    {"recover", recorder::recoverCommand},
    {"render", recorder::renderCommand},
    {"verify", recorder::verifyCommand},
};

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2)
        for (const Subcommand& s : kSubcommands)
            if (std::strcmp(argv[1], s.name) == 0)
                return s.run(argc - 1, argv + 1);
    recorder::ProgramOptions o;
    std::string error;
    if (!recorder::parseOptions(argc, argv, o, error)) {
        std::cerr << "recorder: " << error << "; try --help\n";
        return 2;
    }
    if (o.help) {
        std::cout << recorder::kUsage;
        return 0;
    }
    if (o.version) {
        std::cout << recorder::versionText() << "\n";
        return 0;
    }
    gQtHandler = qInstallMessageHandler(quietQtMessages);
    const char* platform = env("QT_QPA_PLATFORM");
    const bool display = env("DISPLAY") != nullptr || env("WAYLAND_DISPLAY") != nullptr;
    if (!o.headless && !o.window) {
        if (platform != nullptr)
            o.headless = screenless(platform);
        else if (!display)
            o.headless = true;
        else // a display server that does not answer: headless rather than an abort
            setenv("QT_QPA_PLATFORM",
                   env("WAYLAND_DISPLAY") != nullptr ? "wayland;xcb;offscreen" : "xcb;offscreen",
                   1);
    }
    if (o.headless || (o.window && platform == nullptr && !display))
        setenv("QT_QPA_PLATFORM", "offscreen", 0); // plots still need fonts
    QApplication app(argc, argv);
    app.setApplicationName("recorder");
    if (!o.headless && !o.window && screenless(qPrintable(QGuiApplication::platformName()))) {
        std::cerr << "recorder: no display server answers"
                  << (env("DISPLAY") != nullptr ? std::string(" at DISPLAY=") + env("DISPLAY")
                                                : std::string())
                  << "; running headless\n";
        o.headless = true;
    }
    if (o.headless) {
        // The modules show nothing either.
        setenv("TOLVEX_UI", "none", 0);
        setenv("BRANTIC_UI", "none", 0);
    }
    if (!recorder::checkMode(o, error)) {
        std::cerr << "recorder: " << error << "; try --help\n";
        return 2;
    }
    recorder::Program program(o, std::cout, std::cerr);
    return program.exec();
}
