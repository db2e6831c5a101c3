// The BCAM camera's identifier from its device name, and the A102f's
// exposure offset from its firmware version.
#include "bcam/DeviceIdentity.h"

#include <sstream>

namespace orvex::bcam {

namespace {

constexpr std::size_t kDigits = 16;

// Two characters from `position` as a hexadecimal number, as stream
// extraction reads them: leading blanks skipped, a minus sign negates
// (modulo 2^32, as on the target), reading stops at the first other
// character, nothing readable gives 0.
uint32_t pairAt(const std::string& text, std::size_t position)
{
    std::istringstream pair(text.substr(position, 2));
    uint32_t value = 0;
    pair >> std::hex >> value;
    return value;
}

} // namespace

IdentifierWords identifierFromDeviceName(const std::string& deviceName)
{
    const std::size_t hash = deviceName.find('#');
    std::string digits = hash == std::string::npos ? std::string() : deviceName.substr(hash + 1);
    if (digits.size() < kDigits) {
        digits.insert(0, kDigits - digits.size(), '0');
    }
    IdentifierWords words;
    words.low = pairAt(digits, 0) + (pairAt(digits, 10) << 8U) + (pairAt(digits, 12) << 16U) +
                (pairAt(digits, 14) << 24U);
    words.high = pairAt(digits, 2) + (pairAt(digits, 4) << 8U) + (pairAt(digits, 6) << 16U) +
                 (pairAt(digits, 8) << 24U);
    return words;
}

std::optional<double> a102fShutterOffset(unsigned long firmware)
{
    if (firmware <= 26) {
        return 3.6e-05;
    }
    if (firmware == 30) {
        return 2.04e-05;
    }
    if (firmware > 30) {
        return 0.0;
    }
    return std::nullopt;
}

} // namespace orvex::bcam
