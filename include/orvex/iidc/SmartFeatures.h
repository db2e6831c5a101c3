// Smart features: the camera vendor's protocol over the IIDC advanced-feature
// register area, and the layout of the data chunks such a camera appends to
// every image.
//
// The library speaks this protocol and the simulated camera answers it; both
// take every address, bit, identifier and chunk size from here. Plain
// constants: usable from any thread, no locking.
//
// Register offsets are 32-bit offsets in the camera's register space (high
// part 0xFFFF); register values are quadlets. Quadlets inside image data are
// in the host's byte order (little-endian).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvex {
namespace iidc {
namespace sf {

// ---------------------------------------------------------------------------
// Identifiers

// A 128-bit feature or chunk identifier: four quadlets, written to the
// inquiry registers and laid out in image data in this order.
struct Guid128 {
    uint32_t q[4];
};

constexpr bool operator==(const Guid128& a, const Guid128& b)
{
    return a.q[0] == b.q[0] && a.q[1] == b.q[1] && a.q[2] == b.q[2] && a.q[3] == b.q[3];
}
constexpr bool operator!=(const Guid128& a, const Guid128& b)
{
    return !(a == b);
}

// Feature numbers are the values of SmartFeatureEnum: 0 ExtendedDataStream,
// 1 FrameCounter, 2 CycleTimeStamp, 3 grey-level values (unnamed), 4 DCAM,
// 5 ShutterTimeBase, 6 CRCChecksum, 7 ExtendedVersionInfo, 8 LookupTable,
// 9 GPIOStatus.
constexpr unsigned kFeatureCount = 10;
constexpr unsigned kFeatureExtendedDataStream = 0;
constexpr unsigned kFeatureFrameCounter = 1;
constexpr unsigned kFeatureCycleTimeStamp = 2;
constexpr unsigned kFeatureGreyLevelValues = 3;
constexpr unsigned kFeatureDcam = 4;
constexpr unsigned kFeatureShutterTimeBase = 5;
constexpr unsigned kFeatureCrcChecksum = 6;
constexpr unsigned kFeatureExtendedVersionInfo = 7;
constexpr unsigned kFeatureLookupTable = 8;
constexpr unsigned kFeatureGpioStatus = 9;

// Identifiers of features 0 to 8. GPIOStatus (9) has no published
// identifier: the library reports it absent without asking the camera.
inline constexpr std::array<Guid128, 9> kFeatureIds = {{
    {{0x4E7ABCB0, 0x11D81B84, 0x10005196, 0x55AE5B5A}}, // 0 ExtendedDataStream
    {{0x4433C4A4, 0x11D81B84, 0x1000B286, 0x55AE5B5A}}, // 1 FrameCounter
    {{0x5590D58E, 0x11D81B84, 0x10004784, 0x55AE5B5A}}, // 2 CycleTimeStamp
    {{0xE1556B8E, 0x11DA5516, 0x3000B586, 0x55AE5B53}}, // 3 grey-level values
    {{0x494DE528, 0x11D81B84, 0x10000C8A, 0x55AE5B5A}}, // 4 DCAM
    {{0x648BE1DA, 0x11D8A416, 0x1000479B, 0x55AE5B5A}}, // 5 ShutterTimeBase
    {{0x3B34004E, 0x11D81B84, 0x1000B383, 0x55AE5B5A}}, // 6 CRCChecksum
    {{0x2B2D8714, 0x4176C15E, 0xF86E35A2, 0xB447D743}}, // 7 ExtendedVersionInfo
    {{0xB28C667C, 0x11D7DF9D, 0x0C009386, 0xB0D10B6E}}, // 8 LookupTable
}};

// The identifier of a feature, or null when the feature has none.
constexpr const Guid128* featureId(unsigned feature)
{
    return feature < kFeatureIds.size() ? &kFeatureIds[feature] : nullptr;
}

// ---------------------------------------------------------------------------
// Registers

// Advanced-feature access control: the host writes the vendor's 64-bit
// feature-set identifier (quadlet 0 to the first register, quadlet 1 to the
// second) and reads both back. A camera without smart features reads all
// ones in both.
constexpr uint32_t kAccessControl0 = 0xF2F00000;
constexpr uint32_t kAccessControl1 = 0xF2F00004;
constexpr std::array<uint32_t, 2> kFeatureSetId = {{0x0030533B, 0x73C3F000}};
constexpr uint32_t kAllOnes = 0xFFFFFFFF;

// Inquiry: write a feature's four identifier quadlets to kInquiryId + 0, 4,
// 8, 12, then read its control register's address (0 when the camera lacks
// the feature) and a second quadlet (reserved, 0).
constexpr uint32_t kInquiryId = 0xF2F00010;
constexpr uint32_t kInquiryAddress = 0xF2F00020;
constexpr uint32_t kInquirySecond = 0xF2F00024;

// Feature control register, at the address the inquiry returned.
constexpr uint32_t kControlPresent = 0x80000000; // bit 31: the camera has the feature
constexpr uint32_t kControlEnabled = 0x00000001; // bit 0: the feature is switched on

// ShutterTimeBase (feature 5): four float bit patterns after the control
// register, in seconds.
constexpr uint32_t kTimeBaseIncrementOffset = 4;
constexpr uint32_t kTimeBaseMinOffset = 8;
constexpr uint32_t kTimeBaseMaxOffset = 12;
constexpr uint32_t kTimeBaseCurrentOffset = 16; // the only writable one

// ExtendedVersionInfo (feature 7). Some cameras answer the inquiry with the
// start of the block instead of its control quadlet; the library reads the
// control quadlet 16 bytes further on.
constexpr uint32_t kVersionInfoBlockStart = 0xF2F01000;
constexpr uint32_t kVersionInfoControl = 0xF2F01010;
constexpr uint32_t kVersionInfoPresent = 0x80000000; // bit 31
constexpr unsigned kVersionInfoCountShift = 16;      // bits 16 to 23: quadlets of text
constexpr uint32_t kVersionInfoCountMask = 0xFF;
// Text quadlets follow the control quadlet, four characters each, the most
// significant byte first.
constexpr uint32_t kVersionInfoTextOffset = 4;

// ---------------------------------------------------------------------------
// Image chunks
//
// With extended data stream features on, the camera appends chunks to the
// pixels. Read backwards from the end of the image data:
//
//   [pixels][chunk 0][other chunks, any order][CRC quadlet, when CRC is on]
//
// Every chunk is its data followed by a 24-byte trailer: the chunk's 16-byte
// identifier, then its whole length in bytes and the bitwise inverse of that
// length (one quadlet each). The library recognises a chunk by its
// identifier and knows its length from its number; the last two quadlets are
// for other readers. Chunk 0 (extended data stream) comes first after the
// pixels, so the walk ends with it.
//
// CRC: the last quadlet of the image holds, in its low 16 bits, the
// CRC-16/XMODEM of every byte before it (see Crc16Xmodem.h); its high 16
// bits are 0.

// Chunk numbers 0 to 4 are feature numbers 0 to 4.
constexpr unsigned kChunkCount = 5;

inline constexpr std::array<Guid128, kChunkCount> kChunkIds = {{
    {{0x94ED7C88, 0x11D81C0F, 0x1000E082, 0x55AE5B5A}}, // 0 extended data stream
    {{0x8C5DB844, 0x11D81C0F, 0x10005F96, 0x55AE5B5A}}, // 1 frame counter
    {{0x994DD430, 0x11D81C0F, 0x10006B8F, 0x55AE5B5A}}, // 2 cycle time stamp
    {{0x8ACB49EA, 0x11DA5517, 0x30006897, 0x55AE5B53}}, // 3 grey-level values
    {{0x911C8982, 0x11D81C0F, 0x1000F08A, 0x55AE5B5A}}, // 4 DCAM values
}};

constexpr std::size_t kChunkTrailerSize = 24;
constexpr std::size_t kChunkIdSize = 16;
// Whole length of each chunk, data and trailer.
inline constexpr std::array<std::size_t, kChunkCount> kChunkSizes = {{48, 28, 28, 36, 64}};

// Chunk 0, the extended data stream, in the layout the cameras use (its 24
// data bytes; little-endian like every chunk value): the stride of a row,
// the bits per pixel, the image area, and the IIDC colour coding and colour
// filter ids.
constexpr std::size_t kEdsStrideOffset = 0;       // 32-bit: bytes per row
constexpr std::size_t kEdsDataDepthOffset = 7;    // 8-bit: bits per pixel
constexpr std::size_t kEdsTopOffset = 8;          // 16-bit
constexpr std::size_t kEdsLeftOffset = 10;        // 16-bit
constexpr std::size_t kEdsHeightOffset = 12;      // 16-bit
constexpr std::size_t kEdsWidthOffset = 14;       // 16-bit
constexpr std::size_t kEdsColorCodingOffset = 19; // 8-bit
constexpr std::size_t kEdsColorFilterOffset = 23; // 8-bit: 0, no filter (mono sensors)

// Offsets of the values inside a chunk, from its first byte.
constexpr std::size_t kFrameCounterOffset = 0;          // chunk 1: one quadlet
constexpr std::size_t kCycleTimeOffset = 0;             // chunk 2: one IEEE 1394 CYCLE_TIME quadlet
constexpr std::size_t kGreyLevelOffsets[3] = {0, 4, 8}; // chunk 3: three quadlets
constexpr std::size_t kDcamGainOffset = 0;              // chunk 4: gain quadlet
constexpr std::size_t kDcamShutterOffset = 8;           // chunk 4: shutter quadlet

// DCAM chunk quadlets: bit 31 says the value is present, bits 0 to 11 hold it.
constexpr uint32_t kDcamValuePresent = 0x80000000;
constexpr uint32_t kDcamValueMask = 0x00000FFF;

// The cycle time stamp (layout in Registers.h) as a date: seconds and whole
// 125 µs cycles, in milliseconds.
constexpr double kMsPerSecond = 1000.0;
constexpr double kMsPerCycle = 0.125;

// The CRC quadlet that ends an image when CRCChecksum is on.
constexpr std::size_t kCrcChunkSize = 4;

} // namespace sf
} // namespace iidc
} // namespace orvex
