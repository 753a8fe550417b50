// IRecorder as one module sees it: every operation is recorded with its
// arguments and carried out on the host.
#include "host/host.h"

#include "platform/com.h"

#include <algorithm>
#include <cstdio>

namespace host {

namespace {

std::string hr(HRESULT value) {
    switch (value) {
    case S_OK:
        return "S_OK";
    case E_FAIL:
        return "E_FAIL";
    case E_NOTIMPL:
        return "E_NOTIMPL";
    case E_UNEXPECTED:
        return "E_UNEXPECTED";
    case E_NOINTERFACE:
        return "E_NOINTERFACE";
    default: {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
        return text;
    }
    }
}

} // namespace

HRESULT RECAPI ModuleRecorder::QueryInterface(REFIID iid, void** out) {
    // IRecorder has no identifier of its own in the contract; it answers IUnknown.
    return platform::queryInterface(this, iid, out, IID_IUnknown_);
}

HRESULT ModuleRecorder::reserved(int slot) {
    if (host_.recording())
        host_.record({Call::Direction::FromModule,
                      module_.name(),
                      "reserved" + std::to_string(slot),
                      {},
                      "E_NOTIMPL"});
    return E_NOTIMPL;
}

#define RECORDER_RESERVED(n)                                                                       \
    HRESULT RECAPI ModuleRecorder::reserved##n() {                                                 \
        return reserved(n);                                                                        \
    }
RECORDER_RESERVED(3)
RECORDER_RESERVED(4)
RECORDER_RESERVED(5)
RECORDER_RESERVED(6)
RECORDER_RESERVED(7)
RECORDER_RESERVED(10)
RECORDER_RESERVED(11)
RECORDER_RESERVED(12)
RECORDER_RESERVED(13)
RECORDER_RESERVED(15)
RECORDER_RESERVED(16)
RECORDER_RESERVED(17)
RECORDER_RESERVED(21)
RECORDER_RESERVED(22)
RECORDER_RESERVED(23)
RECORDER_RESERVED(25)
RECORDER_RESERVED(26)
RECORDER_RESERVED(27)
RECORDER_RESERVED(28)
RECORDER_RESERVED(29)
RECORDER_RESERVED(30)
RECORDER_RESERVED(31)
RECORDER_RESERVED(32)
RECORDER_RESERVED(33)
RECORDER_RESERVED(34)
RECORDER_RESERVED(35)
RECORDER_RESERVED(36)
RECORDER_RESERVED(38)
RECORDER_RESERVED(39)
RECORDER_RESERVED(40)
RECORDER_RESERVED(41)
RECORDER_RESERVED(42)
RECORDER_RESERVED(43)
RECORDER_RESERVED(44)
RECORDER_RESERVED(45)
RECORDER_RESERVED(46)
RECORDER_RESERVED(47)
RECORDER_RESERVED(48)
RECORDER_RESERVED(51)
RECORDER_RESERVED(52)
RECORDER_RESERVED(53)
RECORDER_RESERVED(54)
RECORDER_RESERVED(55)
RECORDER_RESERVED(56)
RECORDER_RESERVED(57)
RECORDER_RESERVED(58)
RECORDER_RESERVED(60)
RECORDER_RESERVED(61)
RECORDER_RESERVED(62)
RECORDER_RESERVED(63)
RECORDER_RESERVED(64)
RECORDER_RESERVED(65)
RECORDER_RESERVED(66)
RECORDER_RESERVED(67)
RECORDER_RESERVED(68)
RECORDER_RESERVED(69)
#undef RECORDER_RESERVED

IRecorderChannel* RECAPI ModuleRecorder::getchannel(std::int32_t index) {
    HostChannel* channel = nullptr;
    const auto& list = host_.channels();
    if (!host_.failing("getchannel") && index >= 0 &&
        static_cast<std::size_t>(index) < list.size()) {
        channel = list[static_cast<std::size_t>(index)];
        channel->AddRef(); // the caller releases it
    }
    if (host_.recording())
        host_.record({Call::Direction::FromModule, module_.name(), "getchannel",
                      std::to_string(index),
                      channel == nullptr ? "null" : "\"" + utf8(channel->name().c_str()) + "\""});
    return channel;
}

std::int32_t RECAPI ModuleRecorder::getchannelcount() {
    const auto count =
        host_.failing("getchannelcount") ? 0 : static_cast<std::int32_t>(host_.channels().size());
    if (host_.recording())
        host_.record({Call::Direction::FromModule,
                      module_.name(),
                      "getchannelcount",
                      {},
                      std::to_string(count)});
    return count;
}

std::uint32_t RECAPI ModuleRecorder::getstate(std::uint32_t mask) {
    const std::uint32_t state = host_.failing("getstate") ? 0u : host_.stateBits() & mask;
    if (host_.recording())
        host_.record({Call::Direction::FromModule, module_.name(), "getstate", std::to_string(mask),
                      std::to_string(state)});
    return state;
}

IRecorderChannel* RECAPI ModuleRecorder::addchannel(const char* name, std::int32_t a,
                                                    std::int32_t b) {
    const std::string text = name == nullptr ? std::string() : std::string(name);
    HostChannel* channel = nullptr;
    if (!host_.refuseAddChannel_ && !host_.failing("addchannel")) {
        channel = new HostChannel(host_, text, module_.name());
        host_.attach(channel);
    }
    if (host_.recording())
        host_.record(
            {Call::Direction::FromModule, module_.name(), "addchannel",
             "\"" + utf8(text.c_str()) + "\", " + std::to_string(a) + ", " + std::to_string(b),
             channel == nullptr ? "null" : "channel"});
    if (channel != nullptr)
        host_.channelSetChanged();
    // The host keeps the channel; the caller holds it without a reference of
    // its own until it removes it.
    return channel;
}

HRESULT RECAPI ModuleRecorder::removechannel(IRecorderChannel* channel) {
    HostChannel* found = host_.member(channel); // a hash look-up: constant time
    HRESULT result = S_OK;
    if (host_.failing("removechannel"))
        result = E_FAIL;
    else if (found == nullptr)
        result = E_UNEXPECTED;
    if (host_.recording())
        host_.record({Call::Direction::FromModule, module_.name(), "removechannel",
                      found == nullptr ? (channel == nullptr ? "null" : "unknown channel")
                                       : "\"" + utf8(found->name().c_str()) + "\"",
                      hr(result)});
    if (result != S_OK)
        return result;
    host_.detach(found);
    host_.channelSetChanged();
    return S_OK;
}

HRESULT RECAPI ModuleRecorder::command(std::int32_t code, IRecorderPlugin* asking) {
    // May come from any thread: nothing here touches the host's state except
    // the call log (locked) and the line of waiting commands (locked).
    const bool home = host_.onHomeThread();
    bool refused = host_.failing("command");
    if (!refused && home)
        refused = code == RECORDER_CMD_START && host_.commandsClosed();
    else if (!refused)
        refused = !host_.queueCommand(code, module_.name());
    if (host_.recording()) {
        std::string who = "null";
        if (asking != nullptr)
            who = asking == module_.plugin() ? module_.name() : "other plug-in";
        host_.record({Call::Direction::FromModule, module_.name(), "command",
                      std::to_string(code) + ", " + who, refused ? "E_FAIL" : "S_OK"});
    }
    if (refused)
        return E_FAIL;
    if (home)
        host_.doCommand(code, &module_);
    else
        host_.schedulePending();
    return S_OK;
}

HRESULT RECAPI ModuleRecorder::getproperty(std::uint32_t id, VARIANT* value) {
    HRESULT result = E_FAIL;
    if (value != nullptr && !host_.failing("getproperty")) {
        if (id == RECORDER_PROP_SETTINGS_NAME) {
            BSTR text = platform::bstrFrom1251(host_.options_.settingsName);
            if (text != nullptr) {
                value->vt = VT_BSTR;
                value->bstrVal = text; // the caller's now
                result = S_OK;
            }
        } else if (id == RECORDER_PROP_LOG) {
            HostLog& log = module_.log_;
            log.AddRef(); // released by the caller's VariantClear
            value->vt = VT_UNKNOWN;
            value->punkVal = &log;
            result = S_OK;
        }
    }
    if (host_.recording())
        host_.record({Call::Direction::FromModule, module_.name(), "getproperty",
                      std::to_string(id),
                      result == S_OK ? "S_OK, " + describeVariant(*value) : hr(result)});
    return result;
}

void* RECAPI ModuleRecorder::getmainwindow() {
    void* window = host_.failing("getmainwindow") ? nullptr : host_.options_.mainWindow;
    if (host_.recording())
        host_.record({Call::Direction::FromModule,
                      module_.name(),
                      "getmainwindow",
                      {},
                      window == nullptr ? "null" : "window"});
    return window;
}

std::int32_t RECAPI ModuleRecorder::lockchanges(IRecorderPlugin* asking, std::int32_t how) {
    const bool refuse = host_.refuseLock_ || host_.failing("lockchanges");
    if (!refuse)
        ++host_.lockDepth_;
    if (host_.recording())
        host_.record(
            {Call::Direction::FromModule, module_.name(), "lockchanges",
             std::string(asking == nullptr ? "null" : "plug-in") + ", " + std::to_string(how),
             refuse ? "1" : "0"});
    return refuse ? 1 : 0;
}

HRESULT RECAPI ModuleRecorder::unlockchanges(IRecorderPlugin* asking, std::int32_t how) {
    HRESULT result = S_OK;
    if (host_.failing("unlockchanges"))
        result = E_FAIL;
    else if (host_.lockDepth_ == 0)
        result = E_UNEXPECTED; // no change was granted
    if (host_.recording())
        host_.record(
            {Call::Direction::FromModule, module_.name(), "unlockchanges",
             std::string(asking == nullptr ? "null" : "plug-in") + ", " + std::to_string(how),
             hr(result)});
    if (result != S_OK)
        return result;
    if (--host_.lockDepth_ == 0 && host_.channelsChanged_)
        host_.deliverChannelUpdate();
    return S_OK;
}

const char* RECAPI ModuleRecorder::translatepath(const char* path) {
    const char* answer = nullptr;
    if (path != nullptr && !host_.failing("translatepath")) {
        std::string text = path;
#if !defined(_WIN32)
        std::replace(text.begin(), text.end(), '\\', '/');
        const bool absolute = !text.empty() && text.front() == '/';
#else
        const bool absolute = text.size() > 1 && (text[1] == ':' || text.front() == '\\');
#endif
        const std::string& base = host_.options_.dataDirectory;
        if (!absolute && !base.empty())
            text = base + (base.back() == '/' ? "" : "/") + text;
        answer = module_.translated_.insert(std::move(text)).first->c_str();
    }
    if (host_.recording())
        host_.record({Call::Direction::FromModule, module_.name(), "translatepath",
                      path == nullptr ? "null" : "\"" + utf8(path) + "\"",
                      answer == nullptr ? "null" : "\"" + utf8(answer) + "\""});
    return answer;
}

double RECAPI ModuleRecorder::gettime() {
    const double t = host_.failing("gettime") ? 0.0 : host_.time();
    if (host_.recording()) {
        char text[40];
        std::snprintf(text, sizeof text, "%.6f", t);
        host_.record({Call::Direction::FromModule, module_.name(), "gettime", {}, text});
    }
    return t;
}

} // namespace host
