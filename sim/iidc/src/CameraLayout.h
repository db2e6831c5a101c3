// Where the simulated camera puts the register blocks whose addresses a host
// learns from the camera itself (quadlet-offset registers, smart-feature
// inquiries). Camera-specific choices, private to the camera model.
#pragma once

#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>

#include <cstdint>

namespace orvex::sim::layout {

// The iso speed a camera comes up with (ISO_Speed S400).
constexpr uint32_t kPowerUpIsoSpeedMbps = 400;

// Format_7 mode 0 register block (V_CSR_INQ_7_0).
constexpr uint32_t kFormat7Mode0 = 0xF0F08000;
// Strobe output block (0xF0F0048C): inquiry of output g at +0x100 + 4 g,
// control at +0x200 + 4 g.
constexpr uint32_t kStrobeBlock = 0xF0F01300;
constexpr uint32_t strobeInquiry(uint32_t pin)
{
    return kStrobeBlock + iidc::kStrobeInquiryOffset + 4u * pin;
}
constexpr uint32_t strobeControl(uint32_t pin)
{
    return kStrobeBlock + iidc::kStrobeControlOffset + 4u * pin;
}
// Absolute-value blocks (ABS_CSR_INQ at 0xF0F00700 + 4 n): feature n's
// minimum, maximum and value at kAbsoluteBlocks + 0x10 n.
constexpr uint32_t kAbsoluteBlocks = 0xF0F00900;
constexpr uint32_t kAbsoluteBlockStride = 0x10;
constexpr uint32_t kAbsoluteFeatures = 16;
constexpr uint32_t absoluteBlock(uint32_t feature)
{
    return kAbsoluteBlocks + kAbsoluteBlockStride * feature;
}
// User memory data area (0xF0F01244).
constexpr uint32_t kUserMemoryData = 0xF0F18000;

// The IIDC control register area: unimplemented addresses inside read 0.
constexpr uint32_t kControlAreaBegin = iidc::kRegisterBase;
constexpr uint32_t kControlAreaEnd = 0xF0F10000;

// Smart feature control registers: feature n at kSmartFeatureBase + 0x20 n,
// except ExtendedVersionInfo, whose inquiry answers the start of its block.
constexpr uint32_t kSmartFeatureBase = 0xF2F00100;
constexpr uint32_t kSmartFeatureStride = 0x20;
constexpr uint32_t smartFeatureControl(unsigned feature)
{
    return feature == iidc::sf::kFeatureExtendedVersionInfo
               ? iidc::sf::kVersionInfoControl
               : kSmartFeatureBase + kSmartFeatureStride * feature;
}
constexpr uint32_t smartFeatureInquiryAnswer(unsigned feature)
{
    return feature == iidc::sf::kFeatureExtendedVersionInfo ? iidc::sf::kVersionInfoBlockStart
                                                            : smartFeatureControl(feature);
}

} // namespace orvex::sim::layout
