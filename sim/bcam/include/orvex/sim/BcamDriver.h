// The simulated BCAM kernel driver: one device interface of the BCAM class
// for each A102f or A312f camera connected in the simulated world, the
// requests of <orvex/bcam/BcamProtocol.h> acting on the camera's registers,
// and image grabs completed in order from the camera's stream.
//
// Programs reach the driver only through the Win32 calls (SetupDi*,
// CreateFileA, DeviceIoControl, completion ports); this header is the
// control API a test or host of the simulator uses to install it.
//
// Threads: every function may be called from any thread.
#pragma once

#include <orvex/bcam/BcamProtocol.h>
#include <orvex/win32.h>

#include <cstdint>
#include <string>

namespace orvex::sim::bcam {

// The driver speaks the protocol its client speaks.
using namespace orvex::bcam;

// Installs the driver on first call: publishes the interfaces of the
// cameras connected now and follows the world's arrivals and removals
// from then on (an arrival publishes an interface, a removal withdraws it
// and fails the device's pending grabs).
void installDriver();

// The interface path of the connected camera with this serial number, or
// "" when the driver does not drive it.
std::string devicePath(uint32_t serialNumber);

// Images the camera streamed while no grab was queued, since it was plugged.
uint64_t droppedImages(uint32_t serialNumber);

// The "1394#" reference whose 16 hexadecimal characters decode, by the BCAM
// client's rule, to the identifier (high, low): low byte 0, high bytes 0 to
// 3, low bytes 1 to 3.
std::string deviceReference(uint32_t high, uint32_t low);

} // namespace orvex::sim::bcam

namespace orvex::sim::bcam {

// Where the driver file is installed: relative to the Windows directory, as
// the system writes the service's "ImagePath".
constexpr const char* kImagePath = "System32\\DRIVERS\\bcam.sys";

enum class DriverFileVersion {
    v1_8,    // the version the client requires
    v1_7,    // an older driver
    missing, // a driver file without a version resource
};

// Writes the registry entry, the driver file (in the Windows directory the
// data store names now) and the message table. Replaces an earlier
// installation.
void installDriverFiles(DriverFileVersion version = DriverFileVersion::v1_8);

} // namespace orvex::sim::bcam
