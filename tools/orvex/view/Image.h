// Images for the browser: a copy taken out of the images buffer (scaled down
// by whole steps, or at full resolution) and its encoding in memory: PNG
// (lossless, 16-bit kept) or JPEG (live previews: several times cheaper).
// Plain functions: any thread.
#pragma once

#include "PngWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvex::cli {

struct ViewFrame {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 1; // 1, or 2 with little-endian samples
    uint32_t index = 0;         // the image's index
    std::vector<uint8_t> pixels;
};

// The largest preview the page asks for; a bigger image is shown scaled down.
constexpr uint32_t kPreviewMaxWidth = 640;
constexpr uint32_t kPreviewMaxHeight = 480;

// Copies `width` x `height` grey pixels. `full` keeps every pixel and the
// depth; otherwise every n-th pixel of every n-th row, the smallest n that
// fits the preview, as 8 bits (the upper byte of a 16-bit sample).
ViewFrame copyForView(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                      bool full);

// Whether the preview of such an image is the image itself, pixel for pixel
// (8-bit and within the preview's size): it can be encoded where it lies.
bool previewIsWholeImage(uint32_t width, uint32_t height, uint32_t bytesPerPixel);

// The frame as a PNG file's bytes. Throws std::runtime_error when libpng fails.
std::string encodePng(const ViewFrame& frame);

// JPEG qualities a user may ask for; what the viewer takes unless told:
// within 2 dB of 80 on smooth and on noisy pictures, a quarter fewer bytes
// and a tenth less time to encode.
constexpr int kJpegQualityMin = 1;
constexpr int kJpegQualityMax = 100;
constexpr int kJpegQualityDefault = 70;

// False in a build without libturbojpeg: the viewer then sends PNG.
bool canEncodeJpeg();

// An 8-bit frame as a grey JPEG file's bytes at `quality` (1 to 100).
// Throws std::runtime_error for a 16-bit or empty frame, or when the
// encoder fails.
std::string encodeJpeg(const ViewFrame& frame, int quality);
// The same of pixels that lie elsewhere (a camera's image).
std::string encodeJpeg(const GreyImage& image, int quality);

} // namespace orvex::cli
