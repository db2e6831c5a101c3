// Triggers and strobes of the simulated camera: the input's level and the
// edge its polarity picks, trigger mode 1's exposure as long as the pulse,
// the vendor and the standard software trigger registers, forced inquiries
// deciding what the camera takes, strobe pulses in the GPIO levels, and
// broadcast writes reaching a bus at one instant.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>

#include <chrono>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;
using namespace std::chrono_literals;

constexpr uint32_t kSerial = 5101, kNeighbour = 5102, kElsewhere = 5201;
constexpr int64_t kMs = 1'000'000;

uint32_t modeField(uint32_t mode)
{
    return mode << kTriggerModeShift;
}

uint32_t sourceField(uint32_t source)
{
    return source << kTriggerSourceShift;
}

// A small camera, so that several stream on one bus.
CameraConfig smallCamera(uint32_t serialNumber)
{
    CameraConfig config = *modelConfig("Grasshopper GRAS-20S4M", serialNumber);
    config.sensorWidth = 64;
    config.sensorHeight = 48;
    return config;
}

class CameraTrigger : public FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        world().addBus(busAt(0, 10.0));
        world().addBus(busAt(1, 20.0));
    }
    void TearDown() override
    {
        for (const auto& camera : world().connectedCameras())
            camera->stopStream();
        FreshWorld::TearDown();
    }

    // A camera on `bus` streaming (unpaced unless asked) to its own sink.
    std::shared_ptr<Camera> streaming(const CameraConfig& config, int bus = 0,
                                      Pacing pacing = Pacing::unpaced)
    {
        const auto camera = world().addCamera(bus, config);
        _sinks[config.serialNumber] = std::make_shared<FrameCollector>();
        EXPECT_EQ(camera->startStream(_sinks[config.serialNumber], pacing), Status::ok);
        return camera;
    }
    std::shared_ptr<FrameCollector> sink(uint32_t serialNumber) { return _sinks[serialNumber]; }

    static uint32_t read(Camera& camera, uint32_t address)
    {
        uint32_t value = 0;
        EXPECT_EQ(camera.readRegister(address, value), Status::ok);
        return value;
    }
    static void write(Camera& camera, uint32_t address, uint32_t value)
    {
        ASSERT_EQ(camera.writeRegister(address, value), Status::ok);
    }
    static void trigger(Camera& camera, uint32_t fields)
    {
        write(camera, kTriggerMode, kPresence | kTriggerOn | fields);
    }
    static uint32_t strobeControl(Camera& camera, uint32_t pin)
    {
        return quadletOffsetToAddress(read(camera, kStrobeOutputInquiry)) + kStrobeControlOffset + 4 * pin;
    }

    std::map<uint32_t, std::shared_ptr<FrameCollector>> _sinks;
};

// --- the trigger input ------------------------------------------------------------------

TEST_F(CameraTrigger, PolarityPicksTheEdgeThatFiresAndTriggerModeReadsTheInputLevel)
{
    const auto camera = streaming(smallCamera(kSerial));
    trigger(*camera, kTriggerPolarity);
    EXPECT_EQ(read(*camera, kTriggerMode) & kTriggerValue, 0u) << "a high-active input idles low";

    const int64_t t = hostNowNs();
    EXPECT_TRUE(camera->setTriggerInput(true, t)) << "rising edge";
    EXPECT_EQ(read(*camera, kTriggerMode) & kTriggerValue, kTriggerValue);
    EXPECT_FALSE(camera->setTriggerInput(false, t + kMs));
    EXPECT_EQ(read(*camera, kTriggerMode) & kTriggerValue, 0u);
    ASSERT_EQ(sink(kSerial)->frames().size(), 1u);
    EXPECT_EQ(sink(kSerial)->frames()[0].exposureStartNs, t);
    EXPECT_TRUE(sink(kSerial)->frames()[0].gpioLevels & frameinfo::kGpioTriggerInput);

    // Inverted: the falling edge fires, and the input it saw was low.
    trigger(*camera, 0);
    EXPECT_FALSE(camera->setTriggerInput(true, t + 2 * kMs));
    EXPECT_EQ(sink(kSerial)->frames().size(), 1u);
    EXPECT_TRUE(camera->setTriggerInput(false, t + 3 * kMs));
    ASSERT_EQ(sink(kSerial)->frames().size(), 2u);
    EXPECT_EQ(sink(kSerial)->frames()[1].exposureStartNs, t + 3 * kMs);
    EXPECT_FALSE(sink(kSerial)->frames()[1].gpioLevels & frameinfo::kGpioTriggerInput);
    EXPECT_EQ(camera->droppedTriggers(), 0u);
}

TEST_F(CameraTrigger, ModeOneExposesForAsLongAsThePulseLasts)
{
    const auto camera = streaming(smallCamera(kSerial));
    trigger(*camera, kTriggerPolarity | modeField(1));
    const int64_t t = hostNowNs();
    ASSERT_TRUE(camera->setTriggerInput(true, t));
    EXPECT_EQ(read(*camera, kSoftwareTrigger), kSoftwareTriggerBusy) << "exposing until the input falls";
    write(*camera, kSoftwareTrigger, kSoftwareTriggerFire);
    EXPECT_EQ(camera->droppedTriggers(), 1u) << "nothing else fires an exposing camera";
    EXPECT_TRUE(sink(kSerial)->frames().empty());

    EXPECT_FALSE(camera->setTriggerInput(false, t + 3 * kMs)) << "the closing edge is no trigger";
    ASSERT_EQ(sink(kSerial)->frames().size(), 1u);
    EXPECT_EQ(sink(kSerial)->frames()[0].exposureStartNs, t);
    EXPECT_EQ(sink(kSerial)->frames()[0].exposureNs, 3 * kMs);

    ASSERT_TRUE(camera->setTriggerInput(true, t + 10 * kMs));
    camera->setTriggerInput(false, t + 17 * kMs);
    ASSERT_EQ(sink(kSerial)->frames().size(), 2u);
    EXPECT_EQ(sink(kSerial)->frames()[1].exposureNs, 7 * kMs);

    // Mode 0: the shutter decides, whatever the pulse.
    trigger(*camera, kTriggerPolarity);
    ASSERT_TRUE(camera->setTriggerInput(true, t + 20 * kMs));
    camera->setTriggerInput(false, t + 21 * kMs);
    ASSERT_EQ(sink(kSerial)->frames().size(), 3u);
    EXPECT_EQ(sink(kSerial)->frames()[2].exposureNs, int64_t(camera->exposureSeconds() * 1e9));
}

TEST_F(CameraTrigger, APacedModeOneImageLeavesTheCameraAfterThePulseEnds)
{
    const auto camera = streaming(smallCamera(kSerial), 0, Pacing::frameRate);
    trigger(*camera, kTriggerPolarity | modeField(1));
    ASSERT_EQ(world().setTriggerLine(true), 1);
    EXPECT_FALSE(sink(kSerial)->waitFor(1, 50ms)) << "still exposing";
    world().setTriggerLine(false);
    const int64_t fell = hostNowNs();
    ASSERT_TRUE(sink(kSerial)->waitFor(1));
    const Frame frame = sink(kSerial)->frames()[0];
    EXPECT_GE(frame.exposureNs, 50 * kMs);
    EXPECT_GE(frame.deliveredNs, frame.exposureStartNs + frame.exposureNs);
    EXPECT_LE(frame.exposureStartNs + frame.exposureNs, fell);
}

// --- software triggers ------------------------------------------------------------------

TEST_F(CameraTrigger, TheStandardSoftwareTriggerFiresOnlyACameraSourcedBySoftware)
{
    const auto camera = streaming(smallCamera(kSerial));
    ASSERT_TRUE(read(*camera, kTriggerInquiry) & kTriggerInqSoftware);
    trigger(*camera, sourceField(0));
    write(*camera, kSoftwareTriggerStandard, kSoftwareTriggerStandardFire);
    EXPECT_TRUE(sink(kSerial)->frames().empty()) << "source 0 is the input line";

    trigger(*camera, sourceField(kTriggerSourceSoftware));
    ASSERT_EQ((read(*camera, kTriggerMode) >> kTriggerSourceShift) & kTriggerSourceMask,
              kTriggerSourceSoftware);
    EXPECT_EQ(read(*camera, kSoftwareTriggerStandard), 0u) << "ready";
    write(*camera, kSoftwareTriggerStandard, kSoftwareTriggerStandardFire);
    EXPECT_EQ(sink(kSerial)->frames().size(), 1u);
    EXPECT_FALSE(camera->setTriggerInput(true, hostNowNs())) << "the input line does not fire it";
    // The vendor register fires it whatever the source.
    write(*camera, kSoftwareTrigger, kSoftwareTriggerFire);
    EXPECT_EQ(sink(kSerial)->frames().size(), 2u);
}

TEST_F(CameraTrigger, AStandardSoftwareTriggerReadsSetUntilItsImageIsExposed)
{
    const auto camera = streaming(smallCamera(kSerial), 0, Pacing::frameRate);
    trigger(*camera, sourceField(kTriggerSourceSoftware));
    // 80 ms, which only a triggered camera takes: the read below comes well
    // before the exposure ends.
    write(*camera, kShutter, kPresence | kControlOn | 4000u);
    ASSERT_EQ(read(*camera, kShutter) & kControlValueMask, 4000u);
    write(*camera, kSoftwareTriggerStandard, kSoftwareTriggerStandardFire);
    EXPECT_EQ(read(*camera, kSoftwareTriggerStandard), kSoftwareTriggerStandardFire);
    ASSERT_TRUE(sink(kSerial)->waitFor(1));
    EXPECT_EQ(read(*camera, kSoftwareTriggerStandard), 0u);
}

// --- forced inquiries ----------------------------------------------------------------------

TEST_F(CameraTrigger, AForcedTriggerInquiryDecidesWhatTheCameraTakes)
{
    CameraConfig config = smallCamera(kSerial);
    // Present, readable, switchable, source 0 and mode 0 only: no polarity
    // change, no software trigger, no mode 1.
    config.registerOverrides[kTriggerInquiry] = kTriggerInqPresence | kTriggerInqReadable | kTriggerInqOnOff |
                                                triggerInqSource(0) | triggerInqMode(0);
    const auto camera = streaming(config);
    write(*camera, kTriggerMode, kPresence | kTriggerOn | kTriggerPolarity | modeField(1) | sourceField(7));
    const uint32_t mode = read(*camera, kTriggerMode);
    EXPECT_TRUE(mode & kTriggerOn);
    EXPECT_FALSE(mode & kTriggerPolarity) << "the polarity cannot change";
    EXPECT_EQ((mode >> kTriggerModeShift) & kTriggerModeMask, 0u);
    EXPECT_EQ((mode >> kTriggerSourceShift) & kTriggerSourceMask, 0u);

    EXPECT_EQ(read(*camera, kSoftwareTrigger), 0u) << "no software trigger";
    write(*camera, kSoftwareTrigger, kSoftwareTriggerFire);
    EXPECT_TRUE(sink(kSerial)->frames().empty());
    EXPECT_FALSE(camera->setTriggerInput(true, hostNowNs())) << "a low-active input idles high";
    EXPECT_TRUE(camera->setTriggerInput(false, hostNowNs())) << "and fires as it falls";
    EXPECT_EQ(sink(kSerial)->frames().size(), 1u);

    CameraConfig absent = smallCamera(kNeighbour);
    absent.registerOverrides[kTriggerInquiry] = 0;
    const auto without = streaming(absent);
    write(*without, kTriggerMode, kPresence | kTriggerOn);
    EXPECT_EQ(read(*without, kTriggerMode), 0u) << "no trigger register";
    EXPECT_TRUE(without->pullFrame()) << "free running";
}

TEST_F(CameraTrigger, AForcedStrobeInquiryWithoutPresenceRemovesTheOutput)
{
    const auto probe = world().addCamera(1, smallCamera(kElsewhere));
    const uint32_t control = strobeControl(*probe, 1);
    CameraConfig config = smallCamera(kSerial);
    config.registerOverrides[control - kStrobeControlOffset + kStrobeInquiryOffset] = 0;
    const auto camera = streaming(config);
    write(*camera, kGpioControl, gpioOutputBit(1) | gpioOutputBit(2));
    write(*camera, control, kPresence | kStrobeOn | kStrobePolarity);
    write(*camera, control + 4, kPresence | kStrobeOn | kStrobePolarity);
    EXPECT_EQ(read(*camera, control), 0u);
    const auto frame = camera->pullFrame();
    ASSERT_TRUE(frame);
    EXPECT_FALSE(frame->gpioLevels & frameinfo::kGpioStrobe0);
    EXPECT_TRUE(frame->gpioLevels & frameinfo::kGpioStrobe1) << "pin 2 kept its strobe";
}

// --- strobe pulses ----------------------------------------------------------------------

TEST_F(CameraTrigger, AStrobeOfDurationZeroLastsTheExposureAndItsPolarityInvertsTheLevel)
{
    const auto camera = streaming(smallCamera(kSerial));
    const uint32_t control = strobeControl(*camera, 1);
    write(*camera, kGpioControl, gpioOutputBit(1));
    write(*camera, control, kPresence | kStrobeOn | kStrobePolarity | (1024u << kStrobeDelayShift));
    trigger(*camera, kTriggerPolarity);
    const int64_t exposure = int64_t(camera->exposureSeconds() * 1e9);
    ASSERT_GT(exposure, 0);

    // Pairs 100 ms apart: a strobed image, then one `after` later whose
    // levels show the first one's pulse, [1 ms, 1 ms + exposure).
    const int64_t t = hostNowNs();
    const int64_t after[] = {kMs - 1, kMs, kMs + exposure - 1, kMs + exposure};
    const bool on[] = {false, true, true, false};
    for (size_t i = 0; i < std::size(after); ++i) {
        const int64_t first = t + int64_t(i) * 100 * kMs;
        ASSERT_TRUE(camera->externalTrigger(first));
        ASSERT_TRUE(camera->externalTrigger(first + after[i]));
        EXPECT_EQ(on[i], (sink(kSerial)->frames().back().gpioLevels & frameinfo::kGpioStrobe0) != 0)
            << after[i] << " ns";
    }

    // Low active: the same pulse pulls the line low.
    write(*camera, control, kPresence | kStrobeOn | (1024u << kStrobeDelayShift));
    const int64_t later = t + 1000 * kMs;
    ASSERT_TRUE(camera->externalTrigger(later));
    EXPECT_TRUE(sink(kSerial)->frames().back().gpioLevels & frameinfo::kGpioStrobe0) << "idle high";
    ASSERT_TRUE(camera->externalTrigger(later + kMs));
    EXPECT_FALSE(sink(kSerial)->frames().back().gpioLevels & frameinfo::kGpioStrobe0);
    ASSERT_TRUE(camera->externalTrigger(later + 2 * kMs + 2 * exposure));
    EXPECT_TRUE(sink(kSerial)->frames().back().gpioLevels & frameinfo::kGpioStrobe0) << "over";
}

// --- broadcasts ----------------------------------------------------------------------------

TEST_F(CameraTrigger, ABroadcastWriteReachesEveryCameraOfItsBusAtOneInstant)
{
    const auto a = streaming(smallCamera(kSerial), 0);
    const auto b = streaming(smallCamera(kNeighbour), 0);
    const auto c = streaming(smallCamera(kElsewhere), 1);
    for (const auto& camera : {a, b, c})
        trigger(*camera, kTriggerPolarity);
    const int64_t before = hostNowNs();
    world().broadcastWrite(0, kSoftwareTrigger, kSoftwareTriggerFire);
    ASSERT_EQ(sink(kSerial)->frames().size(), 1u);
    ASSERT_EQ(sink(kNeighbour)->frames().size(), 1u);
    EXPECT_EQ(sink(kSerial)->frames()[0].exposureStartNs, sink(kNeighbour)->frames()[0].exposureStartNs);
    EXPECT_GT(sink(kSerial)->frames()[0].exposureStartNs, before) << "after the request crossed the bus";
    EXPECT_TRUE(sink(kElsewhere)->frames().empty());
    EXPECT_THROW(world().broadcastWrite(7, kSoftwareTrigger, kSoftwareTriggerFire), std::invalid_argument);
}

} // namespace
} // namespace orvex::sim::test
