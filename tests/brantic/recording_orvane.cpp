// A stand-in server library for the module's tests. It records every call it
// receives through a function of the test program (looked up at each call, so
// that the record outlives the library). Built three times:
//   RECORDING_ORVANE_OK       - GetNotifyInterface returns a recording IrcNotify
//   RECORDING_ORVANE_NULL     - GetNotifyInterface returns null
//   RECORDING_ORVANE_NO_ENTRY - no GetNotifyInterface at all
#include "plugin_api/remote_control.h"

#include <cstdio>
#include <dlfcn.h>
#include <string>

namespace {

using RecordFn = void (*)(const char* call, IrcCommand* command);

void record(const std::string& call, IrcCommand* command = nullptr) {
    auto fn = reinterpret_cast<RecordFn>(dlsym(RTLD_DEFAULT, "branticTestRecord"));
    if (fn != nullptr)
        fn(call.c_str(), command);
}

struct Loaded {
    Loaded() { record("load"); }
    ~Loaded() { record("unload"); }
} g_loaded;

#if defined(RECORDING_ORVANE_OK)
class RecordingNotify final : public IrcNotify {
public:
    bool RECAPI attachcommand(std::int32_t kind, IrcCommand* command) override {
        record("attachcommand(" + std::to_string(kind) + ")", command);
        return true;
    }
    bool RECAPI reserved1() override {
        record("reserved1");
        return true;
    }
    bool RECAPI setstate(std::int32_t state) override {
        record("setstate(" + std::to_string(state) + ")");
        return true;
    }
    bool RECAPI settime(double time, std::int32_t value) override {
        char text[64];
        std::snprintf(text, sizeof text, "settime(%g,%d)", time, static_cast<int>(value));
        record(text);
        return true;
    }
    bool RECAPI setfilepath(const char* path) override {
        record(std::string("setfilepath(") + path + ")");
        return true;
    }
} g_notify;
#endif

} // namespace

#if defined(RECORDING_ORVANE_OK)
PLUGIN_EXPORT IrcNotify* RECCDECL GetNotifyInterface() {
    record("GetNotifyInterface");
    return &g_notify;
}
#elif defined(RECORDING_ORVANE_NULL)
PLUGIN_EXPORT IrcNotify* RECCDECL GetNotifyInterface() {
    record("GetNotifyInterface");
    return nullptr;
}
#endif
