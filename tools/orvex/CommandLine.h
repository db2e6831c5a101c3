// What the user asked the orvex tool to do, read from the command line.
#pragma once

#include "Grab.h"
#include "Settings.h"
#include "View.h"

#include <stdexcept>
#include <string>

namespace orvex::cli {

enum class Command { list, info, grab, sync, view, help };

struct Invocation {
    Command command = Command::help;
    std::string backend = "flycap";
    std::string camera;             // info: a port index or a GUID
    std::string logLevel = "OFF";   // log4cplus level of the library's loggers
    CameraSettings settings;        // info and grab: applied after init
    GrabRequest grab;               // grab: the cameras and when to stop
    std::string variant = "normal"; // grab: normal, or wow64 (copying) where it can be chosen
    // sync: the master (empty: port 0), how long, and where to draw the run.
    std::string master;
    double seconds = 10.0;
    std::string plotFile;
    bool field = false; // sync: the controller's field mode
    ViewOptions view;   // view: where to listen
};

// A command line the tool cannot act on; the message says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads argv (without checking the back end's name). Throws UsageError.
Invocation parseCommandLine(int argc, const char* const argv[]);

// The text of --help.
std::string usageText();

} // namespace orvex::cli
