#include "platform/module.h"

#include <dlfcn.h>

namespace platform {

namespace {
void anchor() {}
} // namespace

std::string modulePath() {
    Dl_info info{};
    // The address of a function of this copy of the platform layer names the
    // module it is linked into.
    if (dladdr(reinterpret_cast<void*>(&anchor), &info) != 0 && info.dli_fname != nullptr)
        return info.dli_fname;
    return {};
}

char pathSeparator() {
    return '/';
}

std::string libraryFileName(const std::string& base) {
    return base + ".so";
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
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why != nullptr ? why : "cannot load " + path;
        return false;
    }
    error_.clear();
    return true;
}

void Library::close() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

void* Library::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr)
        return nullptr;
    return dlsym(handle_, name);
}

} // namespace platform
