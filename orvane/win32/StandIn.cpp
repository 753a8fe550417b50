// The remote-control server library on Windows: it starts no thread (a thread
// joined while FreeLibrary runs deadlocks on the loader lock), keeps what the
// recorder module tells it, and lets a test run the command object it holds.
#include "StandIn.h"

#include "plugin_api/remote_control.h"

#include <cstring>
#include <mutex>

namespace {

class Notify final : public IrcNotify {
public:
    bool RECAPI attachcommand(std::int32_t kind, IrcCommand* command) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++record_.attachCalls;
        record_.attachKind = kind;
        command_ = command;
        record_.hasCommand = command != nullptr;
        return true;
    }
    bool RECAPI reserved1() override { return true; }
    bool RECAPI setstate(std::int32_t state) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++record_.stateCalls;
        record_.state = state;
        return true;
    }
    bool RECAPI settime(double time, std::int32_t) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++record_.timeCalls;
        record_.time = time;
        return true;
    }
    bool RECAPI setfilepath(const char* path) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++record_.fileCalls;
        std::memset(record_.file, 0, sizeof record_.file);
        if (path != nullptr)
            std::strncpy(record_.file, path, sizeof record_.file - 1);
        return true;
    }

    void copy(OrvaneRecord* out) {
        const std::lock_guard<std::mutex> lock(mutex_);
        *out = record_;
    }

    std::int32_t run(std::int32_t operation) {
        IrcCommand* command = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            command = command_;
        }
        if (command == nullptr)
            return -1;
        // The host may answer with a notification on this thread: no lock held.
        switch (operation) {
        case ORVANE_STOP:
            return command->stop() ? 1 : 0;
        case ORVANE_START:
            return command->start() ? 1 : 0;
        case ORVANE_CODE2:
            return command->sendcode2() ? 1 : 0;
        case ORVANE_CODE20:
            return command->sendcode20() ? 1 : 0;
        default:
            return -1;
        }
    }

private:
    std::mutex mutex_;
    IrcCommand* command_ = nullptr;
    OrvaneRecord record_{};
};

Notify g_notify;

} // namespace

PLUGIN_EXPORT IrcNotify* RECCDECL GetNotifyInterface() {
    return &g_notify;
}

PLUGIN_EXPORT void RECCDECL OrvaneRecordOf(OrvaneRecord* out) {
    if (out != nullptr)
        g_notify.copy(out);
}

PLUGIN_EXPORT std::int32_t RECCDECL OrvaneRunCommand(std::int32_t operation) {
    return g_notify.run(operation);
}
