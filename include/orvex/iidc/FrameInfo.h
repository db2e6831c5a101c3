// Embedded frame information: what a camera writes over the first bytes of
// every image when the items are switched on in its frame-information
// register (Registers.h: kFrameInfo, 0xF0F012F8).
//
// Items, in the order they follow each other from byte 0, each present only
// when its bit is set, with no gap between them:
//
//   timestamp      bit 0      4 bytes  cycle-time quadlet of the image
//   DCAM info      bits 1, 2  8 bytes  the gain register quadlet, then the
//                                      shutter register quadlet
//   frame counter  bit 6      4 bytes  unsigned 32-bit image count
//   GPIO status    bit 8      4 bytes  first byte: bit 7 pin 0 (trigger
//                                      input), bit 6 pin 1 (strobe output 0),
//                                      bit 5 pin 2 (strobe output 1), bit 4 pin 3
//
// The DCAM info is one item: it is written only when both of its bits are
// set; with one of them alone it takes no room. Cameras and the library read
// the layout from this one function (layoutOf), so they agree. Every item is
// stored most significant byte first; the raw gain or shutter is the low 12
// bits of its quadlet: ((byte 2 & 0x0F) << 8) | byte 3.
//
// Pure constants and functions: any thread, no locking.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvex {
namespace iidc {
namespace frameinfo {

constexpr uint32_t kPresent = 0x80000000; // bit 31: the camera has the register
constexpr uint32_t kTimestamp = 0x00000001;
constexpr uint32_t kGain = 0x00000002;
constexpr uint32_t kShutter = 0x00000004;
constexpr uint32_t kDcamInfo = kGain | kShutter;
constexpr uint32_t kFrameCounter = 0x00000040;
constexpr uint32_t kGpioStatus = 0x00000100;
// Every item this layout knows; a camera ignores writes of other bits.
constexpr uint32_t kAllItems = kTimestamp | kGain | kShutter | kFrameCounter | kGpioStatus;

constexpr std::size_t kItemSize = 4;
// The most room the items can take.
constexpr std::size_t kMaxSize = 5 * kItemSize;

// GPIO status byte (byte 0 of the item).
constexpr uint8_t kGpioTriggerInput = 0x80; // pin 0
constexpr uint8_t kGpioStrobe0 = 0x40;      // pin 1
constexpr uint8_t kGpioStrobe1 = 0x20;      // pin 2
constexpr uint8_t gpioPinBit(uint32_t pin)
{
    return static_cast<uint8_t>(0x80u >> pin);
}

// Where each item starts in the image for a register value, or kAbsent.
struct Layout {
    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);
    std::size_t timestamp = kAbsent;
    std::size_t gain = kAbsent;
    std::size_t shutter = kAbsent;
    std::size_t frameCounter = kAbsent;
    std::size_t gpioStatus = kAbsent;
    std::size_t size = 0; // bytes taken by all enabled items
};

constexpr Layout layoutOf(uint32_t frameInfoRegister)
{
    Layout layout{};
    std::size_t at = 0;
    if (frameInfoRegister & kTimestamp) {
        layout.timestamp = at;
        at += kItemSize;
    }
    if ((frameInfoRegister & kDcamInfo) == kDcamInfo) {
        layout.gain = at;
        layout.shutter = at + kItemSize;
        at += 2 * kItemSize;
    }
    if (frameInfoRegister & kFrameCounter) {
        layout.frameCounter = at;
        at += kItemSize;
    }
    if (frameInfoRegister & kGpioStatus) {
        layout.gpioStatus = at;
        at += kItemSize;
    }
    layout.size = at;
    return layout;
}

// Whether an item found at `offset` lies wholly inside an image of `bytes`.
constexpr bool fits(std::size_t offset, std::size_t bytes)
{
    return offset != Layout::kAbsent && offset <= bytes && bytes - offset >= kItemSize;
}

// Big-endian quadlet access inside image bytes.
inline uint32_t readQuadlet(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void writeQuadlet(uint8_t* p, uint32_t value)
{
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
}
// The 12-bit raw value of an embedded gain or shutter quadlet.
inline uint32_t rawValue(const uint8_t* item)
{
    return (uint32_t(item[2] & 0x0F) << 8) | uint32_t(item[3]);
}

// What the items of one image say. An item is read only when it is switched
// on and lies wholly inside the image; otherwise its value is unknown.
struct Items {
    bool hasTimestamp = false;
    uint32_t cycleTime = 0;
    bool hasDcamInfo = false;
    uint32_t rawGain = 0;
    uint32_t rawShutter = 0;
    bool hasFrameCounter = false;
    uint32_t frameCounter = 0;
    bool hasGpioStatus = false;
    uint8_t gpioStatus = 0; // the item's first byte
};

// Reads the items switched on in `frameInfoRegister` from the first `bytes`
// bytes of `image` (which may be null when `bytes` is 0).
inline Items decode(const uint8_t* image, std::size_t bytes, uint32_t frameInfoRegister)
{
    const Layout layout = layoutOf(frameInfoRegister);
    Items items;
    if (fits(layout.timestamp, bytes)) {
        items.hasTimestamp = true;
        items.cycleTime = readQuadlet(image + layout.timestamp);
    }
    if (fits(layout.gain, bytes) && fits(layout.shutter, bytes)) {
        items.hasDcamInfo = true;
        items.rawGain = rawValue(image + layout.gain);
        items.rawShutter = rawValue(image + layout.shutter);
    }
    if (fits(layout.frameCounter, bytes)) {
        items.hasFrameCounter = true;
        items.frameCounter = readQuadlet(image + layout.frameCounter);
    }
    if (fits(layout.gpioStatus, bytes)) {
        items.hasGpioStatus = true;
        items.gpioStatus = image[layout.gpioStatus];
    }
    return items;
}

} // namespace frameinfo
} // namespace iidc
} // namespace orvex
