// The video server of one run of the tool (of one stack at a time: a process
// has one server). The tool's main thread creates
// the server and owns its hidden windows, so it pumps their messages: camera
// removals (a camera whose calls failed for good) are handled there.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/orvex.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace orvex::cli {

// A device-change callback that tells the user on stderr when a `what`
// ("camera", "BCAM camera") comes or goes; the server deletes it.
CaptureDeviceChangedCB* newDeviceNotice(const char* what);

// Initialises `camera`; on a refusal tells the user why and returns false.
bool initOrReport(IEEE1394Camera& camera, const char* what);

// The camera stacks the tool drives.
enum class Backend { flycap, bcam };

class Session {
public:
    // Creates the server of `backend` with device-change capture on and
    // lists the cameras; with `initCameras` each camera is initialised, and
    // those that fail are kept apart with their reason (unavailable()).
    // Throws OrvexError.
    Session(Backend backend, bool initCameras);
    // Destroys the server and every camera. Never throws.
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    IEEE1394VideoServer& server() { return *_pServer; }
    // The cameras listed, in port order: those that initialised when asked.
    const std::vector<IEEE1394Camera*>& cameras() const { return _cameras; }
    // The cameras whose init failed, with the library's message, in port order.
    struct Unavailable {
        IEEE1394Camera* camera;
        std::string reason;
    };
    const std::vector<Unavailable>& unavailable() const { return _unavailable; }
    // One line per unavailable camera on `err`.
    void reportUnavailable(std::ostream& err) const;
    // Where the cameras are, for the list's heading ("the FlyCapture buses").
    const char* where() const;

    // Dispatches every message waiting for the main thread's windows.
    void pumpMessages();

    // The camera named on the command line: a port index in decimal, or a
    // GUID (with or without "0x"). Null when no such camera is connected.
    IEEE1394Camera* findCamera(const std::string& name);

private:
    IEEE1394Camera* findByPort(unsigned long port);
    IEEE1394Camera* findByGuid(const CamGUID& guid);

    Backend _backend;
    IEEE1394VideoServer* _pServer = nullptr;
    std::vector<IEEE1394Camera*> _cameras;
    std::vector<Unavailable> _unavailable;
};

} // namespace orvex::cli
