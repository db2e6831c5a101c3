// What the viewer spends of CPU per displayed frame: the preview's copy out
// of the camera's image and its encoding, PNG (the fallback) against JPEG
// (the live format), at VGA and at 5 megapixels, in the same run. Rounds
// alternate the two encoders so that both see the same machine; the median
// round is printed. Two kinds of picture: the simulated camera's gradient
// (what the viewer tests show) and the same with sensor-like noise (what a
// real camera sends, and the harder case for both encoders).
//
//     view_frame_bench [FRAMES_PER_ROUND] [ROUNDS] [JPEG_QUALITY]
#include "support/ProcessFigures.h"
#include "view/Image.h"

#include <orvex/sim/FramePattern.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using orvex::bench::processCpuSeconds;
using orvex::cli::copyForView;
using orvex::cli::ViewFrame;

struct Picture {
    const char* name;
    uint32_t width, height;
    bool noisy;
};

std::vector<uint8_t> makePicture(const Picture& picture)
{
    orvex::sim::FrameGeometry geometry;
    geometry.width = picture.width;
    geometry.height = picture.height;
    std::vector<uint8_t> pixels(geometry.imageBytes());
    orvex::sim::pattern::fill(pixels.data(), geometry);
    if (picture.noisy) {
        uint32_t state = 12345;
        for (uint8_t& pixel : pixels) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>(state >> 28) - 8; // -8 to +7 grey levels
            pixel = static_cast<uint8_t>(std::clamp(pixel + noise, 0, 255));
        }
    }
    return pixels;
}

struct Figures {
    double msPerFrame;
    size_t bytes;
};

// CPU of `frames` displayed frames: copy the preview, encode it.
Figures round(const std::vector<uint8_t>& pixels, const Picture& picture, int frames,
              const std::function<std::string(const ViewFrame&)>& encode)
{
    size_t bytes = 0;
    const double start = processCpuSeconds();
    for (int i = 0; i < frames; ++i) {
        const ViewFrame preview = copyForView(pixels.data(), picture.width, picture.height, 1, false);
        bytes = encode(preview).size();
    }
    return {1000.0 * (processCpuSeconds() - start) / frames, bytes};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int positive(const char* text, int fallback, int highest)
{
    if (text == nullptr)
        return fallback;
    const int value = std::atoi(text);
    return value >= 1 && value <= highest ? value : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = positive(argc > 1 ? argv[1] : nullptr, 100, 100000);
    const int rounds = positive(argc > 2 ? argv[2] : nullptr, 5, 1000);
    const int quality = positive(argc > 3 ? argv[3] : nullptr, orvex::cli::kJpegQualityDefault, 100);
    const Picture pictures[] = {
        {"VGA gradient", 640, 480, false},
        {"VGA noisy", 640, 480, true},
        {"5 MP gradient", 2448, 2048, false},
        {"5 MP noisy", 2448, 2048, true},
    };
    std::printf("CPU per displayed frame (preview copy + encoding), median of %d rounds of %d frames, "
                "JPEG quality %d\n",
                rounds, frames, quality);
    std::printf("%-14s %9s %10s %9s %10s %11s\n", "picture", "PNG ms", "PNG bytes", "JPEG ms", "JPEG bytes",
                "PNG / JPEG");
    for (const Picture& picture : pictures) {
        const std::vector<uint8_t> pixels = makePicture(picture);
        const auto jpeg = [quality](const ViewFrame& frame) {
            return orvex::cli::encodeJpeg(frame, quality);
        };
        std::vector<double> pngMs, jpegMs;
        Figures png{}, jpg{};
        for (int r = 0; r < rounds; ++r) {
            png = round(pixels, picture, frames, &orvex::cli::encodePng);
            jpg = round(pixels, picture, frames, jpeg);
            pngMs.push_back(png.msPerFrame);
            jpegMs.push_back(jpg.msPerFrame);
        }
        const double pngMedian = median(pngMs), jpegMedian = median(jpegMs);
        std::printf("%-14s %9.3f %10zu %9.3f %10zu %10.1fx\n", picture.name, pngMedian, png.bytes, jpegMedian,
                    jpg.bytes, pngMedian / jpegMedian);
    }
    return 0;
}
