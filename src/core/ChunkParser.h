// Reads the data chunks a camera appends to an image (frame counter, cycle
// time stamp, grey-level values, DCAM gain and shutter, CRC checksum).
//
// The image comes from a camera and may be malformed: the parser never reads
// outside [data, data + size), never throws, and ends the walk as "no
// further chunk" when a chunk would not fit. Pure function over the caller's
// state: safe on any thread as long as each thread uses its own state.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>

namespace orvex {

// Results of the most recent parse. Values of chunks absent from an image
// keep what an earlier image gave them; the presence bits say which are new.
struct ChunkParseState {
    static constexpr uint32_t kAbsent = 0xFFFFFFFF;

    std::bitset<10> presence; // bit n: chunk n (6 for the CRC) found in the last image
    uint32_t frameCounter = 0;
    bool crcMatched = false;
    double cycleTimeDateMs = 0.0;
    uint32_t gain = kAbsent;    // raw DCAM quadlet bits 0-11, or kAbsent
    uint32_t shutter = kAbsent; // raw DCAM quadlet bits 0-11, or kAbsent
    uint32_t greyLevels[3] = {0, 0, 0};
};

// Walks the chunks backwards from the end of the image. With `crcEnabled`
// the last quadlet is taken as the CRC-16/XMODEM of everything before it.
void parseImageChunks(const uint8_t* data, std::size_t size, bool crcEnabled, ChunkParseState& state);

} // namespace orvex
