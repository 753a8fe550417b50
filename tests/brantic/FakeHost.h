// A small recorder host for the module's unit tests: answers what the module
// asks and records every call in order, from any thread.
#pragma once

#include "platform/com.h"
#include "platform/text.h"
#include "plugin_api/recorder.h"

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

namespace brantic_test {

struct LogEntry {
    std::u16string source;
    std::u16string text;
    std::int32_t kind;
};

class FakeLog final : public IRecorderLog {
public:
    HRESULT RECAPI QueryInterface(REFIID iid, void** out) override {
        return platform::queryInterface(static_cast<IRecorderLog*>(this), iid, out,
                                        IID_IRecorderLog);
    }
    ULONG RECAPI AddRef() override { return count.add(); }
    ULONG RECAPI Release() override { return count.release(); }
    HRESULT RECAPI addmessage(const OLECHAR* source, const OLECHAR* text,
                              std::int32_t kind) override {
        const std::lock_guard<std::mutex> lock(mutex);
        entries.push_back({source, text, kind});
        return S_OK;
    }
    std::vector<LogEntry> snapshot() {
        const std::lock_guard<std::mutex> lock(mutex);
        return entries;
    }

    platform::RefCount count;
    std::mutex mutex;
    std::vector<LogEntry> entries;
};

#define FAKE_RESERVED(n)                                                                           \
    HRESULT RECAPI reserved##n() override {                                                        \
        return record("reserved" #n), E_NOTIMPL;                                                   \
    }

class FakeHost final : public IRecorder {
public:
    // What the host answers.
    bool offerLog = true;
    std::uint32_t stateBits = 0;
    double time = 0.0;
    bool settingsNameIsString = true;
    void* mainWindow = reinterpret_cast<void*>(0x1234);
    FakeLog log;

    std::vector<std::string> calls() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }
    void clear() {
        const std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }
    // Calls other than the log's.
    IRecorderPlugin* lastAsking = nullptr;

    HRESULT RECAPI QueryInterface(REFIID, void**) override {
        return record("QueryInterface"), E_NOINTERFACE;
    }
    ULONG RECAPI AddRef() override { return record("AddRef"), 1; }
    ULONG RECAPI Release() override { return record("Release"), 1; }
    FAKE_RESERVED(3)
    FAKE_RESERVED(4)
    FAKE_RESERVED(5)
    FAKE_RESERVED(6)
    FAKE_RESERVED(7)
    IRecorderChannel* RECAPI getchannel(std::int32_t) override {
        return record("getchannel"), nullptr;
    }
    std::int32_t RECAPI getchannelcount() override { return record("getchannelcount"), 0; }
    FAKE_RESERVED(10)
    FAKE_RESERVED(11)
    FAKE_RESERVED(12)
    FAKE_RESERVED(13)
    std::uint32_t RECAPI getstate(std::uint32_t mask) override {
        record("getstate(" + std::to_string(mask) + ")");
        return stateBits;
    }
    FAKE_RESERVED(15)
    FAKE_RESERVED(16)
    FAKE_RESERVED(17)
    IRecorderChannel* RECAPI addchannel(const char*, std::int32_t, std::int32_t) override {
        return record("addchannel"), nullptr;
    }
    HRESULT RECAPI removechannel(IRecorderChannel*) override {
        return record("removechannel"), S_OK;
    }
    HRESULT RECAPI command(std::int32_t code, IRecorderPlugin* asking) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        lastAsking = asking;
        calls_.push_back("command(" + std::to_string(code) + (asking ? ",plugin)" : ",null)"));
        return S_OK;
    }
    FAKE_RESERVED(21)
    FAKE_RESERVED(22)
    FAKE_RESERVED(23)
    HRESULT RECAPI getproperty(std::uint32_t id, VARIANT* value) override {
        record("getproperty(" + std::to_string(id) + ")");
        if (id == RECORDER_PROP_LOG && offerLog) {
            log.AddRef();
            value->vt = VT_UNKNOWN;
            value->punkVal = &log;
            return S_OK;
        }
        if (id == RECORDER_PROP_SETTINGS_NAME) {
            if (settingsNameIsString) {
                value->vt = VT_BSTR;
                value->bstrVal = platform::bstrFrom1251("remote");
            } else {
                value->vt = VT_I4;
                value->lVal = 7;
            }
            return S_OK;
        }
        return E_FAIL;
    }
    FAKE_RESERVED(25)
    FAKE_RESERVED(26)
    FAKE_RESERVED(27)
    FAKE_RESERVED(28)
    FAKE_RESERVED(29)
    FAKE_RESERVED(30)
    FAKE_RESERVED(31)
    FAKE_RESERVED(32)
    FAKE_RESERVED(33)
    FAKE_RESERVED(34)
    FAKE_RESERVED(35)
    FAKE_RESERVED(36)
    void* RECAPI getmainwindow() override { return record("getmainwindow"), mainWindow; }
    FAKE_RESERVED(38)
    FAKE_RESERVED(39)
    FAKE_RESERVED(40)
    FAKE_RESERVED(41)
    FAKE_RESERVED(42)
    FAKE_RESERVED(43)
    FAKE_RESERVED(44)
    FAKE_RESERVED(45)
    FAKE_RESERVED(46)
    FAKE_RESERVED(47)
    FAKE_RESERVED(48)
    std::int32_t RECAPI lockchanges(IRecorderPlugin*, std::int32_t) override {
        return record("lockchanges"), 0;
    }
    HRESULT RECAPI unlockchanges(IRecorderPlugin*, std::int32_t) override {
        return record("unlockchanges"), S_OK;
    }
    FAKE_RESERVED(51)
    FAKE_RESERVED(52)
    FAKE_RESERVED(53)
    FAKE_RESERVED(54)
    FAKE_RESERVED(55)
    FAKE_RESERVED(56)
    FAKE_RESERVED(57)
    FAKE_RESERVED(58)
    const char* RECAPI translatepath(const char* path) override {
        record(std::string("translatepath(") + path + ")");
        translated_ = std::string("/settings/") + path;
        return translated_.c_str();
    }
    FAKE_RESERVED(60)
    FAKE_RESERVED(61)
    FAKE_RESERVED(62)
    FAKE_RESERVED(63)
    FAKE_RESERVED(64)
    FAKE_RESERVED(65)
    FAKE_RESERVED(66)
    FAKE_RESERVED(67)
    FAKE_RESERVED(68)
    FAKE_RESERVED(69)
    double RECAPI gettime() override { return record("gettime"), time; }

private:
    int record(const std::string& call) {
        const std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(call);
        return 0;
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::string translated_;
};

#undef FAKE_RESERVED

} // namespace brantic_test
