// The frame-information items of a FlyCapture camera: where each item lies
// for a register value, the queries and switches, and the smart features
// that stand for them.
#include "SimulatedBuses.h"

#include <orvex/iidc/FrameInfo.h>

#include <gtest/gtest.h>

#include <functional>

using namespace orvex::test;
namespace frameinfo = orvex::iidc::frameinfo;
namespace sim = orvex::sim;

namespace {

constexpr std::size_t kAbsent = frameinfo::Layout::kAbsent;

// The frame-information register's item bits, as cameras publish them.
constexpr uint32_t kTimestamp = 0x1, kGain = 0x2, kShutter = 0x4, kDcamInfo = 0x6, kFrameCounter = 0x40,
                   kGpioStatus = 0x100, kAllItems = 0x147, kPresent = 0x80000000;

class FlyCapFrameInfoTest : public SimulatedBuses {
protected:
    FlyCapCamera& initialised(const sim::CameraConfig& config)
    {
        return dynamic_cast<FlyCapCamera&>(listOne(config, true));
    }
    uint32_t frameInfoRegister(FlyCapCamera& camera)
    {
        unsigned long value = 0;
        camera.readRegister(0xF0F012F8, value);
        return static_cast<uint32_t>(value);
    }
};

} // namespace

// --- the layout --------------------------------------------------------------------------

TEST(FrameInfoLayout, TheDcamInfoTakesRoomOnlyWithBothOfItsBits)
{
    struct Case {
        uint32_t bits;
        std::size_t timestamp, gain, shutter, frameCounter, gpio, size;
    };
    const Case cases[] = {
        {0, kAbsent, kAbsent, kAbsent, kAbsent, kAbsent, 0},
        {kGain | kFrameCounter, kAbsent, kAbsent, kAbsent, 0, kAbsent, 4},
        {kShutter | kGpioStatus, kAbsent, kAbsent, kAbsent, kAbsent, 0, 4},
        {kTimestamp | kShutter | kFrameCounter, 0, kAbsent, kAbsent, 4, kAbsent, 8},
        {kDcamInfo | kFrameCounter, kAbsent, 0, 4, 8, kAbsent, 12},
        {kTimestamp | kFrameCounter, 0, kAbsent, kAbsent, 4, kAbsent, 8},
        {kAllItems, 0, 4, 8, 12, 16, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const frameinfo::Layout layout = frameinfo::layoutOf(c.bits);
        EXPECT_EQ(c.timestamp, layout.timestamp);
        EXPECT_EQ(c.gain, layout.gain);
        EXPECT_EQ(c.shutter, layout.shutter);
        EXPECT_EQ(c.frameCounter, layout.frameCounter);
        EXPECT_EQ(c.gpio, layout.gpioStatus);
        EXPECT_EQ(c.size, layout.size);
    }
}

TEST(FrameInfoLayout, AnItemFitsOnlyWhollyInsideTheImage)
{
    EXPECT_TRUE(frameinfo::fits(0, 4));
    EXPECT_FALSE(frameinfo::fits(0, 3));
    EXPECT_TRUE(frameinfo::fits(16, 20));
    EXPECT_FALSE(frameinfo::fits(17, 20));
    EXPECT_FALSE(frameinfo::fits(24, 20)) << "past the end, without wrapping";
    EXPECT_FALSE(frameinfo::fits(kAbsent, 1000));
}

// --- queries and switches ---------------------------------------------------------------

TEST_F(FlyCapFrameInfoTest, QueriesAndSwitchesNeedInit)
{
    auto& camera = dynamic_cast<FlyCapCamera&>(listOne(kGras20, 0x400, false));
    const std::string initFirst = "\"init\" method must be called before";
    const std::function<void()> calls[] = {
        [&] { camera.isTimeStampFeatureSupported(); },  [&] { camera.isTimeStampFeatureEnabled(); },
        [&] { camera.enableTimeStampFeature(true); },   [&] { camera.isFrameCounterFeatureSupported(); },
        [&] { camera.isFrameCounterFeatureEnabled(); }, [&] { camera.enableFrameCounterFeature(true); },
        [&] { camera.isGPIOStatusFeatureSupported(); }, [&] { camera.isGPIOStatusEnabled(); },
        [&] { camera.enableGPIOStatusFeature(true); },  [&] { camera.isDCAMInfoFeatureSupported(); },
        [&] { camera.isDCAMInfoFeatureEnabled(); },     [&] { camera.enableDCAMInfoFeature(true); },
    };
    for (size_t i = 0; i < sizeof calls / sizeof calls[0]; ++i)
        EXPECT_EQ(initFirst, errorOf(calls[i])) << "operation " << i;
}

TEST_F(FlyCapFrameInfoTest, EachSwitchSetsAndClearsOnlyItsOwnBits)
{
    FlyCapCamera& camera = initialised(modelConfig(kGras20, 0x401));
    EXPECT_TRUE(camera.isTimeStampFeatureSupported());
    EXPECT_TRUE(camera.isGPIOStatusFeatureSupported());
    EXPECT_FALSE(camera.isTimeStampFeatureEnabled());

    EXPECT_TRUE(camera.enableTimeStampFeature(true));
    EXPECT_TRUE(camera.enableGPIOStatusFeature(true));
    EXPECT_TRUE(camera.enableDCAMInfoFeature(true));
    EXPECT_TRUE(camera.enableFrameCounterFeature(true));
    EXPECT_EQ(kPresent | kAllItems, frameInfoRegister(camera));

    EXPECT_FALSE(camera.enableDCAMInfoFeature(false));
    EXPECT_EQ(kPresent | kTimestamp | kFrameCounter | kGpioStatus, frameInfoRegister(camera));
    EXPECT_FALSE(camera.enableTimeStampFeature(false));
    EXPECT_FALSE(camera.isTimeStampFeatureEnabled());
    EXPECT_TRUE(camera.isFrameCounterFeatureEnabled());
    EXPECT_TRUE(camera.isGPIOStatusEnabled());
}

TEST_F(FlyCapFrameInfoTest, ASwitchTheCameraDoesNotTakeAnswersFalse)
{
    sim::CameraConfig config = modelConfig(kGras20, 0x402);
    config.frameInfoItems = kTimestamp | kGain; // half of the DCAM info
    FlyCapCamera& camera = initialised(config);
    EXPECT_TRUE(camera.enableTimeStampFeature(true));
    EXPECT_FALSE(camera.enableDCAMInfoFeature(true)) << "only one of its two bits reads back";
    EXPECT_FALSE(camera.enableFrameCounterFeature(true));

    config = modelConfig(kGras20, 0x403);
    config.frameInfoItems = 0; // no register at all
    FlyCapCamera& bare = initialised(config);
    EXPECT_FALSE(bare.isTimeStampFeatureSupported());
    EXPECT_FALSE(bare.enableTimeStampFeature(true));
    EXPECT_FALSE(bare.areSmartFeaturesSupported());
}

// --- smart features ---------------------------------------------------------------------

TEST_F(FlyCapFrameInfoTest, SmartFeaturesStandForTheItems)
{
    FlyCapCamera& camera = initialised(modelConfig(kGras20, 0x404));
    EXPECT_TRUE(camera.areSmartFeaturesSupported());
    EXPECT_TRUE(camera.isSmartFeatureEnabled(sf_extendedDataStream));
    EXPECT_TRUE(camera.isSmartFeatureEnabled(sf_shutterTimeBase));
    EXPECT_FALSE(camera.isSmartFeatureEnabled(sf_crcChecksum));

    const struct {
        SmartFeatureEnum feature;
        uint32_t bits;
    } items[] = {{sf_frameCounter, kFrameCounter},
                 {sf_cycleTimeStamp, kTimestamp},
                 {sf_dcam, kDcamInfo},
                 {sf_gpioStatus, kGpioStatus}};
    for (const auto& item : items) {
        SCOPED_TRACE(static_cast<int>(item.feature));
        EXPECT_FALSE(camera.isSmartFeatureEnabled(item.feature));
        EXPECT_TRUE(camera.enableSmartFeature(item.feature, true));
        EXPECT_TRUE(camera.isSmartFeatureEnabled(item.feature));
        EXPECT_EQ(item.bits, frameInfoRegister(camera) & kAllItems);
        EXPECT_FALSE(camera.enableSmartFeature(item.feature, false));
        EXPECT_FALSE(camera.isSmartFeatureEnabled(item.feature));
    }
    EXPECT_TRUE(camera.enableSmartFeature(sf_extendedDataStream, false));
    EXPECT_TRUE(camera.enableSmartFeature(sf_extendedDataStream, true));
    EXPECT_FALSE(camera.enableSmartFeature(sf_lookupTable, true));
}
