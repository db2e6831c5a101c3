// The arithmetic of the camera's user memory: size, range checks and the
// whole quadlets an access covers.
#include "flycap/UserMemoryRange.h"

#include "flycap/FlyCapDefs.h"
#include "flycap/FlyCapTexts.h"

#include <orvex/OrvexError.h>
#include <orvex/iidc/Registers.h>

#include <string>

namespace orvex::flycap {

uint32_t userMemorySize(uint32_t description)
{
    const uint32_t e1 = (description >> iidc::kUserMemoryE1Shift) & iidc::kUserMemoryExponentMask;
    const uint32_t e2 = description & iidc::kUserMemoryExponentMask;
    if ((description & iidc::kPresence) == 0 || e1 == 0 || e2 == 0) {
        return 0;
    }
    return (uint32_t{1} << (e1 % 32)) << (e2 % 32);
}

void checkUserMemoryAccess(const char* operation, uint32_t offset, const void* data, uint32_t size,
                           uint32_t space)
{
    const uint32_t end = offset + size; // 32-bit, as the camera counts
    if (end < offset || end > space) {
        ORVEX_THROW(kCameraUnit, std::string(operation) + kErrUserMemoryRange + std::to_string(offset) + "+" +
                                     std::to_string(size) + " > " + std::to_string(space) + ")");
    }
    if (data == nullptr && size != 0) {
        ORVEX_THROW(kCameraUnit,
                    std::string(operation) + kErrUserMemoryNoBuffer + std::to_string(size) + " bytes");
    }
}

UserMemoryRange::UserMemoryRange(uint32_t dataOffset, uint32_t offset, uint32_t size)
    : leadingBytes(offset & 3u), blockAddress((4u * dataOffset + offset - (offset & 3u)) | iidc::kCsrBase),
      quadletCount(size / 4u + (leadingBytes != 0 ? 1u : 0u) + (((offset + size) & 3u) != 0 ? 1u : 0u))
{
}

} // namespace orvex::flycap
