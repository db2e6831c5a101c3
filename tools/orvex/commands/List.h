// `orvex list`: the connected cameras of one stack, or of both in turn.
// Main thread.
#pragma once

#include "CommonOptions.h"

namespace orvex::cli::commands::list {

// Its lines under "Commands:" in --help.
extern const char* const kSummary;

struct Options {
    CommonOptions common;
};

// Throws UsageError: list takes no camera and no settings.
Options parse(const CommandLineValues& line);

// 0, or 1 when a camera could not be initialised (it is listed all the same).
int run(const Options& options);

} // namespace orvex::cli::commands::list
