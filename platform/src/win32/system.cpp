// The platform layer's system services on Windows: thin wrappers of the API.
#include "../system.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace platform::sys {

std::uint64_t ticks64() {
    return ::GetTickCount64();
}

std::uint32_t ticks32() {
    return ::GetTickCount();
}

char userDecimalSeparator() {
    char text[8] = {};
    if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) > 0 &&
        (text[0] == '.' || text[0] == ',') && text[1] == '\0')
        return text[0];
    return '.';
}

bool environmentValue(const char* name, std::string& value) {
    char buf[MAX_PATH * 4];
    const DWORD n = ::GetEnvironmentVariableA(name, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf)
        return false;
    value.assign(buf, n);
    return true;
}

std::string profileFolder(const std::string&) {
    char dir[MAX_PATH + 1];
    const UINT n = ::GetWindowsDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        return {};
    std::string folder(dir, n);
    if (folder.back() != '\\')
        folder += '\\';
    return folder;
}

namespace {

constexpr std::size_t kPiece = 64 * 1024;

// The step may go on (0), or fails as the test asked, with the last error set.
bool stepFails(testing::WriteStep step) {
    const int fault = injectedFault(step);
    if (fault != 0)
        ::SetLastError(static_cast<DWORD>(fault));
    return fault != 0;
}

// The system's text of an error code, without its closing line break.
std::string describe(DWORD code) {
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr)
        ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    if (out.empty())
        out = "system error " + std::to_string(code);
    return out;
}

std::string folderOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

// True while the process runs; a process that cannot be asked counts as running.
bool processRuns(unsigned long id) {
    HANDLE h = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (h == nullptr)
        return ::GetLastError() != ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    const bool runs = !::GetExitCodeProcess(h, &code) || code == STILL_ACTIVE;
    ::CloseHandle(h);
    return runs;
}

// Removes the temporary files of `path` whose writer no longer runs.
void removeStaleTemporaries(const std::string& path) {
    const std::size_t cut = path.find_last_of("\\/");
    const std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
    const std::string prefix = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((path + ".tmp*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const unsigned long self = ::GetCurrentProcessId();
    do {
        unsigned long process = 0;
        if (isTemporaryOf(base, found.cFileName, process) && process != self &&
            !processRuns(process))
            ::DeleteFileA((prefix + found.cFileName).c_str());
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
}

} // namespace

// Only a file on a disk is read: a pipe or a device in its place is refused.
ReadResult readFile(const std::string& file, std::string& out, std::string& error) {
    out.clear();
    HANDLE h = ::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesA(file.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            error = "it is a folder, not a file";
        else
            error = describe(e);
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? ReadResult::Missing
                                                                      : ReadResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "it is not a regular file";
        ::CloseHandle(h);
        return ReadResult::Failed;
    }
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            error = describe(::GetLastError());
            ::CloseHandle(h);
            out.clear();
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        out.append(buf, n);
    }
    ::CloseHandle(h);
    return ReadResult::Ok;
}

bool replaceFile(const std::string& target, std::string_view data, const WholeFileOptions& options,
                 std::string& error) {
    const DWORD attributes = ::GetFileAttributesA(target.c_str());
    const bool hadOld = attributes != INVALID_FILE_ATTRIBUTES;
    if (hadOld && options.keepExisting) {
        error = describe(ERROR_FILE_EXISTS);
        return false;
    }
    if (hadOld && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "it is not a regular file";
        return false;
    }
    removeStaleTemporaries(target);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    DWORD why = 0;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = temporaryFileName(target, ::GetCurrentProcessId(), ++counter);
        if (stepFails(testing::WriteStep::Create)) {
            why = ::GetLastError();
            break;
        }
        h = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        why = h == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
        if (h == INVALID_HANDLE_VALUE && why != ERROR_FILE_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        if (hadOld && why == ERROR_ACCESS_DENIED)
            error = "the folder " + folderOf(target) + " takes no new file (" + describe(why) +
                    "), and the file is not rewritten in place";
        else
            error = describe(why);
        return false;
    }

    why = 0;
    std::size_t done = 0;
    while (why == 0 && done < data.size()) {
        const std::size_t piece = std::min(data.size() - done, kPiece);
        DWORD n = 0;
        if (stepFails(testing::WriteStep::Write) ||
            !::WriteFile(h, data.data() + done, static_cast<DWORD>(piece), &n, nullptr))
            why = ::GetLastError();
        else if (n == 0)
            why = ERROR_DISK_FULL;
        done += n;
    }
    if (why == 0 && (stepFails(testing::WriteStep::Flush) || !::FlushFileBuffers(h)))
        why = ::GetLastError();
    if (why == 0 && stepFails(testing::WriteStep::Close))
        why = ::GetLastError();
    if (!::CloseHandle(h) && why == 0)
        why = ::GetLastError();
    // rename does not replace an existing file here; MoveFileEx does, in one step.
    const DWORD flags =
        MOVEFILE_WRITE_THROUGH | (options.keepExisting ? 0 : MOVEFILE_REPLACE_EXISTING);
    if (why == 0 && (stepFails(testing::WriteStep::Replace) ||
                     !::MoveFileExA(temp.c_str(), target.c_str(), flags)))
        why = ::GetLastError();
    if (why != 0) {
        ::DeleteFileA(temp.c_str());
        error = describe(why);
        return false;
    }
    return true;
}

} // namespace platform::sys
