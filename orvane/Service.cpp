#include "Service.h"

#include "platform/module.h"
#include "platform/wholefile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sstream>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane {

namespace {

constexpr int kDefaultPort = 8765;
constexpr std::size_t kMaxToken = kMaxTokenLength;

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
    std::string text;
    std::string why;
    switch (platform::readWholeFile(file, text, why)) {
    case platform::ReadOutcome::Missing:
        return kDefaultPort;
    case platform::ReadOutcome::Failed:
        report(file + ": " + why + "; ignored");
        return kDefaultPort;
    case platform::ReadOutcome::Ok:
        break;
    }
    std::istringstream in(text);
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

enum class Kept { Found, Missing, Refused };

// Reads the token kept in `file`. A file that others may read, or that holds
// no usable token, is refused and left as it is.
Kept readTokenFile(const std::string& file, std::string& token, std::string& error) {
    // Without waiting: a FIFO in the token's place is refused, not waited on.
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            return Kept::Missing;
        error = std::strerror(errno);
        return Kept::Refused;
    }
    struct stat info {};
    std::string text;
    bool ok = fstat(fd, &info) == 0;
    if (!ok) {
        error = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error = "it is not a regular file";
        ok = false;
    } else if (info.st_uid != getuid() || (info.st_mode & 077) != 0) {
        error = "it must be a file of this user that only this user may read (chmod 600)";
        ok = false;
    } else {
        char buffer[kMaxToken + 2];
        ssize_t n = 0;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() <= kMaxToken + 1)
            text.append(buffer, static_cast<std::size_t>(n));
        if (n < 0) {
            error = std::strerror(errno);
            ok = false;
        }
    }
    ::close(fd);
    if (!ok)
        return Kept::Refused;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    if (const std::string problem = tokenProblem(text); !problem.empty()) {
        error = "the token it holds " + problem + "; remove the file to have a new one made";
        return Kept::Refused;
    }
    token = text;
    return Kept::Found;
}

// Writes the token to a new file that only the user may read. The file appears
// whole or not at all, and a file that appeared meanwhile is not replaced:
// `token` then becomes the one it holds.
bool writeTokenFile(const std::string& file, std::string& token, std::string& error) {
    if (!makeFolders(file)) {
        error = std::strerror(errno);
        return false;
    }
    platform::WholeFileOptions options;
    options.ownerOnly = true;
    options.keepExisting = true;
    if (platform::writeWholeFile(file, token + "\n", error, options))
        return true;
    struct stat info {};
    if (::lstat(file.c_str(), &info) == 0) // another start was first
        return readTokenFile(file, token, error) == Kept::Found;
    return false;
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

} // namespace

std::string settleToken(std::string& where, std::string& error) {
    if (const char* env = std::getenv("ORVANE_TOKEN"); env != nullptr && *env != '\0') {
        if (const std::string problem = tokenProblem(env); !problem.empty()) {
            error = "ORVANE_TOKEN " + problem;
            return {};
        }
        where = "the token is the one of ORVANE_TOKEN";
        return env;
    }
    const std::string file = tokenFile();
    std::string token;
    std::string why;
    switch (readTokenFile(file, token, why)) {
    case Kept::Found:
        break;
    case Kept::Refused:
        error = "cannot use the token in " + file + ": " + why;
        return {};
    case Kept::Missing:
        token = randomToken();
        if (token.empty()) {
            error = "no random token could be made";
            return {};
        }
        if (!writeTokenFile(file, token, why)) {
            error = "cannot write the token to " + file + ": " + why;
            return {};
        }
        break;
    }
    where = "the token is in " + file;
    return token;
}

ControlService::ControlService() = default;

ControlService::~ControlService() {
    stop();
}

bool ControlService::running() const {
    return endpoint_ != nullptr && endpoint_->running();
}

void ControlService::start(EndpointHooks hooks) {
    if (running())
        return;
    auto endpoint = std::make_unique<Endpoint>();
    std::string error;
    if (!endpoint->listen(configuredPort(), error)) {
        report(error + "; the recorder goes on without the control endpoint");
        return;
    }
    std::string where;
    const std::string token = settleToken(where, error);
    if (token.empty()) {
        report(error + "; the control endpoint stays off");
        return;
    }
    if (!endpoint->serve(token, std::move(hooks), error)) {
        report(error + "; the control endpoint stays off");
        return;
    }
    report("control page at http://127.0.0.1:" + std::to_string(endpoint->port()) + "/ (" + where +
           ")");
    endpoint_ = std::move(endpoint);
}

void ControlService::stop() {
    endpoint_.reset();
}

} // namespace orvane
