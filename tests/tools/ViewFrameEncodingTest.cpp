// The viewer's frame encoders, in process: a live preview sent as JPEG
// decodes to the image that was encoded, at its size; what JPEG cannot
// carry (16-bit samples, nothing at all, a quality outside 1 to 100) is
// refused with a clear error rather than sent broken; the PNG kept for full
// frames carries the same picture.
#include "view/Image.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using orvex::cli::copyForView;
using orvex::cli::encodeJpeg;
using orvex::cli::encodePng;
using orvex::cli::GreyImage;
using orvex::cli::previewIsWholeImage;
using orvex::cli::ViewFrame;

namespace {

// A diagonal ramp with a bright square: smooth areas and sharp edges.
std::vector<uint8_t> testPattern(uint32_t width, uint32_t height)
{
    std::vector<uint8_t> pixels(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const bool square = x >= width / 4 && x < width / 2 && y >= height / 4 && y < height / 2;
            pixels[size_t{y} * width + x] = square ? 240 : static_cast<uint8_t>((x + y) / 8 % 200);
        }
    }
    return pixels;
}

struct Decoded {
    int width = 0, height = 0;
    std::vector<uint8_t> grey;
};

Decoded decodeJpeg(const std::string& jpeg)
{
    tjhandle decoder = tjInitDecompress();
    Decoded out;
    int subsampling = 0, colourspace = 0;
    auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
    if (tjDecompressHeader3(decoder, bytes, jpeg.size(), &out.width, &out.height, &subsampling,
                            &colourspace) == 0) {
        out.grey.resize(size_t(out.width) * size_t(out.height));
        if (tjDecompress2(decoder, bytes, jpeg.size(), out.grey.data(), out.width, out.width, out.height,
                          TJPF_GRAY, 0) != 0)
            out.grey.clear();
    }
    tjDestroy(decoder);
    return out;
}

ViewFrame frameOf(uint32_t width, uint32_t height, uint32_t bytesPerPixel)
{
    ViewFrame frame;
    frame.width = width;
    frame.height = height;
    frame.bytesPerPixel = bytesPerPixel;
    frame.pixels = testPattern(width * bytesPerPixel, height);
    return frame;
}

} // namespace

TEST(ViewFrameEncoding, JpegPreviewDecodesToTheEncodedImageAtItsSize)
{
    // A 5-megapixel image as the page asks for it: scaled to the preview.
    const std::vector<uint8_t> camera = testPattern(2448, 2048);
    const ViewFrame preview = copyForView(camera.data(), 2448, 2048, 1, false);
    ASSERT_EQ(489u, preview.width);
    ASSERT_EQ(409u, preview.height);
    const std::string jpeg = encodeJpeg(preview, 80);
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ("\xFF\xD8", jpeg.substr(0, 2));            // start of image
    EXPECT_EQ("\xFF\xD9", jpeg.substr(jpeg.size() - 2)); // end of image
    const Decoded decoded = decodeJpeg(jpeg);
    ASSERT_EQ(489, decoded.width);
    ASSERT_EQ(409, decoded.height);
    ASSERT_EQ(preview.pixels.size(), decoded.grey.size());
    long totalError = 0;
    for (size_t i = 0; i < decoded.grey.size(); ++i)
        totalError += std::abs(int(decoded.grey[i]) - int(preview.pixels[i]));
    // Lossy, but the same picture: a grey level or two off on average.
    EXPECT_LT(double(totalError) / double(decoded.grey.size()), 2.0);
}

// The preview is every n-th pixel of every n-th row, n the smallest whole
// step that fits 640 x 480, as 8 bits: the upper byte of a 16-bit sample.
TEST(ViewFrameEncoding, PreviewSamplesTheImageToFit640By480)
{
    const std::vector<uint8_t> big = testPattern(2448, 2048);
    const ViewFrame fiveMp = copyForView(big.data(), 2448, 2048, 1, false);
    ASSERT_EQ(size_t{489} * 409, fiveMp.pixels.size());
    for (uint32_t y = 0; y < 409; y += 7)
        for (uint32_t x = 0; x < 489; x += 3)
            ASSERT_EQ(big[size_t{5} * y * 2448 + size_t{5} * x], fiveMp.pixels[size_t{y} * 489 + x])
                << x << "," << y;
    EXPECT_EQ(big[size_t{5} * 408 * 2448 + size_t{5} * 488], fiveMp.pixels.back());

    const std::vector<uint8_t> twice = testPattern(1280, 960);
    const ViewFrame halved = copyForView(twice.data(), 1280, 960, 1, false);
    EXPECT_EQ(640u, halved.width);
    EXPECT_EQ(480u, halved.height);

    // 16-bit VGA: no scaling, but 8 bits per pixel for the browser.
    const std::vector<uint8_t> deep = testPattern(2 * 640, 480);
    const ViewFrame vga16 = copyForView(deep.data(), 640, 480, 2, false);
    ASSERT_EQ(1u, vga16.bytesPerPixel);
    ASSERT_EQ(size_t{640} * 480, vga16.pixels.size());
    EXPECT_EQ(deep[1], vga16.pixels[0]);
    EXPECT_EQ(deep[2 * 640 * 480 - 1], vga16.pixels.back());
    // Asked in full, it keeps its depth.
    EXPECT_EQ(2u, copyForView(deep.data(), 640, 480, 2, true).bytesPerPixel);
}

// Sizes that are no whole number of 8 x 8 blocks, down to one pixel: the
// encoder pads the edges itself, the picture keeps its size and its grey.
TEST(ViewFrameEncoding, JpegKeepsSizesThatAreNoWholeBlocks)
{
    for (const auto& [width, height] : {std::pair{1u, 1u}, {7u, 3u}, {9u, 17u}, {641u, 479u}}) {
        ViewFrame flat;
        flat.width = width;
        flat.height = height;
        flat.pixels.assign(size_t{width} * height, 100);
        const Decoded decoded = decodeJpeg(encodeJpeg(flat, 90));
        ASSERT_EQ(int(width), decoded.width);
        ASSERT_EQ(int(height), decoded.height);
        ASSERT_EQ(flat.pixels.size(), decoded.grey.size());
        for (const uint8_t grey : decoded.grey)
            ASSERT_NEAR(100, grey, 1) << width << " x " << height;
    }
    // A picture that differs from row to row and column to column comes out
    // with its rows and columns where they were, not shifted by the padding.
    const ViewFrame odd = frameOf(641, 479, 1);
    const Decoded decoded = decodeJpeg(encodeJpeg(odd, 100));
    ASSERT_EQ(odd.pixels.size(), decoded.grey.size());
    EXPECT_NEAR(240, decoded.grey[size_t{479 / 4 + 2} * 641 + 641 / 4 + 2], 3); // inside the square
    EXPECT_NEAR(0, decoded.grey[size_t{2} * 641 + 2], 3);                       // the ramp's start
    long totalError = 0;
    for (size_t i = 0; i < decoded.grey.size(); ++i)
        totalError += std::abs(int(decoded.grey[i]) - int(odd.pixels[i]));
    EXPECT_LT(double(totalError) / double(decoded.grey.size()), 1.0);
}

TEST(ViewFrameEncoding, JpegQualityTradesSizeForFidelity)
{
    const ViewFrame frame = frameOf(640, 480, 1);
    const std::string low = encodeJpeg(frame, 1);
    const std::string high = encodeJpeg(frame, 100);
    EXPECT_LT(low.size(), high.size());
    EXPECT_EQ(640, decodeJpeg(low).width);
    EXPECT_EQ(480, decodeJpeg(high).height);
}

TEST(ViewFrameEncoding, WhatJpegCannotCarryIsRefused)
{
    EXPECT_THROW(encodeJpeg(frameOf(64, 48, 2), 80), std::runtime_error); // 16-bit samples
    EXPECT_THROW(encodeJpeg(ViewFrame{}, 80), std::runtime_error);        // no image
    ViewFrame shortPixels = frameOf(64, 48, 1);
    shortPixels.pixels.resize(size_t{64} * 47);
    EXPECT_THROW(encodeJpeg(shortPixels, 80), std::runtime_error);
    EXPECT_THROW(encodeJpeg(frameOf(64, 48, 1), 0), std::runtime_error);
    EXPECT_THROW(encodeJpeg(frameOf(64, 48, 1), 101), std::runtime_error);
    EXPECT_NO_THROW(encodeJpeg(frameOf(64, 48, 1), 1));
    EXPECT_NO_THROW(encodeJpeg(frameOf(64, 48, 1), 100));
}

// A camera image within 640 x 480 at 8 bits is its own preview, encoded
// where it lies: the same bytes as from a copy. Anything larger or deeper is
// scaled or cut to 8 bits first.
TEST(ViewFrameEncoding, AnImageThatIsItsOwnPreviewEncodesAsItsCopy)
{
    EXPECT_TRUE(previewIsWholeImage(640, 480, 1));
    EXPECT_TRUE(previewIsWholeImage(1, 1, 1));
    EXPECT_FALSE(previewIsWholeImage(641, 480, 1));
    EXPECT_FALSE(previewIsWholeImage(640, 481, 1));
    EXPECT_FALSE(previewIsWholeImage(320, 240, 2));

    const std::vector<uint8_t> camera = testPattern(640, 480);
    const ViewFrame copy = copyForView(camera.data(), 640, 480, 1, false);
    EXPECT_EQ(encodeJpeg(copy, 70), encodeJpeg(GreyImage{camera.data(), 640, 480, 1}, 70));
    EXPECT_THROW(encodeJpeg(GreyImage{nullptr, 640, 480, 1}, 70), std::runtime_error);
    EXPECT_THROW(encodeJpeg(GreyImage{camera.data(), 320, 480, 2}, 70), std::runtime_error);
    EXPECT_THROW(encodeJpeg(GreyImage{camera.data(), 0, 480, 1}, 70), std::runtime_error);
}

TEST(ViewFrameEncoding, FullFramesStayPngWithTheirDepth)
{
    const ViewFrame frame = frameOf(160, 120, 2);
    const std::string png = encodePng(frame);
    ASSERT_GE(png.size(), 33u);
    EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8), png.substr(0, 8));
    // IHDR: width and height big-endian, then the bit depth.
    auto be32 = [&png](size_t at) {
        return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
               uint32_t(uint8_t(png[at + 2])) << 8 | uint32_t(uint8_t(png[at + 3]));
    };
    EXPECT_EQ(160u, be32(16));
    EXPECT_EQ(120u, be32(20));
    EXPECT_EQ(16, png[24]);
    EXPECT_THROW(encodePng(ViewFrame{}), std::runtime_error);
}
