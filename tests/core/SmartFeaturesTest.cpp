// The smart features protocol against a simulated camera that answers it,
// through the camera operations a host calls and through the manager the
// back ends use. Addresses and identifiers are written out as the camera
// vendor publishes them.
#include "core/SmartFeaturesManager.h"
#include "core/support/ChunkImage.h"
#include "core/support/TestCamera.h"
#include "support/ErrorOf.h"
#include "support/LogCapture.h"

#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>

#include <boost/lexical_cast.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

using orvex::test::ChunkImage;
using orvex::test::errorOf;
using orvex::test::LogCapture;
using orvex::test::smartCameraConfig;
using orvex::test::TestCamera;
using testing::ElementsAre;

constexpr uint32_t kAccessControl = 0xF2F00000;
constexpr uint32_t kInquiryId = 0xF2F00010;
constexpr uint32_t kPresentAndEnabled = 0x80000001;

// Feature identifiers 0 to 8 as published.
constexpr uint32_t kFeatureIds[9][4] = {
    {0x4E7ABCB0, 0x11D81B84, 0x10005196, 0x55AE5B5A}, {0x4433C4A4, 0x11D81B84, 0x1000B286, 0x55AE5B5A},
    {0x5590D58E, 0x11D81B84, 0x10004784, 0x55AE5B5A}, {0xE1556B8E, 0x11DA5516, 0x3000B586, 0x55AE5B53},
    {0x494DE528, 0x11D81B84, 0x10000C8A, 0x55AE5B5A}, {0x648BE1DA, 0x11D8A416, 0x1000479B, 0x55AE5B5A},
    {0x3B34004E, 0x11D81B84, 0x1000B383, 0x55AE5B5A}, {0x2B2D8714, 0x4176C15E, 0xF86E35A2, 0xB447D743},
    {0xB28C667C, 0x11D7DF9D, 0x0C009386, 0xB0D10B6E},
};

uint32_t controlOf(SmartFeatureEnum feature)
{
    return orvex::sim::Camera::smartFeatureControlAddress(feature);
}

uint32_t readBack(TestCamera& camera, uint32_t address)
{
    unsigned long value = 0;
    camera.readRegister(address, value);
    return static_cast<uint32_t>(value);
}

float asFloat(uint32_t bits)
{
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

class SmartFeatures : public testing::Test {
protected:
    // A camera whose smart features are those of `mask`.
    void plugInWith(uint32_t mask)
    {
        orvex::sim::CameraConfig config = smartCameraConfig();
        config.smartFeatureMask = mask;
        camera.plugIn(config);
    }

    TestCamera camera{CamGUID(0x1234, 0x5), 3};
    SmartFeaturesManager& manager = camera.smartFeaturesManager();
};

TEST_F(SmartFeatures, SupportIsAskedThroughTheAccessControlRegisters)
{
    EXPECT_TRUE(camera.areSmartFeaturesSupported());
    const auto writes = camera.writes();
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ(kAccessControl, writes[0].first);
    EXPECT_EQ(kAccessControl + 4, writes[1].first);

    orvex::sim::CameraConfig plain = smartCameraConfig();
    plain.smartFeatures = false;
    camera.plugIn(plain);
    EXPECT_FALSE(camera.areSmartFeaturesSupported());
}

TEST_F(SmartFeatures, EachFeatureIsAskedForByItsPublishedIdentifier)
{
    for (unsigned feature = 0; feature < 9; ++feature) {
        camera.plugIn(smartCameraConfig());
        uint32_t address = 0, second = 0;
        EXPECT_TRUE(manager.inquire(static_cast<SmartFeatureEnum>(feature), address, second)) << feature;
        const auto writes = camera.writes();
        ASSERT_EQ(4u, writes.size()) << feature;
        for (unsigned q = 0; q < 4; ++q) {
            EXPECT_EQ(kInquiryId + 4 * q, writes[q].first) << feature;
            EXPECT_EQ(kFeatureIds[feature][q], writes[q].second) << "feature " << feature << " quadlet " << q;
        }
    }
}

TEST_F(SmartFeatures, OnlyFeaturesTheCameraHasAreSwitched)
{
    // Bit 31 of the cycle time stamp's control register is clear.
    orvex::sim::CameraConfig config = smartCameraConfig();
    config.registerOverrides[controlOf(sf_cycleTimeStamp)] = 0;
    config.smartFeatureMask = 0x1FF & ~(1u << sf_dcam);
    camera.plugIn(config);

    EXPECT_FALSE(camera.enableSmartFeature(sf_dcam, true)); // unknown to the camera
    EXPECT_FALSE(camera.enableSmartFeature(sf_cycleTimeStamp, true));
    EXPECT_EQ(0u, camera.writeCount(controlOf(sf_cycleTimeStamp)));

    EXPECT_FALSE(camera.isSmartFeatureEnabled(sf_frameCounter));
    EXPECT_TRUE(camera.enableSmartFeature(sf_frameCounter, true));
    EXPECT_EQ(kPresentAndEnabled, readBack(camera, controlOf(sf_frameCounter)));
    EXPECT_TRUE(camera.isSmartFeatureEnabled(sf_frameCounter));

    EXPECT_TRUE(camera.enableSmartFeature(sf_frameCounter, false));
    EXPECT_EQ(0x80000000u, readBack(camera, controlOf(sf_frameCounter)));
    EXPECT_FALSE(camera.isSmartFeatureEnabled(sf_frameCounter));
}

TEST_F(SmartFeatures, FeaturesWithoutIdentifierAreAbsentWithoutAskingTheCamera)
{
    EXPECT_FALSE(camera.enableSmartFeature(sf_gpioStatus, true));
    EXPECT_FALSE(camera.isSmartFeatureEnabled(static_cast<SmartFeatureEnum>(42)));
    EXPECT_EQ(0u, camera.writeCount(kInquiryId));
}

TEST_F(SmartFeatures, CrcFlagFollowsTheCrcFeature)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_crcChecksum, true));
    EXPECT_TRUE(manager.isCrcEnabled());

    ChunkImage image(32);
    image.extendedDataStream().crc();
    manager.parse(image.data(), image.size());
    EXPECT_TRUE(manager.isCrcMatched());

    ASSERT_TRUE(camera.enableSmartFeature(sf_crcChecksum, false));
    EXPECT_FALSE(manager.isCrcEnabled());
    manager.parse(image.data(), image.size());
    EXPECT_EQ("CRC smart feature not enabled", errorOf([&] { manager.isCrcMatched(); }));
}

TEST_F(SmartFeatures, SwitchingIsLoggedOnTheConfigLogger)
{
    plugInWith(0x1FF & ~(1u << sf_dcam));
    LogCapture config(g_OrvexCfgLogger, log4cplus::INFO_LOG_LEVEL);
    camera.enableSmartFeature(sf_frameCounter, true);
    camera.enableSmartFeature(sf_dcam, false);
    camera.enableSmartFeature(sf_greyLevelValues, true);
    const std::string guid = CamGUID(0x1234, 0x5).to_string();
    EXPECT_THAT(config.messages(),
                ElementsAre("port #3;GUID #" + guid + ";enablesmart feature FrameCounter;success",
                            "port #3;GUID #" + guid + ";disablesmart feature DCAM;failure",
                            "port #3;GUID #" + guid + ";enablesmart feature ;success"));
    EXPECT_EQ(log4cplus::INFO_LOG_LEVEL, config.lines().front().level);
}

// The simulated camera's time base: 1.5 s now, steps of 0.25 s from 0.5 s to
// 2 s, so that current, minimum and maximum all differ.
class ShutterTimeBase : public SmartFeatures {
protected:
    float timeBaseInCamera() { return asFloat(readBack(camera, controlOf(sf_shutterTimeBase) + 16)); }
};

TEST_F(ShutterTimeBase, NeedsTheFeatureSwitchedOn)
{
    EXPECT_FALSE(camera.isShutterTimeBaseAvailable());
    EXPECT_EQ("Shutter TimeBase SF must be enabled", errorOf([&] { camera.getShutterTimeBase(); }));
    EXPECT_EQ("Shutter TimeBase SF must be enabled", errorOf([&] { camera.setShutterTimeBase(1.0f); }));
    EXPECT_EQ("La SF ShutterTimeBase n'est pas active", errorOf([&] { manager.readShutterTimeBase(); }));
    float value = 1.0f;
    EXPECT_EQ("La SF ShutterTimeBase n'est pas active", errorOf([&] { manager.setShutterTimeBase(value); }));
}

TEST_F(ShutterTimeBase, SwitchingOnReadsTheRange)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    EXPECT_TRUE(camera.isShutterTimeBaseAvailable());
    EXPECT_EQ(1.5f, camera.getShutterTimeBase());
    EXPECT_EQ(0.5f, camera.getShutterTimeBaseMin());
    EXPECT_EQ(2.0f, camera.getShutterTimeBaseMax());
    EXPECT_EQ(0.25f, manager.getShutterTimeBaseIncrement());
}

TEST_F(ShutterTimeBase, ValuesRoundToTheNearestStepHalvesUp)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    LogCapture log(g_OrvexLogger, log4cplus::WARN_LOG_LEVEL);

    float value = 0.8f; // 1.2 steps above the minimum
    EXPECT_TRUE(manager.setShutterTimeBase(value));
    EXPECT_EQ(0.75f, value);
    EXPECT_EQ(0.75f, timeBaseInCamera());

    value = 0.875f; // exactly half-way between 0.75 and 1.0
    EXPECT_TRUE(manager.setShutterTimeBase(value));
    EXPECT_EQ(1.0f, value);
    EXPECT_EQ(1.0f, camera.getShutterTimeBase());

    value = 0.4f; // less than a step below the minimum truncates onto it
    EXPECT_TRUE(manager.setShutterTimeBase(value));
    EXPECT_EQ(0.5f, value);

    EXPECT_THAT(log.messages(), ElementsAre("Shutter Time Base set to 0.75 (0.8 required)",
                                            "Shutter Time Base set to 1 (0.875 required)",
                                            "Shutter Time Base set to 0.5 (0.4 required)"));
    EXPECT_EQ(log4cplus::WARN_LOG_LEVEL, log.lines().front().level);
}

TEST_F(ShutterTimeBase, ValuesOnAStepAreWrittenSilentlyAndTheCurrentOneNotAtAll)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    LogCapture log(g_OrvexLogger, log4cplus::WARN_LOG_LEVEL);
    EXPECT_TRUE(camera.setShutterTimeBase(1.25f));
    EXPECT_EQ(1.25f, timeBaseInCamera());
    EXPECT_TRUE(log.lines().empty());

    // The cached current value is answered without asking the camera.
    const unsigned inquiries = camera.writeCount(kInquiryId);
    float same = 1.25f;
    EXPECT_TRUE(manager.setShutterTimeBase(same));
    EXPECT_EQ(inquiries, camera.writeCount(kInquiryId));
}

TEST_F(ShutterTimeBase, OutOfRangeValuesAreRefusedInFrench)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    float value = 0.1f;
    EXPECT_EQ("La valeur ShutterTimeBase est trop petite",
              errorOf([&] { manager.setShutterTimeBase(value); }));
    EXPECT_EQ(0.1f, value);
    value = 2.2f;
    EXPECT_EQ("La valeur ShutterTimeBase est trop grande",
              errorOf([&] { manager.setShutterTimeBase(value); }));
    value = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ("La valeur ShutterTimeBase est trop petite",
              errorOf([&] { manager.setShutterTimeBase(value); }));
    EXPECT_EQ(1.5f, timeBaseInCamera());
}

TEST_F(ShutterTimeBase, ACameraWithoutStepsTakesTheValueAsIs)
{
    orvex::sim::CameraConfig config = smartCameraConfig();
    config.timeBaseIncrement = 0.0f;
    camera.plugIn(config);
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    float value = 0.7f;
    EXPECT_TRUE(manager.setShutterTimeBase(value));
    EXPECT_EQ(0.7f, timeBaseInCamera());
}

class VersionText : public SmartFeatures {
protected:
    void plugInWithText(const std::string& text)
    {
        orvex::sim::CameraConfig config = smartCameraConfig();
        config.extendedVersion = text;
        camera.plugIn(config);
    }
};

// The camera answers the inquiry with the start of the block; its control
// quadlet follows 16 bytes further on.
TEST_F(VersionText, ReadFromTheSmartFeatureMostSignificantByteFirst)
{
    plugInWithText("ID v1.2.30.4");
    std::string text;
    ASSERT_TRUE(camera.getExtendedVersionInfo(text));
    EXPECT_EQ("ID v1.2.30.4", text);
    EXPECT_EQ(30u, camera.getFirmwareVersion());
}

TEST_F(VersionText, FallsBackOnTheCameraWhenTheBlockIsEmpty)
{
    orvex::sim::CameraConfig config = smartCameraConfig();
    config.registerOverrides[0xF2F01010] = 0x80000000; // present, no text
    camera.plugIn(config);
    camera.setFallbackVersion(true, "fallback v9.8.7.6");
    std::string text;
    ASSERT_TRUE(camera.getExtendedVersionInfo(text));
    EXPECT_EQ("fallback v9.8.7.6", text);
    EXPECT_EQ(7u, camera.getFirmwareVersion());

    camera.setFallbackVersion(false, "");
    EXPECT_FALSE(camera.getExtendedVersionInfo(text));
    EXPECT_EQ("Cannot retrieve ExtendedVersionInfo!", errorOf([&] { camera.getFirmwareVersion(); }));
}

TEST_F(VersionText, WithoutTheFeatureThereIsNoText)
{
    plugInWith(0x1FF & ~(1u << sf_extendedVersionInfo));
    camera.setFallbackVersion(true, "fallback v9.8.7.6");
    std::string text;
    EXPECT_FALSE(camera.getExtendedVersionInfo(text)); // a failed inquiry does not fall back
}

TEST_F(VersionText, FirmwareVersionNeedsThreeDotsAfterBlankV)
{
    for (const char* text : {"A102f v1.2.30", "A102f V1.2.30.4", "A102fv1.2.30.4", "1.2.30.4"}) {
        plugInWithText(text);
        EXPECT_EQ("invalid firmware version string!", errorOf([&] { camera.getFirmwareVersion(); })) << text;
    }
    // A number that does not fit 32 bits fails as on the 32-bit target.
    for (const char* text : {"A v1.2.3x.4", "A v1.2. 3.4", "A v1.2.4294967296.4"}) {
        plugInWithText(text);
        EXPECT_THROW(camera.getFirmwareVersion(), boost::bad_lexical_cast) << text;
    }
    // The first " v" counts, and dots before it do not.
    plugInWithText("r.2.3 v10.20.300.4 v5.6.7.8");
    EXPECT_EQ(300u, camera.getFirmwareVersion());
}

TEST_F(SmartFeatures, ChunkGettersRefuseChunksTheImageLacked)
{
    ChunkImage image(16);
    image.extendedDataStream().dcam(0x00000FFF, 0x80000010);
    manager.parse(image.data(), image.size());

    EXPECT_EQ("frame counter smart feature not enabled", errorOf([&] { manager.getFrameCounter(); }));
    EXPECT_EQ("frame counter smart feature not enabled", errorOf([&] { manager.getCycleTimeDate(); }));
    EXPECT_EQ("CRC smart feature not enabled", errorOf([&] { manager.isCrcMatched(); }));
    EXPECT_EQ("gain not available", errorOf([&] { manager.getGain(); }));
    EXPECT_FALSE(manager.isGainPresent());
    EXPECT_TRUE(manager.isShutterPresent());
    EXPECT_EQ(0x10u, manager.getShutter());
    EXPECT_TRUE(manager.isPresent(4));
    EXPECT_FALSE(manager.isPresent(9));
    EXPECT_THROW(manager.isPresent(10), std::out_of_range);

    ChunkImage plain(16);
    manager.parse(plain.data(), plain.size());
    EXPECT_EQ("DCAM smart feature not enabled", errorOf([&] { manager.getGain(); }));
    EXPECT_EQ("DCAM smart feature not enabled", errorOf([&] { manager.getShutter(); }));
}

TEST_F(SmartFeatures, ChunkValuesReachTheGetters)
{
    ChunkImage image(16);
    // Cycle time 2 s, 8 cycles: 2001 ms.
    image.extendedDataStream().frameCounter(77).cycleTime((2u << 25) | (8u << 12)).greyLevels(1, 2, 3);
    manager.parse(image.data(), image.size());
    EXPECT_EQ(77u, manager.getFrameCounter());
    EXPECT_DOUBLE_EQ(2001.0, manager.getCycleTimeDate());
    EXPECT_EQ(1u, manager.getLowestGreyLevel());
    EXPECT_EQ(2u, manager.getHighestGreyLevel());
    EXPECT_EQ(3u, manager.getMeanGreyLevel());
}

} // namespace
