// Loading modules, their life cycle, the recorder's state and the channel set.
#include "host/host.h"

#include "platform/com.h"
#include "platform/text.h"
#include "platform/ticks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaObject>
#include <QObject>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace host {

namespace {

std::string baseName(const std::string& path) {
    std::string name = path;
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

// Resolves an export under each form a module may give it: "_Name", "Name",
// and the stdcall decorations "_Name@N" / "Name@N" (N the bytes of the
// arguments, on 32-bit or on pointer-sized slots). `underscore` tells which
// form was found.
void* resolve(const platform::Library& library, const char* name, int arguments,
              bool* underscore = nullptr) {
    const std::string plain = name;
    std::vector<std::pair<std::string, bool>> forms = {{"_" + plain, true}, {plain, false}};
    for (const int width : {4, static_cast<int>(sizeof(void*))}) {
        const std::string suffix = "@" + std::to_string(arguments * width);
        forms.emplace_back("_" + plain + suffix, true);
        forms.emplace_back(plain + suffix, false);
    }
    for (const auto& [form, under] : forms) {
        if (void* address = library.symbol(form.c_str())) {
            if (underscore != nullptr)
                *underscore = under;
            return address;
        }
    }
    return nullptr;
}

template <class Fn> Fn as(void* address) {
    return reinterpret_cast<Fn>(address);
}

std::string boolText(bool value) {
    return value ? "true" : "false";
}

// The information record with room beyond the fields a module writes.
struct InfoBuffer {
    PluginInfo info;
    char spare[512];
};

} // namespace

LoadedModule::LoadedModule(Host& host, std::string path)
    : host_(host), path_(std::move(path)), name_(baseName(path_)), recorder_(host, *this),
      log_(host, this) {}

// ---------------------------------------------------------------------------

Host::Host(HostOptions options)
    : options_(std::move(options)), home_(std::this_thread::get_id()),
      dispatcher_(std::make_unique<QObject>()), log_(*this, nullptr) {}

Host::~Host() {
    shutdownAll();
    for (HostChannel* channel : channels()) {
        channel->host_ = nullptr;
        channel->removed_ = true;
        channel->Release();
    }
    channels_.clear();
    members_.clear();
    dispatcher_.reset();
}

void Host::record(Call call) {
    std::lock_guard lock(callMutex_);
    if (trace_)
        trace_(call);
    if (options_.recordCalls)
        calls_.push_back(std::move(call));
}

std::vector<Call> Host::calls() const {
    std::lock_guard lock(callMutex_);
    return calls_;
}

std::vector<std::string> Host::callOps(Call::Direction direction) const {
    std::lock_guard lock(callMutex_);
    std::vector<std::string> ops;
    for (const Call& call : calls_)
        if (call.direction == direction)
            ops.push_back(call.op);
    return ops;
}

void Host::clearCalls() {
    std::lock_guard lock(callMutex_);
    calls_.clear();
}

void Host::setTrace(TraceHandler trace) {
    std::lock_guard lock(callMutex_);
    trace_ = std::move(trace);
    tracing_ = static_cast<bool>(trace_);
}

void Host::failOperation(const std::string& op, bool fail) {
    if (fail)
        failing_.insert(op);
    else
        failing_.erase(op);
}

bool Host::failing(const std::string& op) const {
    return !failing_.empty() && failing_.count(op) != 0;
}

void Host::toModule(LoadedModule& module, const char* op, std::string args, std::string result) {
    if (recording())
        record({Call::Direction::ToModule, module.name(), op, std::move(args), std::move(result)});
}

// --- Modules -----------------------------------------------------------------

LoadedModule* Host::load(const std::string& path, LoadOptions options) {
    auto module = std::make_unique<LoadedModule>(*this, path);
    module->options_ = options;
    if (!module->library_.open(path)) {
        lastError_ = "cannot load " + path + ": " + module->library_.error();
        return nullptr;
    }
    const platform::Library& lib = module->library_;
    auto create =
        as<PFN_CreatePluginClass>(resolve(lib, "CreatePluginClass", 0, &module->underscoreNames_));
    auto destroy = as<PFN_DestroyPluginClass>(resolve(lib, "DestroyPluginClass", 1));
    if (create == nullptr || destroy == nullptr) {
        lastError_ = path + " is not a plug-in module: it exports no " +
                     (create == nullptr ? "CreatePluginClass" : "DestroyPluginClass");
        return nullptr;
    }
    module->destroy_ = destroy;
    if (auto type = as<PFN_GetPluginType>(resolve(lib, "GetPluginType", 0))) {
        module->type_ = type();
        toModule(*module, "GetPluginType", {}, std::to_string(module->type_));
    }
    if (auto description = as<PFN_GetPluginDescription>(resolve(lib, "GetPluginDescription", 0))) {
        const char* text = description();
        module->description_ = text == nullptr ? "" : text;
        toModule(*module, "GetPluginDescription", {}, "\"" + utf8(text) + "\"");
    }
    if (auto info = as<PFN_GetPluginInfo>(resolve(lib, "GetPluginInfo", 1))) {
        InfoBuffer buffer{};
        info(&buffer.info);
        // A module writes NUL-terminated fields; make sure of it before use.
        buffer.info.name[sizeof buffer.info.name - 1] = '\0';
        buffer.info.description[sizeof buffer.info.description - 1] = '\0';
        buffer.info.vendor[sizeof buffer.info.vendor - 1] = '\0';
        module->info_ = buffer.info;
        toModule(*module, "GetPluginInfo", "record",
                 "\"" + utf8(buffer.info.name) + "\", " + std::to_string(buffer.info.versionMajor) +
                     "." + std::to_string(buffer.info.versionMinor));
    }
    if (auto version =
            as<PFN_GetKovaComponentVersion>(resolve(lib, "GetKovaComponentVersion", 2))) {
        std::uint32_t word = 0;
        const std::int32_t status = version(&word, 0);
        if (status == 0)
            module->componentVersion_ = word;
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(word));
        toModule(*module, "GetKovaComponentVersion", "word, 0",
                 std::to_string(status) + ", " + text);
    }
    IRecorderPlugin* plugin = create();
    toModule(*module, "CreatePluginClass", {}, plugin == nullptr ? "null" : "object");
    if (plugin == nullptr) {
        lastError_ = module->name() + ": CreatePluginClass made no object";
        return nullptr;
    }
    module->plugin_ = plugin;
    const char* objectName = plugin->getname();
    module->objectName_ = objectName == nullptr ? "" : objectName;
    toModule(*module, "getname", {}, "\"" + utf8(objectName) + "\"");
    modules_.push_back(std::move(module));
    return modules_.back().get();
}

bool Host::failStage(LoadedModule& module, const char* step) {
    module.error_ = module.name() + ": " + step + " failed";
    lastError_ = module.error_;
    hostMessage(module.error_, 7);
    return false;
}

bool Host::create(LoadedModule& module) {
    if (module.stage_ != Stage::Loaded || module.plugin_ == nullptr)
        return false;
    const bool ok = module.plugin_->create(&module.recorder_);
    toModule(module, "create", "recorder", boolText(ok));
    module.stage_ = Stage::Created;
    if (!ok) {
        // Nothing was started that needs closing: the object is destroyed.
        failStage(module, "create");
        destroy(module);
        module.stage_ = Stage::Failed;
    }
    return ok;
}

bool Host::config(LoadedModule& module) {
    if (module.stage_ != Stage::Created)
        return false;
    module.stage_ = Stage::Configured; // notifications may arrive from here on
    const bool ok = module.plugin_->config();
    toModule(module, "config", {}, boolText(ok));
    if (!ok) {
        failStage(module, "config");
        shutdown(module);
        module.stage_ = Stage::Failed;
    }
    return ok;
}

bool Host::execute(LoadedModule& module) {
    if (module.stage_ != Stage::Configured)
        return false;
    const bool ok = module.plugin_->execute();
    toModule(module, "execute", {}, boolText(ok));
    if (!ok) {
        failStage(module, "execute");
        shutdown(module);
        module.stage_ = Stage::Failed;
        return false;
    }
    module.stage_ = Stage::Executed;
    return true;
}

bool Host::start(LoadedModule& module) {
    return create(module) && config(module) && execute(module);
}

LoadedModule* Host::open(const std::string& path, LoadOptions options) {
    LoadedModule* module = load(path, options);
    if (module == nullptr)
        return nullptr;
    return start(*module) ? module : nullptr;
}

bool Host::canclose(LoadedModule& module) {
    if (module.stage_ != Stage::Configured && module.stage_ != Stage::Executed)
        return false;
    const bool ok = module.plugin_->canclose();
    toModule(module, "canclose", {}, boolText(ok));
    return ok;
}

bool Host::close(LoadedModule& module) {
    if (module.stage_ != Stage::Configured && module.stage_ != Stage::Executed)
        return false;
    module.stage_ = Stage::Closed;
    const bool ok = module.plugin_->close();
    toModule(module, "close", {}, boolText(ok));
    return ok;
}

void Host::destroy(LoadedModule& module) {
    if (module.plugin_ == nullptr)
        return;
    IRecorderPlugin* plugin = module.plugin_;
    module.plugin_ = nullptr;
    bool hostReleases = false;
    switch (module.options_.destroy) {
    case DestroyMode::Automatic:
        hostReleases = !module.underscoreNames_;
        break;
    case DestroyMode::ModuleReleases:
        break;
    case DestroyMode::HostReleases:
        hostReleases = true;
        break;
    }
    const std::int32_t result = module.destroy_(plugin);
    toModule(module, "DestroyPluginClass", "object", std::to_string(result));
    if (hostReleases) {
        const ULONG left = plugin->Release();
        toModule(module, "Release", {}, std::to_string(left));
        if (left != 0)
            hostMessage(module.name() + ": the plug-in object is still referenced (" +
                            std::to_string(left) + ") after the host gave back its reference",
                        7);
    }
    module.stage_ = Stage::Destroyed;
    if (module.options_.unloadLibrary)
        module.library_.close();
}

void Host::shutdown(LoadedModule& module) {
    if (module.stage_ == Stage::Configured || module.stage_ == Stage::Executed) {
        if (!canclose(module))
            hostMessage(module.name() + ": canclose answered false; closing anyway");
        close(module);
    }
    destroy(module);
}

void Host::shutdownAll() {
    for (std::size_t i = 0; i < modules_.size(); ++i)
        shutdown(*modules_[i]);
}

LoadedModule* Host::module(const std::string& name) const {
    for (const auto& m : modules_)
        if (m->name() == name)
            return m.get();
    return nullptr;
}

// --- Driving the modules -------------------------------------------------------

bool Host::notify(LoadedModule& module, std::uint32_t code, NotifyParam param) {
    // Notifications go only to modules between config and close.
    if (module.plugin_ == nullptr ||
        (module.stage_ != Stage::Configured && module.stage_ != Stage::Executed))
        return false;
    if (code != PN_UPDATECHANNELS && updatePending_ && lockDepth_ == 0)
        deliverChannelUpdate();
    std::string args = std::to_string(code);
    if (recording())
        args += ", " + std::to_string(param);
    const bool ok = module.plugin_->notify(code, param);
    toModule(module, "notify", std::move(args), boolText(ok));
    return ok;
}

void Host::notifyAll(std::uint32_t code, NotifyParam param) {
    if (code != PN_UPDATECHANNELS && updatePending_ && lockDepth_ == 0)
        deliverChannelUpdate();
    // By index: a module may be loaded while the notification goes round.
    for (std::size_t i = 0; i < modules_.size(); ++i)
        notify(*modules_[i], code, param);
}

bool Host::edit(LoadedModule& module) {
    if (module.stage_ != Stage::Configured && module.stage_ != Stage::Executed)
        return false;
    const bool ok = module.plugin_->edit();
    toModule(module, "edit", {}, boolText(ok));
    return ok;
}

bool Host::suspend(LoadedModule& module) {
    if (module.stage_ != Stage::Configured && module.stage_ != Stage::Executed)
        return false;
    const bool ok = module.plugin_->suspend();
    toModule(module, "suspend", {}, boolText(ok));
    return ok;
}

bool Host::resume(LoadedModule& module) {
    if (module.stage_ != Stage::Configured && module.stage_ != Stage::Executed)
        return false;
    const bool ok = module.plugin_->resume();
    toModule(module, "resume", {}, boolText(ok));
    return ok;
}

bool Host::requestData(LoadedModule& module, const std::string& name, std::int32_t count,
                       std::vector<double>& values) {
    // The asking object: a channel object of that name, outside the host's list.
    auto* asking = new HostChannel(*this, name, module.name());
    asking->removed_ = true;
    if (HostChannel* existing = channel(name))
        asking->frequency_ = existing->frequency();
    if (count > 0 && values.size() < static_cast<std::size_t>(count))
        values.resize(static_cast<std::size_t>(count), 0.0);
    DataRequest request{};
    request.asking = asking;
    request.count = count;
    request.buffer = values.empty() ? nullptr : values.data();
    const bool ok = notify(module, PN_GETDATA, reinterpret_cast<NotifyParam>(&request));
    if (asking->refCount() != 1)
        hostMessage(module.name() + ": the data request's object was not released", 7);
    asking->Release();
    return ok;
}

bool Host::requestRange(LoadedModule& module, const std::string& name, std::uint64_t first,
                        std::uint64_t count, float* floats, double* doubles,
                        std::uint32_t& noiseState, double* frequency) {
    auto* asking = new HostChannel(*this, name, module.name());
    asking->removed_ = true;
    if (HostChannel* existing = channel(name))
        asking->frequency_ = existing->frequency();
    DataRangeRequest request{};
    request.size = sizeof request;
    request.asking = asking;
    request.first = first;
    request.count = count;
    request.floats = floats;
    request.doubles = doubles;
    request.noiseState = noiseState;
    const bool ok = notify(module, PN_GETDATARANGE, reinterpret_cast<NotifyParam>(&request));
    if (asking->refCount() != 1)
        hostMessage(module.name() + ": the data request's object was not released", 7);
    asking->Release();
    if (ok) {
        noiseState = request.noiseState;
        if (frequency != nullptr)
            *frequency = request.frequency;
    }
    return ok;
}

void Host::setCurrentFile(const std::u16string& directory, const std::u16string& name) {
    currentDirectory_ = directory;
    currentName_ = name;
    CurrentFileRecord record{currentDirectory_.c_str(), currentName_.c_str()};
    notifyAll(PN_CURRENTFILE, reinterpret_cast<NotifyParam>(&record));
}

// --- The recorder's state ------------------------------------------------------

void Host::startRecorder(NotifyParam param) {
    if (running_)
        return;
    startTicks_ = platform::tickCount64();
    everStarted_ = true;
    running_ = true;
    hostMessage("recorder started");
    if (starting_)
        starting_();
    notifyAll(PN_RCSTART, param);
}

void Host::stopRecorder() {
    if (!running_)
        return;
    stopTicks_ = platform::tickCount64();
    running_ = false;
    hostMessage("recorder stopped");
    notifyAll(PN_RCSTOP);
    if (stopped_)
        stopped_();
}

double Host::time() const {
    if (!everStarted_)
        return 0.0;
    const std::uint64_t end = running_ ? platform::tickCount64() : stopTicks_;
    return static_cast<double>(end - startTicks_) / 1000.0;
}

std::uint32_t Host::stateBits() const {
    if (stateOverride_)
        return *stateOverride_;
    return running_ ? RECORDER_STATE_BIT1 : RECORDER_STATE_BIT0;
}

void Host::doCommand(std::int32_t code, LoadedModule* from) {
    if (code == RECORDER_CMD_START)
        startRecorder();
    else if (code == RECORDER_CMD_STOP)
        stopRecorder();
    if (commandHandler_)
        commandHandler_(code, from);
}

void Host::schedulePending() {
    std::lock_guard lock(pendingMutex_);
    if (pendingPosted_ || QCoreApplication::instance() == nullptr)
        return;
    pendingPosted_ = true;
    QMetaObject::invokeMethod(
        dispatcher_.get(), [this] { processPending(); }, Qt::QueuedConnection);
}

void Host::processPending() {
    if (!onHomeThread())
        return;
    std::deque<std::pair<std::int32_t, std::string>> commands;
    {
        std::lock_guard lock(pendingMutex_);
        pendingPosted_ = false;
        commands.swap(pendingCommands_);
    }
    if (updatePending_ && lockDepth_ == 0)
        deliverChannelUpdate();
    for (const auto& [code, name] : commands) {
        if (commandsClosed()) // closed by what an earlier command set off
            break;
        doCommand(code, module(name));
    }
}

namespace {

bool startOrStop(std::int32_t code) {
    return code == RECORDER_CMD_START || code == RECORDER_CMD_STOP;
}

} // namespace

bool Host::queueCommand(std::int32_t code, const std::string& module) {
    std::lock_guard lock(pendingMutex_);
    if (commandsClosed_)
        return false;
    if (startOrStop(code)) {
        std::erase_if(pendingCommands_, [](const auto& c) { return startOrStop(c.first); });
    } else if (std::count_if(pendingCommands_.begin(), pendingCommands_.end(), [](const auto& c) {
                   return !startOrStop(c.first);
               }) >= static_cast<std::ptrdiff_t>(kWaitingCommands)) {
        return false;
    }
    pendingCommands_.emplace_back(code, module);
    return true;
}

void Host::closeCommands() {
    std::lock_guard lock(pendingMutex_);
    commandsClosed_ = true;
    pendingCommands_.clear();
}

bool Host::commandsClosed() const {
    std::lock_guard lock(pendingMutex_);
    return commandsClosed_;
}

// --- Channels ------------------------------------------------------------------

HostChannel* Host::channel(const std::string& name) const {
    for (HostChannel* c : channels())
        if (c->name() == name)
            return c;
    return nullptr;
}

const std::vector<HostChannel*>& Host::channels() const {
    if (holes_ > 0) {
        // One pass closes every gap the removals since the last read left.
        std::size_t to = 0;
        for (HostChannel* c : channels_)
            if (c != nullptr) {
                c->slot_ = to;
                channels_[to++] = c;
            }
        channels_.resize(to);
        holes_ = 0;
    }
    return channels_;
}

void Host::attach(HostChannel* channel) {
    channel->slot_ = channels_.size();
    channels_.push_back(channel); // the host's reference
    members_.emplace(channel, channel);
}

HostChannel* Host::member(const IRecorderChannel* channel) const {
    auto it = members_.find(channel);
    return it == members_.end() ? nullptr : it->second;
}

void Host::detach(HostChannel* channel) {
    members_.erase(channel);
    channels_[channel->slot_] = nullptr;
    ++holes_;
    channel->removed_ = true;
    channel->Release();
}

HostChannel* Host::addChannel(const std::string& name, double frequency) {
    auto* channel = new HostChannel(*this, name, "host");
    channel->frequency_ = frequency;
    attach(channel);
    if (lockDepth_ > 0)
        channelsChanged_ = true;
    else
        deliverChannelUpdate();
    return channel;
}

bool Host::removeChannel(HostChannel* channel) {
    if (member(channel) == nullptr)
        return false;
    detach(channel);
    if (lockDepth_ > 0)
        channelsChanged_ = true;
    else
        deliverChannelUpdate();
    return true;
}

void Host::channelSetChanged() {
    // Inside a granted change the update waits for the last unlockchanges;
    // outside one it is sent once the module's call has returned.
    if (lockDepth_ > 0) {
        channelsChanged_ = true;
        return;
    }
    updatePending_ = true;
    schedulePending();
}

void Host::deliverChannelUpdate() {
    updatePending_ = false;
    channelsChanged_ = false;
    if (options_.blockLengthFor)
        for (HostChannel* c : channels())
            if (!c->blockLengthSet_) {
                const std::int32_t length = options_.blockLengthFor(c->frequency());
                c->blockLength_ = length < 1 ? 1 : length;
            }
    if (channelSetHandler_)
        channelSetHandler_();
    notifyAll(PN_UPDATECHANNELS);
}

void Host::received(HostChannel& channel, const float* block, std::int32_t count) {
    if (sink_)
        sink_(channel, block, count);
}

// --- Log -----------------------------------------------------------------------

void Host::addMessage(LogMessage message) {
    message.ms = QDateTime::currentMSecsSinceEpoch();
    messages_.push_back(std::move(message));
    const std::size_t kept = std::max<std::size_t>(options_.keptMessages, 1);
    while (messages_.size() > kept) {
        messages_.pop_front();
        ++messagesDropped_;
    }
    if (messageHandler_)
        messageHandler_(messages_.back());
}

void Host::hostMessage(const std::string& utf8Text, std::int32_t kind) {
    LogMessage message;
    message.source = u"host";
    message.text = QString::fromStdString(utf8Text).toStdU16String();
    message.kind = kind;
    message.module = "host";
    addMessage(std::move(message));
}

LoadedModule* Host::owning(IRecorderPlugin* plugin) const {
    for (const auto& m : modules_)
        if (m->plugin() == plugin)
            return m.get();
    return nullptr;
}

} // namespace host
