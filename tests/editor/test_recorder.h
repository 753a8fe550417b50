// A recorder for the editor's command tests: it answers the change lock as
// told, records the calls the commands make, and hands out no host channels.
#pragma once

#include "plugin_api/recorder.h"

#include <string>
#include <vector>

namespace editor_test {

#define EDITOR_TEST_RESERVED(n)                                                                    \
    HRESULT RECAPI reserved##n() override {                                                        \
        return E_FAIL;                                                                             \
    }

class TestRecorder final : public IRecorder {
public:
    std::int32_t lockAnswer = 0; // 0 grants the lock
    std::vector<std::string> calls;

    HRESULT RECAPI QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG RECAPI AddRef() override { return 1; }
    ULONG RECAPI Release() override { return 1; }
    IRecorderChannel* RECAPI getchannel(std::int32_t) override { return nullptr; }
    std::int32_t RECAPI getchannelcount() override { return 0; }
    std::uint32_t RECAPI getstate(std::uint32_t) override { return 0; }
    IRecorderChannel* RECAPI addchannel(const char* name, std::int32_t, std::int32_t) override {
        calls.push_back(std::string("addchannel ") + name);
        return nullptr;
    }
    HRESULT RECAPI removechannel(IRecorderChannel*) override {
        calls.push_back("removechannel");
        return S_OK;
    }
    HRESULT RECAPI command(std::int32_t code, IRecorderPlugin*) override {
        calls.push_back("command " + std::to_string(code));
        return S_OK;
    }
    HRESULT RECAPI getproperty(std::uint32_t, VARIANT*) override { return E_FAIL; }
    void* RECAPI getmainwindow() override { return nullptr; }
    std::int32_t RECAPI lockchanges(IRecorderPlugin*, std::int32_t) override {
        calls.push_back("lockchanges");
        return lockAnswer;
    }
    HRESULT RECAPI unlockchanges(IRecorderPlugin*, std::int32_t) override {
        calls.push_back("unlockchanges");
        return S_OK;
    }
    const char* RECAPI translatepath(const char* path) override { return path; }
    double RECAPI gettime() override { return 0.0; }

    EDITOR_TEST_RESERVED(3)
    EDITOR_TEST_RESERVED(4)
    EDITOR_TEST_RESERVED(5)
    EDITOR_TEST_RESERVED(6)
    EDITOR_TEST_RESERVED(7)
    EDITOR_TEST_RESERVED(10)
    EDITOR_TEST_RESERVED(11)
    EDITOR_TEST_RESERVED(12)
    EDITOR_TEST_RESERVED(13)
    EDITOR_TEST_RESERVED(15)
    EDITOR_TEST_RESERVED(16)
    EDITOR_TEST_RESERVED(17)
    EDITOR_TEST_RESERVED(21)
    EDITOR_TEST_RESERVED(22)
    EDITOR_TEST_RESERVED(23)
    EDITOR_TEST_RESERVED(25)
    EDITOR_TEST_RESERVED(26)
    EDITOR_TEST_RESERVED(27)
    EDITOR_TEST_RESERVED(28)
    EDITOR_TEST_RESERVED(29)
    EDITOR_TEST_RESERVED(30)
    EDITOR_TEST_RESERVED(31)
    EDITOR_TEST_RESERVED(32)
    EDITOR_TEST_RESERVED(33)
    EDITOR_TEST_RESERVED(34)
    EDITOR_TEST_RESERVED(35)
    EDITOR_TEST_RESERVED(36)
    EDITOR_TEST_RESERVED(38)
    EDITOR_TEST_RESERVED(39)
    EDITOR_TEST_RESERVED(40)
    EDITOR_TEST_RESERVED(41)
    EDITOR_TEST_RESERVED(42)
    EDITOR_TEST_RESERVED(43)
    EDITOR_TEST_RESERVED(44)
    EDITOR_TEST_RESERVED(45)
    EDITOR_TEST_RESERVED(46)
    EDITOR_TEST_RESERVED(47)
    EDITOR_TEST_RESERVED(48)
    EDITOR_TEST_RESERVED(51)
    EDITOR_TEST_RESERVED(52)
    EDITOR_TEST_RESERVED(53)
    EDITOR_TEST_RESERVED(54)
    EDITOR_TEST_RESERVED(55)
    EDITOR_TEST_RESERVED(56)
    EDITOR_TEST_RESERVED(57)
    EDITOR_TEST_RESERVED(58)
    EDITOR_TEST_RESERVED(60)
    EDITOR_TEST_RESERVED(61)
    EDITOR_TEST_RESERVED(62)
    EDITOR_TEST_RESERVED(63)
    EDITOR_TEST_RESERVED(64)
    EDITOR_TEST_RESERVED(65)
    EDITOR_TEST_RESERVED(66)
    EDITOR_TEST_RESERVED(67)
    EDITOR_TEST_RESERVED(68)
    EDITOR_TEST_RESERVED(69)
};

#undef EDITOR_TEST_RESERVED

} // namespace editor_test
