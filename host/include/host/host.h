// The reference recorder host: loads plug-in modules, drives their life cycle
// and offers them IRecorder, IRecorderChannel and IRecorderLog. Every call a
// module makes is recorded, so that tests can assert call sequences, and can be
// traced live.
//
// Threads: the host belongs to the thread that constructed it (its home
// thread). Every operation is expected there, except IRecorder::command, which
// a module may call from any thread (the remote-control server's): such a call
// is recorded at once and carried out on the home thread, through a queued Qt
// invocation when a Qt application object exists (delivered by the home
// thread's event loop), and in any case at the next processPending() call.
// Such calls wait bounded: one start or stop at a time (a newer one takes the
// place of the one that waits) and a few other commands; closeCommands() ends
// the waiting when the program closes.
// AddRef/Release and the call log are safe from any thread.
#pragma once

#include "platform/module.h"
#include "plugin_api/recorder.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class QObject;

namespace host {

class Host;
class HostChannel;
class LoadedModule;

// One call across the module boundary.
struct Call {
    enum class Direction { FromModule, ToModule };
    Direction direction = Direction::FromModule;
    std::string module; // the module's file base name ("" when not known)
    // "addchannel", "channel.setproperty", "log.addmessage" for calls a module
    // makes; "CreatePluginClass", "create", "notify", ... for calls the host
    // makes.
    std::string op;
    std::string args; // the arguments as readable UTF-8 text, comma separated
    std::string result;
    std::string text() const; // "module: op(args) -> result"
};

// Kinds of log messages: modules write 1 for traces and 7 for failures; the
// host's own events are 0.
constexpr std::int32_t kLogInfo = 0;
constexpr std::int32_t kLogTrace = 1;
constexpr std::int32_t kLogError = 7;

struct LogMessage {
    std::u16string source;
    std::u16string text;
    std::int32_t kind = 0;
    std::string module;  // the module that wrote it ("host" for the host's own)
    std::int64_t ms = 0; // when it arrived: wall clock, milliseconds since 1970 (UTC)
};

// A host-owned copy of a value set through setproperty. Object references are
// kept as identities only: the module's reference lasts for its call, and a
// host that kept it would keep the module's object alive.
struct PropertyValue {
    VARTYPE vt = VT_EMPTY;
    std::int64_t integer = 0;       // VT_I4, VT_UI4, VT_BOOL
    double real = 0;                // VT_R4, VT_R8
    std::u16string text;            // VT_BSTR
    const void* identity = nullptr; // VT_UNKNOWN
    std::string describe() const;
};

// Statistics of what a channel received through putdata.
struct ChannelStats {
    std::uint64_t blocks = 0;
    std::uint64_t samples = 0;
    double minimum = 0;
    double maximum = 0;
    double sum = 0;
    float last = 0;
    double mean() const { return samples == 0 ? 0.0 : sum / static_cast<double>(samples); }
};

struct HostOptions {
    std::int32_t blockLength = 100;        // channel property 0 of new channels
    std::string settingsName = "recorder"; // host property 16
    std::string dataDirectory;             // base of relative paths in translatepath
    bool recordCalls = true;               // keep the call log
    bool keepSamples = true;               // keep every received sample per channel
    // The log keeps the newest this many messages; older ones are counted
    // (messagesDropped) and reach only the message handler.
    std::size_t keptMessages = 1000;
    void* mainWindow = nullptr; // answered by getmainwindow (a QWidget* here)
    // The block length of a channel whose length nobody set, decided from its
    // frequency each time the channel set is reported; empty: blockLength.
    std::function<std::int32_t(double frequency)> blockLengthFor;
};

// How the host's first reference to a plug-in object is given back.
enum class DestroyMode {
    // Modules exporting the underscore names release the object in
    // DestroyPluginClass; for modules exporting the plain names DestroyPluginClass
    // leaves it alive, and the host releases its reference after it.
    Automatic,
    ModuleReleases,
    HostReleases,
};

struct LoadOptions {
    DestroyMode destroy = DestroyMode::Automatic;
    bool unloadLibrary = true; // unload the library after DestroyPluginClass
};

// The host's channel. Reference counted; the host's channel list holds one
// reference, getchannel hands out another.
class HostChannel final : public IRecorderChannel {
public:
    using Sink = std::function<void(HostChannel&, const float*, std::int32_t)>;

    HostChannel(Host& host, std::string name, std::string owner);

    // IUnknown
    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override;
    ULONG RECAPI AddRef() override;
    ULONG RECAPI Release() override;
    // IRecorderChannel
    HRESULT RECAPI reserved3() override;
    HRESULT RECAPI reserved4() override;
    HRESULT RECAPI setname(const char* name) override;
    const char* RECAPI getname() override;
    HRESULT RECAPI setfrequency(double frequency) override;
    double RECAPI getfrequency() override;
    HRESULT RECAPI reserved9() override;
    HRESULT RECAPI setproperty(std::uint32_t id, VARIANT value) override;
    bool RECAPI getproperty(std::uint32_t id, VARIANT* value) override;
    HRESULT RECAPI reserved12() override;
    HRESULT RECAPI reserved13() override;
    HRESULT RECAPI reserved14() override;
    HRESULT RECAPI activate(std::int32_t how) override;
    HRESULT RECAPI putdata(const float* block, std::int32_t count) override;

    // The host's side.
    const std::string& name() const { return name_; } // 1251
    double frequency() const { return frequency_; }
    std::int32_t blockLength() const { return blockLength_; }
    // An explicit length, kept from then on (else the host's policy decides).
    void setBlockLength(std::int32_t length) {
        blockLength_ = length < 1 ? 1 : length;
        blockLengthSet_ = true;
    }
    bool active() const { return active_; }
    const std::string& owner() const { return owner_; }
    const std::map<std::uint32_t, PropertyValue>& properties() const { return properties_; }
    std::optional<PropertyValue> property(std::uint32_t id) const;
    const ChannelStats& stats() const { return stats_; }
    const std::vector<float>& samples() const { return samples_; }
    void clearData();
    void setSink(Sink sink) { sink_ = std::move(sink); }
    bool removed() const { return removed_; }
    ULONG refCount() const { return refs_.load(); }

private:
    friend class Host;
    friend class ModuleRecorder;
    ~HostChannel() = default;
    void record(const char* op, std::string args, std::string result = {});

    std::atomic<ULONG> refs_{1};
    Host* host_;           // null once the host is gone
    bool removed_ = false; // removed from the host, or never part of it
    std::size_t slot_ = 0; // its place in the host's list (with the gaps of removals)
    std::string name_;
    std::string owner_;
    double frequency_ = 0;
    std::int32_t blockLength_;
    bool blockLengthSet_ = false;
    bool active_ = false;
    std::map<std::uint32_t, PropertyValue> properties_;
    ChannelStats stats_;
    std::vector<float> samples_;
    Sink sink_;
};

// The host's message log as one module sees it (each module has its own, so
// that messages are attributed); owned by the host.
class HostLog final : public IRecorderLog {
public:
    HostLog(Host& host, LoadedModule* module) : host_(host), module_(module) {}
    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override;
    ULONG RECAPI AddRef() override { return ++refs_; }
    ULONG RECAPI Release() override { return --refs_; } // owned by the host
    HRESULT RECAPI addmessage(const OLECHAR* source, const OLECHAR* text,
                              std::int32_t kind) override;
    ULONG refCount() const { return refs_.load(); }

private:
    Host& host_;
    LoadedModule* module_;
    std::atomic<ULONG> refs_{1};
};

// The IRecorder a module receives in create: one per module, so that every
// call is attributed to the module that made it.
class ModuleRecorder final : public IRecorder {
public:
    ModuleRecorder(Host& host, LoadedModule& module) : host_(host), module_(module) {}

    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override;
    ULONG RECAPI AddRef() override { return ++refs_; }
    ULONG RECAPI Release() override { return --refs_; } // owned by the host
    HRESULT RECAPI reserved3() override;
    HRESULT RECAPI reserved4() override;
    HRESULT RECAPI reserved5() override;
    HRESULT RECAPI reserved6() override;
    HRESULT RECAPI reserved7() override;
    IRecorderChannel* RECAPI getchannel(std::int32_t index) override;
    std::int32_t RECAPI getchannelcount() override;
    HRESULT RECAPI reserved10() override;
    HRESULT RECAPI reserved11() override;
    HRESULT RECAPI reserved12() override;
    HRESULT RECAPI reserved13() override;
    std::uint32_t RECAPI getstate(std::uint32_t mask) override;
    HRESULT RECAPI reserved15() override;
    HRESULT RECAPI reserved16() override;
    HRESULT RECAPI reserved17() override;
    IRecorderChannel* RECAPI addchannel(const char* name, std::int32_t a, std::int32_t b) override;
    HRESULT RECAPI removechannel(IRecorderChannel* channel) override;
    HRESULT RECAPI command(std::int32_t code, IRecorderPlugin* asking) override;
    HRESULT RECAPI reserved21() override;
    HRESULT RECAPI reserved22() override;
    HRESULT RECAPI reserved23() override;
    HRESULT RECAPI getproperty(std::uint32_t id, VARIANT* value) override;
    HRESULT RECAPI reserved25() override;
    HRESULT RECAPI reserved26() override;
    HRESULT RECAPI reserved27() override;
    HRESULT RECAPI reserved28() override;
    HRESULT RECAPI reserved29() override;
    HRESULT RECAPI reserved30() override;
    HRESULT RECAPI reserved31() override;
    HRESULT RECAPI reserved32() override;
    HRESULT RECAPI reserved33() override;
    HRESULT RECAPI reserved34() override;
    HRESULT RECAPI reserved35() override;
    HRESULT RECAPI reserved36() override;
    void* RECAPI getmainwindow() override;
    HRESULT RECAPI reserved38() override;
    HRESULT RECAPI reserved39() override;
    HRESULT RECAPI reserved40() override;
    HRESULT RECAPI reserved41() override;
    HRESULT RECAPI reserved42() override;
    HRESULT RECAPI reserved43() override;
    HRESULT RECAPI reserved44() override;
    HRESULT RECAPI reserved45() override;
    HRESULT RECAPI reserved46() override;
    HRESULT RECAPI reserved47() override;
    HRESULT RECAPI reserved48() override;
    std::int32_t RECAPI lockchanges(IRecorderPlugin* asking, std::int32_t how) override;
    HRESULT RECAPI unlockchanges(IRecorderPlugin* asking, std::int32_t how) override;
    HRESULT RECAPI reserved51() override;
    HRESULT RECAPI reserved52() override;
    HRESULT RECAPI reserved53() override;
    HRESULT RECAPI reserved54() override;
    HRESULT RECAPI reserved55() override;
    HRESULT RECAPI reserved56() override;
    HRESULT RECAPI reserved57() override;
    HRESULT RECAPI reserved58() override;
    const char* RECAPI translatepath(const char* path) override;
    HRESULT RECAPI reserved60() override;
    HRESULT RECAPI reserved61() override;
    HRESULT RECAPI reserved62() override;
    HRESULT RECAPI reserved63() override;
    HRESULT RECAPI reserved64() override;
    HRESULT RECAPI reserved65() override;
    HRESULT RECAPI reserved66() override;
    HRESULT RECAPI reserved67() override;
    HRESULT RECAPI reserved68() override;
    HRESULT RECAPI reserved69() override;
    double RECAPI gettime() override;

private:
    HRESULT reserved(int slot);
    Host& host_;
    LoadedModule& module_;
    std::atomic<ULONG> refs_{1};
};

// The steps of a module's life, in the order the host takes them.
enum class Stage { Loaded, Created, Configured, Executed, Closed, Destroyed, Failed };

// One loaded module and its plug-in object.
class LoadedModule {
public:
    const std::string& path() const { return path_; }
    const std::string& name() const { return name_; } // file base name, e.g. "Tolvex"
    Stage stage() const { return stage_; }
    IRecorderPlugin* plugin() const { return plugin_; }
    IRecorder* recorder() { return &recorder_; }
    HostLog& log() { return log_; }
    // What the module tells of itself (1251 text).
    std::int32_t type() const { return type_; }
    const std::string& description() const { return description_; }
    const PluginInfo& info() const { return info_; }
    std::optional<std::uint32_t> componentVersion() const { return componentVersion_; }
    bool underscoreNames() const { return underscoreNames_; }
    const std::string& objectName() const { return objectName_; } // getname
    // The last failure, as readable UTF-8 text.
    const std::string& error() const { return error_; }

    LoadedModule(Host& host, std::string path);
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

private:
    friend class Host;
    friend class ModuleRecorder;

    Host& host_;
    std::string path_;
    std::string name_;
    platform::Library library_;
    ModuleRecorder recorder_;
    HostLog log_;
    IRecorderPlugin* plugin_ = nullptr;
    PFN_DestroyPluginClass destroy_ = nullptr;
    LoadOptions options_;
    Stage stage_ = Stage::Loaded;
    std::int32_t type_ = 0;
    std::string description_;
    PluginInfo info_{};
    std::optional<std::uint32_t> componentVersion_;
    bool underscoreNames_ = false;
    std::string objectName_;
    std::string error_;
    std::set<std::string> translated_; // keeps translatepath's answers alive
};

class Host {
public:
    explicit Host(HostOptions options = {});
    ~Host(); // closes every module still loaded, in load order
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    HostOptions& options() { return options_; }

    // --- Modules -----------------------------------------------------------
    // Loads the library, resolves its exports, reads its information record and
    // creates the plug-in object (CreatePluginClass). Null when that fails;
    // lastError() then tells why, and nothing of the module is left behind.
    LoadedModule* load(const std::string& path, LoadOptions options = {});
    // create -> config -> execute. False (and the module closed and destroyed)
    // when create, config or execute answers false.
    bool start(LoadedModule& module);
    // load + start; null when either fails (the module is then unloaded).
    LoadedModule* open(const std::string& path, LoadOptions options = {});
    // Single steps, for tests that take them one by one.
    bool create(LoadedModule& module);
    bool config(LoadedModule& module);
    bool execute(LoadedModule& module);
    bool canclose(LoadedModule& module);
    bool close(LoadedModule& module);
    // DestroyPluginClass (and the host's Release where the module leaves the
    // object alive), then the library is unloaded and the module forgotten.
    void destroy(LoadedModule& module);
    // canclose -> close -> destroy. canclose's answer is recorded; the module
    // is closed in any case.
    void shutdown(LoadedModule& module);
    void shutdownAll(); // every module, in load order
    const std::vector<std::unique_ptr<LoadedModule>>& modules() const { return modules_; }
    LoadedModule* module(const std::string& name) const;
    const std::string& lastError() const { return lastError_; }

    // --- Driving the modules ----------------------------------------------
    bool notify(LoadedModule& module, std::uint32_t code, NotifyParam param = 0);
    void notifyAll(std::uint32_t code, NotifyParam param = 0);
    bool edit(LoadedModule& module);
    bool suspend(LoadedModule& module);
    bool resume(LoadedModule& module);
    void updateData() { notifyAll(PN_UPDATEDATA); }
    // PN_GETDATA for the channel `name` (1251): the asking object is a channel
    // object of that name (and the host channel's frequency, if one exists) that
    // yields IRecorderChannel. False when the module answers false; the buffer
    // then keeps its prior content.
    bool requestData(LoadedModule& module, const std::string& name, std::int32_t count,
                     std::vector<double>& values);
    // PN_GETDATARANGE for the channel `name` (1251): samples first .. first +
    // count - 1 into `floats` or `doubles` (one of them; neither: only the
    // noise state moves on), noise drawn from `noiseState`, which is updated.
    // False when the module answers false (it may not know the code).
    bool requestRange(LoadedModule& module, const std::string& name, std::uint64_t first,
                      std::uint64_t count, float* floats, double* doubles,
                      std::uint32_t& noiseState, double* frequency = nullptr);
    // Makes (directory, name) the current file and sends code 25 with it to
    // every module. `directory` ends with its separator.
    void setCurrentFile(const std::u16string& directory, const std::u16string& name);
    const std::u16string& currentDirectory() const { return currentDirectory_; }
    const std::u16string& currentName() const { return currentName_; }

    // --- The recorder's state -----------------------------------------------
    // Start: running, time from 0, PN_RCSTART(param) to every module. A start
    // while running, or a stop while stopped, changes nothing.
    void startRecorder(NotifyParam param = 0);
    void stopRecorder();
    bool running() const { return running_.load(); }
    double time() const; // seconds since the start of the current (or last) run
    // Status bits of getstate: bit 0 while stopped, bit 1 while running, unless
    // set by a test.
    std::uint32_t stateBits() const;
    void setStateBits(std::optional<std::uint32_t> bits) { stateOverride_ = bits; }
    // Carries out what other threads asked (command) and what was deferred
    // (PN_UPDATECHANNELS for changes made without the change lock).
    void processPending();
    // The program is closing: the commands that wait are dropped, and from now
    // on starts and the commands of other threads are refused (E_FAIL).
    void closeCommands();
    bool commandsClosed() const;
    // Commands of other threads other than start and stop that may wait at once.
    static constexpr std::size_t kWaitingCommands = 16;
    using CommandHandler = std::function<void(std::int32_t code, LoadedModule* from)>;
    // Called on the home thread for every command a module sends, after the
    // host acted on it.
    void setCommandHandler(CommandHandler handler) { commandHandler_ = std::move(handler); }
    // Called when the recorder starts (before PN_RCSTART goes out) and after it
    // stopped (after PN_RCSTOP), whoever started or stopped it.
    void setRunHandlers(std::function<void()> starting, std::function<void()> stopped) {
        starting_ = std::move(starting);
        stopped_ = std::move(stopped);
    }
    std::uint64_t startTicks() const { return startTicks_; }
    std::uint64_t stopTicks() const { return stopTicks_; }

    // --- Channels -----------------------------------------------------------
    const std::vector<HostChannel*>& channels() const;
    HostChannel* channel(const std::string& name) const; // 1251 name, exact
    // Channels the host itself adds or removes (PN_UPDATECHANNELS follows).
    HostChannel* addChannel(const std::string& name, double frequency);
    bool removeChannel(HostChannel* channel);
    bool changesLocked() const { return lockDepth_ > 0; }
    // Called with every block a channel receives.
    void setSink(HostChannel::Sink sink) { sink_ = std::move(sink); }
    using ChannelSetHandler = std::function<void()>;
    void setChannelSetHandler(ChannelSetHandler handler) {
        channelSetHandler_ = std::move(handler);
    }

    // --- Log ----------------------------------------------------------------
    HostLog& log() { return log_; } // not attributed to any module
    // The newest options().keptMessages messages, oldest first.
    const std::deque<LogMessage>& messages() const { return messages_; }
    // Messages no longer kept, counted since the host began.
    std::uint64_t messagesDropped() const { return messagesDropped_; }
    using MessageHandler = std::function<void(const LogMessage&)>;
    void setMessageHandler(MessageHandler handler) { messageHandler_ = std::move(handler); }
    // The host's own events go to the same log, source "host".
    void hostMessage(const std::string& utf8Text, std::int32_t kind = kLogInfo);

    // --- Test knobs ---------------------------------------------------------
    void refuseLock(bool refuse) { refuseLock_ = refuse; }
    void refuseAddChannel(bool refuse) { refuseAddChannel_ = refuse; }
    // Makes the named operation ("getproperty", "channel.getproperty", ...) fail:
    // HRESULT operations answer E_FAIL, pointers null, bools false, numbers 0,
    // lockchanges a refusal.
    void failOperation(const std::string& op, bool fail = true);
    bool failing(const std::string& op) const;

    // --- Call log -----------------------------------------------------------
    std::vector<Call> calls() const;
    // The operation names of the calls made by modules (or made to them), in order.
    std::vector<std::string> callOps(Call::Direction direction = Call::Direction::FromModule) const;
    void clearCalls();
    using TraceHandler = std::function<void(const Call&)>;
    // Called with every call as it happens (from the calling thread).
    void setTrace(TraceHandler trace);
    void record(Call call);
    // Whether calls are being recorded or traced at all (formatting is skipped
    // otherwise).
    bool recording() const { return options_.recordCalls || tracing_.load(); }

private:
    friend class HostChannel;
    friend class HostLog;
    friend class ModuleRecorder;

    bool onHomeThread() const { return std::this_thread::get_id() == home_; }
    void channelSetChanged();
    void attach(HostChannel* channel);
    void detach(HostChannel* channel);
    // The host's channel behind `channel`, null when it is none of the host's.
    HostChannel* member(const IRecorderChannel* channel) const;
    void deliverChannelUpdate();
    void doCommand(std::int32_t code, LoadedModule* from);
    void schedulePending();
    // Puts a command of another thread in line; false when it is refused.
    bool queueCommand(std::int32_t code, const std::string& module);
    void addMessage(LogMessage message);
    void toModule(LoadedModule& module, const char* op, std::string args, std::string result);
    void received(HostChannel& channel, const float* block, std::int32_t count);
    LoadedModule* owning(IRecorderPlugin* plugin) const;
    bool failStage(LoadedModule& module, const char* step);

    HostOptions options_;
    std::thread::id home_;
    std::unique_ptr<QObject> dispatcher_;
    std::vector<std::unique_ptr<LoadedModule>> modules_;
    // In the host's order. A removal leaves a null in the channel's place
    // (constant time); the next read of the list closes the gaps in one pass.
    mutable std::vector<HostChannel*> channels_;
    mutable std::size_t holes_ = 0;
    std::unordered_map<const IRecorderChannel*, HostChannel*> members_; // those of channels_
    HostLog log_;
    std::deque<LogMessage> messages_;
    std::uint64_t messagesDropped_ = 0;
    std::string lastError_;

    std::atomic<bool> running_{false};
    std::uint64_t startTicks_ = 0;
    std::uint64_t stopTicks_ = 0;
    bool everStarted_ = false;
    std::optional<std::uint32_t> stateOverride_;

    int lockDepth_ = 0;
    bool channelsChanged_ = false;
    bool updatePending_ = false;

    std::u16string currentDirectory_;
    std::u16string currentName_;

    bool refuseLock_ = false;
    bool refuseAddChannel_ = false;
    std::set<std::string> failing_;

    mutable std::mutex pendingMutex_;
    // In the order they came, at most one of them a start or stop.
    std::deque<std::pair<std::int32_t, std::string>> pendingCommands_; // code, module name
    bool pendingPosted_ = false;
    bool commandsClosed_ = false;

    mutable std::mutex callMutex_;
    std::vector<Call> calls_;
    TraceHandler trace_;
    std::atomic<bool> tracing_{false};

    HostChannel::Sink sink_;
    CommandHandler commandHandler_;
    std::function<void()> starting_;
    std::function<void()> stopped_;
    ChannelSetHandler channelSetHandler_;
    MessageHandler messageHandler_;
};

// Readable text of a 1251 string (UTF-8) and of a VARIANT, as the call log has them.
std::string utf8(const char* cp1251Text);
std::string describeVariant(const VARIANT& value);

} // namespace host
