// `orvex grab CAMERAS`: acquires on one or several cameras, shows progress,
// writes every K-th image as a PNG file, and ends with a summary per camera.
// Runs on the tool's main thread, which owns the server's windows.
#pragma once

#include "CommonOptions.h"

#include <boost/program_options/options_description.hpp>

#include <optional>
#include <string>
#include <vector>

namespace orvex::cli::commands::grab {

// Its lines under "Commands:" in --help.
extern const char* const kSummary;

struct GrabRequest {
    std::vector<std::string> cameras;   // port indexes or GUIDs; "all" for every camera
    std::optional<unsigned long> count; // images per camera
    std::optional<double> seconds;
    std::string outDir; // empty: no files
    unsigned long every = 1;
    CameraSettings settings; // applied after init, before the start
};

struct Options {
    CommonOptions common;
    GrabRequest request;
    std::string variant; // normal, or wow64 (copying) where it can be chosen
};

// Adds "Options of grab": --count, --out, --every, --variant.
void addOptions(boost::program_options::options_description& options);

// Throws UsageError for a missing camera list or a malformed option.
Options parse(const CommandLineValues& line);

// Returns the exit status. Standard output gets what was received (the same
// from run to run for a given count); standard error the progress on a
// terminal, the measured figures (drops, rate, CPU, date spread) and
// problems.
int run(const Options& options);

} // namespace orvex::cli::commands::grab
