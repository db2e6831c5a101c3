// orvex grab: acquires on one or several cameras, shows progress, writes
// every K-th image as a PNG file, and ends with a summary per camera.
// Runs on the tool's main thread, which owns the server's windows.
#pragma once

#include "Session.h"
#include "Settings.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvex::cli {

struct GrabRequest {
    std::vector<std::string> cameras;   // port indexes or GUIDs; "all" for every camera
    std::optional<unsigned long> count; // images per camera
    std::optional<double> seconds;
    std::string outDir; // empty: no files
    unsigned long every = 1;
    CameraSettings settings; // applied after init, before the start
};

// Returns the tool's exit status. `out` gets what was received (the same
// from run to run for a given count); `err` the progress on a terminal, the
// measured figures (drops, rate, CPU, date spread) and problems.
int grab(Session& session, const GrabRequest& request, std::ostream& out, std::ostream& err);

} // namespace orvex::cli
