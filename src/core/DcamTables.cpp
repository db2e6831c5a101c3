// The IIDC (DCAM) fixed video modes: the tables between format, mode and
// frame-rate indexes and the library's resolutions, pixel formats and rates.
#include <orvex/DcamTables.h>

#include <array>
#include <cstddef>

namespace {

constexpr unsigned long kNbFixedFormats = 3;
constexpr unsigned long kNbModesPerFormat = 6;
constexpr unsigned long kScalableFormat = 7;
constexpr unsigned long kScalableMode = 0;

struct FixedMode {
    IEEECameraResolution resolution;
    IEEECameraPixelFormat pixelFormat;
};

constexpr FixedMode kFixedModes[kNbFixedFormats][kNbModesPerFormat] = {
    {{res_160x120, pf_yuv444},
     {res_320x240, pf_yuv422},
     {res_640x480, pf_yuv411},
     {res_640x480, pf_yuv422},
     {res_640x480, pf_rgb24},
     {res_640x480, pf_yMono}},
    {{res_800x600, pf_yuv422},
     {res_800x600, pf_rgb24},
     {res_800x600, pf_yMono},
     {res_1024x768, pf_yuv422},
     {res_1024x768, pf_rgb24},
     {res_1024x768, pf_yMono}},
    {{res_1280x960, pf_yuv422},
     {res_1280x960, pf_rgb24},
     {res_1280x960, pf_yMono},
     {res_1600x1200, pf_yuv422},
     {res_1600x1200, pf_rgb24},
     {res_1600x1200, pf_yMono}},
};

// Inclusive range of accepted frame-rate indexes.
struct RateRange {
    unsigned long first;
    unsigned long last;
    bool accepts(unsigned long fpsIdx) const { return first <= fpsIdx && fpsIdx <= last; }
};

// The three users of the frame-rate table keep their own copies; they
// disagree on four rows of format 0, and callers rely on each one's answers.
struct RateColumns {
    RateRange cfgValid;
    RateRange fpsFromIdx;
    RateRange idxFromFps;
};

constexpr RateColumns kRates[kNbFixedFormats][kNbModesPerFormat] = {
    {{{2, 4}, {2, 4}, {2, 4}},
     {{1, 4}, {0, 4}, {0, 4}},
     {{1, 4}, {1, 4}, {0, 4}},
     {{1, 4}, {1, 4}, {0, 4}},
     {{1, 4}, {1, 4}, {1, 4}},
     {{1, 5}, {0, 5}, {0, 5}}},
    {{{1, 4}, {1, 4}, {1, 4}},
     {{2, 3}, {2, 3}, {2, 3}},
     {{2, 5}, {2, 5}, {2, 5}},
     {{0, 3}, {0, 3}, {0, 3}},
     {{0, 2}, {0, 2}, {0, 2}},
     {{0, 4}, {0, 4}, {0, 4}}},
    {{{0, 2}, {0, 2}, {0, 2}},
     {{0, 2}, {0, 2}, {0, 2}},
     {{0, 3}, {0, 3}, {0, 3}},
     {{0, 2}, {0, 2}, {0, 2}},
     {{0, 1}, {0, 1}, {0, 1}},
     {{0, 3}, {0, 3}, {0, 3}}},
};

struct ColorCode {
    unsigned long code;
    IEEECameraPixelFormat pixelFormat;
};

constexpr ColorCode kColorCodes[] = {
    {0, pf_yMono}, {1, pf_yuv411}, {2, pf_yuv422}, {3, pf_yuv444}, {5, pf_yMono16},
};

struct ImageSize {
    IEEECameraResolution resolution;
    int width;
    int height;
};

constexpr ImageSize kImageSizes[] = {
    {res_160x120, 160, 120}, {res_320x240, 320, 240},   {res_640x480, 640, 480},
    {res_800x600, 800, 600}, {res_1024x768, 1024, 768}, {res_1600x1200, 1600, 1200},
};

struct FrameSize {
    IEEECameraResolution resolution;
    IEEECameraPixelFormat pixelFormat;
    unsigned long nbBytes;
};

// Mono rows are width x height x 8, and 1600x1200 follows them.
constexpr FrameSize kFrameSizes[] = {
    {res_160x120, pf_yuv444, 230400},    {res_320x240, pf_yuv422, 614400},  {res_640x480, pf_yMono, 2457600},
    {res_800x600, pf_yMono, 3840000},    {res_1024x768, pf_yMono, 6291456}, {res_1280x960, pf_yMono, 9830400},
    {res_1600x1200, pf_yMono, 15360000},
};

// Texts indexed by enumeration value + 1, so that -1 ("none") comes first.
constexpr const char* kResolutionTexts[] = {"none",    "160x120",  "320x240",  "640x480",
                                            "800x600", "1024x768", "1280x960", "1600x1200"};
constexpr const char* kPixelFormatTexts[] = {"none",   "Y mono",     "YUV 411",    "YUV 422", "YUV 444",
                                             "RGB 24", "RGB 16 555", "RGB 16 565", "RGB 32"};
constexpr const char* kFrameRateTexts[] = {"none", "1.875", "3.75", "7.5", "15", "30", "60", "120"};

bool isFixedFormatMode(unsigned long format, unsigned long mode)
{
    return format < kNbFixedFormats && mode < kNbModesPerFormat;
}

template <std::size_t N> bool textFromValue(const char* const (&texts)[N], int value, std::string& text)
{
    const long slot = static_cast<long>(value) + 1;
    if (slot < 0 || slot >= static_cast<long>(N)) {
        return false;
    }
    text = texts[slot];
    return true;
}

} // namespace

bool getModeFromIdx(unsigned long format, unsigned long mode, IEEECameraResolution& resolution,
                    IEEECameraPixelFormat& pixelFormat)
{
    if (!isFixedFormatMode(format, mode)) {
        return false;
    }
    resolution = kFixedModes[format][mode].resolution;
    pixelFormat = kFixedModes[format][mode].pixelFormat;
    return true;
}

bool getIdxFromMode(IEEECameraResolution resolution, IEEECameraPixelFormat pixelFormat, unsigned long& format,
                    unsigned long& mode)
{
    for (unsigned long f = 0; f < kNbFixedFormats; ++f) {
        for (unsigned long m = 0; m < kNbModesPerFormat; ++m) {
            if (kFixedModes[f][m].resolution == resolution && kFixedModes[f][m].pixelFormat == pixelFormat) {
                format = f;
                mode = m;
                return true;
            }
        }
    }
    return false;
}

bool isColorCodeValid(unsigned long colorCode)
{
    for (const ColorCode& entry : kColorCodes) {
        if (entry.code == colorCode) {
            return true;
        }
    }
    return false;
}

bool getColorCodeFromIdx(unsigned long colorCode, IEEECameraPixelFormat& pixelFormat)
{
    for (const ColorCode& entry : kColorCodes) {
        if (entry.code == colorCode) {
            pixelFormat = entry.pixelFormat;
            return true;
        }
    }
    return false;
}

bool getIdxFromColorCode(IEEECameraPixelFormat pixelFormat, unsigned long& colorCode)
{
    for (const ColorCode& entry : kColorCodes) {
        if (entry.pixelFormat == pixelFormat) {
            colorCode = entry.code;
            return true;
        }
    }
    return false;
}

bool getFpsFromIdx(unsigned long format, unsigned long mode, unsigned long fpsIdx,
                   IEEECameraResolution& resolution, IEEECameraPixelFormat& pixelFormat, IEEECameraFPS& fps)
{
    if (!isFixedFormatMode(format, mode) || !kRates[format][mode].fpsFromIdx.accepts(fpsIdx)) {
        return false;
    }
    resolution = kFixedModes[format][mode].resolution;
    pixelFormat = kFixedModes[format][mode].pixelFormat;
    fps = static_cast<IEEECameraFPS>(fpsIdx);
    return true;
}

bool getIdxFromFps(IEEECameraResolution resolution, IEEECameraPixelFormat pixelFormat, IEEECameraFPS fps,
                   unsigned long& format, unsigned long& mode, unsigned long& fpsIdx)
{
    unsigned long f = 0;
    unsigned long m = 0;
    if (fps < 0 || !getIdxFromMode(resolution, pixelFormat, f, m)) {
        return false;
    }
    const auto idx = static_cast<unsigned long>(fps);
    if (!kRates[f][m].idxFromFps.accepts(idx)) {
        return false;
    }
    format = f;
    mode = m;
    fpsIdx = idx;
    return true;
}

bool getImgSz(IEEECameraResolution resolution, int& width, int& height)
{
    for (const ImageSize& entry : kImageSizes) {
        if (entry.resolution == resolution) {
            width = entry.width;
            height = entry.height;
            return true;
        }
    }
    return false;
}

bool getStringFromResolution(IEEECameraResolution resolution, std::string& text)
{
    return textFromValue(kResolutionTexts, resolution, text);
}

bool getStringFromPixelFormat(IEEECameraPixelFormat pixelFormat, std::string& text)
{
    return textFromValue(kPixelFormatTexts, pixelFormat, text);
}

bool getStringFromFrameRate(IEEECameraFPS fps, std::string& text)
{
    return textFromValue(kFrameRateTexts, fps, text);
}

bool isVideoFormatValid(unsigned long format)
{
    return format < kNbFixedFormats || format == kScalableFormat;
}

bool isVideoModeValid(unsigned long format, unsigned long mode)
{
    return isFixedFormatMode(format, mode) || (format == kScalableFormat && mode == kScalableMode);
}

bool isVideoCfgValid(unsigned long format, unsigned long mode, unsigned long fpsIdx)
{
    return isFixedFormatMode(format, mode) && kRates[format][mode].cfgValid.accepts(fpsIdx);
}

bool getNbBytesPerFrame(IEEECameraResolution resolution, IEEECameraPixelFormat pixelFormat,
                        unsigned long& nbBytes)
{
    for (const FrameSize& entry : kFrameSizes) {
        if (entry.resolution == resolution && entry.pixelFormat == pixelFormat) {
            nbBytes = entry.nbBytes;
            return true;
        }
    }
    return false;
}
