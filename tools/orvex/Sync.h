// `orvex sync`: runs the synchronisation controller on the session's cameras
// (the master, and every other camera as slave or master-bus camera), prints
// one line per register update and, over the simulator, the disagreement of
// the slaves' time stamps with the master's for one trigger instant.
#pragma once

#include "Session.h"

#include <cstdint>
#include <list>
#include <ostream>
#include <string>
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

// The slave's stamp minus the master's for one trigger instant, in ticks,
// when the cameras are simulated (the time stamps their images would carry
// for an external trigger at that instant). False elsewhere.
bool measureDisagreement(const CamGUID& master, const CamGUID& slave, int64_t& ticks);

struct SyncOptions {
    std::string master; // a port index or a GUID; empty: the camera at port 0
    double seconds = 10.0;
    std::string plotFile; // empty: no plot
    bool field = false;   // the controller's field mode
};

// Runs for `options.seconds`, dispatching the main thread's messages.
// Returns the exit status (0, or 1 when the master is missing, the plot
// cannot be written or the controller refuses, told on `err`).
int runSync(Session& session, const SyncOptions& options, std::ostream& out, std::ostream& err);

} // namespace orvex::cli
