// `orvex sync`: runs the synchronisation controller on the FlyCapture
// cameras (the master, and every other camera as slave or master-bus
// camera), prints one line per register update and, over the simulator, the
// disagreement of the slaves' time stamps with the master's for one trigger
// instant. Main thread: it dispatches the controller's messages.
#pragma once

#include "CommonOptions.h"

#include <boost/program_options/options_description.hpp>

#include <string>

namespace orvex::cli::commands::sync {

// Its lines under "Commands:" in --help.
extern const char* const kSummary;

struct Options {
    CommonOptions common;
    std::string master; // a port index or a GUID; empty: the camera at port 0
    double seconds = 10.0;
    std::string plotFile; // empty: no plot
    bool field = false;   // the controller's field mode
};

// Adds "Options of sync": --master, --plot, --field (which view reads too).
void addOptions(boost::program_options::options_description& options);

// Throws UsageError for a camera word or a run outside (0 s, a day].
Options parse(const CommandLineValues& line);

// Runs for `options.seconds`. Returns the exit status: 0; 1 when the master
// is missing or alone, the plot cannot be written or the controller refuses.
int run(const Options& options);

} // namespace orvex::cli::commands::sync
