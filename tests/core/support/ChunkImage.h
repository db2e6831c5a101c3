// Builds image data the way a camera with extended data stream features on
// lays it out: pixels, then chunk 0, then other chunks, then the CRC quadlet.
// Quadlets are little-endian, as the host reads them.
#pragma once

#include <orvex/iidc/Crc16Xmodem.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace orvex::test {

// The chunk identifiers and whole lengths (data and 24-byte trailer) as the
// camera vendor publishes them, written out here so that a slip in the
// library's own tables shows.
inline constexpr uint32_t kPublishedChunkIds[5][4] = {
    {0x94ED7C88, 0x11D81C0F, 0x1000E082, 0x55AE5B5A}, // 0 extended data stream
    {0x8C5DB844, 0x11D81C0F, 0x10005F96, 0x55AE5B5A}, // 1 frame counter
    {0x994DD430, 0x11D81C0F, 0x10006B8F, 0x55AE5B5A}, // 2 cycle time stamp
    {0x8ACB49EA, 0x11DA5517, 0x30006897, 0x55AE5B53}, // 3 grey-level values
    {0x911C8982, 0x11D81C0F, 0x1000F08A, 0x55AE5B5A}, // 4 DCAM values
};
inline constexpr std::size_t kPublishedChunkSizes[5] = {48, 28, 28, 36, 64};
constexpr std::size_t kChunkTrailerBytes = 24;

class ChunkImage {
public:
    explicit ChunkImage(std::size_t nbPixelBytes, uint8_t fill = 0x5A) : _bytes(nbPixelBytes, fill) {}

    ChunkImage& extendedDataStream() { return chunk(0, {}); }
    ChunkImage& frameCounter(uint32_t counter) { return chunk(1, {counter}); }
    ChunkImage& cycleTime(uint32_t cycleTime) { return chunk(2, {cycleTime}); }
    ChunkImage& greyLevels(uint32_t lowest, uint32_t highest, uint32_t mean)
    {
        return chunk(3, {lowest, highest, mean});
    }
    // Raw quadlets: bit 31 says present, bits 0-11 the value.
    ChunkImage& dcam(uint32_t gainQuadlet, uint32_t shutterQuadlet)
    {
        return chunk(4, {gainQuadlet, 0, shutterQuadlet});
    }
    // Appends the CRC-16/XMODEM of everything so far.
    ChunkImage& crc()
    {
        quadlet(iidc::crc16Xmodem(_bytes.data(), _bytes.size()));
        return *this;
    }
    ChunkImage& quadlet(uint32_t value)
    {
        for (int i = 0; i < 4; ++i) {
            _bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
        return *this;
    }

    std::vector<uint8_t>& bytes() { return _bytes; }
    const uint8_t* data() const { return _bytes.data(); }
    std::size_t size() const { return _bytes.size(); }

private:
    // Data quadlets, zero padding up to the chunk's data size, then the
    // trailer: identifier, length, inverted length.
    ChunkImage& chunk(unsigned number, std::initializer_list<uint32_t> data)
    {
        const std::size_t length = kPublishedChunkSizes[number];
        const std::size_t start = _bytes.size();
        for (uint32_t value : data) {
            quadlet(value);
        }
        _bytes.resize(start + length - kChunkTrailerBytes, 0);
        for (uint32_t idQuadlet : kPublishedChunkIds[number]) {
            quadlet(idQuadlet);
        }
        quadlet(static_cast<uint32_t>(length));
        quadlet(~static_cast<uint32_t>(length));
        return *this;
    }

    std::vector<uint8_t> _bytes;
};

} // namespace orvex::test
