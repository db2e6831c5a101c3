// The smart features protocol as a camera answers it (an in-memory register
// map), through the camera operations a host calls and through the manager
// the back ends use.
#include "core/SmartFeaturesManager.h"
#include "core/support/ChunkImage.h"
#include "core/support/TestCamera.h"
#include "support/LogCapture.h"

#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>
#include <orvex/iidc/SmartFeatures.h>

#include <boost/lexical_cast.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

namespace sf = orvex::iidc::sf;
using orvex::test::ChunkImage;
using orvex::test::LogCapture;
using orvex::test::SmartFeatureRegisters;
using orvex::test::TestCamera;
using testing::ElementsAre;
using testing::HasSubstr;

#define EXPECT_ORVEX_ERROR(statement, text)                                                                  \
    try {                                                                                                    \
        statement;                                                                                           \
        ADD_FAILURE() << "no OrvexError from " #statement;                                                   \
    } catch (const OrvexError& error) {                                                                      \
        EXPECT_STREQ(text, error.what());                                                                    \
    }

class SmartFeatures : public testing::Test {
protected:
    TestCamera camera{CamGUID(0x1234, 0x5), 3};
    SmartFeatureRegisters& registers = camera.registers();
    SmartFeaturesManager& manager = camera.smartFeaturesManager();
};

TEST_F(SmartFeatures, SupportIsTheAccessControlEcho)
{
    EXPECT_TRUE(camera.areSmartFeaturesSupported());
    EXPECT_EQ(sf::kFeatureSetId[0], registers.peek(sf::kAccessControl0));
    EXPECT_EQ(sf::kFeatureSetId[1], registers.peek(sf::kAccessControl1));

    registers.setSmartFeaturesSupported(false);
    EXPECT_FALSE(camera.areSmartFeaturesSupported());
}

TEST_F(SmartFeatures, OnlyPresentFeaturesAreSwitched)
{
    registers.addFeature(sf_frameCounter);
    registers.addFeature(sf_cycleTimeStamp, /*present=*/false);
    const uint32_t frameCounter = SmartFeatureRegisters::featureAddress(sf_frameCounter);
    const uint32_t cycleTime = SmartFeatureRegisters::featureAddress(sf_cycleTimeStamp);

    EXPECT_FALSE(camera.enableSmartFeature(sf_dcam, true)); // unknown to the camera
    EXPECT_FALSE(camera.enableSmartFeature(sf_cycleTimeStamp, true));
    EXPECT_EQ(0u, registers.writeCount(cycleTime));

    EXPECT_FALSE(camera.isSmartFeatureEnabled(sf_frameCounter));
    EXPECT_TRUE(camera.enableSmartFeature(sf_frameCounter, true));
    EXPECT_EQ(sf::kControlPresent | sf::kControlEnabled, registers.peek(frameCounter));
    EXPECT_TRUE(camera.isSmartFeatureEnabled(sf_frameCounter));

    EXPECT_TRUE(camera.enableSmartFeature(sf_frameCounter, false));
    EXPECT_EQ(sf::kControlPresent, registers.peek(frameCounter));
    EXPECT_FALSE(camera.isSmartFeatureEnabled(sf_frameCounter));
}

TEST_F(SmartFeatures, FeaturesWithoutIdentifierAreAbsentWithoutAskingTheCamera)
{
    EXPECT_FALSE(camera.enableSmartFeature(sf_gpioStatus, true));
    EXPECT_FALSE(camera.isSmartFeatureEnabled(static_cast<SmartFeatureEnum>(42)));
    EXPECT_EQ(0u, registers.writeCount(sf::kInquiryId));
}

TEST_F(SmartFeatures, CrcFlagFollowsTheCrcFeature)
{
    registers.addFeature(sf_crcChecksum);
    ASSERT_TRUE(camera.enableSmartFeature(sf_crcChecksum, true));
    EXPECT_TRUE(manager.isCrcEnabled());

    ChunkImage image(32);
    image.extendedDataStream().crc();
    manager.parse(image.data(), image.size());
    EXPECT_TRUE(manager.isCrcMatched());

    ASSERT_TRUE(camera.enableSmartFeature(sf_crcChecksum, false));
    EXPECT_FALSE(manager.isCrcEnabled());
    manager.parse(image.data(), image.size());
    EXPECT_ORVEX_ERROR(manager.isCrcMatched(), "CRC smart feature not enabled");
}

TEST_F(SmartFeatures, SwitchingIsLoggedOnTheConfigLogger)
{
    registers.addFeature(sf_frameCounter);
    registers.addFeature(sf_greyLevelValues);
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

class ShutterTimeBase : public SmartFeatures {
protected:
    void SetUp() override
    {
        registers.addFeature(sf_shutterTimeBase);
        // Steps of 0.25 s from 0.5 s to 2 s: every step is exact in binary.
        registers.setTimeBase(0.25f, 0.5f, 2.0f, 2.0f);
    }
};

TEST_F(ShutterTimeBase, NeedsTheFeatureSwitchedOn)
{
    EXPECT_FALSE(camera.isShutterTimeBaseAvailable());
    EXPECT_ORVEX_ERROR(camera.getShutterTimeBase(), "Shutter TimeBase SF must be enabled");
    EXPECT_ORVEX_ERROR(camera.getShutterTimeBaseMin(), "Shutter TimeBase SF must be enabled");
    EXPECT_ORVEX_ERROR(camera.setShutterTimeBase(1.0f), "Shutter TimeBase SF must be enabled");
    EXPECT_ORVEX_ERROR(manager.readShutterTimeBase(), "La SF ShutterTimeBase n'est pas active");
    float value = 1.0f;
    EXPECT_ORVEX_ERROR(manager.setShutterTimeBase(value), "La SF ShutterTimeBase n'est pas active");
}

TEST_F(ShutterTimeBase, SwitchingOnReadsTheRange)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    EXPECT_TRUE(camera.isShutterTimeBaseAvailable());
    EXPECT_EQ(2.0f, camera.getShutterTimeBase());
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
    EXPECT_EQ(0.75f, registers.timeBaseWritten());

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

TEST_F(ShutterTimeBase, ValuesOnAStepAreWrittenSilently)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    LogCapture log(g_OrvexLogger, log4cplus::WARN_LOG_LEVEL);
    EXPECT_TRUE(camera.setShutterTimeBase(1.25f));
    EXPECT_EQ(1.25f, registers.timeBaseWritten());
    EXPECT_TRUE(log.lines().empty());

    // The cached current value is answered without asking the camera.
    const unsigned inquiries = registers.writeCount(sf::kInquiryId);
    float same = 1.25f;
    EXPECT_TRUE(manager.setShutterTimeBase(same));
    EXPECT_EQ(inquiries, registers.writeCount(sf::kInquiryId));
}

TEST_F(ShutterTimeBase, OutOfRangeValuesAreRefusedInFrench)
{
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    float value = 0.1f;
    EXPECT_ORVEX_ERROR(manager.setShutterTimeBase(value), "La valeur ShutterTimeBase est trop petite");
    EXPECT_EQ(0.1f, value);
    value = 2.2f;
    EXPECT_ORVEX_ERROR(manager.setShutterTimeBase(value), "La valeur ShutterTimeBase est trop grande");
    value = std::numeric_limits<float>::quiet_NaN();
    EXPECT_ORVEX_ERROR(manager.setShutterTimeBase(value), "La valeur ShutterTimeBase est trop petite");
    EXPECT_EQ(2.0f, registers.timeBaseWritten());
}

TEST_F(ShutterTimeBase, ACameraWithoutStepsTakesTheValueAsIs)
{
    registers.setTimeBase(0.0f, 0.5f, 2.0f, 2.0f);
    ASSERT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, true));
    float value = 0.7f;
    EXPECT_TRUE(manager.setShutterTimeBase(value));
    EXPECT_EQ(0.7f, registers.timeBaseWritten());
}

class VersionText : public SmartFeatures {};

TEST_F(VersionText, ReadFromTheSmartFeatureMostSignificantByteFirst)
{
    registers.addFeature(sf_extendedVersionInfo);
    registers.setVersionText(SmartFeatureRegisters::featureAddress(sf_extendedVersionInfo), "ID v1.2.30.4");
    std::string text;
    ASSERT_TRUE(camera.getExtendedVersionInfo(text));
    EXPECT_EQ("ID v1.2.30.4", text);
    EXPECT_EQ(30u, camera.getFirmwareVersion());
}

TEST_F(VersionText, BlockStartAddressIsRedirectedToItsControlQuadlet)
{
    registers.addFeature(sf_extendedVersionInfo, true, sf::kVersionInfoBlockStart);
    registers.setVersionText(sf::kVersionInfoControl, "A102f  v3.4.27.1");
    std::string text;
    ASSERT_TRUE(camera.getExtendedVersionInfo(text));
    EXPECT_EQ("A102f  v3.4.27.1", text);
}

TEST_F(VersionText, FallsBackOnTheCameraWhenTheBlockIsEmpty)
{
    registers.addFeature(sf_extendedVersionInfo); // control: present, no text
    camera.setFallbackVersion(true, "fallback v9.8.7.6");
    std::string text;
    ASSERT_TRUE(camera.getExtendedVersionInfo(text));
    EXPECT_EQ("fallback v9.8.7.6", text);
    EXPECT_EQ(7u, camera.getFirmwareVersion());

    camera.setFallbackVersion(false, "");
    EXPECT_FALSE(camera.getExtendedVersionInfo(text));
    EXPECT_ORVEX_ERROR(camera.getFirmwareVersion(), "Cannot retrieve ExtendedVersionInfo!");
}

TEST_F(VersionText, WithoutTheFeatureThereIsNoText)
{
    camera.setFallbackVersion(true, "fallback v9.8.7.6");
    std::string text;
    EXPECT_FALSE(camera.getExtendedVersionInfo(text));
}

TEST_F(VersionText, FirmwareVersionNeedsThreeDotsAfterBlankV)
{
    registers.addFeature(sf_extendedVersionInfo);
    const uint32_t control = SmartFeatureRegisters::featureAddress(sf_extendedVersionInfo);
    for (const char* text : {"A102f v1.2.30", "A102f V1.2.30.4", "A102fv1.2.30.4", "1.2.30.4"}) {
        registers.setVersionText(control, text);
        EXPECT_ORVEX_ERROR(camera.getFirmwareVersion(), "invalid firmware version string!");
    }
    registers.setVersionText(control, "A v1.2.3x.4");
    EXPECT_THROW(camera.getFirmwareVersion(), boost::bad_lexical_cast);
    registers.setVersionText(control, "A v1.2. 3.4");
    EXPECT_THROW(camera.getFirmwareVersion(), boost::bad_lexical_cast);
    // A number that does not fit 32 bits fails as on the 32-bit target.
    registers.setVersionText(control, "A v1.2.4294967296.4");
    EXPECT_THROW(camera.getFirmwareVersion(), boost::bad_lexical_cast);
    // The first " v" counts, and dots before it do not.
    registers.setVersionText(control, "r.2.3 v10.20.300.4 v5.6.7.8");
    EXPECT_EQ(300u, camera.getFirmwareVersion());
}

TEST_F(SmartFeatures, ChunkGettersRefuseChunksTheImageLacked)
{
    ChunkImage image(16);
    image.extendedDataStream().dcam(0x00000FFF, 0x80000010);
    manager.parse(image.data(), image.size());

    EXPECT_ORVEX_ERROR(manager.getFrameCounter(), "frame counter smart feature not enabled");
    EXPECT_ORVEX_ERROR(manager.getCycleTimeDate(), "frame counter smart feature not enabled");
    EXPECT_ORVEX_ERROR(manager.isCrcMatched(), "CRC smart feature not enabled");
    EXPECT_ORVEX_ERROR(manager.getGain(), "gain not available");
    EXPECT_FALSE(manager.isGainPresent());
    EXPECT_TRUE(manager.isShutterPresent());
    EXPECT_EQ(0x10u, manager.getShutter());
    EXPECT_TRUE(manager.isPresent(4));
    EXPECT_FALSE(manager.isPresent(9));
    EXPECT_THROW(manager.isPresent(10), std::out_of_range);

    ChunkImage plain(16);
    manager.parse(plain.data(), plain.size());
    EXPECT_ORVEX_ERROR(manager.getGain(), "DCAM smart feature not enabled");
    EXPECT_ORVEX_ERROR(manager.getShutter(), "DCAM smart feature not enabled");
}

TEST_F(SmartFeatures, ChunkValuesReachTheGetters)
{
    ChunkImage image(16);
    image.extendedDataStream().frameCounter(77).cycleTime((2u << 25) | (8u << 12)).greyLevels(1, 2, 3);
    manager.parse(image.data(), image.size());
    EXPECT_EQ(77u, manager.getFrameCounter());
    EXPECT_DOUBLE_EQ(2001.0, manager.getCycleTimeDate());
    EXPECT_EQ(1u, manager.getLowestGreyLevel());
    EXPECT_EQ(2u, manager.getHighestGreyLevel());
    EXPECT_EQ(3u, manager.getMeanGreyLevel());
}

} // namespace
