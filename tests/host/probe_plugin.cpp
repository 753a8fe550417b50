// A small plug-in module that exercises the host: it registers channels under
// the change lock, binds them on PN_UPDATECHANNELS, pushes one block per
// channel on start, answers data requests, and does scripted things when a
// test sets its properties 100 and up. Built with the emulator's export names
// (leading underscore) and, as HostProbePlain, with the plain ones.
#include "platform/com.h"
#include "platform/text.h"
#include "plugin_api/recorder.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace platform::literals;

namespace {

std::atomic<int> liveObjects{0};

bool failsAt(const char* step) {
    const char* what = std::getenv("HOST_PROBE_FAIL");
    return what != nullptr && std::strcmp(what, step) == 0;
}

class CProbe final : public IRecorderPlugin {
public:
    CProbe() { ++liveObjects; }

    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override {
        return platform::queryInterface(this, iid, out, IID_IRecorderPlugin);
    }
    ULONG RECAPI AddRef() override { return refs_.add(); }
    ULONG RECAPI Release() override {
        const ULONG left = refs_.release();
        if (left == 0)
            delete this;
        return left;
    }

    bool RECAPI create(IRecorder* recorder) override {
        recorder_ = recorder;
        VARIANT value;
        platform::VariantInit(&value);
        if (recorder_->getproperty(RECORDER_PROP_LOG, &value) == 0 && value.vt == VT_UNKNOWN &&
            value.punkVal != nullptr) {
            void* log = nullptr;
            if (value.punkVal->QueryInterface(IID_IRecorderLog, &log) == S_OK)
                log_ = static_cast<IRecorderLog*>(log);
        }
        platform::VariantClear(&value);
        say(u"created");
        return !failsAt("create");
    }
    bool RECAPI config() override { return !failsAt("config"); }
    bool RECAPI edit() override { return true; }
    bool RECAPI execute() override {
        if (failsAt("execute"))
            return false;
        if (recorder_->lockchanges(this, 0) != 0) {
            say(u"refused");
            return true;
        }
        registerChannel("Probe A", 1000);
        registerChannel("Канал Б"_w, 50);
        recorder_->unlockchanges(this, 0);
        return true;
    }
    bool RECAPI suspend() override { return true; }
    bool RECAPI resume() override { return true; }

    bool RECAPI notify(std::uint32_t code, NotifyParam param) override {
        switch (code) {
        case PN_UPDATECHANNELS:
            rebuild();
            return true;
        case PN_RCSTART:
            running_ = true;
            pushBlocks();
            return true;
        case PN_UPDATEDATA:
            // HOST_PROBE_STREAM set: a block per channel at every update.
            if (running_ && std::getenv("HOST_PROBE_STREAM") != nullptr)
                pushBlocks();
            return true;
        case PN_RCSTOP:
            running_ = false;
            return true;
        case PN_GETDATA:
            return getData(reinterpret_cast<DataRequest*>(param));
        case PN_CURRENTFILE: {
            const auto* record = reinterpret_cast<const CurrentFileRecord*>(param);
            currentFile_ = platform::utf16ToCp1251(record->directory) + "|" +
                           platform::utf16ToCp1251(record->name);
            return true;
        }
        default:
            return code == 0;
        }
    }
    const char* RECAPI getname() override { return "Зонд"_w; }

    void pushBlocks() {
        for (Bound& b : bound_) {
            std::vector<float> block(static_cast<std::size_t>(b.blockLength));
            for (std::size_t k = 0; k < block.size(); ++k)
                block[k] = static_cast<float>(k) + static_cast<float>(pushed_);
            b.channel->putdata(block.data(), -1);
            ++pushed_;
        }
    }

    bool RECAPI getproperty(std::uint32_t id, VARIANT& value) override {
        platform::VariantClear(&value);
        switch (id) {
        case 200: // blocks pushed
            value.vt = VT_I4;
            value.lVal = pushed_;
            return true;
        case 201: // the current file last received
            value.vt = VT_BSTR;
            value.bstrVal = platform::bstrFrom1251(currentFile_);
            return true;
        case 202: // bound channels: "name=blocklength@frequency;..."
            value.vt = VT_BSTR;
            value.bstrVal = platform::bstrFrom1251(boundText());
            return true;
        default:
            return false;
        }
    }

    // Scripted actions for tests.
    bool RECAPI setproperty(std::uint32_t id, VARIANT value) override {
        switch (id) {
        case 100: // command on this thread
            recorder_->command(value.lVal, this);
            return true;
        case 101: // add a channel without the change lock
            registerChannel(platform::bstrTo1251(value.bstrVal), 10);
            return true;
        case 102: { // remove the host channel of that index without the lock
            IRecorderChannel* channel = recorder_->getchannel(value.lVal);
            if (channel == nullptr)
                return false;
            recorder_->removechannel(channel);
            channel->Release();
            return true;
        }
        case 103: { // command from another thread
            IRecorder* recorder = recorder_;
            std::thread([recorder, code = value.lVal, self = this] {
                recorder->command(code, self);
            }).join();
            return true;
        }
        default:
            return false;
        }
    }
    bool RECAPI canclose() override { return true; }
    bool RECAPI close() override {
        say(u"closed");
        return true;
    }

private:
    ~CProbe() {
        for (Bound& b : bound_)
            b.channel->Release();
        if (log_ != nullptr)
            log_->Release();
        --liveObjects;
    }

    struct Bound {
        IRecorderChannel* channel; // one reference
        std::string name;
        std::int32_t blockLength;
        double frequency;
    };

    void say(const char16_t* text) {
        if (log_ != nullptr)
            log_->addmessage(u"Probe", text, 1);
    }

    void registerChannel(const std::string& name, double frequency) {
        IRecorderChannel* channel = recorder_->addchannel(name.c_str(), 1, 0);
        if (channel == nullptr)
            return;
        VARIANT v;
        platform::VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = 513;
        channel->setproperty(5, v);
        channel->setfrequency(frequency);
        v.vt = VT_UI4;
        v.ulVal = 4;
        channel->setproperty(3, v);
        AddRef();
        v.vt = VT_UNKNOWN;
        v.punkVal = this;
        channel->setproperty(10, v);
        Release();
        channel->activate(0);
        names_.push_back(name);
    }

    void rebuild() {
        for (Bound& b : bound_)
            b.channel->Release();
        bound_.clear();
        const std::int32_t n = recorder_->getchannelcount();
        for (std::int32_t k = 0; k < n; ++k) {
            IRecorderChannel* channel = recorder_->getchannel(k);
            if (channel == nullptr)
                break;
            VARIANT v;
            platform::VariantInit(&v);
            std::int32_t length = 1;
            if (channel->getproperty(CHANNEL_PROP_BLOCK_LENGTH, &v))
                length = v.lVal;
            platform::VariantClear(&v);
            bound_.push_back({channel, channel->getname(), length, channel->getfrequency()});
        }
    }

    bool getData(DataRequest* request) {
        void* out = nullptr;
        if (request->asking->QueryInterface(IID_IRecorderChannel, &out) != S_OK)
            return false;
        auto* channel = static_cast<IRecorderChannel*>(out);
        const std::string name = channel->getname();
        channel->Release();
        bool known = false;
        for (const std::string& n : names_)
            known = known || n == name;
        if (!known)
            return false;
        for (std::int32_t k = 0; k < request->count; ++k)
            request->buffer[k] = 0.5 * k;
        return true;
    }

    std::string boundText() const {
        std::string text;
        for (const Bound& b : bound_)
            text += b.name + "=" + std::to_string(b.blockLength) + "@" +
                    std::to_string(static_cast<int>(b.frequency)) + ";";
        return text;
    }

    platform::RefCount refs_;
    IRecorder* recorder_ = nullptr;
    IRecorderLog* log_ = nullptr;
    std::vector<Bound> bound_;
    std::vector<std::string> names_;
    std::int32_t pushed_ = 0;
    bool running_ = false;
    std::string currentFile_;
};

} // namespace

#if defined(PROBE_PLAIN_NAMES)
#define PROBE_EXPORT(name) name
#else
#define PROBE_EXPORT(name) _##name
#endif

PLUGIN_EXPORT std::int32_t PROBE_EXPORT(GetPluginType)() {
    return 0;
}
PLUGIN_EXPORT const char* PROBE_EXPORT(GetPluginDescription)() {
    return "Зонд хоста"_w;
}
PLUGIN_EXPORT IRecorderPlugin* PROBE_EXPORT(CreatePluginClass)() {
    return new (std::nothrow) CProbe;
}
PLUGIN_EXPORT std::int32_t PROBE_EXPORT(DestroyPluginClass)(IRecorderPlugin* a_piPlg) {
#if !defined(PROBE_PLAIN_NAMES)
    // This form gives back the host's reference itself, as the emulator does.
    a_piPlg->Release();
#else
    (void)a_piPlg;
#endif
    return 0;
}
PLUGIN_EXPORT void PROBE_EXPORT(GetPluginInfo)(PluginInfo* info) {
    if (info == nullptr)
        return;
    std::strcpy(info->name, "Зонд"_w);
    std::strcpy(info->description, "Проверка хоста"_w);
    std::strcpy(info->vendor, "Tests");
    info->versionMajor = 3;
    info->versionMinor = 4;
}
// How many plug-in objects are alive (tests check destruction).
PLUGIN_EXPORT int ProbeLiveObjects() {
    return liveObjects.load();
}
