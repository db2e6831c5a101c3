// A FlyCapture camera's Format_7 geometry over the simulated SDK: size,
// position and region with their refusals, the packet size and the limits a
// region implies, colour codes, and what a failed register write leaves.
#include "SimulatedBuses.h"

#include <orvex/companions/CamGUID.h>
#include <orvex/iidc/Registers.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace orvex::test;
namespace iidc = orvex::iidc;
namespace sim = orvex::sim;

namespace {

// The Grasshopper's Format_7 mode 0: 1624 x 1224, sizes in steps of 8 x 2,
// packets in steps of 4 bytes up to 4096 at S400, the iso speed a camera
// comes up with.
constexpr int kMaxWidth = 1624;
constexpr int kMaxHeight = 1224;
constexpr int kPacketUnit = 4;
constexpr int kPacketMax = 4096;

struct Region {
    int left, top, width, height;
    bool operator==(const Region& o) const
    {
        return left == o.left && top == o.top && width == o.width && height == o.height;
    }
    friend std::ostream& operator<<(std::ostream& out, const Region& r)
    {
        return out << r.left << ',' << r.top << ' ' << r.width << 'x' << r.height;
    }
};

Region cachedRegion(IEEE1394Camera& camera)
{
    Region r{};
    camera.getPos(r.left, r.top);
    camera.getSize(r.width, r.height);
    return r;
}

uint32_t cameraRegister(IEEE1394Camera& camera, uint32_t address)
{
    unsigned long value = 0;
    camera.readRegister(address, value);
    return static_cast<uint32_t>(value);
}

// The region the camera itself holds, from its Format_7 control registers.
Region registerRegion(IEEE1394Camera& camera)
{
    const uint32_t base = iidc::quadletOffsetToAddress(cameraRegister(camera, iidc::format7CsrInquiry(0)));
    const uint32_t position = cameraRegister(camera, base + iidc::kF7ImagePosition);
    const uint32_t size = cameraRegister(camera, base + iidc::kF7ImageSize);
    return {static_cast<int>(iidc::highField(position)), static_cast<int>(iidc::lowField(position)),
            static_cast<int>(iidc::highField(size)), static_cast<int>(iidc::lowField(size))};
}

uint32_t registerPacketSize(IEEE1394Camera& camera)
{
    const uint32_t base = iidc::quadletOffsetToAddress(cameraRegister(camera, iidc::format7CsrInquiry(0)));
    return iidc::highField(cameraRegister(camera, base + iidc::kF7BytePerPacket));
}

class FlyCapGeometryTest : public SimulatedBuses {
protected:
    FlyCapCamera& initialised(uint32_t serialNumber)
    {
        return dynamic_cast<FlyCapCamera&>(listOne(kGras20, serialNumber, true));
    }
    FlyCapCamera& initialised(const sim::CameraConfig& config)
    {
        return dynamic_cast<FlyCapCamera&>(listOne(config, true));
    }
};

} // namespace

// --- size and position -------------------------------------------------------------

TEST_F(FlyCapGeometryTest, SizeIsRefusedBeyondTheSensorFromTheCurrentOffsetAndOffItsSteps)
{
    FlyCapCamera& camera = initialised(0x200);
    camera.setRoi(16, 8, 1600, 1200);
    const Region before{16, 8, 1600, 1200};

    EXPECT_EQ("invalid image width: xImgOffset + requested width would be greater than max allowed img width "
              "(16+1616 > 1624)",
              errorOf([&] { camera.setSize(1616, 1200); }));
    EXPECT_EQ("invalid image height: yImgOffset + requested height would be greater than max allowed img "
              "height (8+1218 > 1224)",
              errorOf([&] { camera.setSize(1600, 1218); }));
    EXPECT_EQ("requested width is not a multiple of unit img width (1604 not a multiple of 8)",
              errorOf([&] { camera.setSize(1604, 1200); }));
    EXPECT_EQ("requested height is not a multiple of unit img height (1199 not a multiple of 2)",
              errorOf([&] { camera.setSize(1600, 1199); }));
    EXPECT_EQ(before, cachedRegion(camera));
    EXPECT_EQ(before, registerRegion(camera)) << "a refused size never reaches the camera";

    // The same width fits once the region is back at the origin.
    camera.setPos(0, 0);
    camera.setSize(1616, 1200);
    EXPECT_EQ((Region{0, 0, 1616, 1200}), cachedRegion(camera));
    EXPECT_EQ((Region{0, 0, 1616, 1200}), registerRegion(camera));
}

TEST_F(FlyCapGeometryTest, SizesAndOffsetsAreCheckedAsUnsigned32BitSumsThatWrap)
{
    FlyCapCamera& camera = initialised(0x201);
    // From the origin a negative width is a huge one.
    EXPECT_EQ("invalid image width: xImgOffset + requested width would be greater than max allowed img width "
              "(0+4294967288 > 1624)",
              errorOf([&] { camera.setSize(-8, 2); }));
    camera.setSize(800, 600);
    EXPECT_EQ("invalid image x offset: requested xImgOffset + imgWidth would be greater than max allowed img "
              "width (4294966472+800 > 1624)",
              errorOf([&] { camera.setPos(-824, 0); }))
        << "the sum wraps to 4294967272";
    // A sum that wraps below the maximum passes, as in the camera's own
    // 32-bit arithmetic: -1 + 600 is 599.
    camera.setPos(0, -1);
    int left = 0, top = 0;
    camera.getPos(left, top);
    EXPECT_EQ(-1, top);
}

TEST_F(FlyCapGeometryTest, PositionIsRefusedBeyondTheSensorButNotHeldToTheOffsetSteps)
{
    FlyCapCamera& camera = initialised(0x202);
    camera.setSize(800, 600);
    EXPECT_EQ("invalid image x offset: requested xImgOffset + imgWidth would be greater than max allowed img "
              "width (825+800 > 1624)",
              errorOf([&] { camera.setPos(825, 0); }));
    EXPECT_EQ(
        "invalid image y offset: requested yImgOffset + imgHeight would be greater than max allowed img "
        "height (625+600 > 1224)",
        errorOf([&] { camera.setPos(0, 625); }));
    EXPECT_EQ((Region{0, 0, 800, 600}), cachedRegion(camera));

    camera.setPos(824, 624);
    EXPECT_EQ((Region{824, 624, 800, 600}), cachedRegion(camera));
    EXPECT_EQ((Region{824, 624, 800, 600}), registerRegion(camera));
    camera.setPos(3, 1);
    EXPECT_EQ((Region{3, 1, 800, 600}), cachedRegion(camera))
        << "the 2 x 2 offset steps are the camera's affair";
}

TEST_F(FlyCapGeometryTest, ARegionWhoseFinalPositionDoesNotFitLeavesTheOriginAndTheNewSize)
{
    FlyCapCamera& camera = initialised(0x203);
    camera.setRoi(32, 16, 640, 480);
    EXPECT_EQ((Region{32, 16, 640, 480}), cachedRegion(camera));
    EXPECT_EQ((Region{32, 16, 640, 480}), registerRegion(camera));

    EXPECT_EQ("invalid image x offset: requested xImgOffset + imgWidth would be greater than max allowed img "
              "width (16+1624 > 1624)",
              errorOf([&] { camera.setRoi(16, 8, kMaxWidth, kMaxHeight); }));
    EXPECT_EQ((Region{0, 0, kMaxWidth, kMaxHeight}), cachedRegion(camera));
    EXPECT_EQ((Region{0, 0, kMaxWidth, kMaxHeight}), registerRegion(camera));

    // A size refused in the middle leaves the region at the origin with the old size.
    camera.setRoi(32, 16, 640, 480);
    EXPECT_EQ("requested width is not a multiple of unit img width (641 not a multiple of 8)",
              errorOf([&] { camera.setRoi(32, 16, 641, 480); }));
    EXPECT_EQ((Region{0, 0, 640, 480}), cachedRegion(camera));
}

// --- failures of the camera ---------------------------------------------------------

TEST_F(FlyCapGeometryTest, AFailedRegisterWriteLeavesEveryCachedSettingAsItWas)
{
    FlyCapCamera& camera = initialised(0x204);
    camera.setRoi(32, 16, 640, 480);
    const int packetMax = camera.getMaxNbBytesPerPacket();

    failNext("flycaptureSetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x204);
    EXPECT_EQ("Error in FlyCapCamera::writeRegister(0xf0f0800c, 0x400020): Bus transaction failed",
              errorOf([&] { camera.setSize(64, 32); }));
    failNext("flycaptureSetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x204);
    EXPECT_EQ("Error in FlyCapCamera::writeRegister(0xf0f08008, 0x0): Bus transaction failed",
              errorOf([&] { camera.setPos(0, 0); }));
    EXPECT_EQ((Region{32, 16, 640, 480}), cachedRegion(camera));
    EXPECT_EQ(packetMax, camera.getMaxNbBytesPerPacket()) << "the packet limits were not read again";

    failNext("flycaptureSetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x204);
    EXPECT_EQ("Error in FlyCapCamera::writeRegister(0xf0f08044, 0x10000000): Bus transaction failed",
              errorOf([&] { camera.setNbBytesPerPacket(4096); }));
    EXPECT_EQ(kPacketMax, camera.getNbBytesPerPacket());
    EXPECT_EQ(static_cast<uint32_t>(kPacketMax), registerPacketSize(camera));

    // A write that fails once is tried again and goes through.
    failNext("flycaptureSetCameraRegister", 1, FLYCAPTURE_BUS_ERROR, 0x204);
    camera.setNbBytesPerPacket(4096);
    EXPECT_EQ(4096, camera.getNbBytesPerPacket());
}

TEST_F(FlyCapGeometryTest, PacketLimitsThatCannotBeReadAfterASizeChangeFailNamingTheCallWithTheSizeKept)
{
    FlyCapCamera& camera = initialised(0x205);
    failNext("flycaptureGetCustomImagePacketInfo", 2, FLYCAPTURE_FAILED, 0x205);
    EXPECT_EQ("cam guid #0x" + CamGUID(0x205, 0).to_string() +
                  "; flycaptureGetCustomImagePacketInfo(_fcContext, 0, static_cast<unsigned long>(_xImgSz), "
                  "static_cast<unsigned long>(_yImgSz), _fcPixFormat, &_fcPacketInfo): Function failed",
              errorOf([&] { camera.setSize(64, 32); }));
    EXPECT_EQ((Region{0, 0, 64, 32}), cachedRegion(camera)) << "the camera holds the size already";
    EXPECT_EQ(kPacketMax, camera.getMaxNbBytesPerPacket()) << "the limits of the earlier size";
}

// --- packets ----------------------------------------------------------------------------

TEST_F(FlyCapGeometryTest, PacketSizeMustLieWithinTheLimitsOnTheirStep)
{
    FlyCapCamera& camera = initialised(0x206);
    ASSERT_EQ(kPacketUnit, camera.getMinNbBytesPerPacket());
    ASSERT_EQ(kPacketUnit, camera.getUnitNbBytesPerPacket());
    ASSERT_EQ(kPacketMax, camera.getMaxNbBytesPerPacket());

    camera.setNbBytesPerPacket(kPacketUnit);
    EXPECT_EQ(kPacketUnit, camera.getNbBytesPerPacket());
    camera.setNbBytesPerPacket(kPacketMax);
    EXPECT_EQ(kPacketMax, camera.getNbBytesPerPacket());
    EXPECT_EQ(static_cast<uint32_t>(kPacketMax), registerPacketSize(camera));

    EXPECT_EQ("requested packet size is greater than max allowed (4100 > 4096)",
              errorOf([&] { camera.setNbBytesPerPacket(kPacketMax + kPacketUnit); }));
    EXPECT_EQ("requested packet size is not a multiple of unit packet size allowed (5 not a multiple of 4)",
              errorOf([&] { camera.setNbBytesPerPacket(kPacketUnit + 1); }));
    EXPECT_EQ("requested packet size is lower than min allowed (0 < 4)",
              errorOf([&] { camera.setNbBytesPerPacket(0); }));
    EXPECT_EQ("requested packet size is lower than min allowed (-4 < 4)",
              errorOf([&] { camera.setNbBytesPerPacket(-4); }))
        << "compared signed: a negative size is small, not huge";
    EXPECT_EQ(kPacketMax, camera.getNbBytesPerPacket());
}

TEST_F(FlyCapGeometryTest, ACameraReportingAZeroPacketUnitHasOnlyItsBoundsChecked)
{
    sim::CameraConfig config = modelConfig(kGras20, 0x207);
    config.packetUnit = 0;
    FlyCapCamera& camera = initialised(config);
    ASSERT_EQ(0, camera.getUnitNbBytesPerPacket());
    camera.setNbBytesPerPacket(4095);
    EXPECT_EQ(4095, camera.getNbBytesPerPacket());
    EXPECT_EQ("requested packet size is lower than min allowed (-1 < 0)",
              errorOf([&] { camera.setNbBytesPerPacket(-1); }));
}

TEST_F(FlyCapGeometryTest, ShrinkingTheRegionLowersThePacketLimitAndASmallerPacketLowersTheFrameRateRange)
{
    FlyCapCamera& camera = initialised(0x209);
    ASSERT_TRUE(camera.isFrameRateFeatureAvailable());
    const double fullFrameMax = camera.getFrameRateMax();

    // Smaller packets: more cycles per frame, fewer frames per second.
    camera.setNbBytesPerPacket(2048);
    const double slowPacketMax = camera.getFrameRateMax();
    EXPECT_LT(slowPacketMax, fullFrameMax);
    EXPECT_NEAR(1.0 / (971 * 125e-6), slowPacketMax, 1.0 / 16) << "1624 x 1224 bytes in 2048-byte packets";

    // A region smaller than one packet holds the packet limit to its size;
    // the packet size set before stays until it is set again.
    camera.setRoi(0, 0, 64, 16);
    EXPECT_EQ(1024, camera.getMaxNbBytesPerPacket());
    EXPECT_EQ(2048, camera.getNbBytesPerPacket());
    EXPECT_EQ("requested packet size is greater than max allowed (2048 > 1024)",
              errorOf([&] { camera.setNbBytesPerPacket(2048); }));

    camera.setNbBytesPerPacket(1024);
    EXPECT_GT(camera.getFrameRateMax(), fullFrameMax) << "one packet per frame: the readout limits the rate";
    camera.setNbBytesPerPacket(4);
    EXPECT_LT(camera.getFrameRateMax(), 32.0) << "256 packets per frame";
}

TEST_F(FlyCapGeometryTest, ASizeChangeReRangesTheShutterAndRefusesACachedShutterItNoLongerHolds)
{
    FlyCapCamera& camera = initialised(0x20E);
    camera.setShutter(30000);
    // Full size at S400: 486 packets a frame, 16.4375 fps, a 60.84 ms period
    // (60820 us in the shutter's 20 us steps).
    ASSERT_EQ(60820ul, camera.getShutterMax()) << "one frame period";
    camera.setRoi(0, 0, 64, 16);
    camera.setNbBytesPerPacket(1024);
    camera.setFrameRate(200);
    EXPECT_EQ(60820ul, camera.getShutterMax()) << "a new frame rate alone leaves the shutter range";

    // The camera now holds exposures to 5 ms; the size set again reads that.
    EXPECT_EQ("shutter value greater than max shutter allowed (30000 > 5000)",
              errorOf([&] { camera.setSize(64, 8); }));
    EXPECT_EQ((Region{0, 0, 64, 8}), cachedRegion(camera)) << "the size stays set";
    EXPECT_EQ(5000ul, camera.getShutterMax());
    EXPECT_EQ(30000ul, camera.getShutter());
}

TEST_F(FlyCapGeometryTest, BytesPerFrameCountTwoBytesPerPixelIn16BitMonoPlusTheAllowance)
{
    FlyCapCamera& camera = initialised(0x20A);
    camera.setRoi(0, 0, 640, 480);
    unsigned long nbBytes = 0, second = 1;
    camera.getNbBytesPerFrame(nbBytes, second);
    EXPECT_EQ(307200ul + 8192, nbBytes);
    EXPECT_EQ(0ul, second);
    camera.setColorCode(1);
    camera.getNbBytesPerFrame(nbBytes, second);
    EXPECT_EQ(622592ul, nbBytes);
}

// --- colour codes and pixel formats -------------------------------------------------------

TEST_F(FlyCapGeometryTest, ColourCodeOneIs16BitMonoAndRefreshesThePacketLimits)
{
    FlyCapCamera& camera = initialised(0x20B);
    camera.setRoi(0, 0, 64, 16);
    ASSERT_EQ(1024, camera.getMaxNbBytesPerPacket());
    EXPECT_EQ(0ul, camera.getColorCode());
    EXPECT_TRUE(camera.isColorCodeSupported(0));
    EXPECT_TRUE(camera.isColorCodeSupported(1));
    EXPECT_FALSE(camera.isColorCodeSupported(2));
    EXPECT_FALSE(camera.isColorCodeSupported(5)) << "IIDC's 16-bit mono code means nothing here";

    camera.setColorCode(1);
    EXPECT_EQ(pf_yMono16, camera.getPixelFormat());
    EXPECT_EQ(1ul, camera.getColorCode());
    EXPECT_EQ(2048, camera.getMaxNbBytesPerPacket());
    camera.setColorCode(0);
    EXPECT_EQ(pf_yMono, camera.getPixelFormat());
    EXPECT_EQ(1024, camera.getMaxNbBytesPerPacket());

    EXPECT_EQ("requested color code is not supported by the camera",
              errorOf([&] { camera.setColorCode(2); }));
    EXPECT_EQ("support for this pixel format is not implemented in this class yet",
              errorOf([&] { camera.isPixelFormatSupported(pf_rgb24); }));
    EXPECT_EQ(0ul, camera.getColorCode());
}

TEST_F(FlyCapGeometryTest, ACameraWithout16BitMonoRefusesColourCodeOne)
{
    sim::CameraConfig config = modelConfig(kGras20, 0x20C);
    config.mono16 = false;
    FlyCapCamera& camera = initialised(config);
    EXPECT_FALSE(camera.isColorCodeSupported(1));
    EXPECT_EQ("requested color code is not supported by the camera",
              errorOf([&] { camera.setColorCode(1); }));
    EXPECT_EQ(pf_yMono, camera.getPixelFormat());
}

// The transfer was started with its packet size: while it runs only the
// packet size is refused, before its value is looked at; size and position
// reach the camera's registers at once.
TEST_F(FlyCapGeometryTest, WhileAcquiringOnlyThePacketSizeIsRefusedBeforeItsValueIsChecked)
{
    FlyCapCamera& camera = initialised(0x20E);
    camera.startAcquisition();
    const std::string acquiring = "cannot be invoked while camera is acquiring";
    EXPECT_EQ(acquiring, errorOf([&] { camera.setNbBytesPerPacket(kPacketMax); }));
    EXPECT_EQ(acquiring, errorOf([&] { camera.setNbBytesPerPacket(kPacketMax + kPacketUnit); }));
    EXPECT_EQ(acquiring, errorOf([&] { camera.setNbBytesPerPacket(kPacketUnit + 1); }));
    EXPECT_EQ(uint32_t{kPacketMax}, registerPacketSize(camera));
    EXPECT_EQ(kPacketMax, camera.getNbBytesPerPacket());

    camera.setSize(640, 480);
    camera.setPos(16, 8);
    EXPECT_EQ((Region{16, 8, 640, 480}), registerRegion(camera));
    EXPECT_EQ((Region{16, 8, 640, 480}), cachedRegion(camera));
    camera.stopAcquisition();
    camera.setNbBytesPerPacket(kPacketUnit);
    EXPECT_EQ(uint32_t{kPacketUnit}, registerPacketSize(camera));
}

TEST_F(FlyCapGeometryTest, GeometryNeedsInitExceptThePacketLimits)
{
    auto& camera = dynamic_cast<FlyCapCamera&>(listOne(kGras20, 0x20D, false));
    const std::string initFirst = "\"init\" method must be called before";
    EXPECT_EQ(initFirst, errorOf([&] { camera.setSize(640, 480); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.setPos(0, 0); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.setRoi(0, 0, 640, 480); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.setNbBytesPerPacket(4); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.isColorCodeSupported(2); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.setColorCode(0); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.getColorCode(); }));
    int x = 0, y = 0;
    EXPECT_EQ(initFirst, errorOf([&] { camera.getSize(x, y); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.getUnitSize(x, y); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.getMaxSize(x, y); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.getPos(x, y); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.getUnitPos(x, y); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.getNbBytesPerPacket(); }));
    unsigned long nbBytes = 0, second = 0;
    EXPECT_EQ(initFirst, errorOf([&] { camera.getNbBytesPerFrame(nbBytes, second); }));
    EXPECT_EQ("", errorOf([&] { camera.getMaxNbBytesPerPacket(); }));
    EXPECT_EQ("inter packet delay not supported by the camera",
              errorOf([&] { camera.getInterPacketDelay(); }));
}
