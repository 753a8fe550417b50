// The remote-control plug-in object: bridges the recorder host and the
// remote-control server library loaded from the module's own folder.
#pragma once

#include "Setup.h"

#include "platform/module.h"
#include "plugin_api/recorder.h"
#include "plugin_api/remote_control.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#if defined(_WIN32)
#define BRANTIC_CLASS // Brantic.def lists the exported members
#else
#define BRANTIC_CLASS __attribute__((visibility("default")))
#endif

class CBrantic;

// The command object handed to the server: each operation asks the host to run
// a recorder command on behalf of its owner, on whatever thread calls it.
class CrcCommand : public IrcCommand {
public:
    explicit CrcCommand(CBrantic* owner = nullptr) : m_owner(owner) {}
    CrcCommand(const CrcCommand&) = default;
    CrcCommand& operator=(const CrcCommand&) = default;
    virtual ~CrcCommand() {}

    bool RECAPI stop() override;
    bool RECAPI start() override;
    bool RECAPI sendcode2() override;
    bool RECAPI sendcode20() override;
    bool RECAPI reserveda(std::int32_t a, std::int32_t b) override;
    bool RECAPI reservedb(std::int32_t a, std::int32_t b) override;

    CBrantic* m_owner;

private:
    void send(std::int32_t code);
};

class BRANTIC_CLASS CBrantic : public IRecorderPlugin {
public:
    CBrantic();
    CBrantic(const CBrantic& other);
    CBrantic& operator=(const CBrantic& other);
    virtual ~CBrantic();

    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override;
    ULONG RECAPI AddRef() override;
    ULONG RECAPI Release() override;
    bool RECAPI create(IRecorder* recorder) override;
    bool RECAPI config() override;
    bool RECAPI edit() override;
    bool RECAPI execute() override;
    bool RECAPI suspend() override;
    bool RECAPI resume() override;
    bool RECAPI notify(std::uint32_t code, NotifyParam param) override;
    const char* RECAPI getname() override;
    bool RECAPI getproperty(std::uint32_t id, VARIANT& value) override;
    bool RECAPI setproperty(std::uint32_t id, VARIANT value) override;
    bool RECAPI canclose() override;
    bool RECAPI close() override;

    std::int32_t UpdateSettings();

    // The server library's path for a module at `modulePath`: the module's
    // folder (nothing when the path has no separator) and the library's name.
    static std::string OrvanePath(const std::string& modulePath);

protected:
    std::int32_t StoreSettings(const char* file);
    std::int32_t LoadSettings(const char* file);

    static bool m_isLive;
    static bool m_isWorking;

private:
    friend class CrcCommand;

    void log(const char* text1251, std::int32_t kind);
    void forwardTime();
    void forwardCurrentFile(NotifyParam param);
    void showAbout();
    std::int32_t settingsFile(const char* file);
    void disconnect();

    std::atomic<std::int32_t> m_refCount{1};
    platform::Library m_orvane;
    CrcCommand m_command;
    IrcNotify* m_notify = nullptr;
    std::string m_lastPath;
    IRecorder* m_host = nullptr;
    std::unique_ptr<brantic::CSetup> m_setup;
    IRecorderLog* m_log = nullptr;
    std::string m_orvaneFile; // the path the library was loaded from
};
