#include "view/Image.h"

#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <stdexcept>

namespace orvex::cli {
namespace {

uint32_t previewStep(uint32_t width, uint32_t height)
{
    const uint32_t byWidth = (width + kPreviewMaxWidth - 1) / kPreviewMaxWidth;
    const uint32_t byHeight = (height + kPreviewMaxHeight - 1) / kPreviewMaxHeight;
    return std::max({byWidth, byHeight, uint32_t{1}});
}

void appendBytes(png_structp png, png_bytep data, png_size_t length)
{
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}

void flushNothing(png_structp) {}

class PngEncoder {
public:
    PngEncoder()
        : _png(png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr)),
          _info(_png != nullptr ? png_create_info_struct(_png) : nullptr)
    {
        if (_info == nullptr) {
            png_destroy_write_struct(&_png, nullptr);
            throw std::runtime_error("PNG encoding failed: out of memory");
        }
    }
    ~PngEncoder() { png_destroy_write_struct(&_png, &_info); }
    PngEncoder(const PngEncoder&) = delete;
    PngEncoder& operator=(const PngEncoder&) = delete;

    std::string encode(const ViewFrame& frame)
    {
        _out.clear();
        _out.reserve(frame.pixels.size() / 2 + 1024);
        if (!writeAll(frame))
            throw std::runtime_error("PNG encoding failed");
        return std::move(_out);
    }

private:
    // libpng reports a failure by jumping back to the setjmp here: nothing
    // in this frame needs destroying.
    bool writeAll(const ViewFrame& frame)
    {
        if (setjmp(png_jmpbuf(_png)) != 0)
            return false;
        png_set_write_fn(_png, &_out, &appendBytes, &flushNothing);
        // The browser asks often: speed matters more than size.
        png_set_compression_level(_png, 1);
        png_set_IHDR(_png, _info, frame.width, frame.height, frame.bytesPerPixel == 2 ? 16 : 8,
                     PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(_png, _info);
        if (frame.bytesPerPixel == 2)
            png_set_swap(_png); // PNG samples are big-endian
        const size_t stride = size_t{frame.width} * frame.bytesPerPixel;
        for (uint32_t row = 0; row < frame.height; ++row)
            png_write_row(_png, frame.pixels.data() + row * stride);
        png_write_end(_png, nullptr);
        return true;
    }

    std::string _out;
    png_structp _png;
    png_infop _info;
};

} // namespace

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
    if (frame.width == 0 || frame.height == 0)
        throw std::runtime_error("PNG encoding failed: empty image");
    PngEncoder encoder;
    return encoder.encode(frame);
}

} // namespace orvex::cli
