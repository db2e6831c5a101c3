// The pixels of simulated images: the gradient and the stamped patch that
// tests recognise.
#include <orvex/sim/FramePattern.h>

#include <orvex/iidc/Crc16Xmodem.h>
#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>

#include <algorithm>
#include <cstring>

namespace orvex::sim::pattern {

using namespace orvex::iidc;

namespace {

constexpr uint32_t kMono16Scale = 64;

// Eight bytes of an 8-bit gradient row: byte k (in memory order) is
// (first + k) mod 256. The bytes are added without carries between them.
uint64_t gradientWord(uint32_t first)
{
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kSteps = 0x0706050403020100u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    const uint64_t start = uint64_t(first & 0xFFu) * kOnes;
    const uint64_t word = ((start & ~kHigh) + kSteps) ^ (start & kHigh);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return __builtin_bswap64(word);
#else
    return word;
#endif
}

// Bytes [begin, end) of one row back to the gradient. Every image restores
// part of a few rows, so 8-bit rows go eight bytes at a time.
void restoreRow(uint8_t* image, const FrameGeometry& g, uint32_t row, uint32_t begin, uint32_t end)
{
    uint8_t* p = image + uint64_t(row) * g.rowBytes();
    if (g.bytesPerPixel == 1) {
        const uint32_t base = 2 * row;
        uint32_t b = begin;
        for (; end - b >= 8; b += 8) {
            const uint64_t word = gradientWord(b + base);
            std::memcpy(p + b, &word, sizeof word);
        }
        for (; b < end; ++b)
            p[b] = static_cast<uint8_t>(b + base);
        return;
    }
    for (uint32_t b = begin; b < end; ++b)
        p[b] = gradientByte(g, row, b);
}

void restoreBytes(uint8_t* image, const FrameGeometry& g, uint64_t begin, uint64_t end)
{
    const uint32_t rowBytes = g.rowBytes();
    if (rowBytes == 0)
        return;
    while (begin < end) {
        const auto row = static_cast<uint32_t>(begin / rowBytes);
        const auto from = static_cast<uint32_t>(begin % rowBytes);
        const auto to = static_cast<uint32_t>(std::min<uint64_t>(rowBytes, from + (end - begin)));
        restoreRow(image, g, row, from, to);
        begin += to - from;
    }
}

void restoreMarker(uint8_t* image, const FrameGeometry& g, uint32_t x, uint32_t y)
{
    const uint32_t bpp = g.bytesPerPixel;
    if (bpp == 1) {
        // Every image does this: whole words, one row after the other.
        static_assert(kMarkerSize % 8 == 0, "the square's rows are whole words");
        const uint32_t rowBytes = g.rowBytes();
        uint8_t* p = image + uint64_t(y) * rowBytes + x;
        for (uint32_t row = y; row < y + kMarkerSize; ++row, p += rowBytes) {
            for (uint32_t k = 0; k < kMarkerSize; k += 8) {
                const uint64_t word = gradientWord(x + k + 2 * row);
                std::memcpy(p + k, &word, sizeof word);
            }
        }
        return;
    }
    for (uint32_t row = y; row < y + kMarkerSize; ++row)
        restoreRow(image, g, row, x * bpp, (x + kMarkerSize) * bpp);
}

void drawMarker(uint8_t* image, const FrameGeometry& g, uint32_t x, uint32_t y)
{
    // Whole words rather than a fill call per row: a row of the square is
    // two or four of them.
    constexpr uint64_t kMarkerWord = 0x0101010101010101u * kMarkerByte;
    const std::size_t rowBytes = g.rowBytes();
    const std::size_t markerRowBytes = std::size_t{kMarkerSize} * g.bytesPerPixel;
    uint8_t* p = image + uint64_t(y) * rowBytes + uint64_t(x) * g.bytesPerPixel;
    for (uint32_t row = 0; row < kMarkerSize; ++row, p += rowBytes) {
        for (std::size_t k = 0; k < markerRowBytes; k += sizeof kMarkerWord)
            std::memcpy(p + k, &kMarkerWord, sizeof kMarkerWord);
    }
}

void putQuadlet(uint8_t* image, uint64_t imageBytes, std::size_t at, uint32_t value)
{
    if (at != frameinfo::Layout::kAbsent && at + 4 <= imageBytes)
        frameinfo::writeQuadlet(image + at, value);
}

// Chunk data and image-data quadlets are in the host's byte order.
void putLittle(uint8_t* p, uint32_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

} // namespace

uint8_t gradientByte(const FrameGeometry& g, uint32_t row, uint32_t byteInRow)
{
    if (g.bytesPerPixel == 1)
        return static_cast<uint8_t>(byteInRow + 2 * row);
    const uint32_t value = ((byteInRow / 2 + 2 * row) * kMono16Scale) & 0xFFFF;
    return static_cast<uint8_t>((byteInRow & 1) ? value >> 8 : value);
}

void fill(uint8_t* image, const FrameGeometry& g)
{
    const uint32_t rowBytes = g.rowBytes();
    for (uint32_t row = 0; row < g.height; ++row) {
        uint8_t* p = image + uint64_t(row) * rowBytes;
        if (g.bytesPerPixel == 1) {
            for (uint32_t x = 0; x < rowBytes; ++x)
                p[x] = static_cast<uint8_t>(x + 2 * row);
        } else {
            for (uint32_t b = 0; b < rowBytes; ++b)
                p[b] = gradientByte(g, row, b);
        }
    }
}

bool markerPosition(const FrameGeometry& g, uint32_t frameCounter, uint32_t& x, uint32_t& y)
{
    if (g.width < kMarkerSize || g.height < kMarkerSize)
        return false;
    y = g.height / 2 - kMarkerSize / 2;
    // Keep clear of the frame information and the frame number.
    if (uint64_t(y) * g.rowBytes() < kFrameNumberOffset + 4)
        return false;
    x = static_cast<uint32_t>((uint64_t(frameCounter) * kMarkerStep) % (g.width - kMarkerSize + 1));
    return true;
}

// The enabled items in their places, or as damaged as a stream fault asks.
void stampFrameInfo(uint8_t* image, uint64_t imageBytes, const Frame& frame)
{
    const frameinfo::Layout layout = frameinfo::layoutOf(frame.frameInfoRegister);
    const bool corrupt = frame.frameInfoDamage == FrameInfoDamage::corrupt;
    const auto item = [&](uint32_t value) { return corrupt ? 0xFFFFFFFFu : value; };
    const std::pair<std::size_t, uint32_t> items[] = {
        {layout.timestamp, item(frame.cycleTime)},
        {layout.gain, item(frame.gainRegister)},
        {layout.shutter, item(frame.shutterRegister)},
        {layout.frameCounter, item(frame.frameCounter)},
        {layout.gpioStatus, item(uint32_t(frame.gpioLevels) << 24)},
    };
    for (const auto& [offset, value] : items) {
        // Cut short: the information ends after its first quadlet.
        if (frame.frameInfoDamage == FrameInfoDamage::cutShort && offset >= 4)
            continue;
        putQuadlet(image, imageBytes, offset, value);
    }
}

void stamp(uint8_t* image, const FrameGeometry& g, const Frame& frame, StampState& state)
{
    const uint64_t imageBytes = g.imageBytes();
    restoreBytes(image, g, 0, std::min<uint64_t>(frameinfo::kMaxSize, imageBytes));
    if (state.markerDrawn)
        restoreMarker(image, g, state.markerX, state.markerY);
    state.markerDrawn = false;

    stampFrameInfo(image, imageBytes, frame);
    putQuadlet(image, imageBytes, kFrameNumberOffset, frame.frameCounter);

    uint32_t x, y;
    if (markerPosition(g, frame.frameCounter, x, y)) {
        drawMarker(image, g, x, y);
        state = {true, x, y};
    }
}

uint32_t readFrameNumber(const uint8_t* image)
{
    return frameinfo::readQuadlet(image + kFrameNumberOffset);
}

std::size_t chunkBytes(const Frame& frame)
{
    std::size_t bytes = 0;
    for (unsigned k = 0; k < sf::kChunkCount; ++k) {
        if ((frame.smartChunks >> k) & 1u)
            bytes += sf::kChunkSizes[k];
    }
    if (bytes && frame.crcChunk)
        bytes += sf::kCrcChunkSize;
    return bytes;
}

namespace {

void putLittle16(uint8_t* p, uint32_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

// The image's description as the cameras give it; the area's fields are
// 16 bits wide, which every sensor's size fits.
void writeExtendedDataStream(uint8_t* p, const FrameGeometry& g)
{
    putLittle(p + sf::kEdsStrideOffset, g.rowBytes());
    p[sf::kEdsDataDepthOffset] = uint8_t(8 * g.bytesPerPixel);
    putLittle16(p + sf::kEdsTopOffset, g.top);
    putLittle16(p + sf::kEdsLeftOffset, g.left);
    putLittle16(p + sf::kEdsHeightOffset, g.height);
    putLittle16(p + sf::kEdsWidthOffset, g.width);
    p[sf::kEdsColorCodingOffset] = uint8_t(g.bytesPerPixel == 2 ? kColorCodeMono16 : kColorCodeMono8);
    p[sf::kEdsColorFilterOffset] = 0;
}

} // namespace

void writeChunks(uint8_t* buffer, std::size_t imageBytes, const Frame& frame)
{
    if (!(frame.smartChunks & 1u))
        return; // chunks come only with the extended data stream
    uint8_t* p = buffer + imageBytes;
    for (unsigned k = 0; k < sf::kChunkCount; ++k) {
        if (!((frame.smartChunks >> k) & 1u))
            continue;
        const std::size_t size = sf::kChunkSizes[k];
        std::fill(p, p + size, uint8_t(0));
        const FrameGeometry& g = frame.geometry;
        switch (k) {
        case 0:
            writeExtendedDataStream(p, g);
            break;
        case 1:
            putLittle(p + sf::kFrameCounterOffset, frame.frameCounter);
            break;
        case 2:
            putLittle(p + sf::kCycleTimeOffset, frame.cycleTime);
            break;
        case 3: {
            // Darkest, brightest and mean grey level of the gradient.
            const uint32_t brightest = std::min<uint32_t>(255, g.width + 2 * g.height - 3);
            putLittle(p + sf::kGreyLevelOffsets[0], 0);
            putLittle(p + sf::kGreyLevelOffsets[1], brightest);
            putLittle(p + sf::kGreyLevelOffsets[2], brightest / 2);
            break;
        }
        case 4:
            putLittle(p + sf::kDcamGainOffset, frame.gainRegister);
            putLittle(p + sf::kDcamShutterOffset, frame.shutterRegister);
            break;
        default:
            break;
        }
        uint8_t* trailer = p + size - sf::kChunkTrailerSize;
        for (unsigned q = 0; q < 4; ++q)
            putLittle(trailer + std::size_t{4} * q, sf::kChunkIds[k].q[q]);
        putLittle(trailer + sf::kChunkIdSize, static_cast<uint32_t>(size));
        putLittle(trailer + sf::kChunkIdSize + 4, ~static_cast<uint32_t>(size));
        p += size;
    }
    if (frame.crcChunk) {
        const uint16_t crc = crc16Xmodem(buffer, static_cast<std::size_t>(p - buffer));
        putLittle(p, crc);
    }
}

} // namespace orvex::sim::pattern
