// What the tool prints about cameras.
#pragma once

#include "Session.h"

#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>

#include <ostream>
#include <string>
#include <vector>

namespace orvex::cli {

// One line per camera in port order: port, GUID, model, vendor, bus,
// firmware version text, user memory size, under a count that names the
// session's buses; a camera that could not be initialised shows its error
// in place of firmware and memory. A value the camera cannot give is printed
// as "?" (the reason goes to `errors`).
void printCameraList(const Session& session, std::ostream& out, std::ostream& errors);

// What init() has read from an initialised camera.
void printCameraInfo(IEEE1394Camera& camera, std::ostream& out, std::ostream& errors);

} // namespace orvex::cli
