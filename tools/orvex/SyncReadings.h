// What `orvex sync` and the viewer's synchronisation panel read of a running
// controller: which cameras it runs with a given master, and the correction
// it wrote into a slave's sync registers. Main thread: camera calls.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>

#include <cstdint>
#include <list>
#include <vector>

namespace orvex::cli {

// The cameras a controller with the given master runs: every other camera,
// and among them the slaves, those on another bus than the master's.
struct SyncCameras {
    std::list<CamGUID> others;
    std::vector<IEEE1394Camera*> slaves;
};
SyncCameras syncCamerasFor(IEEE1394VideoServer& server, IEEE1394Camera& master);

// A slave's sync block as the controller wrote it: its estimate. Throws
// when the registers cannot be read.
struct SlaveCorrection {
    bool corrected = false; // both quadlets still zero: not written yet
    int32_t driftTicksPerSecond = 0;
    uint32_t offsetTicks = 0;
};
SlaveCorrection readSlaveCorrection(IEEE1394Camera& slave);

} // namespace orvex::cli
