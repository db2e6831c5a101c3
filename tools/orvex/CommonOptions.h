// What every command of the orvex tool shares: the options read before the
// command is known (--backend, --log-level, the camera word, the camera
// settings), the usage error, the exit statuses, and the check of --backend
// and of the simulated world that comes before a command touches a camera.
#pragma once

#include "Session.h"
#include "Settings.h"

#include <boost/program_options/variables_map.hpp>

#include <optional>
#include <stdexcept>
#include <string>

namespace orvex::cli {

constexpr int kExitFailure = 1; // a camera or system failure
constexpr int kExitUsage = 2;   // bad usage or bad input

// A command line the tool cannot act on; the message says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommonOptions {
    std::string backend = "flycap"; // flycap, bcam or all, as typed: checked by checkStack()
    std::string logLevel = "OFF";   // log4cplus level of the library's loggers
};

// The command line as a command's parse() reads it.
struct CommandLineValues {
    const boost::program_options::variables_map& values; // every option given
    CommonOptions common;
    std::optional<std::string> camera; // the word after the command
    CameraSettings settings;
};

// Which stacks a command takes.
struct StackUse {
    bool allowsAll = false;       // --backend all
    bool needsFlyCapture = false; // the synchronisation controller runs on it
};

// Checks --backend against what the command takes, then the simulated world
// the user named. Returns 0 when the command may go on; otherwise tells why
// on stderr and returns the exit status.
int checkStack(const CommonOptions& common, StackUse use);

// The stack --backend names (all: the FlyCapture stack, with BCAM beside).
Backend backendOf(const CommonOptions& common);

} // namespace orvex::cli
