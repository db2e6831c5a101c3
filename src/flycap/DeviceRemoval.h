// Reporting a camera whose FlyCapture calls failed for good: the server's
// device-removal message, after which the server deletes the camera on its
// window's thread and tells the host through onDeviceRemoval.
#pragma once

#include <cstdint>

namespace orvex::flycap {

class DeviceRemoval {
public:
    // Posts 0x8002 (wParam 0, lParam the serial number) to the process-wide
    // FlyCapture server's hidden window. Does nothing without such a server
    // or while it does not capture device changes. Any thread; no lock.
    static void post(uint32_t serialNumber);
};

} // namespace orvex::flycap
