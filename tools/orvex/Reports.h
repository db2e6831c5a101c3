// What the tool prints about cameras.
#pragma once

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>

#include <ostream>
#include <string>
#include <vector>

namespace orvex::cli {

// One line per camera: port, GUID, model, vendor, bus, firmware version
// text, user memory size, under a count that names `where` ("the FlyCapture
// buses"). A value the camera cannot give is printed as "?" (the reason goes
// to `errors`).
void printCameraList(const std::vector<IEEE1394Camera*>& cameras, const std::string& where, std::ostream& out,
                     std::ostream& errors);

// What init() has read from an initialised camera.
void printCameraInfo(IEEE1394Camera& camera, std::ostream& out, std::ostream& errors);

} // namespace orvex::cli
