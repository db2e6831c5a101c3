// The BCAM stack beside the FlyCapture one, for `orvex view --backend all`.
// A process has one process-wide video server: the FlyCapture server, in
// which the synchronisation controller looks its cameras up. This BCAM server
// is made directly beside it; its cameras date their images by the
// process-wide server's stopwatch, so both stacks' software dates share one
// time base. Main thread: it owns the server's device-notification window.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>

#include <memory>
#include <vector>

namespace orvex::cli {

class ViewBcamStack {
public:
    // Opens every BCAM device and initialises its camera; a camera that
    // fails is named on stderr and left out. Throws OrvexError when the
    // driver cannot be reached.
    ViewBcamStack();
    // Deletes the cameras and the server. Never throws.
    ~ViewBcamStack();
    ViewBcamStack(const ViewBcamStack&) = delete;
    ViewBcamStack& operator=(const ViewBcamStack&) = delete;

    IEEE1394VideoServer& server() { return *_server; }
    const std::vector<IEEE1394Camera*>& cameras() const { return _cameras; }

private:
    std::unique_ptr<IEEE1394VideoServer> _server;
    std::vector<IEEE1394Camera*> _cameras;
};

} // namespace orvex::cli
