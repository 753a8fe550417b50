// The platform layer's system services on POSIX systems.
#include "../system.h"

#include "platform/numfmt.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
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

// The C library takes the user's locale for LC_NUMERIC from LC_ALL, then
// LC_NUMERIC, then LANG.
char userDecimalSeparator() {
    return detail::separatorForLocaleName("");
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

// Opened without waiting, so that a FIFO or a device cannot hold the
// caller; read only when it is a regular file.
ReadResult readFile(const std::string& file, std::string& out, std::string& error) {
    out.clear();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int why = errno;
        error = std::strerror(why);
        return why == ENOENT || why == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? "it is a folder, not a file" : "it is not a regular file";
        ::close(fd);
        return ReadResult::Failed;
    }
    out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            error = std::strerror(errno);
            ::close(fd);
            out.clear();
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

constexpr std::size_t kPiece = 64 * 1024;

// The step may go on (0), or fails as the test asked, with errno set.
bool stepFails(testing::WriteStep step) {
    const int fault = injectedFault(step);
    if (fault != 0)
        errno = fault;
    return fault != 0;
}

// The folder of `path`, without its trailing separator ("." for a bare name).
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncFolder(const std::string& dir) {
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
}

// Removes the temporary files of `path` whose writer no longer runs: a
// writer killed between making its file and putting it in place leaves it.
void removeStaleTemporaries(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* dir = ::opendir(folderOf(path).c_str());
    if (dir == nullptr)
        return;
    const auto self = static_cast<unsigned long>(::getpid());
    while (const dirent* entry = ::readdir(dir)) {
        unsigned long process = 0;
        if (!isTemporaryOf(base, entry->d_name, process) || process == self)
            continue;
        // kill(pid, 0) fails with ESRCH only when no such process exists.
        if (process <= static_cast<unsigned long>(INT_MAX) &&
            (::kill(static_cast<pid_t>(process), 0) == 0 || errno != ESRCH))
            continue;
        (void)::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace

// A temporary file in the same folder, written, flushed and closed, each
// result checked, then renamed over the file and the folder flushed. The
// folder's flush comes after the new file is in place and is left to chance:
// failing it would report a failure when the new file is already there.
bool replaceFile(const std::string& target, std::string_view data, const WholeFileOptions& options,
                 std::string& error) {
    std::string path = target;
    if (!options.keepExisting) {
        if (char* real = ::realpath(target.c_str(), nullptr)) {
            path = real; // write through a symbolic link, keeping the link
            std::free(real);
        }
    }
    struct stat old {};
    const bool hadOld =
        (options.keepExisting ? ::lstat(path.c_str(), &old) : ::stat(path.c_str(), &old)) == 0;
    if (hadOld && options.keepExisting) {
        error = std::strerror(EEXIST);
        return false;
    }
    if (hadOld && !S_ISREG(old.st_mode)) {
        error = "it is not a regular file";
        return false;
    }
    removeStaleTemporaries(path);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temporaryFileName(path, static_cast<unsigned long>(::getpid()), ++counter);
        if (stepFails(testing::WriteStep::Create))
            break;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    options.ownerOnly ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int why = errno;
        if (hadOld && (why == EACCES || why == EPERM))
            error = "the folder " + folderOf(path) + " takes no new file (" + std::strerror(why) +
                    "), and the file is not rewritten in place";
        else
            error = std::strerror(why);
        return false;
    }

    int why = 0;
    std::size_t done = 0;
    while (why == 0 && done < data.size()) {
        const std::size_t piece = std::min(data.size() - done, kPiece);
        if (stepFails(testing::WriteStep::Write)) {
            why = errno;
            break;
        }
        const ssize_t n = ::write(fd, data.data() + done, piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            why = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<std::size_t>(n);
    }
    if (why == 0 && hadOld)
        (void)::fchmod(fd, old.st_mode & 07777); // permissions, not content: best effort
    if (why == 0 && (stepFails(testing::WriteStep::Flush) || ::fsync(fd) != 0))
        why = errno;
    if (why == 0 && stepFails(testing::WriteStep::Close))
        why = errno;
    if (::close(fd) != 0 && why == 0)
        why = errno;
    if (why == 0 && stepFails(testing::WriteStep::Replace))
        why = errno;
    if (why == 0 && (options.keepExisting ? ::link(temp.c_str(), path.c_str())
                                          : ::rename(temp.c_str(), path.c_str())) != 0)
        why = errno;
    if (why != 0 || options.keepExisting)
        ::unlink(temp.c_str());
    if (why != 0) {
        error = std::strerror(why);
        return false;
    }
    syncFolder(folderOf(path)); // make the rename itself durable
    return true;
}

} // namespace platform::sys
