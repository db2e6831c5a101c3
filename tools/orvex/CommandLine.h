// The orvex tool's command line: the table of commands, --help, and the
// reading of argv into the one command to run.
#pragma once

#include "CommonOptions.h"

#include <functional>
#include <string>

namespace orvex::cli {

// What the command line asks: the options every command reads first, and
// the chosen command with its options bound, ready to run (returns the
// exit status).
struct ParsedCommandLine {
    CommonOptions common;
    std::function<int()> run;
};

// Reads argv. Throws UsageError when it names no known command or one of
// the command's options is malformed; --backend is checked when the command
// runs.
ParsedCommandLine parseCommandLine(int argc, const char* const argv[]);

// The text of --help.
std::string usageText();

} // namespace orvex::cli
