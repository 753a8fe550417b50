// The plug-in contract: the plug-in object interface, the host's interfaces,
// notification codes, property ids, records and the module exports.
#pragma once

#include "plugin_api/abi.h"

// ---------------------------------------------------------------------------
// Interface identifiers
// ---------------------------------------------------------------------------

// {5967D621-0C3B-11D7-9243-00E029288A7F}
inline constexpr GUID IID_IRecorderPlugin = {
    0x5967D621, 0x0C3B, 0x11D7, {0x92, 0x43, 0x00, 0xE0, 0x29, 0x28, 0x8A, 0x7F}};
// {E8DAE361-53EE-11D7-9244-00E029288A7F}
inline constexpr GUID IID_IRecorderChannel = {
    0xE8DAE361, 0x53EE, 0x11D7, {0x92, 0x44, 0x00, 0xE0, 0x29, 0x28, 0x8A, 0x7F}};
// {3E351DE4-D0A8-452E-B00C-228769F5BC1E}
inline constexpr GUID IID_IRecorderLog = {
    0x3E351DE4, 0xD0A8, 0x452E, {0xB0, 0x0C, 0x22, 0x87, 0x69, 0xF5, 0xBC, 0x1E}};

// ---------------------------------------------------------------------------
// Notification codes (IRecorderPlugin::notify) and property ids
// ---------------------------------------------------------------------------

enum : std::uint32_t {
    PN_UPDATECHANNELS = 1,
    PN_RCSTART = 3,
    PN_RCSTOP = 5,
    PN_UPDATEDATA = 6,
    PN_ABOUT = 7,           // show the module information box
    PN_STORESETTINGS = 8,   // settings to the default file
    PN_LOADSETTINGS = 9,    // settings from the default file
    PN_GETDATA = 10,        // param: DataRequest*
    PN_LOADSETTINGSAT = 12, // param: const char* path
    PN_STORESETTINGSAT = 13,
    PN_CURRENTFILE = 25, // param: CurrentFileRecord*
    // Ours, beyond the codes every host sends: samples of a named channel from
    // any index, with the noise generator's state in the record. A module that
    // does not know it answers false, as for every unknown code.
    PN_GETDATARANGE = 40, // param: DataRangeRequest*
};

// Plug-in properties (IRecorderPlugin::getproperty).
enum : std::uint32_t {
    PLUGIN_PROP_DESCRIPTION = 1,
    PLUGIN_PROP_IDLE = 2,
    PLUGIN_PROP_FLAG3 = 3,
};

// Host properties (IRecorder::getproperty).
enum : std::uint32_t {
    RECORDER_PROP_SETTINGS_NAME = 16, // VT_BSTR
    RECORDER_PROP_LOG = 32,           // VT_UNKNOWN yielding IRecorderLog
};

// Channel properties (IRecorderChannel::getproperty / setproperty).
enum : std::uint32_t {
    CHANNEL_PROP_BLOCK_LENGTH = 0,
    CHANNEL_PROP_3 = 3, // VT_UI4 4
    CHANNEL_PROP_5 = 5, // VT_I4 513
    CHANNEL_PROP_DISPLAY_LOWER = 7,
    CHANNEL_PROP_DISPLAY_UPPER = 8,
    CHANNEL_PROP_OWNER = 10, // VT_UNKNOWN, the plug-in object
};

// Host commands (IRecorder::command).
enum : std::int32_t {
    RECORDER_CMD_START = 1,
    RECORDER_CMD_STOP = 3,
};

// Status bits of IRecorder::getstate (mask 15).
enum : std::uint32_t {
    RECORDER_STATE_BIT0 = 1,
    RECORDER_STATE_BIT1 = 2,
    RECORDER_STATE_BIT2 = 4,
    RECORDER_STATE_BIT3 = 8,
};

// notify's parameter carries an address where the code needs one.
#if RECORDER_X86_32
using NotifyParam = std::uint32_t;
#else
using NotifyParam = std::uintptr_t;
#endif

// ---------------------------------------------------------------------------
// Host interfaces
// ---------------------------------------------------------------------------

// Declares an operation that no module calls, so that each called operation
// keeps its fixed slot.
#define RECORDER_RESERVED_SLOT(n) virtual HRESULT RECAPI reserved##n() = 0

struct IRecorderChannel : IUnknown {
    RECORDER_RESERVED_SLOT(3);
    RECORDER_RESERVED_SLOT(4);
    virtual HRESULT RECAPI setname(const char* name) = 0;                       // 5
    virtual const char* RECAPI getname() = 0;                                   // 6
    virtual HRESULT RECAPI setfrequency(double frequency) = 0;                  // 7
    virtual double RECAPI getfrequency() = 0;                                   // 8
    RECORDER_RESERVED_SLOT(9);                                                  //
    virtual HRESULT RECAPI setproperty(std::uint32_t id, VARIANT value) = 0;    // 10
    virtual bool RECAPI getproperty(std::uint32_t id, VARIANT* value) = 0;      // 11
    RECORDER_RESERVED_SLOT(12);                                                 //
    RECORDER_RESERVED_SLOT(13);                                                 //
    RECORDER_RESERVED_SLOT(14);                                                 //
    virtual HRESULT RECAPI activate(std::int32_t how) = 0;                      // 15
    virtual HRESULT RECAPI putdata(const float* block, std::int32_t count) = 0; // 16

protected:
    ~IRecorderChannel() = default;
};

struct IRecorderLog : IUnknown {
    virtual HRESULT RECAPI addmessage(const OLECHAR* source, const OLECHAR* text,
                                      std::int32_t kind) = 0; // 3
protected:
    ~IRecorderLog() = default;
};

struct IRecorderPlugin;

struct IRecorder : IUnknown {
    RECORDER_RESERVED_SLOT(3);
    RECORDER_RESERVED_SLOT(4);
    RECORDER_RESERVED_SLOT(5);
    RECORDER_RESERVED_SLOT(6);
    RECORDER_RESERVED_SLOT(7);
    virtual IRecorderChannel* RECAPI getchannel(std::int32_t index) = 0; // 8
    virtual std::int32_t RECAPI getchannelcount() = 0;                   // 9
    RECORDER_RESERVED_SLOT(10);
    RECORDER_RESERVED_SLOT(11);
    RECORDER_RESERVED_SLOT(12);
    RECORDER_RESERVED_SLOT(13);
    virtual std::uint32_t RECAPI getstate(std::uint32_t mask) = 0; // 14
    RECORDER_RESERVED_SLOT(15);
    RECORDER_RESERVED_SLOT(16);
    RECORDER_RESERVED_SLOT(17);
    virtual IRecorderChannel* RECAPI addchannel(const char* name, std::int32_t a,
                                                std::int32_t b) = 0;                // 18
    virtual HRESULT RECAPI removechannel(IRecorderChannel* channel) = 0;            // 19
    virtual HRESULT RECAPI command(std::int32_t code, IRecorderPlugin* asking) = 0; // 20
    RECORDER_RESERVED_SLOT(21);
    RECORDER_RESERVED_SLOT(22);
    RECORDER_RESERVED_SLOT(23);
    virtual HRESULT RECAPI getproperty(std::uint32_t id, VARIANT* value) = 0; // 24
    RECORDER_RESERVED_SLOT(25);
    RECORDER_RESERVED_SLOT(26);
    RECORDER_RESERVED_SLOT(27);
    RECORDER_RESERVED_SLOT(28);
    RECORDER_RESERVED_SLOT(29);
    RECORDER_RESERVED_SLOT(30);
    RECORDER_RESERVED_SLOT(31);
    RECORDER_RESERVED_SLOT(32);
    RECORDER_RESERVED_SLOT(33);
    RECORDER_RESERVED_SLOT(34);
    RECORDER_RESERVED_SLOT(35);
    RECORDER_RESERVED_SLOT(36);
    virtual void* RECAPI getmainwindow() = 0; // 37
    RECORDER_RESERVED_SLOT(38);
    RECORDER_RESERVED_SLOT(39);
    RECORDER_RESERVED_SLOT(40);
    RECORDER_RESERVED_SLOT(41);
    RECORDER_RESERVED_SLOT(42);
    RECORDER_RESERVED_SLOT(43);
    RECORDER_RESERVED_SLOT(44);
    RECORDER_RESERVED_SLOT(45);
    RECORDER_RESERVED_SLOT(46);
    RECORDER_RESERVED_SLOT(47);
    RECORDER_RESERVED_SLOT(48);
    virtual std::int32_t RECAPI lockchanges(IRecorderPlugin* asking, std::int32_t how) = 0; // 49
    virtual HRESULT RECAPI unlockchanges(IRecorderPlugin* asking, std::int32_t how) = 0;    // 50
    RECORDER_RESERVED_SLOT(51);
    RECORDER_RESERVED_SLOT(52);
    RECORDER_RESERVED_SLOT(53);
    RECORDER_RESERVED_SLOT(54);
    RECORDER_RESERVED_SLOT(55);
    RECORDER_RESERVED_SLOT(56);
    RECORDER_RESERVED_SLOT(57);
    RECORDER_RESERVED_SLOT(58);
    virtual const char* RECAPI translatepath(const char* path) = 0; // 59
    RECORDER_RESERVED_SLOT(60);
    RECORDER_RESERVED_SLOT(61);
    RECORDER_RESERVED_SLOT(62);
    RECORDER_RESERVED_SLOT(63);
    RECORDER_RESERVED_SLOT(64);
    RECORDER_RESERVED_SLOT(65);
    RECORDER_RESERVED_SLOT(66);
    RECORDER_RESERVED_SLOT(67);
    RECORDER_RESERVED_SLOT(68);
    RECORDER_RESERVED_SLOT(69);
    virtual double RECAPI gettime() = 0; // 70

protected:
    ~IRecorder() = default;
};

// ---------------------------------------------------------------------------
// The plug-in object
// ---------------------------------------------------------------------------

struct IRecorderPlugin : IUnknown {
    virtual bool RECAPI create(IRecorder* recorder) = 0;                   // 3
    virtual bool RECAPI config() = 0;                                      // 4
    virtual bool RECAPI edit() = 0;                                        // 5
    virtual bool RECAPI execute() = 0;                                     // 6
    virtual bool RECAPI suspend() = 0;                                     // 7
    virtual bool RECAPI resume() = 0;                                      // 8
    virtual bool RECAPI notify(std::uint32_t code, NotifyParam param) = 0; // 9
    virtual const char* RECAPI getname() = 0;                              // 10
    virtual bool RECAPI getproperty(std::uint32_t id, VARIANT& value) = 0; // 11
    virtual bool RECAPI setproperty(std::uint32_t id, VARIANT value) = 0;  // 12
    virtual bool RECAPI canclose() = 0;                                    // 13
    virtual bool RECAPI close() = 0;                                       // 14

protected:
    ~IRecorderPlugin() = default;
};

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// Filled by GetPluginInfo; the host owns it and may make it longer.
struct PluginInfo {
    char name[101];             // 0
    char description[201];      // 101
    char vendor[201];           // 302
    std::uint8_t padding;       // 503, never written by a module
    std::uint16_t versionMajor; // 504
    std::uint16_t versionMinor; // 506
};
static_assert(offsetof(PluginInfo, name) == 0);
static_assert(offsetof(PluginInfo, description) == 101);
static_assert(offsetof(PluginInfo, vendor) == 302);
static_assert(offsetof(PluginInfo, versionMajor) == 504);
static_assert(offsetof(PluginInfo, versionMinor) == 506);

// The record of PN_GETDATA; the host owns it.
struct DataRequest {
    std::uint32_t reserved0;
    IUnknown* asking; // yields IRecorderChannel
    std::uint32_t reserved8;
    std::int32_t count;
    std::uint32_t reserved16;
    std::uint32_t reserved20;
    double* buffer;
};
#if RECORDER_X86_32
static_assert(offsetof(DataRequest, asking) == 4);
static_assert(offsetof(DataRequest, count) == 12);
static_assert(offsetof(DataRequest, buffer) == 24);
#endif

// The record of PN_GETDATARANGE; the host owns it. Samples first .. first +
// count - 1 of the channel that `asking` names (t = k / frequency), the same
// values as PN_GETDATA gives at those indices: into `floats` rounded to 32-bit
// floats (the values the channel pushes), or into `doubles`. With neither
// buffer nothing is written and only the noise state moves on. Noise draws
// start at `noiseState` and the state where they end is written back; the
// module's own generator is left alone. `frequency` is written back too.
struct DataRangeRequest {
    std::uint32_t size; // sizeof(DataRangeRequest); a module refuses other sizes
    IUnknown* asking;   // yields IRecorderChannel
    std::uint64_t first;
    std::uint64_t count;
    float* floats;
    double* doubles;
    std::uint32_t noiseState; // in and out
    double frequency;         // out
};

// The record of PN_CURRENTFILE; the host owns it.
struct CurrentFileRecord {
    const OLECHAR* directory;
    const OLECHAR* name;
};
#if RECORDER_X86_32
static_assert(offsetof(CurrentFileRecord, name) == 4);
#endif

// ---------------------------------------------------------------------------
// Module exports, as a host's loader sees them. The emulator module exports
// these names with a leading underscore, the remote-control module without;
// GetKovaComponentVersion is "_GetKovaComponentVersion@8" where the platform's
// symbols carry a stdcall decoration and plain "GetKovaComponentVersion"
// elsewhere. A loader tries each form.
// ---------------------------------------------------------------------------

extern "C" {
using PFN_GetPluginType = std::int32_t(RECCDECL*)();
using PFN_GetPluginDescription = const char*(RECCDECL*)();
using PFN_CreatePluginClass = IRecorderPlugin*(RECCDECL*)();
using PFN_DestroyPluginClass = std::int32_t(RECCDECL*)(IRecorderPlugin* a_piPlg);
using PFN_GetPluginInfo = void(RECCDECL*)(PluginInfo* info);
using PFN_GetKovaComponentVersion = std::int32_t(RECAPI*)(std::uint32_t* version,
                                                          std::uint32_t unused);
}

inline constexpr std::uint32_t KOVA_COMPONENT_VERSION = 0x10000002u;
