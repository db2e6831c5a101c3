// `orvex sync`: runs the synchronisation controller on the session's cameras
// (the master, and every other camera as slave or master-bus camera), prints
// one line per register update and, over the simulator, the disagreement of
// the slaves' time stamps with the master's for one trigger instant.
#pragma once

#include "Session.h"

#include <ostream>
#include <string>

namespace orvex::cli {

struct SyncOptions {
    std::string master; // a port index or a GUID; empty: the camera at port 0
    double seconds = 10.0;
    std::string plotFile; // empty: no plot
};

// Runs for `options.seconds`, dispatching the main thread's messages.
// Returns the exit status (0, or 1 when the master is missing, the plot
// cannot be written or the controller refuses, told on `err`).
int runSync(Session& session, const SyncOptions& options, std::ostream& out, std::ostream& err);

} // namespace orvex::cli
