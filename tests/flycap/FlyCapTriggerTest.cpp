// A FlyCapture camera's trigger over the simulated SDK: switching, mode and
// polarity as TRIGGER_MODE shows them, the shutter range that moves with the
// switch, each refusal's text, and software triggers (one camera, or every
// camera of a bus at once) seen from the simulated camera's own stream.
#include "SimulatedBuses.h"

#include "sim/SimTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace orvex::test;
using namespace std::chrono_literals;
namespace sim = orvex::sim;

namespace {

// TRIGGER_INQ and TRIGGER_MODE, and their bits, written out here so that a
// wrong constant in the library's register header cannot pass unnoticed.
constexpr uint32_t kTriggerInq = 0xF0F00530;
constexpr uint32_t kTriggerModeRegister = 0xF0F00830;
constexpr uint32_t kInqReadable = 1u << 27, kInqOnOff = 1u << 26, kInqPolarity = 1u << 25;
constexpr uint32_t kInqSoftware = 1u << 16, kInqMode1 = 1u << 14;
// Presence, readable, on/off, polarity, source 0, software, modes 0 and 1.
constexpr uint32_t kFullTriggerInquiry = 0x8E81C000;
constexpr uint32_t kTriggerOnBit = 1u << 25, kTriggerPolarityBit = 1u << 24;
constexpr uint32_t kTriggerModeBits = 0xFu << 16;
constexpr uint32_t kTriggerInputLevel = 1u << 20;

// The same camera with a forced trigger inquiry.
sim::CameraConfig withTriggerInquiry(uint32_t serialNumber, uint32_t inquiry)
{
    sim::CameraConfig config = roundCamera(serialNumber);
    config.registerOverrides[kTriggerInq] = inquiry;
    return config;
}

uint32_t triggerMode(IEEE1394Camera& camera)
{
    return readQuadlet(camera, kTriggerModeRegister);
}

class FlyCapTriggerTest : public SimulatedBuses {
protected:
    void TearDown() override
    {
        for (const auto& camera : world().connectedCameras()) {
            camera->stopStream();
        }
        SimulatedBuses::TearDown();
    }

    // The simulated camera streams to `sink` as an SDK transfer would.
    void stream(uint32_t serialNumber, const std::shared_ptr<sim::test::FrameCollector>& sink)
    {
        ASSERT_EQ(sim::Status::ok, world().camera(serialNumber)->startStream(sink, sim::Pacing::frameRate));
    }
};

} // namespace

// --- switching, mode, polarity ---------------------------------------------------------

TEST_F(FlyCapTriggerTest, InitLeavesTheTriggerOffOnTheRisingEdgeAndTheSwitchReachesTheCamera)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x200), true);
    EXPECT_FALSE(camera.isTriggerTurnedOn());
    EXPECT_TRUE(camera.getPolarity());
    EXPECT_EQ(0u, triggerMode(camera) & kTriggerOnBit);
    EXPECT_NE(0u, triggerMode(camera) & kTriggerPolarityBit);
    EXPECT_FALSE(camera.isTrigStatusChangeAllowedDuringAcq());
    EXPECT_TRUE(camera.isTriggerReadyFeatureSupported());

    camera.turnOnTrigger(true);
    EXPECT_TRUE(camera.isTriggerTurnedOn());
    EXPECT_NE(0u, triggerMode(camera) & kTriggerOnBit);

    // The cached state answers: switching to the same state touches nothing.
    failNext("flycaptureGetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x200);
    EXPECT_EQ("", errorOf([&] { camera.turnOnTrigger(true); }));
    world().faults().clear();

    camera.turnOnTrigger(false);
    EXPECT_FALSE(camera.isTriggerTurnedOn());
    EXPECT_EQ(0u, triggerMode(camera) & kTriggerOnBit);
}

TEST_F(FlyCapTriggerTest, SwitchingTheTriggerReRangesTheShutterAndClampsTheCachedOne)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x201), true);
    ASSERT_EQ(80000ul, camera.getShutterMax()) << "the 12.5 fps frame period";

    camera.turnOnTrigger(true);
    EXPECT_EQ(81900ul, camera.getShutterMax()) << "triggered, no frame period bounds the exposure";
    EXPECT_EQ(501ul, camera.getShutterMin());
    camera.setShutter(81000);

    camera.turnOnTrigger(false);
    EXPECT_EQ(80000ul, camera.getShutterMax());
    EXPECT_EQ(80000ul, camera.getShutter()) << "clamped, without an error";
    EXPECT_EQ(4000u, readQuadlet(camera, 0xF0F0081C) & 0xFFF) << "and applied";
}

TEST_F(FlyCapTriggerTest, ModeAndPolarityChangeOnlyTheirOwnBits)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x202), true);
    camera.turnOnTrigger(true);
    const uint32_t before = triggerMode(camera);

    ASSERT_TRUE(camera.isTriggerModeSupported(camtm_triggerWidth));
    camera.setTriggerMode(camtm_triggerWidth);
    EXPECT_EQ(camtm_triggerWidth, camera.getTriggerMode());
    EXPECT_EQ(before | (1u << 16), triggerMode(camera));

    camera.setPolarity(false);
    EXPECT_FALSE(camera.getPolarity());
    EXPECT_EQ(kTriggerPolarityBit, (before ^ triggerMode(camera)) & ~kTriggerModeBits & ~kTriggerInputLevel)
        << "bit 24 only (besides the mode set above and the input level it reads)";
    EXPECT_TRUE(camera.isTriggerTurnedOn());

    camera.setTriggerMode(camtm_exposureTimed);
    EXPECT_EQ(0u, triggerMode(camera) & kTriggerModeBits);

    // Unchanged values touch nothing.
    failNext("flycaptureGetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x202);
    EXPECT_EQ("", errorOf([&] { camera.setTriggerMode(camtm_exposureTimed); }));
    EXPECT_EQ("", errorOf([&] { camera.setPolarity(false); }));
}

TEST_F(FlyCapTriggerTest, AnInvertedTriggerFiresTheCameraOnTheFallingEdge)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x203), true);
    camera.turnOnTrigger(true);
    camera.setPolarity(false);
    const auto sink = std::make_shared<sim::test::FrameCollector>();
    stream(0x203, sink);

    EXPECT_EQ(0, world().setTriggerLine(true)) << "a low-active input idles high: no edge";
    EXPECT_EQ(1, world().setTriggerLine(false)) << "the falling edge fires";
    ASSERT_TRUE(sink->waitFor(1));
    EXPECT_EQ(0, world().setTriggerLine(true)) << "the rising edge does not";
    EXPECT_FALSE(sink->waitFor(2, 100ms));
}

// --- refusals -----------------------------------------------------------------------------

TEST_F(FlyCapTriggerTest, EveryTriggerOperationNeedsInitFirst)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x210), false);
    const std::string initFirst = "\"init\" method must be called before";
    EXPECT_EQ(initFirst, errorOf([&] { camera.turnOnTrigger(true); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.setTriggerMode(camtm_triggerWidth); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.setPolarity(false); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.isTriggerModeSupported(camtm_exposureTimed); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.isTriggerReady(); }));

    // The software triggers refuse before they ask the camera anything: a
    // failing read of the trigger inquiry stays unconsumed.
    sim::FaultTable::Fault inquiryRead;
    inquiryRead.function = "flycaptureGetCameraRegister";
    inquiryRead.address = 0xF0F00530;
    inquiryRead.count = 2;
    inquiryRead.errorCode = FLYCAPTURE_BUS_ERROR;
    world().faults().add(inquiryRead);
    EXPECT_EQ(initFirst, errorOf([&] { camera.softwareTrigger(); }));
    EXPECT_EQ(initFirst, errorOf([&] { camera.softwareTriggerBroadcast(); }));
    EXPECT_EQ(2u, world().faults().pending("flycaptureGetCameraRegister"));
    world().faults().clear();
    EXPECT_TRUE(camera.isSoftwareTriggerSupported()) << "read from the camera, no init needed";
}

TEST_F(FlyCapTriggerTest, ACameraWhoseTriggerCannotBeResetRefusesInit)
{
    const auto refusalOfInit = [&](uint32_t serialNumber, uint32_t inquiry) {
        IEEE1394Camera& camera = listOne(withTriggerInquiry(serialNumber, inquiry), false);
        return errorOf([&] { camera.init(); });
    };
    EXPECT_EQ("trigger feature is not supported by this camera", refusalOfInit(0x211, 0));
    EXPECT_EQ("trigger params are not readable on this camera",
              refusalOfInit(0x212, kFullTriggerInquiry & ~kInqReadable));
    EXPECT_EQ("trigger cannot be turned on/off on this camera",
              refusalOfInit(0x213, kFullTriggerInquiry & ~kInqOnOff));

    // A camera that comes up in trigger mode 2, which the library does not know.
    sim::CameraConfig config = withTriggerInquiry(0x216, kFullTriggerInquiry | (1u << 13));
    config.registerOverrides[kTriggerModeRegister] = 0x80000000 | (2u << 16);
    IEEE1394Camera& camera = listOne(config, false);
    EXPECT_EQ("support for default trigger mode of this camera is not implemented yet",
              errorOf([&] { camera.init(); }));
}

TEST_F(FlyCapTriggerTest, ModesPolarityAndSoftwareTriggersTheCameraLacksAreRefused)
{
    const uint32_t lacking = kFullTriggerInquiry & ~(kInqPolarity | kInqMode1 | kInqSoftware);
    IEEE1394Camera& camera = listOne(withTriggerInquiry(0x214, lacking), true);
    EXPECT_FALSE(camera.isTriggerModeSupported(camtm_triggerWidth));
    EXPECT_FALSE(camera.isTriggerModeSupported(static_cast<CameraTriggerMode>(2)));
    EXPECT_EQ("requested trigger mode (1) is not supported by the camera",
              errorOf([&] { camera.setTriggerMode(camtm_triggerWidth); }));
    EXPECT_EQ("requested trigger mode (2) is not supported by the camera",
              errorOf([&] { camera.setTriggerMode(static_cast<CameraTriggerMode>(2)); }));
    EXPECT_EQ(camtm_exposureTimed, camera.getTriggerMode());
    EXPECT_EQ("trigger polarity cannot be changed", errorOf([&] { camera.setPolarity(false); }));
    EXPECT_TRUE(camera.getPolarity());
    EXPECT_FALSE(camera.isSoftwareTriggerSupported());
    EXPECT_EQ("software trigger is not supported", errorOf([&] { camera.softwareTrigger(); }));
    EXPECT_EQ("software trigger broadcast is not supported",
              errorOf([&] { camera.softwareTriggerBroadcast(); }));
}

TEST_F(FlyCapTriggerTest, AFailedSoftwareTriggerWriteThrowsTheSdkTextAlone)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x215), true);
    failNext("flycaptureSetCameraRegister", 1, FLYCAPTURE_BUS_ERROR, 0x215);
    EXPECT_EQ("Bus transaction failed", errorOf([&] { camera.softwareTrigger(); }));
    failNext("flycaptureSetCameraRegisterBroadcast", 1, FLYCAPTURE_FAILED, 0x215);
    EXPECT_EQ("Function failed", errorOf([&] { camera.softwareTriggerBroadcast(); }));
}

// --- software triggers --------------------------------------------------------------------

TEST_F(FlyCapTriggerTest, ASoftwareTriggerMakesExactlyOneImage)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x220), true);
    camera.turnOnTrigger(true);
    const auto sink = std::make_shared<sim::test::FrameCollector>();
    stream(0x220, sink);
    EXPECT_FALSE(sink->waitFor(1, 100ms)) << "triggered: no image without a trigger";
    EXPECT_TRUE(camera.isTriggerReady());

    camera.softwareTrigger();
    ASSERT_TRUE(sink->waitFor(1));
    EXPECT_FALSE(sink->waitFor(2, 100ms));
    EXPECT_TRUE(sink->frames().front().triggered);
    EXPECT_TRUE(camera.isTriggerReady()) << "the image is out";
}

TEST_F(FlyCapTriggerTest, AnOpenWidthTriggerPulseKeepsTheCameraFromBeingReady)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x221), true);
    camera.setTriggerMode(camtm_triggerWidth);
    camera.turnOnTrigger(true);
    const auto sink = std::make_shared<sim::test::FrameCollector>();
    stream(0x221, sink);

    ASSERT_EQ(1, world().setTriggerLine(true));
    EXPECT_FALSE(camera.isTriggerReady()) << "exposing until the input falls";
    world().setTriggerLine(false);
    ASSERT_TRUE(sink->waitFor(1));
    EXPECT_TRUE(camera.isTriggerReady());
}

TEST_F(FlyCapTriggerTest, ABroadcastSoftwareTriggerFiresEveryCameraOfTheBusAtOneInstant)
{
    // Small images: two full-size streams would not fit on one bus.
    const auto smallCamera = [](uint32_t serialNumber) {
        sim::CameraConfig config = roundCamera(serialNumber);
        config.sensorWidth = 64;
        config.sensorHeight = 48;
        return config;
    };
    world().addCamera(bus0, smallCamera(0x230));
    world().addCamera(bus0, smallCamera(0x231));
    const int bus1 = world().addBus();
    world().addCamera(bus1, smallCamera(0x232));
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(true);
    std::vector<std::shared_ptr<sim::test::FrameCollector>> sinks;
    for (unsigned short port = 0; port < 3; ++port) {
        server.getCamera(port).turnOnTrigger(true);
        sinks.push_back(std::make_shared<sim::test::FrameCollector>());
    }
    stream(0x230, sinks[0]);
    stream(0x231, sinks[1]);
    stream(0x232, sinks[2]);

    server.getCamera(0).softwareTriggerBroadcast();
    ASSERT_TRUE(sinks[0]->waitFor(1));
    ASSERT_TRUE(sinks[1]->waitFor(1));
    EXPECT_EQ(sinks[0]->frames().front().exposureStartNs, sinks[1]->frames().front().exposureStartNs)
        << "one packet, seen by both at once";
    EXPECT_EQ(sinks[0]->frames().front().busCycleTime, sinks[1]->frames().front().busCycleTime);
    EXPECT_FALSE(sinks[2]->waitFor(1, 100ms)) << "another bus";

    // Its own trigger fires one camera only.
    server.getCamera(1).softwareTrigger();
    ASSERT_TRUE(sinks[1]->waitFor(2));
    EXPECT_FALSE(sinks[0]->waitFor(2, 100ms));
}
