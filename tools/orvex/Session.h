// The video server of one run of the tool. The tool's main thread creates
// the server and owns its hidden windows, so it pumps their messages: camera
// removals (a camera whose calls failed for good) are handled there.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/orvex.h>

#include <optional>
#include <string>

namespace orvex::cli {

class Session {
public:
    // Creates the FlyCapture server with device-change capture on and lists
    // the cameras; with `initCameras` each camera is initialised, and those
    // that fail are left out. Throws OrvexError.
    explicit Session(bool initCameras);
    // Destroys the server and every camera. Never throws.
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    IEEE1394VideoServer& server() { return *_pServer; }

    // Dispatches every message waiting for the main thread's windows.
    void pumpMessages();

    // The camera named on the command line: a port index in decimal, or a
    // GUID (with or without "0x"). Null when no such camera is connected.
    IEEE1394Camera* findCamera(const std::string& name);

private:
    IEEE1394Camera* findByPort(unsigned long port);
    IEEE1394Camera* findByGuid(const CamGUID& guid);

    IEEE1394VideoServer* _pServer = nullptr;
};

} // namespace orvex::cli
