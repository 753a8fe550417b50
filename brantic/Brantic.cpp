#include "Brantic.h"

#include "platform/com.h"
#include "platform/text.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

using namespace platform::literals;

namespace {

const char* pluginName() {
    return "Удаленное управление"_w;
}
constexpr const char* kVendor = "Recorder Modules Project";
constexpr const char* kCopyright = "Copyright (c) Recorder Modules Project";
constexpr std::uint16_t kVersionMajor = 1;
constexpr std::uint16_t kVersionMinor = 0;

// The time most recently passed to the server, shared by every object of the
// module.
double g_lastTime = 0.0;

// Runs an interface operation so that no exception leaves the module.
template <class Result, class Body> Result guarded(Result failed, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

std::string from16(const OLECHAR* text) {
    return platform::oleTo1251(text);
}

} // namespace

bool CBrantic::m_isLive = true;
bool CBrantic::m_isWorking = false;

// --- CrcCommand ------------------------------------------------------------

void CrcCommand::send(std::int32_t code) {
    CBrantic* owner = m_owner;
    if (owner != nullptr && owner->m_host != nullptr)
        owner->m_host->command(code, owner);
}

bool RECAPI CrcCommand::stop() {
    return guarded(true, [&] {
        send(RECORDER_CMD_STOP);
        return true;
    });
}

bool RECAPI CrcCommand::start() {
    return guarded(true, [&] {
        send(RECORDER_CMD_START);
        return true;
    });
}

bool RECAPI CrcCommand::sendcode2() {
    return guarded(true, [&] {
        send(2);
        return true;
    });
}

bool RECAPI CrcCommand::sendcode20() {
    return guarded(true, [&] {
        send(20);
        return true;
    });
}

bool RECAPI CrcCommand::reserveda(std::int32_t, std::int32_t) {
    return true;
}

bool RECAPI CrcCommand::reservedb(std::int32_t, std::int32_t) {
    return true;
}

// --- CBrantic: life of the object -------------------------------------------

CBrantic::CBrantic() = default;

// A copy shares the host and the log (one more reference) and gets a dialog of
// its own, but not the connection to the server: no library handle, no server
// interface, and its command object is handed to no one. Only the object that
// connected the server closes it, so the server never keeps a command object
// whose owner is gone. The copy starts with its own count of 1.
CBrantic::CBrantic(const CBrantic& other)
    : m_lastPath(other.m_lastPath), m_host(other.m_host), m_log(other.m_log) {
    if (other.m_setup)
        m_setup = std::make_unique<brantic::CSetup>(other.m_setup->parentWindow());
    if (m_log != nullptr)
        m_log->AddRef();
}

// Assignment takes what a copy takes and keeps this object's own connection,
// if it has one.
CBrantic& CBrantic::operator=(const CBrantic& other) {
    if (this == &other)
        return *this;
    if (other.m_log != nullptr)
        other.m_log->AddRef();
    if (m_log != nullptr)
        m_log->Release();
    m_log = other.m_log;
    m_lastPath = other.m_lastPath;
    m_host = other.m_host;
    m_setup =
        other.m_setup ? std::make_unique<brantic::CSetup>(other.m_setup->parentWindow()) : nullptr;
    return *this;
}

// The server is not told. A library still held (no close came) is unloaded
// here, so that nothing of it runs on with a pointer to this object.
CBrantic::~CBrantic() {
    disconnect();
    if (m_log != nullptr)
        m_log->Release();
}

HRESULT RECAPI CBrantic::QueryInterface(REFIID iid, void** out) {
    return guarded(E_NOINTERFACE, [&] {
        return platform::queryInterface(static_cast<IRecorderPlugin*>(this), iid, out,
                                        IID_IRecorderPlugin);
    });
}

ULONG RECAPI CBrantic::AddRef() {
    return static_cast<ULONG>(m_refCount.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG RECAPI CBrantic::Release() {
    const std::int32_t count = m_refCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

std::string CBrantic::OrvanePath(const std::string& modulePath) {
    const std::string::size_type cut = modulePath.rfind(platform::pathSeparator());
    const std::string folder =
        cut == std::string::npos ? std::string() : modulePath.substr(0, cut + 1);
    return folder + platform::libraryFileName("Orvane");
}

void CBrantic::log(const char* text1251, std::int32_t kind) {
    if (m_log == nullptr)
        return;
    const platform::OleString text = platform::oleFrom1251(text1251);
    m_log->addmessage(OLESTR("Brantic"), text.c_str(), kind);
}

void CBrantic::disconnect() {
    m_notify = nullptr;
    m_orvane.close();
}

// --- CBrantic: the operations -----------------------------------------------

bool RECAPI CBrantic::create(IRecorder* recorder) {
    return guarded(false, [&] {
        m_host = recorder;
        if (m_host == nullptr)
            return false;
        m_setup = std::make_unique<brantic::CSetup>(m_host->getmainwindow());

        VARIANT value;
        platform::VariantInit(&value);
        if (m_host->getproperty(RECORDER_PROP_LOG, &value) == S_OK && value.vt == VT_UNKNOWN &&
            value.punkVal != nullptr) {
            void* found = nullptr;
            if (value.punkVal->QueryInterface(IID_IRecorderLog, &found) != S_OK)
                found = nullptr;
            if (m_log != nullptr)
                m_log->Release();
            m_log = static_cast<IRecorderLog*>(found);
        }
        platform::VariantClear(&value);

        const char* failure = "Ошибка при подключении библиотеки Orvane.dll"_w;
        disconnect();
        m_orvaneFile = OrvanePath(platform::modulePath());
        if (!m_orvane.open(m_orvaneFile)) {
            failure = "Не найдена библиотека Orvane.dll"_w;
        } else {
            auto entry =
                reinterpret_cast<PFN_GetNotifyInterface>(m_orvane.symbol("GetNotifyInterface"));
            if (entry != nullptr)
                m_notify = entry();
        }
        if (m_notify == nullptr) {
            log(failure, 7);
            disconnect();
            return false;
        }

        m_command.m_owner = this;
        m_notify->attachcommand(2, &m_command);
        m_host->command(19, this);

        const std::uint32_t bits = m_host->getstate(15);
        std::int32_t state = 0;
        if (bits & RECORDER_STATE_BIT0)
            state = 1;
        else if (bits & RECORDER_STATE_BIT1)
            state = 2;
        else if (bits & RECORDER_STATE_BIT2)
            state = 3;
        else if (bits & RECORDER_STATE_BIT3)
            state = 4;
        m_notify->setstate(state);
        return true;
    });
}

bool RECAPI CBrantic::config() {
    return guarded(false, [&] {
        m_isWorking = false;
        m_isLive = true;
        if (m_host != nullptr)
            m_host->command(0, nullptr);
        return true;
    });
}

bool RECAPI CBrantic::edit() {
    return guarded(true, [&] {
        void* parent = m_host != nullptr ? m_host->getmainwindow() : nullptr;
        if (!m_setup)
            m_setup = std::make_unique<brantic::CSetup>(parent);
        else
            m_setup->setParentWindow(parent);
        m_setup->DoModal();
        return true;
    });
}

bool RECAPI CBrantic::execute() {
    return guarded(
        false, [&] { return static_cast<IRecorderPlugin*>(this)->notify(PN_UPDATECHANNELS, 0); });
}

bool RECAPI CBrantic::suspend() {
    m_isWorking = false;
    return true;
}

bool RECAPI CBrantic::resume() {
    m_isWorking = true;
    return true;
}

bool RECAPI CBrantic::notify(std::uint32_t code, NotifyParam param) {
    return guarded(false, [&] {
        if (m_log != nullptr && code != PN_UPDATEDATA) {
            char line[96];
            std::snprintf(line, sizeof line, "Получена нотификация с кодом %d"_w,
                          static_cast<int>(static_cast<std::int32_t>(code)));
            log(line, 1);
        }
        switch (code) {
        case 0:
        case PN_UPDATECHANNELS:
        case 11:
            return true;
        case PN_RCSTART:
            log("Получена нотификация PN_RCSTART"_w, 1);
            if (m_notify != nullptr)
                m_notify->setstate(param != 0 ? 3 : 2);
            return true;
        case PN_RCSTOP:
            log("Получена нотификация PN_RCSTOP"_w, 1);
            if (m_notify != nullptr)
                m_notify->setstate(1);
            return true;
        case PN_UPDATEDATA:
            forwardTime();
            return true;
        case PN_ABOUT:
            showAbout();
            return true;
        case PN_STORESETTINGS:
            StoreSettings(nullptr);
            return true;
        case PN_LOADSETTINGS:
            LoadSettings(nullptr);
            return true;
        case PN_LOADSETTINGSAT:
            LoadSettings(reinterpret_cast<const char*>(param));
            return true;
        case PN_STORESETTINGSAT:
            StoreSettings(reinterpret_cast<const char*>(param));
            return true;
        case PN_CURRENTFILE:
            forwardCurrentFile(param);
            return true;
        default:
            return false;
        }
    });
}

void CBrantic::forwardTime() {
    if (m_host == nullptr)
        return;
    const double t = m_host->gettime();
    // Also false for a time that is not a number.
    if (!(std::fabs(g_lastTime - t) >= 0.1))
        return;
    g_lastTime = t;
    if (m_notify != nullptr)
        m_notify->settime(t, 0);
    log("Изменилось время рекордера (PN_UPDATEDATA)"_w, 1);
}

void CBrantic::forwardCurrentFile(NotifyParam param) {
    const auto* record = reinterpret_cast<const CurrentFileRecord*>(param);
    if (record == nullptr)
        return;
    const std::string directory = from16(record->directory);
    const std::string name = from16(record->name);
    // The directory is used as it is: it carries its own closing separator.
    const std::string path = directory + name + platform::pathSeparator() + name + ".kova";
    if (path == m_lastPath)
        return;
    m_lastPath = path;
    if (m_notify != nullptr)
        m_notify->setfilepath(m_lastPath.c_str());
}

void CBrantic::showAbout() {
    char version[32];
    std::snprintf(version, sizeof version, "ver%d.%d", kVersionMajor, kVersionMinor);
    brantic::ui::MessageBoxRequest request;
    request.text = std::string(pluginName()) + "\n\n" + kCopyright + "\n" + version;
    request.caption = "Информация о модуле"_w;
    request.icon = brantic::ui::Icon::Information;
    request.owner = nullptr;
    brantic::ui::viewLayer().messageBox(request);
}

const char* RECAPI CBrantic::getname() {
    return pluginName();
}

bool RECAPI CBrantic::getproperty(std::uint32_t id, VARIANT& value) {
    return guarded(false, [&] {
        // The previous content is overwritten, not cleared: it is the caller's.
        if (id == PLUGIN_PROP_DESCRIPTION) {
            BSTR text = platform::bstrFrom1251(pluginName());
            if (text == nullptr)
                return false;
            value.vt = VT_BSTR;
            value.bstrVal = text;
            return true;
        }
        if (id == PLUGIN_PROP_IDLE) {
            value.vt = VT_I4;
            value.lVal = m_isWorking ? 0 : 1;
            return true;
        }
        return false;
    });
}

bool RECAPI CBrantic::setproperty(std::uint32_t, VARIANT) {
    return false;
}

bool RECAPI CBrantic::canclose() {
    return true;
}

// The server is not told; unloading its library stops its work (the library
// joins its own threads as it unloads).
bool RECAPI CBrantic::close() {
    return guarded(true, [&] {
        m_isWorking = false;
        m_isLive = false;
        disconnect();
        return true;
    });
}

// --- settings ---------------------------------------------------------------

// The module keeps no settings: the name of the default settings file is
// formed, but no file is opened, read or written.
std::int32_t CBrantic::settingsFile(const char* file) {
    if (m_host == nullptr)
        return E_FAIL;
    if (file != nullptr)
        return E_FAIL;
    VARIANT value;
    platform::VariantInit(&value);
    m_host->getproperty(RECORDER_PROP_SETTINGS_NAME, &value);
    if (value.vt != VT_BSTR) {
        platform::VariantClear(&value);
        return E_UNEXPECTED;
    }
    const char* translated = m_host->translatepath(platform::bstrTo1251(value.bstrVal).c_str());
    const std::string settings = std::string(translated != nullptr ? translated : "") + ".rcst";
    static_cast<void>(settings);
    platform::VariantClear(&value);
    return E_FAIL;
}

std::int32_t CBrantic::StoreSettings(const char* file) {
    return guarded(E_FAIL, [&] { return settingsFile(file); });
}

std::int32_t CBrantic::LoadSettings(const char* file) {
    return guarded(E_FAIL, [&] { return settingsFile(file); });
}

std::int32_t CBrantic::UpdateSettings() {
    return 0;
}

// --- module exports ---------------------------------------------------------

namespace {
void putText(char* field, const char* text) {
    std::memcpy(field, text, std::strlen(text) + 1);
}
} // namespace

PLUGIN_EXPORT std::int32_t RECCDECL GetPluginType() {
    return 0;
}

PLUGIN_EXPORT const char* RECCDECL GetPluginDescription() {
    return pluginName();
}

PLUGIN_EXPORT IRecorderPlugin* RECCDECL CreatePluginClass() {
    return guarded<IRecorderPlugin*>(nullptr, [] { return new (std::nothrow) CBrantic; });
}

// Leaves the object to the host, which gives back its reference with Release.
PLUGIN_EXPORT std::int32_t RECCDECL DestroyPluginClass(IRecorderPlugin*) {
    return 0;
}

PLUGIN_EXPORT void RECCDECL GetPluginInfo(PluginInfo* info) {
    if (info == nullptr)
        return;
    putText(info->name, pluginName());
    putText(info->description, pluginName());
    putText(info->vendor, kVendor);
    info->versionMajor = kVersionMajor;
    info->versionMinor = kVersionMinor;
}

PLUGIN_EXPORT std::int32_t RECAPI GetKovaComponentVersion(std::uint32_t* version, std::uint32_t) {
    if (version != nullptr)
        *version = KOVA_COMPONENT_VERSION;
    return 0;
}
