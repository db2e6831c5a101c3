// libFuzzer target: the embedded frame information comes from a camera, so
// any register value and any image bytes, however short, must decode
// without reading outside the image, each item either read from its place
// or left unknown.
#include <orvex/iidc/FrameInfo.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace frameinfo = orvex::iidc::frameinfo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    // The first two bytes choose the register's item bits (bits 0 to 8 and
    // some beyond); the rest is the image, copied so that ASan sees its end.
    const uint32_t reg = (uint32_t(data[0]) | (uint32_t(data[1]) << 8)) * 0x10001u;
    const std::vector<uint8_t> image(data + 2, data + size);
    const frameinfo::Items items = frameinfo::decode(image.data(), image.size(), reg);
    const frameinfo::Layout layout = frameinfo::layoutOf(reg);
    const bool dcamOn = (reg & frameinfo::kDcamInfo) == frameinfo::kDcamInfo;
    // An item is known exactly when it is on and fits.
    if (items.hasTimestamp != ((reg & frameinfo::kTimestamp) && layout.timestamp + 4 <= image.size()) ||
        items.hasDcamInfo != (dcamOn && layout.shutter + 4 <= image.size()) ||
        items.hasFrameCounter !=
            ((reg & frameinfo::kFrameCounter) && layout.frameCounter + 4 <= image.size()) ||
        items.hasGpioStatus != ((reg & frameinfo::kGpioStatus) && layout.gpioStatus + 4 <= image.size()) ||
        layout.size > frameinfo::kMaxSize || items.rawGain > 0xFFF || items.rawShutter > 0xFFF) {
        __builtin_trap();
    }
    return 0;
}
