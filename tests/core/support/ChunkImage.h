// Builds image data the way a camera with extended data stream features on
// lays it out: pixels, then chunk 0, then other chunks, then the CRC quadlet.
// Quadlets are little-endian, as the host reads them.
#pragma once

#include <orvex/iidc/Crc16Xmodem.h>
#include <orvex/iidc/SmartFeatures.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace orvex::test {

class ChunkImage {
public:
    explicit ChunkImage(std::size_t nbPixelBytes, uint8_t fill = 0x5A) : _bytes(nbPixelBytes, fill) {}

    ChunkImage& extendedDataStream() { return chunk(iidc::sf::kFeatureExtendedDataStream, {}); }
    ChunkImage& frameCounter(uint32_t counter) { return chunk(iidc::sf::kFeatureFrameCounter, {counter}); }
    ChunkImage& cycleTime(uint32_t cycleTime) { return chunk(iidc::sf::kFeatureCycleTimeStamp, {cycleTime}); }
    ChunkImage& greyLevels(uint32_t lowest, uint32_t highest, uint32_t mean)
    {
        return chunk(iidc::sf::kFeatureGreyLevelValues, {lowest, highest, mean});
    }
    // Raw quadlets: bit 31 says present, bits 0-11 the value.
    ChunkImage& dcam(uint32_t gainQuadlet, uint32_t shutterQuadlet)
    {
        return chunk(iidc::sf::kFeatureDcam, {gainQuadlet, 0, shutterQuadlet});
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
        const std::size_t length = iidc::sf::kChunkSizes[number];
        const std::size_t start = _bytes.size();
        for (uint32_t value : data) {
            quadlet(value);
        }
        _bytes.resize(start + length - iidc::sf::kChunkTrailerSize, 0);
        for (uint32_t idQuadlet : iidc::sf::kChunkIds[number].q) {
            quadlet(idQuadlet);
        }
        quadlet(static_cast<uint32_t>(length));
        quadlet(~static_cast<uint32_t>(length));
        return *this;
    }

    std::vector<uint8_t> _bytes;
};

} // namespace orvex::test
