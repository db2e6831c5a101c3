// The DCAM tables: translations in both directions, the frame-rate columns
// that disagree in format 0, and the lookups that must leave their outputs
// alone when they find nothing.
#include <orvex/DcamTables.h>

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DcamTables, EveryFixedModeTranslatesBackToItsIndexes)
{
    int found = 0;
    for (unsigned long format = 0; format <= 2; ++format) {
        for (unsigned long mode = 0; mode <= 5; ++mode) {
            IEEECameraResolution resolution = res_none;
            IEEECameraPixelFormat pixelFormat = pf_none;
            ASSERT_TRUE(getModeFromIdx(format, mode, resolution, pixelFormat)) << format << "/" << mode;
            unsigned long backFormat = 99;
            unsigned long backMode = 99;
            ASSERT_TRUE(getIdxFromMode(resolution, pixelFormat, backFormat, backMode));
            EXPECT_EQ(format, backFormat);
            EXPECT_EQ(mode, backMode);
            ++found;
        }
    }
    EXPECT_EQ(18, found);

    // Two rows as the IIDC register conventions publish them.
    IEEECameraResolution resolution = res_none;
    IEEECameraPixelFormat pixelFormat = pf_none;
    ASSERT_TRUE(getModeFromIdx(0, 2, resolution, pixelFormat));
    EXPECT_EQ(res_640x480, resolution);
    EXPECT_EQ(pf_yuv411, pixelFormat);
    ASSERT_TRUE(getModeFromIdx(1, 4, resolution, pixelFormat));
    EXPECT_EQ(res_1024x768, resolution);
    EXPECT_EQ(pf_rgb24, pixelFormat);
}

TEST(DcamTables, FixedModeLookupsRefuseWhatTheTableLacks)
{
    IEEECameraResolution resolution = res_160x120;
    IEEECameraPixelFormat pixelFormat = pf_rgb32;
    EXPECT_TRUE(isVideoFormatValid(7));
    EXPECT_FALSE(getModeFromIdx(7, 0, resolution, pixelFormat));
    EXPECT_FALSE(getModeFromIdx(0, 6, resolution, pixelFormat));
    EXPECT_FALSE(getModeFromIdx(3, 0, resolution, pixelFormat));
    EXPECT_EQ(res_160x120, resolution);
    EXPECT_EQ(pf_rgb32, pixelFormat);

    unsigned long format = 42;
    unsigned long mode = 43;
    EXPECT_FALSE(getIdxFromMode(res_160x120, pf_yMono, format, mode));
    EXPECT_FALSE(getIdxFromMode(res_none, pf_none, format, mode));
    EXPECT_EQ(42u, format);
    EXPECT_EQ(43u, mode);

    unsigned long nbBytes = 7;
    EXPECT_FALSE(getNbBytesPerFrame(res_640x480, pf_yuv422, nbBytes));
    EXPECT_EQ(7u, nbBytes);
}

TEST(DcamTables, FrameRateColumnsDisagreeInFormatZero)
{
    // Format 0 mode 1, rate 0: only the index-to-rate direction accepts it.
    EXPECT_FALSE(isVideoCfgValid(0, 1, 0));
    IEEECameraResolution resolution = res_none;
    IEEECameraPixelFormat pixelFormat = pf_none;
    IEEECameraFPS fps = fps_none;
    ASSERT_TRUE(getFpsFromIdx(0, 1, 0, resolution, pixelFormat, fps));
    EXPECT_EQ(res_320x240, resolution);
    EXPECT_EQ(pf_yuv422, pixelFormat);
    EXPECT_EQ(fps_1_875, fps);

    // Format 0 mode 2, rate 0: only the rate-to-index direction accepts it.
    EXPECT_FALSE(isVideoCfgValid(0, 2, 0));
    EXPECT_FALSE(getFpsFromIdx(0, 2, 0, resolution, pixelFormat, fps));
    unsigned long format = 9;
    unsigned long mode = 9;
    unsigned long fpsIdx = 9;
    ASSERT_TRUE(getIdxFromFps(res_640x480, pf_yuv411, fps_1_875, format, mode, fpsIdx));
    EXPECT_EQ(0u, format);
    EXPECT_EQ(2u, mode);
    EXPECT_EQ(0u, fpsIdx);

    // Format 0 mode 5: 60 fps everywhere, 1.875 fps only in the translations.
    EXPECT_TRUE(isVideoCfgValid(0, 5, 5));
    EXPECT_FALSE(isVideoCfgValid(0, 5, 0));
    EXPECT_TRUE(getFpsFromIdx(0, 5, 0, resolution, pixelFormat, fps));
    EXPECT_TRUE(getIdxFromFps(res_640x480, pf_yMono, fps_1_875, format, mode, fpsIdx));
}

TEST(DcamTables, FrameRatesOutsideTheirRangeAreRefused)
{
    IEEECameraResolution resolution = res_none;
    IEEECameraPixelFormat pixelFormat = pf_none;
    IEEECameraFPS fps = fps_none;
    EXPECT_FALSE(getFpsFromIdx(1, 1, 4, resolution, pixelFormat, fps)); // 800x600 RGB: 2 to 3
    EXPECT_FALSE(getFpsFromIdx(0, 0, 6, resolution, pixelFormat, fps));
    EXPECT_EQ(fps_none, fps);
    EXPECT_FALSE(isVideoCfgValid(7, 0, 0));
    EXPECT_FALSE(isVideoCfgValid(2, 4, 2));
    EXPECT_TRUE(isVideoCfgValid(2, 4, 1));

    unsigned long format = 0;
    unsigned long mode = 0;
    unsigned long fpsIdx = 0;
    EXPECT_FALSE(getIdxFromFps(res_640x480, pf_yMono, fps_120, format, mode, fpsIdx));
    EXPECT_FALSE(getIdxFromFps(res_640x480, pf_yMono, fps_none, format, mode, fpsIdx));
    EXPECT_FALSE(getIdxFromFps(res_800x600, pf_rgb24, fps_30, format, mode, fpsIdx));
}

TEST(DcamTables, VideoFormatsAndModes)
{
    for (unsigned long format : {0ul, 1ul, 2ul, 7ul}) {
        EXPECT_TRUE(isVideoFormatValid(format)) << format;
    }
    for (unsigned long format : {3ul, 6ul, 8ul}) {
        EXPECT_FALSE(isVideoFormatValid(format)) << format;
    }
    EXPECT_TRUE(isVideoModeValid(2, 5));
    EXPECT_FALSE(isVideoModeValid(2, 6));
    EXPECT_TRUE(isVideoModeValid(7, 0));
    EXPECT_FALSE(isVideoModeValid(7, 1));
    EXPECT_FALSE(isVideoModeValid(3, 0));
}

TEST(DcamTables, ColourCodesSkipFour)
{
    IEEECameraPixelFormat pixelFormat = pf_none;
    EXPECT_FALSE(isColorCodeValid(4));
    EXPECT_FALSE(getColorCodeFromIdx(4, pixelFormat));
    EXPECT_FALSE(getColorCodeFromIdx(6, pixelFormat));
    EXPECT_EQ(pf_none, pixelFormat);
    ASSERT_TRUE(getColorCodeFromIdx(5, pixelFormat));
    EXPECT_EQ(pf_yMono16, pixelFormat);

    unsigned long code = 99;
    ASSERT_TRUE(getIdxFromColorCode(pf_yuv444, code));
    EXPECT_EQ(3u, code);
    EXPECT_FALSE(getIdxFromColorCode(pf_rgb24, code));
    EXPECT_EQ(3u, code);
}

TEST(DcamTables, ImageAndFrameSizes)
{
    int width = 1;
    int height = 2;
    EXPECT_FALSE(getImgSz(res_1280x960, width, height));
    EXPECT_EQ(1, width);
    ASSERT_TRUE(getImgSz(res_1600x1200, width, height));
    EXPECT_EQ(1600, width);
    EXPECT_EQ(1200, height);

    unsigned long nbBytes = 0;
    ASSERT_TRUE(getNbBytesPerFrame(res_1280x960, pf_yMono, nbBytes));
    EXPECT_EQ(9830400u, nbBytes);
    ASSERT_TRUE(getNbBytesPerFrame(res_160x120, pf_yuv444, nbBytes));
    EXPECT_EQ(230400u, nbBytes);
    EXPECT_TRUE(getNbBytesPerFrame(res_1600x1200, pf_yMono, nbBytes));
}

TEST(DcamTables, DisplayTexts)
{
    std::string text = "unchanged";
    EXPECT_FALSE(getStringFromPixelFormat(pf_yMono16, text));
    EXPECT_EQ("unchanged", text);
    EXPECT_FALSE(getStringFromResolution(static_cast<IEEECameraResolution>(7), text));
    EXPECT_FALSE(getStringFromFrameRate(static_cast<IEEECameraFPS>(-2), text));
    EXPECT_EQ("unchanged", text);

    ASSERT_TRUE(getStringFromPixelFormat(pf_rgb16_565, text));
    EXPECT_EQ("RGB 16 565", text);
    ASSERT_TRUE(getStringFromFrameRate(fps_1_875, text));
    EXPECT_EQ("1.875", text);
}

} // namespace
