// The synchronisation register block: two quadlets with which a controller
// makes a camera's image time stamps follow another camera's cycle clock.
//
//   quadlet 0  bits 31..25  offset, seconds       master minus this camera's
//              bits 24..12  offset, cycle count   clock at the reference
//              bits 11..0   offset, cycle offset  instant (cycle-time layout)
//   quadlet 1  bits 31..8   drift: ticks of offset change per second,
//                           24-bit two's complement
//              bit 7        0
//              bits 6..0    reference second: this camera's cycle-time
//                           seconds at which quadlet 0 applies (cycle 0,
//                           offset 0)
//
// The block is written in one two-quadlet block transfer. From then on the
// camera stamps its images with its own bus clock plus the offset, plus the
// drift times the seconds elapsed since the reference instant; (0, 0) stamps
// with the bus clock unchanged. CYCLE_TIME reads keep returning the bus clock.
//
// Pure constants and functions: any thread, no locking.
#pragma once

#include <orvex/iidc/Registers.h>

#include <cstdint>

namespace orvex {
namespace iidc {

// The register a controller reads to sample a camera's clock, as a
// FlyCapture single-register offset (CSR CYCLE_TIME, FFFF F000 0200).
constexpr uint32_t FC_REG_CSR_CYCLE_TIME = kCycleTimeRegisterOffset; // 0xFF100200
// Low address of the sync block for block transfers (high part 0xFFFF).
constexpr uint32_t FC_REG_SYNC = kSync; // 0xF0F01200

constexpr uint32_t kSyncBlockQuadlets = 2;
constexpr unsigned kSyncDriftShift = 8;
constexpr uint32_t kSyncDriftMask = 0xFFFFFF; // 24 bits
constexpr uint32_t kSyncReferenceSecondMask = 0x7F;

// Quadlet 1 from a drift (already in its 24-bit form) and a reference second,
// in 32-bit arithmetic.
constexpr uint32_t makeSyncQuadlet1(uint32_t drift24, uint32_t referenceSecond)
{
    return (drift24 << kSyncDriftShift) + (referenceSecond & kSyncReferenceSecondMask);
}
// The signed drift (ticks per second) held in quadlet 1.
constexpr int32_t syncDrift(uint32_t quadlet1)
{
    const uint32_t raw = (quadlet1 >> kSyncDriftShift) & kSyncDriftMask;
    return (raw & 0x800000u) ? static_cast<int32_t>(raw) - 0x1000000 : static_cast<int32_t>(raw);
}
constexpr uint32_t syncReferenceSecond(uint32_t quadlet1)
{
    return quadlet1 & kSyncReferenceSecondMask;
}

} // namespace iidc
} // namespace orvex
