// Images for the browser: the copy out of the images buffer, scaled down or
// not, and its encoding.
#include "view/Image.h"

#include "PngWriter.h"

#include <algorithm>
#include <stdexcept>

namespace orvex::cli {
namespace {

uint32_t previewStep(uint32_t width, uint32_t height)
{
    const uint32_t byWidth = (width + kPreviewMaxWidth - 1) / kPreviewMaxWidth;
    const uint32_t byHeight = (height + kPreviewMaxHeight - 1) / kPreviewMaxHeight;
    return std::max({byWidth, byHeight, uint32_t{1}});
}

} // namespace

bool previewIsWholeImage(uint32_t width, uint32_t height, uint32_t bytesPerPixel)
{
    return bytesPerPixel == 1 && previewStep(width, height) == 1;
}

ViewFrame copyForView(const uint8_t* pixels, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                      bool full)
{
    ViewFrame frame;
    if (full) {
        frame.width = width;
        frame.height = height;
        frame.bytesPerPixel = bytesPerPixel;
        frame.pixels.assign(pixels, pixels + size_t{width} * height * bytesPerPixel);
        return frame;
    }
    const uint32_t step = previewStep(width, height);
    if (step == 1 && bytesPerPixel == 1)
        return copyForView(pixels, width, height, bytesPerPixel, true); // already the preview: one copy
    frame.width = width / step;
    frame.height = height / step;
    frame.pixels.resize(size_t{frame.width} * frame.height);
    // The upper byte of a little-endian 16-bit sample is its second byte.
    const uint32_t upper = bytesPerPixel == 2 ? 1 : 0;
    uint8_t* out = frame.pixels.data();
    for (uint32_t y = 0; y < frame.height; ++y) {
        const uint8_t* row = pixels + size_t{y} * step * width * bytesPerPixel;
        for (uint32_t x = 0; x < frame.width; ++x)
            *out++ = row[size_t{x} * step * bytesPerPixel + upper];
    }
    return frame;
}

std::string encodePng(const ViewFrame& frame)
{
    return encodeGreyPng({frame.pixels.data(), frame.width, frame.height, frame.bytesPerPixel});
}

std::string encodeJpeg(const ViewFrame& frame, int quality)
{
    // A copy's pixels must cover its geometry; a camera's image does by itself.
    if (frame.pixels.size() < size_t{frame.width} * frame.height)
        throw std::runtime_error("JPEG encoding failed: not an 8-bit image");
    return encodeJpeg(GreyImage{frame.pixels.data(), frame.width, frame.height, frame.bytesPerPixel},
                      quality);
}

} // namespace orvex::cli
