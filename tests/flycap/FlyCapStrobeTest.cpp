// A FlyCapture camera's strobe outputs over the simulated SDK: the pin list
// and the once-per-pin support probe, the control register each operation
// leaves, the 12-bit time encoding with its 63930 us limit, the caches that
// answer the getters, and a strobe pulse seen in the images' GPIO levels.
#include "SimulatedBuses.h"

#include "sim/SimTestSupport.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

using namespace orvex::test;
namespace sim = orvex::sim;

namespace {

// The strobe registers and bits, written out here so that a wrong constant in
// the library's register header cannot pass unnoticed.
constexpr uint32_t kStrobeOutputCsrInquiry = 0xF0F0048C;
constexpr uint32_t kGpioControlRegister = 0xF0F011F8;
constexpr uint32_t kPresenceBit = 1u << 31, kReadableBit = 1u << 27;
constexpr uint32_t kStrobeOnBit = 1u << 25, kStrobeHighActiveBit = 1u << 24;

// GPIO control with pin `pin` configured for output.
constexpr uint32_t outputPin(uint32_t pin)
{
    return 1u << (31 - pin);
}

// Where the camera keeps strobe pin `pin`'s control register.
uint32_t strobeControl(IEEE1394Camera& camera, uint32_t pin)
{
    return (readQuadlet(camera, kStrobeOutputCsrInquiry) * 4u | 0xF0F00000) + 0x200 + 4u * pin;
}

uint32_t delayField(uint32_t control)
{
    return (control >> 12) & 0xFFF;
}

uint32_t durationField(uint32_t control)
{
    return control & 0xFFF;
}

class FlyCapStrobeTest : public SimulatedBuses {
protected:
    IEEE1394Camera& initialised(uint32_t serialNumber) { return listOne(kGras20, serialNumber, true); }

    // Makes the next register reads of the camera fail, so that an answer
    // given anyway came from a cache.
    void failRegisterReads(uint32_t serialNumber)
    {
        failNext("flycaptureGetCameraRegister", 100, FLYCAPTURE_BUS_ERROR, serialNumber);
    }
};

} // namespace

// --- pins and support -------------------------------------------------------------------

TEST_F(FlyCapStrobeTest, BeforeInitNoPinIsListedAndEveryPinIsRefused)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x300, false);
    EXPECT_EQ(0ul, camera.getNbStrobeOutputPorts());
    EXPECT_FALSE(camera.isStrobeOutputPortIdValid(1));
    const std::string invalid = "1 is an invalid gpioId (does not exist or not configured in output mode";
    EXPECT_EQ(invalid, errorOf([&] { camera.isStrobeOutputFeatureSupported(1); }));
    EXPECT_EQ(invalid, errorOf([&] { camera.enableStrobeOutput(1, true); }));
    EXPECT_EQ(invalid, errorOf([&] { camera.getStrobeOutputDelay(1); }));
    EXPECT_EQ("FlyCapCamera::getStrobeOutputPortId(0): invalid idx",
              errorOf([&] { camera.getStrobeOutputPortId(0); }));
}

TEST_F(FlyCapStrobeTest, PinsOneAndTwoAreProbedOnceEachAndTheGpioDirectionIsGivenBack)
{
    IEEE1394Camera& camera = initialised(0x301);
    ASSERT_EQ(2ul, camera.getNbStrobeOutputPorts());
    EXPECT_EQ(1ul, camera.getStrobeOutputPortId(0));
    EXPECT_EQ(2ul, camera.getStrobeOutputPortId(1));
    EXPECT_EQ("FlyCapCamera::getStrobeOutputPortId(2): invalid idx",
              errorOf([&] { camera.getStrobeOutputPortId(2); }));
    EXPECT_EQ("0 is an invalid gpioId (does not exist or not configured in output mode",
              errorOf([&] { camera.isStrobeOutputFeatureSupported(0); }));
    EXPECT_FALSE(camera.isStrobeOutputPortIdValid(3));

    ASSERT_EQ(0u, readQuadlet(camera, kGpioControlRegister));
    EXPECT_TRUE(camera.isStrobeOutputFeatureSupported(1)) << "the simulated Grasshopper has pins 1 and 2";
    EXPECT_EQ(0u, readQuadlet(camera, kGpioControlRegister)) << "pin 1 is an input again";
    EXPECT_TRUE(camera.isStrobeOutputFeatureSupported(2));

    failRegisterReads(0x301);
    EXPECT_TRUE(camera.isStrobeOutputFeatureSupported(1)) << "the verdict is cached";
    EXPECT_TRUE(camera.isStrobeOutputFeatureSupported(2));
}

TEST_F(FlyCapStrobeTest, APinWithoutAStrobeIsRefusedByEveryOperation)
{
    sim::CameraConfig config = modelConfig(kGras20, 0x302);
    config.strobePins = 0x2; // pin 1 only
    IEEE1394Camera& camera = listOne(config, true);
    EXPECT_TRUE(camera.isStrobeOutputFeatureSupported(1));
    EXPECT_FALSE(camera.isStrobeOutputFeatureSupported(2));
    EXPECT_EQ(0u, readQuadlet(camera, kGpioControlRegister));

    const std::string refusal = "strobe output not supported by the camera on gpioId #2";
    EXPECT_EQ(refusal, errorOf([&] { camera.isStrobeOutputEnabled(2); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.enableStrobeOutput(2, true); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.enableStrobeOutput(2, true, true, 0, 0); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.setStrobeOutputPolarity(2, true); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getStrobeOutputPolarity(2); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.setStrobeOutputDelay(2, 10); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getStrobeOutputDelay(2); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.setStrobeOutputDuration(2, 10); }));
    EXPECT_EQ(refusal, errorOf([&] { camera.getStrobeOutputDuration(2); }));
    EXPECT_EQ(0u, readQuadlet(camera, kGpioControlRegister)) << "no pin was made an output";
}

TEST_F(FlyCapStrobeTest, AForcedStrobeInquiryWithoutOnOffMakesThePinUnsupported)
{
    IEEE1394Camera& probe = initialised(0x303);
    const uint32_t inquiry = strobeControl(probe, 1) - 0x200 + 0x100;
    sim::CameraConfig config = modelConfig(kGras20, 0x304);
    config.registerOverrides[inquiry] = kPresenceBit | kReadableBit;
    IEEE1394Camera& camera = listOne(config, true);
    EXPECT_FALSE(camera.isStrobeOutputFeatureSupported(1));
    EXPECT_TRUE(camera.isStrobeOutputFeatureSupported(2));
}

// --- enable and polarity ---------------------------------------------------------------------

TEST_F(FlyCapStrobeTest, EnablingWithSettingsWritesTheWholeControlAndCachesTheTimes)
{
    IEEE1394Camera& camera = initialised(0x310);
    const uint32_t control = strobeControl(camera, 1);
    EXPECT_FALSE(camera.isStrobeOutputEnabled(1)) << "an input pin";

    camera.enableStrobeOutput(1, true, true, 500, 1000);
    EXPECT_EQ(0x83200400u, readQuadlet(camera, control)) << "delay raw 512, duration raw 1024";
    EXPECT_EQ(outputPin(1), readQuadlet(camera, kGpioControlRegister));
    EXPECT_TRUE(camera.isStrobeOutputEnabled(1));
    EXPECT_TRUE(camera.getStrobeOutputPolarity(1));

    camera.enableStrobeOutput(1, false, true, 700, 700);
    EXPECT_EQ(0x80000000u, readQuadlet(camera, control)) << "off, low, no timing";
    EXPECT_FALSE(camera.isStrobeOutputEnabled(1));
    failRegisterReads(0x310);
    EXPECT_EQ(500ul, camera.getStrobeOutputDelay(1)) << "the last times set, from the cache";
    EXPECT_EQ(1000ul, camera.getStrobeOutputDuration(1));
}

TEST_F(FlyCapStrobeTest, TheShortEnableAndThePolarityChangeOneBitEach)
{
    IEEE1394Camera& camera = initialised(0x311);
    const uint32_t control = strobeControl(camera, 2);
    camera.enableStrobeOutput(2, true, false, 1000, 2000);
    const uint32_t before = readQuadlet(camera, control);

    camera.enableStrobeOutput(2, false);
    EXPECT_EQ(before & ~kStrobeOnBit, readQuadlet(camera, control));
    camera.setStrobeOutputPolarity(2, true);
    EXPECT_EQ((before & ~kStrobeOnBit) | kStrobeHighActiveBit, readQuadlet(camera, control));
    EXPECT_TRUE(camera.getStrobeOutputPolarity(2));
    camera.enableStrobeOutput(2, true);
    EXPECT_EQ(before | kStrobeHighActiveBit, readQuadlet(camera, control));
    camera.setStrobeOutputPolarity(2, false);
    EXPECT_EQ(before, readQuadlet(camera, control));
    EXPECT_FALSE(camera.getStrobeOutputPolarity(2));
}

// --- delay and duration ---------------------------------------------------------------------

TEST_F(FlyCapStrobeTest, DelayAndDurationRoundTripUpTo63930AndAreRefusedBeyond)
{
    IEEE1394Camera& camera = initialised(0x320);
    const uint32_t control = strobeControl(camera, 1);
    struct Case {
        unsigned long time;
        uint32_t field;
    };
    // Each segment's slope runs on past its first millisecond, into the
    // raw values of the next segments; the 12-bit mask is applied when
    // writing (7902 becomes 3806).
    const Case cases[] = {{0, 0},
                          {1, 1},
                          {1000, 1024},
                          {1001, 1024},
                          {1500, 1280},
                          {4000, 2560},
                          {6000, 2560},
                          {12000, 3584},
                          {32000, 5376 & 0xFFF},
                          {48000, 7680 & 0xFFF},
                          {63929, 7901 & 0xFFF},
                          {63930, 7902 & 0xFFF}};
    for (const Case& c : cases) {
        camera.setStrobeOutputDelay(1, c.time);
        EXPECT_EQ(c.field, delayField(readQuadlet(camera, control))) << "delay " << c.time;
        EXPECT_EQ(c.time, camera.getStrobeOutputDelay(1));
        camera.setStrobeOutputDuration(1, c.time);
        EXPECT_EQ(c.field, durationField(readQuadlet(camera, control))) << "duration " << c.time;
        EXPECT_EQ(c.time, camera.getStrobeOutputDuration(1));
        EXPECT_EQ(c.field, delayField(readQuadlet(camera, control))) << "the delay stays";
    }
    EXPECT_EQ(outputPin(1), readQuadlet(camera, kGpioControlRegister));

    const uint32_t before = readQuadlet(camera, control);
    EXPECT_EQ("nDuration cannot exceed 63930", errorOf([&] { camera.setStrobeOutputDelay(1, 63931); }));
    EXPECT_EQ("nDuration cannot exceed 63930", errorOf([&] { camera.setStrobeOutputDuration(1, 63931); }));
    EXPECT_EQ("nDuration cannot exceed 63930",
              errorOf([&] { camera.enableStrobeOutput(1, true, true, 0, 63931); }));
    EXPECT_EQ("nDuration cannot exceed 63930",
              errorOf([&] { camera.enableStrobeOutput(1, true, true, 0xFFFFFFFFul, 0); }));
    EXPECT_EQ(before, readQuadlet(camera, control)) << "refused before the write";
    EXPECT_EQ(63930ul, camera.getStrobeOutputDelay(1));
    EXPECT_EQ(63930ul, camera.getStrobeOutputDuration(1));
}

TEST_F(FlyCapStrobeTest, TimesNotSetSinceInitAreReadFromTheCameraOnce)
{
    IEEE1394Camera& probe = initialised(0x330);
    const uint32_t control1 = strobeControl(probe, 1);
    const uint32_t control2 = strobeControl(probe, 2);
    sim::CameraConfig config = modelConfig(kGras20, 0x331);
    // The camera comes up with these timings: raw 3806 is a time-to-raw of
    // 63930 masked to 12 bits, which reads back as 32867 us.
    config.registerOverrides[control1] = kPresenceBit | (3806u << 12) | 2048u;
    config.registerOverrides[control2] = kPresenceBit | (1u << 12) | 4095u;
    IEEE1394Camera& camera = listOne(config, true);

    EXPECT_EQ(32867ul, camera.getStrobeOutputDelay(1));
    EXPECT_EQ(3000ul, camera.getStrobeOutputDuration(1)) << "raw 2048 ends the 2000 us segment";
    EXPECT_EQ(1ul, camera.getStrobeOutputDelay(2)) << "raw 1 is not nothing";
    EXPECT_EQ(49000ul, camera.getStrobeOutputDuration(2));
    EXPECT_EQ(outputPin(1) | outputPin(2), readQuadlet(camera, kGpioControlRegister))
        << "reading a time makes the pin an output";

    failRegisterReads(0x331);
    EXPECT_EQ(32867ul, camera.getStrobeOutputDelay(1)) << "kept";
}

// --- the pulse in the images ---------------------------------------------------------------

TEST_F(FlyCapStrobeTest, AStrobePulseShowsItsDelayAndDurationInTheGpioLevelsOfLaterImages)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = initialised(0x340);
    camera.turnOnTrigger(true);
    camera.enableStrobeOutput(1, true, true, 500, 1000);
    camera.enableStrobeOutput(2, true, false, 0, 0); // low active, for the exposure time
    const std::shared_ptr<sim::Camera> simCamera = world().camera(0x340);
    const auto sink = std::make_shared<sim::test::FrameCollector>();
    ASSERT_EQ(sim::Status::ok, simCamera->startStream(sink, sim::Pacing::unpaced));

    // Each pair: an image whose strobe pulse starts 500 us after its
    // exposure and lasts 1000 us, then an image `after` us later, whose GPIO
    // levels show whether that pulse is on.
    const int64_t start = sim::hostNowNs();
    const int64_t afterUs[] = {0, 499, 500, 1499, 1500};
    const bool pulseOn[] = {false, false, true, true, false};
    for (size_t i = 0; i < std::size(afterUs); ++i) {
        const int64_t first = start + static_cast<int64_t>(i) * 100'000'000;
        ASSERT_TRUE(simCamera->externalTrigger(first));
        ASSERT_TRUE(simCamera->externalTrigger(first + afterUs[i] * 1000));
        const sim::Frame later = sink->frames().back();
        EXPECT_EQ(pulseOn[i], (later.gpioLevels & 0x40) != 0) << afterUs[i] << " us";
        EXPECT_EQ(0, later.gpioLevels & 0x20) << "the low-active strobe of its own exposure is on";
    }
    simCamera->stopStream();
}

// --- traces -----------------------------------------------------------------------------------

TEST_F(FlyCapStrobeTest, TracesKeepTheirSpacingAndTheDelaysMicroSignIsOneByte)
{
    IEEE1394Camera& camera = initialised(0x350);
    LogCapture trace("Orvex", log4cplus::TRACE_LOG_LEVEL);
    camera.setStrobeOutputDelay(1, 500);
    camera.setStrobeOutputDuration(2, 70);
    camera.enableStrobeOutput(1, true);
    camera.softwareTrigger();
    camera.getNbStrobeOutputPorts();
    const std::vector<std::string> entered = [&] {
        std::vector<std::string> lines;
        for (const std::string& line : trace.messages()) {
            if (line.rfind("Entering FlyCapCamera::", 0) == 0 && line.find("Register") == std::string::npos &&
                line.find("isStrobeOutput") == std::string::npos) {
                lines.push_back(line);
            }
        }
        return lines;
    }();
    EXPECT_EQ((std::vector<std::string>{
                  "Entering FlyCapCamera::setStrobeOutputDelay(gpioId=1, nDelay=500 \xB5s).",
                  "Entering FlyCapCamera::setStrobeOutputDuration(gpioId=2, nDuration=70 \xB5s).",
                  "Entering FlyCapCamera::enableStrobeOutput(gpioId=1, bEnable=true).",
                  "Entering FlyCapCamera::softwareTrigger(; (portId=0).",
                  "Entering FlyCapCamera::isSoftwareTriggerSupported(); (portId=0).",
                  "Entering FlyCapCamera::getNbStrobeOutputPorts(); (portId = 0).",
              }),
              entered);
}
