// The viewer behind `orvex view`: serves a page that shows every camera's
// live image and state and lets the user set, start, stop and trigger it. Runs on the tool's main
// thread, which owns the server's windows and makes every camera call; the
// HTTP server's threads hand their work to it.
#pragma once

#include "Session.h"
#include "view/Image.h"

#include <ostream>
#include <string>

namespace orvex::cli {

struct ViewOptions {
    std::string listen = "127.0.0.1:8080"; // ADDR:PORT; port 0 takes any free port
    // flycap or bcam: the session's stack alone; all: the session's
    // (FlyCapture) and the BCAM stack beside it.
    std::string backend = "flycap";
    // Empty, or the synchronisation controller's master, started at once.
    std::string syncMaster;
    bool syncField = false; // the controller's field mode
    // The live preview's JPEG quality, 1 to 100 (a build without JPEG sends PNG).
    int jpegQuality = kJpegQualityDefault;
};

// Creates the session of `options.backend` (initialising every camera;
// those that fail are named on stderr), then serves as runView() does. In a
// build without the viewer (no libpng, or Windows) it says so and returns 1.
int serveView(const ViewOptions& options);

// Splits ADDR:PORT. False when the text is not of that form or the port is
// not 0 to 65535.
bool parseListenAddress(const std::string& text, std::string& address, int& port);

// Serves until Ctrl-C (or SIGTERM), then stops the synchronisation controller
// and every acquisition it started. Prints the address it serves on `out`
// once listening. Returns the exit status: 0; 1 when it cannot listen (a
// port in use says "address in use") or the controller cannot start; 2 for
// a malformed --listen or --sync master.
int runView(Session& session, const ViewOptions& options, std::ostream& out, std::ostream& err);

} // namespace orvex::cli
