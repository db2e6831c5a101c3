// The absolute-value registers: for each feature with absolute control, a
// block of IEEE floats (minimum, maximum, value) that follows the feature's
// raw value and current range, in the units IIDC gives them.
#include <orvex/sim/Camera.h>

#include "CameraLayout.h"

#include <orvex/iidc/Registers.h>

#include <cmath>
#include <cstring>

namespace orvex::sim {

using namespace orvex::iidc;

namespace {

// The camera model keeps the shutter in milliseconds (the SDK's unit); the
// registers speak seconds.
double registerUnitsPerModelUnit(uint32_t feature)
{
    return feature == kFeatureShutter ? 1e-3 : 1.0;
}

uint32_t floatBits(double value)
{
    const float f = static_cast<float>(value);
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

double bitsValue(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

} // namespace

uint32_t Camera::effectiveFeatureInquiryLocked(uint32_t feature) const
{
    uint32_t value = 0;
    return readOverride(featureInquiry(feature), value) ? value : featureInquiryLocked(feature);
}

bool Camera::readAbsoluteLocked(uint32_t address, uint32_t& value) const
{
    if (address >= featureAbsoluteOffset(0) && address < featureAbsoluteOffset(layout::kAbsoluteFeatures)) {
        const uint32_t feature = (address - kFeatureAbsoluteOffsetBase) / 4;
        const bool absolute = caps(feature) && (effectiveFeatureInquiryLocked(feature) & kInquiryAbsolute);
        value = absolute ? addressToQuadletOffset(layout::absoluteBlock(feature)) : 0;
        return true;
    }
    if (address < layout::absoluteBlock(0) || address >= layout::absoluteBlock(layout::kAbsoluteFeatures))
        return false;
    const uint32_t feature = (address - layout::kAbsoluteBlocks) / layout::kAbsoluteBlockStride;
    const PropertyCaps* p = caps(feature);
    value = 0;
    if (!p || !p->present || !(effectiveFeatureInquiryLocked(feature) & kInquiryAbsolute))
        return true;
    const double scale = registerUnitsPerModelUnit(feature);
    switch ((address - layout::kAbsoluteBlocks) % layout::kAbsoluteBlockStride) {
    case kAbsMinimum:
        value = floatBits(absOfLocked(feature, p->rawMin) * scale);
        break;
    case kAbsMaximum:
        value = floatBits(absOfLocked(feature, rawMaxLocked(feature)) * scale);
        break;
    case kAbsValue:
        value = floatBits(absOfLocked(feature, reg(featureControl(feature)) & kControlValueMask) * scale);
        break;
    default:
        break;
    }
    return true;
}

bool Camera::writeAbsoluteLocked(uint32_t address, uint32_t value)
{
    if (address < layout::absoluteBlock(0) || address >= layout::absoluteBlock(layout::kAbsoluteFeatures))
        return false;
    const uint32_t feature = (address - layout::kAbsoluteBlocks) / layout::kAbsoluteBlockStride;
    if ((address - layout::kAbsoluteBlocks) % layout::kAbsoluteBlockStride != kAbsValue)
        return true; // minimum and maximum are read-only
    const PropertyCaps* p = caps(feature);
    const auto it = _regs.find(featureControl(feature));
    if (!p || !p->present || it == _regs.end() ||
        !(effectiveFeatureInquiryLocked(feature) & kInquiryAbsolute))
        return true;
    const double requested = bitsValue(value) / registerUnitsPerModelUnit(feature);
    if (!std::isfinite(requested))
        return true;
    const int64_t raw = rawOfLocked(feature, requested);
    if (raw < int64_t(p->rawMin) || raw > int64_t(rawMaxLocked(feature)))
        return true; // out of the current range: the camera keeps its value
    // The value is nearest raw step; writing it puts the feature under
    // absolute control, as the SDK's absolute setter does.
    _regs.set(it->first, (it->second & ~kControlValueMask) | kControlAbsolute | static_cast<uint32_t>(raw));
    return true;
}

} // namespace orvex::sim
