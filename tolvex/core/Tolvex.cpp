#include "Tolvex.h"

#include "Utypes.h"

#include "platform/fpmode.h"
#include "platform/text.h"
#include "platform/ticks.h"

#include <cmath>
#include <cstdint>

namespace tolvex {

using namespace platform::literals;

namespace {
CTolvex* gCurrentPlugin = nullptr;
MainWindowMaker gMainWindowMaker = nullptr;
ModuleSetup gModuleSetup = nullptr;
} // namespace

void setMainWindowMaker(MainWindowMaker maker) {
    gMainWindowMaker = maker;
}

void setModuleSetup(ModuleSetup setup) {
    gModuleSetup = setup;
}

void runModuleSetup() {
    if (gModuleSetup != nullptr)
        gModuleSetup();
}

CTolvex* currentPlugin() {
    return gCurrentPlugin;
}

void setCurrentPlugin(CTolvex* plugin) {
    gCurrentPlugin = plugin;
}

CTolvex::CTolvex() = default;

CTolvex::~CTolvex() {
    releaseHostChannels();
    mainWindow_.reset();
    channels.clear();
    if (gCurrentPlugin == this)
        gCurrentPlugin = nullptr;
}

HRESULT RECAPI CTolvex::QueryInterface(REFIID iid, void** out) {
    return platform::queryInterface(this, iid, out, IID_IRecorderPlugin);
}

ULONG RECAPI CTolvex::AddRef() {
    return refs_.add();
}

ULONG RECAPI CTolvex::Release() {
    const ULONG count = refs_.release();
    if (count == 0)
        delete this;
    return count;
}

bool RECAPI CTolvex::create(IRecorder* host) {
    recorder = host;
    return true;
}

bool RECAPI CTolvex::config() {
    try {
        SignalKinds::fill();
        running = false;
        mainWindow_.reset();
        if (gMainWindowMaker != nullptr) {
            mainWindow_ = gMainWindowMaker();
            mainWindow_->open();
        }
        releaseHostChannels();
        return true;
    } catch (...) {
        return false;
    }
}

bool RECAPI CTolvex::edit() {
    // The host's way back to a window the user closed (it hides, it is not
    // destroyed): show it again and bring it to the front.
    try {
        if (mainWindow_)
            mainWindow_->bringToFront();
        return true;
    } catch (...) {
        return false;
    }
}

bool RECAPI CTolvex::execute() {
    try {
        if (mainWindow_)
            mainWindow_->loadCurrentFile();
        return true;
    } catch (...) {
        return false;
    }
}

bool RECAPI CTolvex::suspend() {
    return true;
}

bool RECAPI CTolvex::resume() {
    return true;
}

bool RECAPI CTolvex::notify(std::uint32_t code, NotifyParam param) {
    // Frequencies taken from the host and requested samples: the same bits
    // whatever floating-point mode the host left.
    const platform::IeeeMode ieee;
    try {
        switch (code) {
        case 0:
        case PN_UPDATEDATA:
        case PN_LOADSETTINGS:
            return true;
        case PN_UPDATECHANNELS:
            rebuildHostChannels();
            return true;
        case PN_RCSTART:
            if (running)
                reportSkipped(); // a start without a stop ends the run as well
            for (auto& channel : channels)
                channel->Start();
            nextChannel_ = 0; // each run's steps begin with the first channel
            running = true;
            if (mainWindow_)
                mainWindow_->setRunning(true);
            return true;
        case PN_RCSTOP:
            if (running)
                reportSkipped();
            running = false;
            if (mainWindow_)
                mainWindow_->setRunning(false);
            return true;
        case PN_GETDATA: {
            if (param == 0)
                return false;
            const auto* request = reinterpret_cast<const DataRequest*>(param);
            return serveDataRequest(*request);
        }
        case PN_GETDATARANGE:
            return param != 0 && serveRangeRequest(*reinterpret_cast<DataRangeRequest*>(param));
        default:
            return false;
        }
    } catch (...) {
        return code == PN_UPDATECHANNELS || code == PN_RCSTART || code == PN_RCSTOP;
    }
}

const char* RECAPI CTolvex::getname() {
    return "Заказ внутр"_w;
}

bool RECAPI CTolvex::getproperty(std::uint32_t id, VARIANT& value) {
    platform::VariantClear(&value);
    switch (id) {
    case PLUGIN_PROP_DESCRIPTION: {
        BSTR text = platform::bstrFrom1251("Плагин виртуальных каналов"_w);
        if (text == nullptr)
            return false;
        value.vt = VT_BSTR;
        value.bstrVal = text;
        return true;
    }
    case PLUGIN_PROP_FLAG3:
        value.vt = VT_BOOL;
        value.boolVal = VARIANT_TRUE;
        return true;
    default:
        return false;
    }
}

bool RECAPI CTolvex::setproperty(std::uint32_t, VARIANT) {
    return false;
}

bool RECAPI CTolvex::canclose() {
    return true;
}

bool RECAPI CTolvex::close() {
    try {
        if (running)
            reportSkipped();
        running = false;
        SignalKinds::clear();
        mainWindow_.reset();
        // No notification follows close, so the host's channels go back now,
        // while the host is certainly still there.
        releaseHostChannels();
        return true;
    } catch (...) {
        return false;
    }
}

double CTolvex::GetFreqById(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= hostChannels_.size())
        return 0.0;
    try {
        return hostChannels_[static_cast<std::size_t>(index)]->getfrequency();
    } catch (...) {
        return 0.0;
    }
}

void CTolvex::GenerateStep() {
    const platform::IeeeMode ieee;
    const std::uint64_t start = platform::tickCount64();
    for (auto& channel : channels)
        channel->Advance(start);
    const std::size_t count = channels.size();
    if (count == 0)
        return;
    std::size_t k = nextChannel_ % count;
    std::size_t idle = 0; // channels in a row found with nothing to make
    while (idle < count) {
        CVirtualChannel& channel = *channels[k];
        k = k + 1 == count ? 0 : k + 1;
        if (channel.Produce(kStepChunk) == 0) {
            ++idle;
            continue;
        }
        idle = 0;
        if (platform::tickCount64() - start >= kStepBudgetMs)
            break;
    }
    nextChannel_ = k;
}

void CTolvex::reportSkipped() {
    std::string text;
    for (const auto& channel : channels) {
        if (channel->skippedSinceStart() == 0)
            continue;
        text += text.empty() ? "" : ", ";
        text += std::string("«"_w) + channel->name + std::string("» "_w) +
                std::to_string(channel->skippedSinceStart());
    }
    if (text.empty())
        return;
    // Data were lost: an error, once per run.
    log(std::string("Генерация отстала от часов более чем на 2 с, пропущено отсчётов: "_w) + text,
        kLogFailure);
}

void CTolvex::log(const std::string& text, std::int32_t kind) const {
    if (recorder == nullptr)
        return;
    VARIANT value;
    platform::VariantInit(&value);
    try {
        if (recorder->getproperty(RECORDER_PROP_LOG, &value) == S_OK && value.vt == VT_UNKNOWN &&
            value.punkVal != nullptr) {
            void* found = nullptr;
            if (value.punkVal->QueryInterface(IID_IRecorderLog, &found) == S_OK &&
                found != nullptr) {
                auto* hostLog = static_cast<IRecorderLog*>(found);
                const platform::OleString message = platform::oleFrom1251(text);
                hostLog->addmessage(OLESTR("Tolvex"), message.c_str(), kind);
                hostLog->Release();
            }
        }
    } catch (...) {
        // A host that fails while taking a message loses only the message.
    }
    platform::VariantClear(&value);
}

void CTolvex::releaseHostChannels() {
    std::vector<IRecorderChannel*> old;
    old.swap(hostChannels_);
    hostChannelNames_.clear();
    for (IRecorderChannel* channel : old) {
        try {
            channel->Release();
        } catch (...) {
            // A host that fails while taking its reference back keeps it.
        }
    }
}

void CTolvex::rebuildHostChannels() {
    releaseHostChannels();
    // A host error stops the reading where it happened; the table keeps the
    // entries obtained so far.
    try {
        const std::int32_t n = recorder != nullptr ? recorder->getchannelcount() : 0;
        hostChannels_.reserve(n > 0 ? static_cast<std::size_t>(n) : 0u);
        for (std::int32_t k = 0; k < n; ++k) {
            IRecorderChannel* channel = recorder->getchannel(k);
            if (channel == nullptr)
                break; // a null entry would end the table here anyway
            hostChannels_.push_back(channel);
            const char* name = channel->getname();
            hostChannelNames_.emplace_back(name != nullptr ? name : "");
        }
    } catch (...) {
        // Answered true all the same.
    }
    // Every channel binds to the host channel of its name or to none: the
    // references the old table held are gone, and a host channel the host has
    // removed may be gone with them.
    for (auto& channel : channels) {
        std::size_t p = 0;
        while (p < hostChannelNames_.size() &&
               !platform::equalsNoCase1251(channel->name, hostChannelNames_[p]))
            ++p;
        if (p == hostChannelNames_.size()) {
            channel->Unbind();
            continue;
        }
        try {
            channel->Bind(hostChannels_[p]);
        } catch (...) {
            // The table holds this host channel: the pointer stays valid.
        }
    }
}

// The virtual channel a request asks for: the asking object's channel name,
// the last channel of that name winning (as the host binds them).
const CVirtualChannel* CTolvex::askedChannel(IUnknown* asking) const {
    void* out = nullptr;
    if (asking->QueryInterface(IID_IRecorderChannel, &out) != S_OK || out == nullptr)
        return nullptr;
    auto* channel = static_cast<IRecorderChannel*>(out);
    const char* askedName = channel->getname();
    const std::string name = askedName != nullptr ? askedName : "";
    channel->Release();

    const CVirtualChannel* found = nullptr;
    for (const auto& candidate : channels)
        if (candidate->name == name)
            found = candidate.get();
    return found;
}

bool CTolvex::serveDataRequest(const DataRequest& request) {
    if (request.asking == nullptr)
        return false;
    const CVirtualChannel* found = askedChannel(request.asking);
    if (found == nullptr)
        return false;
    if (request.count <= 0)
        return true;
    if (request.buffer == nullptr)
        return false;
    found->signal->fill(request.buffer, 0, static_cast<std::size_t>(request.count),
                        static_cast<double>(found->frequency));
    return true;
}

bool CTolvex::serveRangeRequest(DataRangeRequest& request) {
    if (request.size != sizeof(DataRangeRequest) || request.asking == nullptr)
        return false;
    if (request.floats != nullptr && request.doubles != nullptr)
        return false;
    const CVirtualChannel* found = askedChannel(request.asking);
    if (found == nullptr)
        return false;
    const double frequency = static_cast<double>(found->frequency);
    request.frequency = frequency;
    if (request.count > SIZE_MAX || request.first > UINT64_MAX - request.count)
        return false;
    const tolvex::Signal& signal = *found->signal;
    // The channel's own run with the noise state the host gave: the shared
    // generator, which live channels draw, is not touched.
    const tolvex::SampleRun run{request.first, frequency, request.noiseState,
                                signal.drawsPerSample()};
    const auto n = static_cast<std::size_t>(request.count);
    if (request.floats != nullptr)
        signal.fillFloats(run, request.floats, n);
    else if (request.doubles != nullptr)
        signal.fillDoubles(run, request.doubles, n);
    if (run.drawStride != 0)
        request.noiseState = run.from(n).drawState;
    return true;
}

// ---- Channel registration

void RegisterChannel(CVirtualChannel& channel) {
    CTolvex* plugin = currentPlugin();
    if (plugin == nullptr || plugin->recorder == nullptr)
        return;
    IRecorderChannel* host = plugin->recorder->addchannel(channel.name.c_str(), 1, 0);
    if (host == nullptr)
        return;

    VARIANT value;
    platform::VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 513;
    host->setproperty(CHANNEL_PROP_5, value);

    if (std::isnan(channel.frequency) || channel.frequency < 0.1f)
        channel.frequency = 1.0f;
    host->setfrequency(static_cast<double>(channel.frequency));

    platform::VariantInit(&value);
    value.vt = VT_UI4;
    value.ulVal = 4;
    host->setproperty(CHANNEL_PROP_3, value);

    platform::VariantInit(&value);
    value.vt = VT_UNKNOWN;
    plugin->AddRef();
    value.punkVal = plugin;
    host->setproperty(CHANNEL_PROP_OWNER, value);
    plugin->Release();

    host->activate(0);
    channel.hostChannel = host;
}

void DeleteChannel(std::int32_t index) {
    CTolvex* plugin = currentPlugin();
    if (plugin == nullptr || index < 0 ||
        static_cast<std::size_t>(index) >= plugin->channels.size())
        return;
    const auto position = plugin->channels.begin() + index;
    if ((*position)->hostChannel != nullptr && plugin->recorder != nullptr)
        plugin->recorder->removechannel((*position)->hostChannel);
    plugin->channels.erase(position);
}

} // namespace tolvex
