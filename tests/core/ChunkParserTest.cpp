// Reading the chunks a camera appends to its images, including images that
// are too short or malformed: the walk must stop cleanly without reading
// outside the buffer (AddressSanitizer watches the heap copies below).
#include "core/ChunkParser.h"
#include "core/support/ChunkImage.h"

#include <orvex/iidc/Crc16Xmodem.h>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using orvex::ChunkParseState;
using orvex::parseImageChunks;
using orvex::test::ChunkImage;

constexpr uint32_t kPresent = 0x80000000;

// Parses an exact-size heap copy, so that any read past either end is caught.
void parseExact(const std::vector<uint8_t>& bytes, bool crcEnabled, ChunkParseState& state)
{
    std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    parseImageChunks(copy.get(), bytes.size(), crcEnabled, state);
}

TEST(ChunkParser, ReadsEveryChunkOfAFullTrailer)
{
    // Cycle time: 5 s, 4000 cycles, offset 123.
    const uint32_t cycleTime = (5u << 25) | (4000u << 12) | 123u;
    ChunkImage image(64);
    image.extendedDataStream()
        .greyLevels(3, 250, 97)
        .dcam(kPresent | 0xABC, kPresent | 0x1234)
        .cycleTime(cycleTime)
        .frameCounter(0xFFFFFFFE)
        .crc();
    ChunkParseState state;
    parseExact(image.bytes(), true, state);

    EXPECT_EQ(0b0001011111u, state.presence.to_ulong()); // chunks 0-4 and the CRC
    EXPECT_TRUE(state.crcMatched);
    EXPECT_EQ(0xFFFFFFFEu, state.frameCounter);
    EXPECT_DOUBLE_EQ(5 * 1000.0 + 4000 * 0.125, state.cycleTimeDateMs);
    EXPECT_EQ(0xABCu, state.gain);
    EXPECT_EQ(0x234u, state.shutter); // only bits 0-11 are the value
    EXPECT_EQ(3u, state.greyLevels[0]);
    EXPECT_EQ(250u, state.greyLevels[1]);
    EXPECT_EQ(97u, state.greyLevels[2]);
}

TEST(ChunkParser, StopsAtChunkZeroAndIgnoresWhatPrecedesIt)
{
    // A frame counter before chunk 0 belongs to the pixels.
    ChunkImage image(32);
    image.frameCounter(7).extendedDataStream().cycleTime(1u << 25);
    ChunkParseState state;
    parseExact(image.bytes(), false, state);
    EXPECT_TRUE(state.presence.test(0));
    EXPECT_TRUE(state.presence.test(2));
    EXPECT_FALSE(state.presence.test(1));
}

TEST(ChunkParser, CrcMismatchIsReportedNotThrown)
{
    ChunkImage image(40);
    image.extendedDataStream().frameCounter(1).crc();
    image.bytes()[3] ^= 0x01; // one pixel bit flipped in transit
    ChunkParseState state;
    parseExact(image.bytes(), true, state);
    EXPECT_TRUE(state.presence.test(6));
    EXPECT_FALSE(state.crcMatched);
    EXPECT_TRUE(state.presence.test(1)); // the other chunks are still read
}

TEST(ChunkParser, CrcQuadletWithHighBitsSetDoesNotMatch)
{
    ChunkImage image(40);
    image.extendedDataStream();
    const uint16_t crc = orvex::iidc::crc16Xmodem(image.data(), image.size());
    image.quadlet(0x00010000u | crc);
    ChunkParseState state;
    parseExact(image.bytes(), true, state);
    EXPECT_FALSE(state.crcMatched);
}

// When the image does not end on a quadlet boundary, the checksum covers
// every byte but the last four, and the CRC quadlet is the last whole quadlet
// before the end rounded down to a multiple of 4. So in a 43-byte image the
// checksum covers bytes 0 to 38, the quadlet is bytes 36 to 39, and bytes 40
// to 42 count for nothing.
TEST(ChunkParser, CrcOfAnImageNotEndingOnAQuadlet)
{
    std::vector<uint8_t> bytes(43, 0x3C);
    // Bytes 36 and 37 are both checksummed and part of the quadlet: search
    // the pair that makes the quadlet equal the checksum (bytes 38 and 39,
    // the quadlet's high half, stay 0).
    bytes[38] = bytes[39] = 0;
    bool bFound = false;
    for (uint8_t seed = 0; !bFound && seed < 255; ++seed) {
        bytes[0] = seed;
        for (unsigned pair = 0; !bFound && pair <= 0xFFFF; ++pair) {
            bytes[36] = static_cast<uint8_t>(pair);
            bytes[37] = static_cast<uint8_t>(pair >> 8);
            bFound = orvex::iidc::crc16Xmodem(bytes.data(), 39) == pair;
        }
    }
    ASSERT_TRUE(bFound);

    ChunkParseState state;
    parseExact(bytes, true, state);
    EXPECT_TRUE(state.presence.test(6));
    EXPECT_TRUE(state.crcMatched);

    bytes[41] ^= 0xFF; // outside both
    parseExact(bytes, true, state);
    EXPECT_TRUE(state.crcMatched);

    bytes[39] = 1; // the quadlet's top byte, not checksummed
    parseExact(bytes, true, state);
    EXPECT_FALSE(state.crcMatched);
    bytes[39] = 0;

    bytes[10] ^= 0x01; // a checksummed byte
    parseExact(bytes, true, state);
    EXPECT_FALSE(state.crcMatched);
}

TEST(ChunkParser, DataWithoutKnownChunksLeavesEveryBitClear)
{
    ChunkImage image(200, 0xEE);
    ChunkParseState state;
    state.presence.set(); // from an earlier image
    parseExact(image.bytes(), false, state);
    EXPECT_TRUE(state.presence.none());
}

TEST(ChunkParser, DcamValuesWithoutPresenceBitAreAbsent)
{
    ChunkImage image(8);
    image.extendedDataStream().dcam(0x00000123, kPresent | 0x045);
    ChunkParseState state;
    parseExact(image.bytes(), false, state);
    EXPECT_TRUE(state.presence.test(4));
    EXPECT_EQ(ChunkParseState::kAbsent, state.gain);
    EXPECT_EQ(0x045u, state.shutter);
}

TEST(ChunkParser, ValuesOfAbsentChunksSurviveButTheirBitsDoNot)
{
    ChunkParseState state;
    ChunkImage first(8);
    first.extendedDataStream().frameCounter(41);
    parseExact(first.bytes(), false, state);
    ASSERT_TRUE(state.presence.test(1));

    ChunkImage second(8);
    second.extendedDataStream();
    parseExact(second.bytes(), false, state);
    EXPECT_FALSE(state.presence.test(1));
    EXPECT_EQ(41u, state.frameCounter);
}

TEST(ChunkParser, EveryTruncationOfAValidImageStaysInBounds)
{
    ChunkImage image(16);
    image.extendedDataStream().greyLevels(1, 2, 3).dcam(kPresent | 1, kPresent | 2).frameCounter(9).crc();
    const std::vector<uint8_t>& full = image.bytes();
    for (std::size_t length = 0; length <= full.size(); ++length) {
        for (bool crc : {false, true}) {
            // Keep the last `length` bytes: the trailer survives, its start does not.
            const std::vector<uint8_t> tail(full.end() - static_cast<std::ptrdiff_t>(length), full.end());
            ChunkParseState state;
            parseExact(tail, crc, state);
            // Keep the first `length` bytes: the trailer is cut.
            const std::vector<uint8_t> head(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            parseExact(head, crc, state);
        }
    }
}

TEST(ChunkParser, ChunkLongerThanTheImageEndsTheWalk)
{
    // A DCAM trailer (64-byte chunk) on an image of 40 bytes: the chunk would
    // start before the image.
    ChunkImage image(0);
    image.dcam(kPresent | 1, kPresent | 2);
    std::vector<uint8_t> bytes(image.bytes().end() - 40, image.bytes().end());
    ChunkParseState state;
    parseExact(bytes, false, state);
    EXPECT_TRUE(state.presence.none());
    EXPECT_EQ(ChunkParseState::kAbsent, state.gain);

    // Exactly one chunk long is enough.
    ChunkImage exact(0);
    exact.dcam(kPresent | 1, kPresent | 2);
    parseExact(exact.bytes(), false, state);
    EXPECT_TRUE(state.presence.test(4));
}

TEST(ChunkParser, ImagesShorterThanACrcQuadletFindNothing)
{
    for (std::size_t length = 0; length < 4; ++length) {
        ChunkParseState state;
        parseExact(std::vector<uint8_t>(length, 0), true, state);
        EXPECT_TRUE(state.presence.none()) << length;
    }
    ChunkParseState state;
    parseImageChunks(nullptr, 100, true, state);
    EXPECT_TRUE(state.presence.none());
}

TEST(ChunkParser, ChunksAtUnalignedOffsetsAreRead)
{
    ChunkImage image(13); // 13 + 48 + 28 bytes: every quadlet is unaligned
    image.extendedDataStream().frameCounter(5);
    ChunkParseState state;
    parseExact(image.bytes(), false, state);
    EXPECT_TRUE(state.presence.test(0));
    EXPECT_EQ(5u, state.frameCounter);
}

} // namespace
