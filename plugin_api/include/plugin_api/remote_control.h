// The remote-control server library's interfaces: plain operation tables
// without IUnknown, owned by the side that made them and never counted.
#pragma once

#include "plugin_api/abi.h"

// What the server calls to command the recorder.
struct IrcCommand {
    virtual bool RECAPI stop() = 0;
    virtual bool RECAPI start() = 0;
    virtual bool RECAPI sendcode2() = 0;
    virtual bool RECAPI sendcode20() = 0;
    virtual bool RECAPI reserveda(std::int32_t a, std::int32_t b) = 0;
    virtual bool RECAPI reservedb(std::int32_t a, std::int32_t b) = 0;

protected:
    ~IrcCommand() = default;
};

// What the server offers to learn about the recorder.
struct IrcNotify {
    virtual bool RECAPI attachcommand(std::int32_t kind, IrcCommand* command) = 0;
    virtual bool RECAPI reserved1() = 0;
    virtual bool RECAPI setstate(std::int32_t state) = 0;
    virtual bool RECAPI settime(double time, std::int32_t unused) = 0;
    virtual bool RECAPI setfilepath(const char* path) = 0;

protected:
    ~IrcNotify() = default;
};

extern "C" {
// The server library's entry point, exported as "GetNotifyInterface".
using PFN_GetNotifyInterface = IrcNotify*(RECCDECL*)();
}
