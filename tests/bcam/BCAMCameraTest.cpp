// The BCAM camera over the simulated driver: init and its shutter offsets,
// identity, every configuration refusal with its text, the region write
// orders, and the identifier decoding of device names.
#include "bcam/BCAMFixture.h"
#include "bcam/DeviceIdentity.h"
#include "support/LogCapture.h"

#include <orvex/OrvexError.h>

#include <functional>
#include <set>

namespace orvex::bcam::test {
namespace {

using orvex::test::errorOf;

// The A312f's widest region whose width is a multiple of its width unit.
constexpr int kFittingWidth = 780;

// --- init, firmware and identity ------------------------------------------------------

TEST_F(BCAMServerTest, resetInitialisesBothModelsWithTheirShutterOffsets)
{
    IEEE1394VideoServer& server = serverWithCameras();
    ASSERT_EQ(2, server.getNbCameras());

    IEEE1394Camera& a102f = cameraOf(kA102fSerial);
    EXPECT_EQ(camm_A102f, a102f.getModel());
    EXPECT_TRUE(a102f.isInitialized());
    EXPECT_DOUBLE_EQ(2.04e-05, a102f.getShutterOffset()); // firmware 30
    EXPECT_EQ(30UL, a102f.getFirmwareVersion());

    IEEE1394Camera& a312f = cameraOf(kA312fSerial);
    EXPECT_EQ(camm_A312f, a312f.getModel());
    EXPECT_EQ(0.0, a312f.getShutterOffset());
    EXPECT_EQ("Basler", a312f.getVendorName());
    EXPECT_EQ("A312f", a312f.getModelName());
    EXPECT_EQ("unknown", a312f.getOwningBusId());
    std::string version;
    EXPECT_TRUE(a312f.getCameraExtendedVersionInfo(version));
    EXPECT_EQ("A312f ID=200 FW=32 v1.0.32.0", version);
    EXPECT_TRUE(a312f.testCommunication());

    // init leaves Format_7, 8-bit mono, the trigger off in mode 0.
    EXPECT_EQ(pf_yMono, a312f.getPixelFormat());
    EXPECT_FALSE(a312f.isTriggerTurnedOn());
    EXPECT_EQ(camtm_exposureTimed, a312f.getTriggerMode());
    EXPECT_EQ(a312f.getGain(gainsel_main), a312f.getDefaultGain());
}

TEST_F(BCAMServerTest, initResetsTheCameraAndRemembersItsGainThen)
{
    IEEE1394VideoServer& server = serverWithCameras();
    IEEE1394Camera& camera = server.getCamera(1);
    const long factoryGain = camera.getDefaultGain();
    camera.setGain(camera.getGainMax(gainsel_main), gainsel_main);
    camera.turnOnTrigger(true);
    camera.init();
    EXPECT_EQ(factoryGain, camera.getGain(gainsel_main));
    EXPECT_EQ(factoryGain, camera.getDefaultGain());
    EXPECT_FALSE(camera.isTriggerTurnedOn());
}

TEST_F(BCAMServerTest, a102fShutterOffsetsFollowTheFirmware)
{
    replaceA102fWithFirmware(26, 0x102F10);
    IEEE1394VideoServer& server = serverWithCameras();
    EXPECT_DOUBLE_EQ(3.6e-05, server.getCamera(1).getShutterOffset());
    destroyVideoServer();

    replaceA102fWithFirmware(31, 0x102F11, 0x102F10);
    EXPECT_EQ(0.0, serverWithCameras().getCamera(1).getShutterOffset());
}

TEST_F(BCAMServerTest, anUnsupportedA102fFirmwareIsRefusedAndTheCamerasBeforeItStay)
{
    replaceA102fWithFirmware(28, 0x102F12);
    IEEE1394VideoServer& server = createBCAMVideoServer(false);
    EXPECT_EQ("invalid camera firmware version", errorOf([&] { server.reset(true); }));
    ASSERT_EQ(1, server.getNbCameras());
    EXPECT_EQ(camm_A312f, server.getCamera(0).getModel());

    // Not initialising still opens it.
    server.reset(false);
    EXPECT_EQ(2, server.getNbCameras());
    EXPECT_EQ("invalid camera firmware version", errorOf([&] { server.getCamera(1).init(); }));
}

TEST_F(BCAMServerTest, identifiersComeFromTheDeviceNames)
{
    IEEE1394VideoServer& server = serverWithCameras(false);
    std::set<CamGUID> guids;
    server.getCamsList(guids);
    const std::set<CamGUID> expected = {CamGUID(kA102fSerial, kBaslerIdentifierHigh),
                                        CamGUID(kA312fSerial, kBaslerIdentifierHigh)};
    EXPECT_EQ(expected, guids);
    EXPECT_EQ(kA102fSerial, cameraOf(kA102fSerial).getUniqueId().low());
}

TEST(BCAMDeviceName, identifierWordsTakeTheirBytesFromFixedPairs)
{
    using orvex::bcam::identifierFromDeviceName;
    const auto words = identifierFromDeviceName("\\\\?\\1394#0123456789ABCDEF#{guid}");
    EXPECT_EQ(0xEFCDAB01U, words.low);
    EXPECT_EQ(0x89674523U, words.high);

    // Fewer than sixteen characters after the first "#": zeros in front.
    const auto shortName = identifierFromDeviceName("x#ABCD");
    EXPECT_EQ(0xCDAB0000U, shortName.low); // "000000000000ABCD"
    EXPECT_EQ(0U, shortName.high);

    // No "#" at all: sixteen zeros.
    EXPECT_EQ(0U, identifierFromDeviceName("no hash").low);

    // A pair stops at a character that is not hexadecimal; none gives 0.
    const auto partial = identifierFromDeviceName("#1#2345678ZZ0000");
    EXPECT_EQ(1U, partial.low);
    EXPECT_EQ(0x78563400U, partial.high); // "#2" reads nothing

    // A minus sign wraps modulo 2^32 and the shifts wrap with it.
    const auto negative = identifierFromDeviceName("#-1000000000000-1");
    EXPECT_EQ(0xFFFFFFFFU + (0xFFFFFFFFU << 24U), negative.low);
}

// --- refusals -------------------------------------------------------------------------

TEST_F(BCAMServerTest, operationsThatNeedInitRefuseBefore)
{
    IEEE1394Camera& camera = serverWithCameras(false).getCamera(0);
    EXPECT_FALSE(camera.isInitialized());
    const std::string initFirst = "cannot invoke this method  if camera is not initialized";
    EXPECT_EQ(initFirst, errorOf([&] { camera.getDefaultGain(); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.enableSmartFeature(sf_frameCounter, true); }));
    EXPECT_EQ("camera not initialized", errorOf([&] { camera.getShutterOffset(); }));
}

TEST_F(BCAMServerTest, exposureRefusalsNameTheValueAndTheBound)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    const unsigned long shutterMin = camera.getShutterMin();
    const unsigned long shutterMax = camera.getShutterMax();
    ASSERT_LT(0UL, shutterMin);
    EXPECT_EQ("invalid shutter value; equals to " + std::to_string(shutterMin - 1) +
                  " and should be greater than " + std::to_string(shutterMin),
              errorOf([&] { camera.setShutter(shutterMin - 1); }));
    EXPECT_EQ("invalid shutter value; equals to " + std::to_string(shutterMax + 1) +
                  " and should be lower than " + std::to_string(shutterMax),
              errorOf([&] { camera.setShutter(shutterMax + 1); }));
    camera.setShutter(shutterMax);
    EXPECT_EQ(shutterMax, camera.getShutter());

    const long gainMin = camera.getGainMin(gainsel_main);
    const long gainMax = camera.getGainMax(gainsel_main);
    EXPECT_EQ("invalid gain value; equals to " + std::to_string(gainMin - 1) +
                  " and should be greater than " + std::to_string(gainMin),
              errorOf([&] { camera.setGain(gainMin - 1, gainsel_main); }));
    EXPECT_EQ("invalid gain value; equals to " + std::to_string(gainMax + 1) + " and should be lower than " +
                  std::to_string(gainMax),
              errorOf([&] { camera.setGain(gainMax + 1, gainsel_main); }));
    for (const long gain : {gainMax, gainMin}) {
        camera.setGain(gain, gainsel_main);
        EXPECT_EQ(gain, camera.getGain(gainsel_main));
    }

    const auto other = static_cast<GainSelector>(1);
    EXPECT_FALSE(camera.isGainSelectorAvailable(other));
    EXPECT_TRUE(camera.isGainSelectorAvailable(gainsel_main));
    for (const auto& refused : {std::function<void()>([&] { camera.setGain(gainMin, other); }),
                                std::function<void()>([&] { camera.getGain(other); }),
                                std::function<void()>([&] { camera.getGainMin(other); }),
                                std::function<void()>([&] { camera.getGainMax(other); })}) {
        EXPECT_EQ("invalid gainSelector", errorOf(refused));
    }
}

TEST_F(BCAMServerTest, pixelFormatsAreEightAndSixteenBitMonoOnly)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    camera.setSize(kFittingWidth, 100);
    EXPECT_TRUE(camera.isPixelFormatSupported(pf_yMono16));
    camera.setPixelFormat(pf_yMono16);
    EXPECT_EQ(pf_yMono16, camera.getPixelFormat());
    EXPECT_EQ("invalid pixel format", errorOf([&] { camera.setPixelFormat(pf_rgb24); }));
    EXPECT_EQ("invalid pixel format", errorOf([&] { camera.isPixelFormatSupported(pf_yuv422); }));
    EXPECT_EQ(pf_yMono16, camera.getPixelFormat());
}

TEST_F(BCAMServerTest, interPacketDelayIsRefusedEverywhere)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    EXPECT_FALSE(camera.isInterPacketDelaySupported());
    const std::string refusal = "interPacketDelay feature not supported by this driver or by this camera";
    EXPECT_EQ(refusal, errorOf([&] { camera.setInterPacketDelay(1); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getInterPacketDelay(); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getUnitInterPacketDelay(); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getMinInterPacketDelay(); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getMaxInterPacketDelay(); }));
}

TEST_F(BCAMServerTest, geometryAndPacketsNeedFormat7)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    // Format 0 through the camera's own register, as another host could.
    camera.writeRegister(orvex::iidc::kCurrentVideoFormat, 0);
    const std::string refusal = "camera must be in format7";
    EXPECT_EQ(refusal, errorOf([&] { camera.setSize(64, 48); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.setRoi(0, 0, 64, 48); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getNbBytesPerPacket(); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getPixelFormat(); }));
    int width = 0, height = 0;
    EXPECT_EQ(refusal, errorOf([&] { camera.getMaxSize(width, height); }));
    // The size of a fixed format comes from the tables.
    camera.getSize(width, height);
    EXPECT_LT(0, width * height);
}

TEST_F(BCAMServerTest, triggerModesAndPolarity)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    EXPECT_TRUE(camera.isTriggerModeSupported(camtm_triggerWidth));
    camera.setTriggerMode(camtm_triggerWidth);
    EXPECT_EQ(camtm_triggerWidth, camera.getTriggerMode());
    camera.setPolarity(!camera.getPolarity());
    const bool polarity = camera.getPolarity();
    camera.setPolarity(!polarity);
    EXPECT_NE(polarity, camera.getPolarity());
    camera.turnOnTrigger(true);
    EXPECT_TRUE(camera.isTriggerTurnedOn());
}

TEST_F(BCAMServerTest, aDriverFailureNamesTheOperation)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    world().faults().failNext("GetProperty", 1, static_cast<int>(orvex::bcam::error::kBusy), kA312fSerial);
    const std::string busy = "The request is not allowed while the camera transfers images.\r\n";
    EXPECT_EQ("error calling BCAMCamera::getShutter: " + busy, errorOf([&] { camera.getShutter(); }));

    // The video configuration's steps name themselves, also inside init.
    const std::pair<const char*, const char*> steps[] = {
        {"IsVideoFormatSupported", "error calling BCAMCamera::isVideoFormatSupported: "},
        {"IsVideoModeSupported", "error calling BCAMCamera::isVideoModeSupported: "},
        {"SetVideoMode", "error calling BCAMCamera::setVideoFormat: "},
    };
    for (const auto& [request, text] : steps) {
        world().faults().failNext(request, 1, static_cast<int>(orvex::bcam::error::kBusy), kA312fSerial);
        EXPECT_EQ(text + busy, errorOf([&] { camera.init(); }));
    }

    orvex::test::LogCapture log("Orvex", log4cplus::ERROR_LOG_LEVEL);
    world().faults().failNext("ReadQuadlet", 1, static_cast<int>(orvex::bcam::error::kBusy), kA312fSerial);
    EXPECT_FALSE(camera.testCommunication());
    EXPECT_EQ(std::vector<std::string>{"Error caught in BCAMCamera::testCommunication: " + busy},
              log.messages());
}

TEST_F(BCAMServerTest, a102fEmulatesTheShutterTimeBaseItsCameraRefuses)
{
    replaceA102fWithFirmware(30, 0x102F13);
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    // This A102f has no time base feature of its own.
    world().faults().failNext("WriteQuadlet", 100, static_cast<int>(orvex::bcam::error::kAddressError),
                              0x102F13);
    EXPECT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    world().faults().clear();
    EXPECT_TRUE(camera.isShutterTimeBaseAvailable());
    EXPECT_TRUE(camera.isSmartFeatureEnabled(sf_shutterTimeBase));
    EXPECT_FLOAT_EQ(2e-05F, camera.getShutterTimeBase());
    EXPECT_FLOAT_EQ(2e-05F, camera.getShutterTimeBaseMin());
    EXPECT_FLOAT_EQ(2e-05F, camera.getShutterTimeBaseMax());
    EXPECT_TRUE(camera.setShutterTimeBase(2e-05F));
    EXPECT_EQ("shutter time base must equal to 20", errorOf([&] { camera.setShutterTimeBase(1e-05F); }));
}

// The protected video configuration, reached through a camera of the test's own.
class VideoCfgCamera : public BCAMCamera {
public:
    using BCAMCamera::BCAMCamera;
    using BCAMCamera::getFrameRateIdx;
    using BCAMCamera::getVideoFormat;
    using BCAMCamera::getVideoMode;
    using BCAMCamera::isVideoCfgSupported;
    using BCAMCamera::setFrameRate;
    using BCAMCamera::setVideoCfg;
    using BCAMCamera::setVideoFormat;
    using BCAMCamera::setVideoMode;
};

TEST_F(BCAMServerTest, fixedFormatsTakeTheFirstSupportedModeAndRateAndRefuseTheOthers)
{
    auto* device = new Bcam::CBcamExtension;
    device->Open(pathOf(kA312fSerial));
    VideoCfgCamera camera(device);

    // The A312f's only fixed format: 640 x 480 mono, format 0 mode 5.
    camera.setVideoFormat(0);
    EXPECT_EQ(0U, camera.getVideoFormat());
    EXPECT_EQ(5U, camera.getVideoMode());
    const uint32_t rate = camera.getFrameRateIdx();
    for (uint32_t lower = 0; lower < rate; ++lower) {
        EXPECT_FALSE(camera.isVideoCfgSupported(0, 5, lower)) << lower;
    }
    int width = 0, height = 0;
    camera.getSize(width, height);
    EXPECT_EQ(640, width);
    EXPECT_EQ(480, height);
    unsigned long bytes = 0, second = 1;
    camera.getNbBytesPerFrame(bytes, second);
    EXPECT_EQ(640UL * 480UL * 8UL, bytes); // the DCAM table's mono rows, width x height x 8
    EXPECT_EQ(0UL, second);

    uint32_t faster = rate + 1;
    while (faster <= 5 && !camera.isVideoCfgSupported(0, 5, faster))
        ++faster;
    ASSERT_GE(5U, faster) << "a second rate to switch to";
    camera.setFrameRate(faster);
    EXPECT_EQ(faster, camera.getFrameRateIdx());

    camera.setVideoMode(0); // not offered: nothing changes
    EXPECT_EQ(5U, camera.getVideoMode());
    EXPECT_EQ("video format not supported", errorOf([&] { camera.setVideoFormat(3); }));
    EXPECT_EQ("video frame rate not supported", errorOf([&] { camera.setFrameRate(6U); }));
    EXPECT_EQ("video cfg not supported", errorOf([&] { camera.setVideoCfg(0, 0, rate); }));
    camera.setVideoCfg(7, 0, orvex::bcam::kAnyIndex);
    EXPECT_EQ(7U, camera.getVideoFormat());
}

// --- region of interest -------------------------------------------------------------------

// Each case starts from a region where the naive orders (size first, or
// position first) would leave the sensor: the camera refuses such a write.
struct RoiCase {
    const char* name;
    int fromX, fromY, fromW, fromH;
    int toX, toY, toW, toH;
};

TEST_F(BCAMServerTest, setRoiOrdersItsWritesSoThatTheRegionStaysOnTheSensor)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1); // A312f, 782 x 582
    int maxW = 0, maxH = 0;
    camera.getMaxSize(maxW, maxH);
    ASSERT_GE(maxW, 780);
    ASSERT_GE(maxH, 580);
    const RoiCase cases[] = {
        {"up-left, larger", 400, 300, 300, 200, 0, 0, 700, 500},
        {"left, down", 400, 100, 300, 400, 0, 300, 700, 250},
        {"down-right, smaller", 0, 0, 700, 500, 400, 300, 300, 200},
        {"right, up", 0, 300, 700, 250, 400, 0, 300, 500},
    };
    for (const RoiCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Shrink first, then move: every write must fit on its own.
        camera.setSize(100, 100);
        camera.setPos(0, 0);
        camera.setSize(c.fromW, c.fromH);
        camera.setPos(c.fromX, c.fromY);
        ASSERT_EQ("", errorOf([&] { camera.setRoi(c.toX, c.toY, c.toW, c.toH); }));
        int x = 0, y = 0, w = 0, h = 0;
        camera.getPos(x, y);
        camera.getSize(w, h);
        EXPECT_EQ(c.toX, x);
        EXPECT_EQ(c.toY, y);
        EXPECT_EQ(c.toW, w);
        EXPECT_EQ(c.toH, h);
    }
}

TEST_F(BCAMServerTest, packetLimitsComeFromTheCurrentMode)
{
    IEEE1394Camera& camera = serverWithCameras().getCamera(1);
    camera.setSize(kFittingWidth, 100);
    const int unit = camera.getUnitNbBytesPerPacket();
    ASSERT_LT(0, unit);
    EXPECT_EQ(unit, camera.getMinNbBytesPerPacket());
    const int max = camera.getMaxNbBytesPerPacket();
    camera.setNbBytesPerPacket(max - unit);
    EXPECT_EQ(max - unit, camera.getNbBytesPerPacket());
    int w = 0, h = 0;
    camera.getSize(w, h);
    unsigned long bytes = 0, second = 1;
    camera.getNbBytesPerFrame(bytes, second);
    EXPECT_EQ(static_cast<unsigned long>(w) * static_cast<unsigned long>(h), bytes); // no chunks
    EXPECT_EQ(0UL, second);
}

} // namespace
} // namespace orvex::bcam::test
