// The viewer's JPEG encoder over libturbojpeg: grey, one compressor per
// HTTP thread, each with its own output buffer. The grey image goes in as
// the luminance plane itself: the packed-pixel entry converts grey to grey
// one byte at a time, a third of the encoding's time, for the same bytes.
// The accurate DCT has an AVX2 form and the fast one does not: on such
// processors the accurate one is also the faster.
#include "view/Image.h"

#include <turbojpeg.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvex::cli {
namespace {

struct CompressorCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// Made once per thread: an encoder is not to be shared between threads,
// and the HTTP threads encode side by side.
void* threadCompressor()
{
    thread_local std::unique_ptr<void, CompressorCloser> compressor(tjInitCompress());
    if (!compressor)
        throw std::runtime_error("JPEG encoding failed: " + std::string(tjGetErrorStr2(nullptr)));
    return compressor.get();
}

} // namespace

bool canEncodeJpeg()
{
    return true;
}

std::string encodeJpeg(const GreyImage& image, int quality)
{
    if (image.pixels == nullptr || image.width == 0 || image.height == 0 || image.bytesPerPixel != 1)
        throw std::runtime_error("JPEG encoding failed: not an 8-bit image");
    if (quality < kJpegQualityMin || quality > kJpegQualityMax)
        throw std::runtime_error("JPEG encoding failed: quality out of range");
    // TurboJPEG's sizes are int: a preview is far below, a full frame is checked.
    if (image.width > 0xFFFF || image.height > 0xFFFF)
        throw std::runtime_error("JPEG encoding failed: image too large");
    const auto width = static_cast<int>(image.width);
    const auto height = static_cast<int>(image.height);
    void* compressor = threadCompressor();
    // Written in place into a buffer of the largest size the encoding can
    // have, kept per thread: never reallocated by the encoder, never
    // cleared per frame.
    thread_local std::vector<unsigned char> buffer;
    buffer.resize(std::max<size_t>(buffer.size(), tjBufSize(width, height, TJSAMP_GRAY)));
    unsigned char* out = buffer.data();
    unsigned long size = buffer.size();
    const unsigned char* planes[3] = {image.pixels, nullptr, nullptr};
    const int strides[3] = {width, 0, 0};
    if (tjCompressFromYUVPlanes(compressor, planes, width, strides, height, TJSAMP_GRAY, &out, &size, quality,
                                TJFLAG_NOREALLOC | TJFLAG_ACCURATEDCT) != 0)
        throw std::runtime_error("JPEG encoding failed: " + std::string(tjGetErrorStr2(compressor)));
    return std::string(reinterpret_cast<const char*>(out), size);
}

} // namespace orvex::cli
