// This module's own file and loading libraries by path, on Windows.
#include "platform/module.h"

#include <windows.h>

namespace platform {

namespace {

void anchor() {}

std::string lastErrorText(const std::string& path) {
    const DWORD code = ::GetLastError();
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string why = "cannot load " + path + " (error " + std::to_string(code) + ")";
    if (n != 0 && text != nullptr) {
        std::string message(text, n);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
        why += ": " + message;
    }
    if (text != nullptr)
        ::LocalFree(text);
    return why;
}

} // namespace

std::string modulePath() {
    // The address of a function of this copy of the platform layer names the
    // module it is linked into.
    HMODULE self = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&anchor), &self))
        return {};
    char path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameA(self, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return {};
    return std::string(path, n);
}

char pathSeparator() {
    return '\\';
}

std::string libraryFileName(const std::string& base) {
    return base + ".dll";
}

Library& Library::operator=(Library&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

bool Library::open(const std::string& path) {
    close();
    handle_ = ::LoadLibraryA(path.c_str());
    if (handle_ == nullptr) {
        error_ = lastErrorText(path);
        return false;
    }
    error_.clear();
    return true;
}

void Library::close() {
    if (handle_ != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

void* Library::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

} // namespace platform
