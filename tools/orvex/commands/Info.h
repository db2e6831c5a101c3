// `orvex info CAMERA`: initialises one camera, applies the settings given
// and prints what it reports. Main thread.
#pragma once

#include "CommonOptions.h"

#include <string>

namespace orvex::cli::commands::info {

// Its lines under "Commands:" in --help.
extern const char* const kSummary;

struct Options {
    CommonOptions common;
    std::string camera; // a port index or a GUID
    CameraSettings settings;
};

// Throws UsageError when no camera is named.
Options parse(const CommandLineValues& line);

// 0; 1 for a missing camera or a camera failure; 2 for a setting outside
// the camera's limits.
int run(const Options& options);

} // namespace orvex::cli::commands::info
