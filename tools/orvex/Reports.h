// What the tool prints about cameras.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>

#include <ostream>

namespace orvex::cli {

// One line per camera of the server's list: port, GUID, model, vendor, bus,
// firmware version text, user memory size. A value the camera cannot give
// is printed as "?" (the reason goes to `errors`).
void printCameraList(IEEE1394VideoServer& server, std::ostream& out, std::ostream& errors);

// What init() has read from an initialised camera.
void printCameraInfo(IEEE1394Camera& camera, std::ostream& out, std::ostream& errors);

} // namespace orvex::cli
