// The pixels of simulated images: a fixed gradient written once into a
// buffer, and a per-image stamp that costs the same whatever the image size:
// the embedded frame information at byte 0, the frame counter at
// kFrameNumberOffset and a small square that moves with the frame counter.
// Also the smart-feature chunks a camera appends after the pixels.
//
// Pure functions on caller-owned buffers: any thread, no locking.
#pragma once

#include <orvex/sim/Frame.h>

#include <cstddef>
#include <cstdint>

namespace orvex::sim::pattern {

// Byte offset of the frame counter (unsigned 32-bit, most significant byte
// first); clear of the largest embedded frame information.
constexpr std::size_t kFrameNumberOffset = 32;
// The moving square: side in pixels, and horizontal step per image.
constexpr uint32_t kMarkerSize = 16;
constexpr uint32_t kMarkerStep = 8;
constexpr uint8_t kMarkerByte = 0xFF;

// What a buffer last held, so that the next stamp can restore it.
struct StampState {
    bool markerDrawn = false;
    uint32_t markerX = 0;
    uint32_t markerY = 0;
};

// The gradient value of byte `byteInRow` of row `row` (16-bit pixels are
// little-endian).
uint8_t gradientByte(const FrameGeometry& geometry, uint32_t row, uint32_t byteInRow);

// Writes the gradient over the whole image (rowBytes * height bytes).
void fill(uint8_t* image, const FrameGeometry& geometry);

// Stamps one image into a buffer that holds the gradient (and possibly an
// older stamp recorded in `state`). Touches a bounded number of bytes.
void stamp(uint8_t* image, const FrameGeometry& geometry, const Frame& frame, StampState& state);

// Top-left corner of the square for a frame counter (false when the image is
// too small to carry it).
bool markerPosition(const FrameGeometry& geometry, uint32_t frameCounter, uint32_t& x, uint32_t& y);

// The frame counter written by stamp (images of at least 36 bytes).
uint32_t readFrameNumber(const uint8_t* image);

// Bytes the smart-feature chunks of this frame take after the pixels.
std::size_t chunkBytes(const Frame& frame);
// Writes the chunks right after `imageBytes` bytes of pixels; the buffer
// holds imageBytes + chunkBytes(frame) bytes. With the CRC on, the checksum
// covers every byte before it (the only part whose cost grows with the
// image).
void writeChunks(uint8_t* buffer, std::size_t imageBytes, const Frame& frame);

} // namespace orvex::sim::pattern
