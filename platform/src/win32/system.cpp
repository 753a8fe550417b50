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

ReadResult readFile(const std::string& file, std::string& out) {
    out.clear();
    HANDLE h = ::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = ::GetLastError();
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? ReadResult::Missing
                                                                      : ReadResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ::CloseHandle(h);
        return ReadResult::Failed;
    }
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            ::CloseHandle(h);
            return ReadResult::Failed;
        }
        if (n == 0)
            break;
        out.append(buf, n);
    }
    ::CloseHandle(h);
    return ReadResult::Ok;
}

bool replaceFile(const std::string& target, const std::string& data) {
    static std::atomic<unsigned> counter{0};
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = target + ".tmp" + std::to_string(::GetCurrentProcessId()) + "_" +
               std::to_string(++counter);
        h = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < data.size()) {
        const std::size_t chunk = std::min<std::size_t>(data.size() - done, 1u << 20);
        DWORD n = 0;
        ok = ::WriteFile(h, data.data() + done, static_cast<DWORD>(chunk), &n, nullptr) && n > 0;
        done += n;
    }
    ok = ok && ::FlushFileBuffers(h);
    ok = ::CloseHandle(h) && ok;
    // rename does not replace an existing file here; MoveFileEx does, in one step.
    ok = ok && ::MoveFileExA(temp.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        ::DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

} // namespace platform::sys
