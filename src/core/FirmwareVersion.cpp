// The firmware number in a camera's extended version text.
#include "core/FirmwareVersion.h"

namespace orvex {

bool firmwareVersionField(const std::string& versionText, std::string& field)
{
    const std::size_t versionStart = versionText.find(" v");
    if (versionStart == std::string::npos) {
        return false;
    }
    const std::size_t firstDot = versionText.find('.', versionStart + 2);
    const std::size_t secondDot =
        firstDot == std::string::npos ? firstDot : versionText.find('.', firstDot + 1);
    const std::size_t thirdDot =
        secondDot == std::string::npos ? secondDot : versionText.find('.', secondDot + 1);
    if (thirdDot == std::string::npos) {
        return false;
    }
    field = versionText.substr(secondDot + 1, thirdDot - secondDot - 1);
    return true;
}

} // namespace orvex
