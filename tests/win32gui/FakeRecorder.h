// A small recorder host for the window tests: grants the change lock, makes
// channels on request and records the calls the emulator makes, in order.
#pragma once

#include "plugin_api/recorder.h"

#include <memory>
#include <string>
#include <vector>

namespace win32gui_test {

#define FAKE_RESERVED(n)                                                                           \
    HRESULT RECAPI reserved##n() override {                                                        \
        return E_NOTIMPL;                                                                          \
    }

class FakeChannel final : public IRecorderChannel {
public:
    explicit FakeChannel(std::string channelName) : name(std::move(channelName)) {}

    HRESULT RECAPI QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG RECAPI AddRef() override { return ++refs; }
    ULONG RECAPI Release() override { return --refs; } // owned by the host
    FAKE_RESERVED(3)
    FAKE_RESERVED(4)
    HRESULT RECAPI setname(const char* newName) override {
        name = newName != nullptr ? newName : "";
        return S_OK;
    }
    const char* RECAPI getname() override { return name.c_str(); }
    HRESULT RECAPI setfrequency(double value) override {
        frequency = value;
        return S_OK;
    }
    double RECAPI getfrequency() override { return frequency; }
    FAKE_RESERVED(9)
    HRESULT RECAPI setproperty(std::uint32_t, VARIANT) override { return S_OK; }
    bool RECAPI getproperty(std::uint32_t, VARIANT*) override { return false; }
    FAKE_RESERVED(12)
    FAKE_RESERVED(13)
    FAKE_RESERVED(14)
    HRESULT RECAPI activate(std::int32_t) override { return S_OK; }
    HRESULT RECAPI putdata(const float*, std::int32_t) override { return S_OK; }

    std::string name; // 1251
    double frequency = 0.0;
    ULONG refs = 1;
};

class FakeRecorder final : public IRecorder {
public:
    HRESULT RECAPI QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG RECAPI AddRef() override { return 1; }
    ULONG RECAPI Release() override { return 1; }
    FAKE_RESERVED(3)
    FAKE_RESERVED(4)
    FAKE_RESERVED(5)
    FAKE_RESERVED(6)
    FAKE_RESERVED(7)
    IRecorderChannel* RECAPI getchannel(std::int32_t index) override {
        return index >= 0 && static_cast<std::size_t>(index) < channels.size()
                   ? channels[static_cast<std::size_t>(index)].get()
                   : nullptr;
    }
    std::int32_t RECAPI getchannelcount() override {
        return static_cast<std::int32_t>(channels.size());
    }
    FAKE_RESERVED(10)
    FAKE_RESERVED(11)
    FAKE_RESERVED(12)
    FAKE_RESERVED(13)
    std::uint32_t RECAPI getstate(std::uint32_t) override { return 0; }
    FAKE_RESERVED(15)
    FAKE_RESERVED(16)
    FAKE_RESERVED(17)
    IRecorderChannel* RECAPI addchannel(const char* name, std::int32_t, std::int32_t) override {
        ops.push_back(std::string("addchannel ") + (name != nullptr ? name : ""));
        channels.push_back(std::make_unique<FakeChannel>(name != nullptr ? name : ""));
        return channels.back().get();
    }
    HRESULT RECAPI removechannel(IRecorderChannel*) override {
        ops.emplace_back("removechannel");
        return S_OK;
    }
    HRESULT RECAPI command(std::int32_t code, IRecorderPlugin*) override {
        ops.push_back("command " + std::to_string(code));
        return S_OK;
    }
    FAKE_RESERVED(21)
    FAKE_RESERVED(22)
    FAKE_RESERVED(23)
    HRESULT RECAPI getproperty(std::uint32_t, VARIANT*) override { return E_FAIL; }
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
    void* RECAPI getmainwindow() override { return nullptr; }
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
        ops.emplace_back("lockchanges");
        return 0;
    }
    HRESULT RECAPI unlockchanges(IRecorderPlugin*, std::int32_t) override {
        ops.emplace_back("unlockchanges");
        return S_OK;
    }
    FAKE_RESERVED(51)
    FAKE_RESERVED(52)
    FAKE_RESERVED(53)
    FAKE_RESERVED(54)
    FAKE_RESERVED(55)
    FAKE_RESERVED(56)
    FAKE_RESERVED(57)
    FAKE_RESERVED(58)
    const char* RECAPI translatepath(const char* path) override { return path; }
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
    double RECAPI gettime() override { return 0.0; }

    std::vector<std::string> ops; // 1251
    std::vector<std::unique_ptr<FakeChannel>> channels;
};

#undef FAKE_RESERVED

} // namespace win32gui_test
