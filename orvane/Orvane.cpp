// The reference remote-control server library: keeps what the recorder module
// tells it and, once it holds the command object, serves the control endpoint.
#include "Endpoint.h"

#include "platform/module.h"
#include "platform/text.h"
#include "plugin_api/remote_control.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {

constexpr int kDefaultPort = 8765;

void report(const std::string& text) {
    std::fprintf(stderr, "Orvane: %s\n", text.c_str());
    std::fflush(stderr);
}

// A whole decimal number from 0 to 65535.
bool parsePort(std::string_view text, int& port) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0 ||
        value > 65535)
        return false;
    port = value;
    return true;
}

std::string libraryFolder() {
    const std::string path = platform::modulePath();
    const std::string::size_type cut = path.rfind(platform::pathSeparator());
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// ORVANE_PORT, else "port = N" in Orvane.conf beside the library, else the
// default. A value that is no port is reported and passed over.
int configuredPort() {
    int port = kDefaultPort;
    if (const char* env = std::getenv("ORVANE_PORT"); env != nullptr && *env != '\0') {
        if (parsePort(env, port))
            return port;
        report(std::string("ORVANE_PORT=") + env + " is not a port number; ignored");
    }
    const std::string file = libraryFolder() + "Orvane.conf";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        const std::string::size_type hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        const std::string::size_type eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        key.erase(0, key.find_first_not_of(" \t"));
        key.erase(key.find_last_not_of(" \t") + 1);
        if (key != "port")
            continue;
        if (parsePort(std::string_view(line).substr(eq + 1), port))
            return port;
        report(file + ": \"" + line + "\" is not a port number; ignored");
        port = kDefaultPort;
    }
    return kDefaultPort;
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return {};
}

// Where a token made at random is written: ORVANE_TOKEN_FILE, else
// $XDG_CONFIG_HOME/orvane/token (default ~/.config/orvane/token).
std::string tokenFile() {
    if (const char* file = std::getenv("ORVANE_TOKEN_FILE"); file != nullptr && *file != '\0')
        return file;
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        base = config;
    else
        base = homeFolder() + "/.config";
    return base + "/orvane/token";
}

// Creates the folders of `file` that are missing, readable by the user only.
bool makeFolders(const std::string& file) {
    for (std::string::size_type at = file.find('/', 1); at != std::string::npos;
         at = file.find('/', at + 1)) {
        const std::string folder = file.substr(0, at);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Writes the token to a file that only the user may read, replacing the old
// one atomically.
bool writeTokenFile(const std::string& file, const std::string& token, std::string& error) {
    if (!makeFolders(file)) {
        error = std::strerror(errno);
        return false;
    }
    const std::string temporary = file + ".tmp" + std::to_string(getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    const std::string text = token + "\n";
    bool ok = fchmod(fd, 0600) == 0 &&
              write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              fsync(fd) == 0;
    if (!ok)
        error = std::strerror(errno);
    ok = (::close(fd) == 0) && ok;
    if (ok && std::rename(temporary.c_str(), file.c_str()) != 0) {
        error = std::strerror(errno);
        ok = false;
    }
    if (!ok)
        unlink(temporary.c_str());
    return ok;
}

// 24 random bytes from the kernel as 48 hex digits; empty when none can be had.
std::string randomToken() {
    unsigned char bytes[24];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return {};
        }
        got += static_cast<std::size_t>(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string token;
    for (unsigned char b : bytes) {
        token += digits[b >> 4];
        token += digits[b & 15];
    }
    return token;
}

const char* stateText(int state) {
    switch (state) {
    case 1:
        return "stopped";
    case 2:
        return "running";
    case 3:
        return "recording";
    case 4:
        return "paused";
    default:
        return "unknown";
    }
}

class Notify final : public IrcNotify {
public:
    Notify() = default;
    Notify(const Notify&) = delete;
    Notify& operator=(const Notify&) = delete;
    // The library is being unloaded: its server thread must not run on.
    ~Notify() { endpoint_.stop(); }

    bool RECAPI attachcommand(std::int32_t, IrcCommand* command) override {
        try {
            if (command == nullptr) {
                endpoint_.stop();
                const std::lock_guard<std::mutex> lock(mutex_);
                command_ = nullptr;
                return true;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                command_ = command;
            }
            if (!endpoint_.running())
                startEndpoint();
            return true;
        } catch (...) {
            return false;
        }
    }

    bool RECAPI reserved1() override { return true; }

    bool RECAPI setstate(std::int32_t state) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
        return true;
    }

    bool RECAPI settime(double time, std::int32_t) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        time_ = time;
        return true;
    }

    bool RECAPI setfilepath(const char* path) override {
        try {
            const std::lock_guard<std::mutex> lock(mutex_);
            file_ = path != nullptr ? path : "";
            return true;
        } catch (...) {
            return false;
        }
    }

private:
    void startEndpoint() {
        std::string token;
        std::string where;
        if (const char* env = std::getenv("ORVANE_TOKEN"); env != nullptr && *env != '\0') {
            token = env;
            where = "the token is the one of ORVANE_TOKEN";
        } else {
            token = randomToken();
            if (token.empty()) {
                report("no random token could be made; the control endpoint stays off");
                return;
            }
            const std::string file = tokenFile();
            std::string error;
            if (!writeTokenFile(file, token, error)) {
                report("cannot write the token to " + file + ": " + error +
                       "; the control endpoint stays off");
                return;
            }
            where = "the token is in " + file;
        }
        const int port = configuredPort();
        EndpointHooks hooks;
        hooks.status = [this] { return statusJson(); };
        hooks.start = [this] { return runCommand(true); };
        hooks.stop = [this] { return runCommand(false); };
        std::string error;
        if (!endpoint_.start(port, token, std::move(hooks), error)) {
            report(error + "; the recorder goes on without the control endpoint");
            return;
        }
        report("control page at http://127.0.0.1:" + std::to_string(endpoint_.port()) +
               "/?token=... (" + where + ")");
    }

    std::string statusJson() {
        const std::lock_guard<std::mutex> lock(mutex_);
        nlohmann::json status = {{"state", state_},
                                 {"stateText", stateText(state_)},
                                 {"time", time_},
                                 {"file", platform::cp1251ToUtf8(file_)},
                                 {"recorder", command_ != nullptr}};
        return status.dump();
    }

    // Commands run one at a time, outside the state lock, so that a host that
    // answers with a notification on this thread finds the state free.
    bool runCommand(bool start) {
        const std::lock_guard<std::mutex> serial(commandMutex_);
        IrcCommand* command = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            command = command_;
        }
        if (command == nullptr)
            return false;
        return start ? command->start() : command->stop();
    }

    std::mutex mutex_;
    std::mutex commandMutex_;
    IrcCommand* command_ = nullptr;
    int state_ = 0;
    double time_ = 0.0;
    std::string file_; // 1251
    Endpoint endpoint_;
};

Notify g_notify;

} // namespace

} // namespace orvane

PLUGIN_EXPORT IrcNotify* RECCDECL GetNotifyInterface() {
    return &orvane::g_notify;
}
