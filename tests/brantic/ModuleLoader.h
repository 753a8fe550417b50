// Loads a copy of Brantic.so from one of the test folders (each holds its own
// server library) and reaches it only through its exports.
#pragma once

#include "plugin_api/recorder.h"
#include "plugin_api/remote_control.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace brantic_test {

// The calls the recording server library reported, in order.
struct ServerRecord {
    std::mutex mutex;
    std::vector<std::string> calls;
    IrcCommand* command = nullptr;

    static ServerRecord& instance() {
        static ServerRecord record;
        return record;
    }
    std::vector<std::string> snapshot() {
        const std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    void clear() {
        const std::lock_guard<std::mutex> lock(mutex);
        calls.clear();
        command = nullptr;
    }
};

inline std::string testFolder(const std::string& variant) {
    return std::string(BRANTIC_TEST_DIR) + "/" + variant;
}

inline bool libraryLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    dlclose(handle);
    return true;
}

class LoadedModule {
public:
    explicit LoadedModule(const std::string& variant) : path_(testFolder(variant) + "/Brantic.so") {
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        create = reinterpret_cast<PFN_CreatePluginClass>(dlsym(handle_, "CreatePluginClass"));
        destroy = reinterpret_cast<PFN_DestroyPluginClass>(dlsym(handle_, "DestroyPluginClass"));
        info = reinterpret_cast<PFN_GetPluginInfo>(dlsym(handle_, "GetPluginInfo"));
        type = reinterpret_cast<PFN_GetPluginType>(dlsym(handle_, "GetPluginType"));
        description =
            reinterpret_cast<PFN_GetPluginDescription>(dlsym(handle_, "GetPluginDescription"));
        version = reinterpret_cast<PFN_GetKovaComponentVersion>(
            dlsym(handle_, "GetKovaComponentVersion"));
    }
    ~LoadedModule() {
        if (handle_ != nullptr)
            dlclose(handle_);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    void* symbol(const char* name) const { return dlsym(handle_, name); }
    const std::string& path() const { return path_; }

    PFN_CreatePluginClass create = nullptr;
    PFN_DestroyPluginClass destroy = nullptr;
    PFN_GetPluginInfo info = nullptr;
    PFN_GetPluginType type = nullptr;
    PFN_GetPluginDescription description = nullptr;
    PFN_GetKovaComponentVersion version = nullptr;

private:
    std::string path_;
    void* handle_ = nullptr;
};

} // namespace brantic_test
