// Reading the data chunks a camera appends to an image into the sample's
// optional values; a malformed chunk leaves them unknown.
#include "core/ChunkParser.h"

#include <orvex/iidc/Crc16Xmodem.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>

#include <cstring>

namespace orvex {
namespace {

namespace sf = iidc::sf;

constexpr unsigned kNoChunk = sf::kChunkCount;

uint32_t quadletAt(const uint8_t* data, std::size_t offset)
{
    uint32_t value = 0;
    std::memcpy(&value, data + offset, sizeof value); // image data may be unaligned
    return value;
}

// The number of the chunk whose trailer ends at `end`, or kNoChunk.
unsigned chunkEndingAt(const uint8_t* data, std::size_t end)
{
    if (end < sf::kChunkTrailerSize) {
        return kNoChunk;
    }
    const std::size_t idStart = end - sf::kChunkTrailerSize;
    const sf::Guid128 id{{quadletAt(data, idStart), quadletAt(data, idStart + 4),
                          quadletAt(data, idStart + 8), quadletAt(data, idStart + 12)}};
    for (unsigned chunk = 0; chunk < sf::kChunkCount; ++chunk) {
        if (sf::kChunkIds[chunk] == id) {
            return chunk;
        }
    }
    return kNoChunk;
}

double cycleTimeToMs(uint32_t cycleTime)
{
    return iidc::cycleSeconds(cycleTime) * sf::kMsPerSecond + iidc::cycleCount(cycleTime) * sf::kMsPerCycle;
}

uint32_t dcamValue(uint32_t quadlet)
{
    return (quadlet & sf::kDcamValuePresent) ? (quadlet & sf::kDcamValueMask) : ChunkParseState::kAbsent;
}

// Stores the values of chunk `chunk`, whose first byte is at `start`.
void readChunk(unsigned chunk, const uint8_t* data, std::size_t start, ChunkParseState& state)
{
    switch (chunk) {
    case sf::kFeatureFrameCounter:
        state.frameCounter = quadletAt(data, start + sf::kFrameCounterOffset);
        break;
    case sf::kFeatureCycleTimeStamp:
        state.cycleTimeDateMs = cycleTimeToMs(quadletAt(data, start + sf::kCycleTimeOffset));
        break;
    case sf::kFeatureGreyLevelValues:
        for (int i = 0; i < 3; ++i) {
            state.greyLevels[i] = quadletAt(data, start + sf::kGreyLevelOffsets[i]);
        }
        break;
    case sf::kFeatureDcam:
        state.gain = dcamValue(quadletAt(data, start + sf::kDcamGainOffset));
        state.shutter = dcamValue(quadletAt(data, start + sf::kDcamShutterOffset));
        break;
    default: // extended data stream: its contents are not needed
        break;
    }
}

// Checks the trailing CRC quadlet; returns false when the image is too short
// to hold one.
bool readCrc(const uint8_t* data, std::size_t& end, ChunkParseState& state)
{
    if (end < sf::kCrcChunkSize) {
        return false;
    }
    const std::size_t crcOffset = (end & ~std::size_t{3}) - sf::kCrcChunkSize;
    const uint32_t computed = iidc::crc16Xmodem(data, end - sf::kCrcChunkSize);
    state.crcMatched = quadletAt(data, crcOffset) == computed;
    end -= sf::kCrcChunkSize;
    state.presence.set(sf::kFeatureCrcChecksum);
    return true;
}

} // namespace

void parseImageChunks(const uint8_t* data, std::size_t size, bool crcEnabled, ChunkParseState& state)
{
    state.presence.reset();
    if (data == nullptr) {
        return;
    }
    std::size_t end = size;
    if (crcEnabled && !readCrc(data, end, state)) {
        return;
    }
    for (;;) {
        const unsigned chunk = chunkEndingAt(data, end);
        if (chunk == kNoChunk || end < sf::kChunkSizes[chunk]) {
            return;
        }
        end -= sf::kChunkSizes[chunk];
        readChunk(chunk, data, end, state);
        state.presence.set(chunk);
        if (chunk == sf::kFeatureExtendedDataStream) {
            return;
        }
    }
}

} // namespace orvex
