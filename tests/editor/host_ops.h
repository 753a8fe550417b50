// The calls of the change lock, channel registration and recorder commands
// that the module made on the reference host, in order.
#pragma once

#include "host/host.h"

#include <string>
#include <vector>

namespace editor_test {

inline std::vector<std::string> lockAndChannelOps(const host::Host& h) {
    std::vector<std::string> ops;
    for (const host::Call& call : h.calls()) {
        if (call.direction != host::Call::Direction::FromModule)
            continue;
        if (call.op == "lockchanges" || call.op == "unlockchanges" || call.op == "addchannel" ||
            call.op == "removechannel")
            ops.push_back(call.op);
        else if (call.op == "command")
            ops.push_back("command " + call.args.substr(0, call.args.find(',')));
    }
    return ops;
}

} // namespace editor_test
