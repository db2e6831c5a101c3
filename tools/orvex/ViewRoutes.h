// The viewer's HTTP interface: the page's files, the cameras' state as JSON,
// their newest images as PNG, and the actions (settings, start, stop,
// software trigger). Handlers run on the server's threads and reach the
// cameras only through the HostQueue.
#pragma once

#include "ViewHostQueue.h"

#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace orvex::cli {

class ViewCameras;
class ViewSync;

// Limits on what a client may ask of the server.
struct ViewLimits {
    unsigned workers = 4;         // requests served at once
    unsigned waiting = 16;        // accepted connections waiting for a worker
    std::size_t bodyBytes = 4096; // a request's body
    int timeoutSeconds = 5;       // to read a request, to write an answer, to keep a connection idle
};

// Builds the server with its routes over `cameras` and `sync` (main-thread
// state, reached only through `queue`).
std::unique_ptr<httplib::Server> makeViewServer(HostQueue& queue, ViewCameras& cameras, ViewSync& sync,
                                                const ViewLimits& limits);

} // namespace orvex::cli
