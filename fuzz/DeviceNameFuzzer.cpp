// libFuzzer target: a BCAM device name comes from the system's device
// enumeration and broadcasts, so any text must decode without reading
// outside it or undefined behaviour; sixteen hexadecimal digits after the
// first "#" must decode to their bytes in the camera's order.
#include "bcam/DeviceIdentity.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

uint32_t hexPair(const std::string& digits, std::size_t position)
{
    return static_cast<uint32_t>(std::stoul(digits.substr(position, 2), nullptr, 16));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string name(reinterpret_cast<const char*>(data), size);
    const orvex::bcam::IdentifierWords words = orvex::bcam::identifierFromDeviceName(name);

    const std::size_t hash = name.find('#');
    if (hash == std::string::npos || name.size() - hash - 1 < 16) {
        return 0;
    }
    const std::string digits = name.substr(hash + 1, 16);
    for (const char c : digits) {
        if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
            return 0;
        }
    }
    const uint32_t low = hexPair(digits, 0) | hexPair(digits, 10) << 8U | hexPair(digits, 12) << 16U |
                         hexPair(digits, 14) << 24U;
    const uint32_t high =
        hexPair(digits, 2) | hexPair(digits, 4) << 8U | hexPair(digits, 6) << 16U | hexPair(digits, 8) << 24U;
    if (words.low != low || words.high != high) {
        __builtin_trap();
    }
    return 0;
}
