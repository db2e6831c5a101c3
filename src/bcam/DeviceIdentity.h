// What the BCAM camera derives from the driver's texts without asking the
// camera: its identifier from the device name and the exposure offset the
// A102f's firmware adds. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace orvex::bcam {

struct IdentifierWords {
    uint32_t low = 0;
    uint32_t high = 0;
};

// The identifier a device interface path names: the text after its first
// "#", left-padded with "0" to sixteen characters, read two hexadecimal
// characters at a time (low byte 0, high bytes 0 to 3, low bytes 1 to 3).
// Characters that are not hexadecimal end a pair's number early.
IdentifierWords identifierFromDeviceName(const std::string& deviceName);

// Seconds an A102f adds to each exposure for its firmware version; nothing
// for the firmwares 27 to 29, which the library does not support.
std::optional<double> a102fShutterOffset(unsigned long firmware);

} // namespace orvex::bcam
