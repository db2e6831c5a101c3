// Who may use the viewer. A page on another site must not drive the cameras
// through the user's browser: every request must name the viewer in its Host
// (the name or address it listens on, "localhost" or a loopback address; on
// all addresses, also this machine's name or any address literal), which
// defeats DNS rebinding, and a state-changing request that carries an Origin
// must come from the viewer's own page.
#pragma once

#include <set>
#include <string>

namespace orvex::cli {

class ViewAccess {
public:
    // `listenAddress` as the user gave it, `boundAddress` the address it
    // became, `port` the port bound.
    ViewAccess(const std::string& listenAddress, const std::string& boundAddress, unsigned short port);

    // A Host header: "name", "name:port", "[v6]" or "[v6]:port".
    bool hostAllowed(const std::string& host) const;
    // An Origin header: the viewer's own page is "http://" + a host it
    // accepts + its port.
    bool originAllowed(const std::string& origin) const;

private:
    bool nameAllowed(const std::string& name) const;

    std::set<std::string> _names; // lower case
    bool _anyAddress;
    unsigned short _port;
};

// Whether `address` is the wildcard ("0.0.0.0", "::") a server binds to
// listen on every address.
bool isAnyAddress(const std::string& address);

} // namespace orvex::cli
