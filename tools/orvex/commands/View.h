// `orvex view`: serves a live view of every camera to a browser. The
// viewer itself is in view/; this file reads its options. Main thread.
#pragma once

#include "CommonOptions.h"
#include "view/Viewer.h"

#include <boost/program_options/options_description.hpp>

namespace orvex::cli::commands::view {

// Its lines under "Commands:" in --help.
extern const char* const kSummary;

struct Options {
    CommonOptions common;
    ViewOptions view;
};

// Adds "Options of view": --listen, --sync, --jpeg-quality.
void addOptions(boost::program_options::options_description& options);

// Throws UsageError for a camera word, camera settings (the page sets
// them), an empty --sync, --field without --sync or a JPEG quality not from
// 1 to 100.
Options parse(const CommandLineValues& line);

// Serves until Ctrl-C; returns the exit status (see runView()).
int run(const Options& options);

} // namespace orvex::cli::commands::view
