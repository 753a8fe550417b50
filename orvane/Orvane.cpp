// The reference remote-control server library: keeps what the recorder module
// tells it and, once it holds the command object, serves the control endpoint.
#include "Service.h"

#include "platform/text.h"
#include "plugin_api/remote_control.h"

#include <nlohmann/json.hpp>

#include <mutex>

namespace orvane {

namespace {

const char* stateText(int state) {
    switch (state) {
    case 1:
        return "stopped";
    case 2:
        return "running";
    case 3:
        return "recording";
    case 4:
        return "paused";
    default:
        return "unknown";
    }
}

class Notify final : public IrcNotify {
public:
    Notify() = default;
    Notify(const Notify&) = delete;
    Notify& operator=(const Notify&) = delete;
    // The library is being unloaded: its server thread must not run on.
    ~Notify() { service_.stop(); }

    bool RECAPI attachcommand(std::int32_t, IrcCommand* command) override {
        try {
            if (command == nullptr) {
                service_.stop();
                const std::lock_guard<std::mutex> lock(mutex_);
                command_ = nullptr;
                return true;
            }
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                command_ = command;
            }
            if (!service_.running())
                startEndpoint();
            return true;
        } catch (...) {
            return false;
        }
    }

    bool RECAPI reserved1() override { return true; }

    bool RECAPI setstate(std::int32_t state) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
        return true;
    }

    bool RECAPI settime(double time, std::int32_t) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        time_ = time;
        return true;
    }

    bool RECAPI setfilepath(const char* path) override {
        try {
            const std::lock_guard<std::mutex> lock(mutex_);
            file_ = path != nullptr ? path : "";
            return true;
        } catch (...) {
            return false;
        }
    }

private:
    void startEndpoint() {
        EndpointHooks hooks;
        hooks.status = [this] { return statusJson(); };
        hooks.start = [this] { return runCommand(true); };
        hooks.stop = [this] { return runCommand(false); };
        service_.start(std::move(hooks));
    }

    std::string statusJson() {
        const std::lock_guard<std::mutex> lock(mutex_);
        nlohmann::json status = {{"state", state_},
                                 {"stateText", stateText(state_)},
                                 {"time", time_},
                                 {"file", platform::cp1251ToUtf8(file_)},
                                 {"recorder", command_ != nullptr}};
        return status.dump();
    }

    // Commands run one at a time, outside the state lock, so that a host that
    // answers with a notification on this thread finds the state free.
    bool runCommand(bool start) {
        const std::lock_guard<std::mutex> serial(commandMutex_);
        IrcCommand* command = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            command = command_;
        }
        if (command == nullptr)
            return false;
        return start ? command->start() : command->stop();
    }

    std::mutex mutex_;
    std::mutex commandMutex_;
    IrcCommand* command_ = nullptr;
    int state_ = 0;
    double time_ = 0.0;
    std::string file_; // 1251
    ControlService service_;
};

Notify g_notify;

} // namespace

} // namespace orvane

PLUGIN_EXPORT IrcNotify* RECCDECL GetNotifyInterface() {
    return &orvane::g_notify;
}
