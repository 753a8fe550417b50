// The platform layer's system services on POSIX systems.
#include "../system.h"

#include "platform/numfmt.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::sys {

std::uint64_t ticks64() {
    timespec ts{};
#ifdef CLOCK_BOOTTIME
    clock_gettime(CLOCK_BOOTTIME, &ts);
#else
    clock_gettime(CLOCK_MONOTONIC, &ts);
#endif
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::uint32_t ticks32() {
    return static_cast<std::uint32_t>(ticks64());
}

// The locale name the C library would take for LC_NUMERIC: LC_ALL, then
// LC_NUMERIC, then LANG, the first that is set and not empty.
char userDecimalSeparator() {
    for (const char* var : {"LC_ALL", "LC_NUMERIC", "LANG"}) {
        const char* v = std::getenv(var);
        if (v != nullptr && *v != '\0')
            return detail::separatorForLocaleName(v);
    }
    return '.';
}

bool environmentValue(const char* name, std::string& value) {
    const char* v = std::getenv(name);
    if (v == nullptr || *v == '\0')
        return false;
    value = v;
    return true;
}

std::string profileFolder(const std::string& program) {
    std::string base;
    if (environmentValue("XDG_CONFIG_HOME", base) && base.front() == '/')
        return base + "/" + program + "/";
    if (environmentValue("HOME", base) && base.front() == '/')
        return base + "/.config/" + program + "/";
    return {};
}

ReadResult readFile(const std::string& file, std::string& out) {
    out.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ReadResult::Failed;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Ok;
}

namespace {

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

bool replaceFile(const std::string& target, const std::string& data) {
    std::string path = target;
    if (char* real = ::realpath(target.c_str(), nullptr)) {
        path = real; // write through a symbolic link, keeping the link
        std::free(real);
    }
    struct stat old {};
    const bool hadOld = ::stat(path.c_str(), &old) == 0;
    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(++counter);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, data);
    if (ok && hadOld)
        (void)::fchmod(fd, old.st_mode & 07777);
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable.
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

} // namespace platform::sys
