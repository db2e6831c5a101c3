// Cameras of one bus share its isochronous budget: the sum of the packet
// sizes of the cameras acquiring on a bus may not exceed what the server
// says a bus carries. Before several cameras start together, the tool shares
// that budget among them rather than letting the library refuse the later
// ones. Host thread.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>

#include <string>
#include <vector>

namespace orvex::cli {

struct BusBudgetPlan {
    // One line per bus whose cameras got smaller packets ("bus 0 carries
    // 9830 bytes per cycle: ...").
    std::vector<std::string> notes;
    // Empty when every bus fits; else one line per bus that cannot: its
    // name, what its cameras ask and what it carries.
    std::vector<std::string> problems;
};

// Fits the packet sizes of `starting` (initialised cameras about to start)
// to their buses, counting the packets of the server's cameras already
// acquiring there. With `keepPackets` (the user chose the packet sizes) no
// packet size changes: a bus that cannot carry them is a problem. Otherwise
// each bus's room is shared equally, in the cameras' packet steps, and only
// packets larger than their share are lowered. Throws OrvexError when a
// camera refuses its new packet size.
BusBudgetPlan fitPacketsToBuses(IEEE1394VideoServer& server, const std::vector<IEEE1394Camera*>& starting,
                                bool keepPackets);

} // namespace orvex::cli
