// What the server library offers to the outside once it holds the command
// object: the control endpoint with its port and token. Kept apart from the
// notification interface, which needs none of it.
#pragma once

#include "Endpoint.h"

#include <memory>
#include <string>

namespace orvane {

class ControlService {
public:
    ControlService();
    ~ControlService();
    ControlService(const ControlService&) = delete;
    ControlService& operator=(const ControlService&) = delete;

    // Takes the configured port, settles the token and serves. Every failure
    // is reported on standard error and leaves the service off; nothing is
    // written unless the port is ours.
    void start(EndpointHooks hooks);
    void stop();
    bool running() const;

private:
    std::unique_ptr<Endpoint> endpoint_;
};

// The token of the endpoint: ORVANE_TOKEN, else the one kept in the token file
// (ORVANE_TOKEN_FILE, else $XDG_CONFIG_HOME/orvane/token, default
// ~/.config/orvane/token), made at random and written there when there is
// none. Empty, with the reason in `error`, when none can be had.
std::string settleToken(std::string& where, std::string& error);

} // namespace orvane
