// The simulated camera's register space behaves like a camera's: writes act,
// INITIALIZE restores the power-up state, ranges follow the camera's state.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>
#include <orvex/sim/Camera.h>
#include <orvex/sim/RegisterFile.h>

#include <cmath>
#include <cstring>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;

class CameraRegisters : public OneCamera {
protected:
    uint32_t format7(uint32_t offset)
    {
        return read(quadletOffsetToAddress(read(format7CsrInquiry(0))) + offset);
    }
    void writeFormat7(uint32_t offset, uint32_t value)
    {
        write(quadletOffsetToAddress(read(format7CsrInquiry(0))) + offset, value);
    }
    PropertyValue property(uint32_t feature)
    {
        PropertyValue v;
        EXPECT_EQ(_camera->property(feature, v), Status::ok);
        return v;
    }
};

TEST_F(CameraRegisters, InitializeRestoresPowerUpStateButKeepsUserMemory)
{
    const uint32_t userData = quadletOffsetToAddress(read(kUserMemoryDataOffset));
    const uint32_t gainBefore = read(kGain);
    write(kTriggerMode, read(kTriggerMode) | kTriggerOn);
    write(kFrameInfo, frameinfo::kTimestamp | frameinfo::kFrameCounter);
    write(kGain, (gainBefore & ~kControlValueMask) | 100);
    write(kGpioControl, gpioOutputBit(1));
    write(userData, 0x12345678);
    ASSERT_NE(read(kGain), gainBefore);

    write(kInitialize, kInitializeBit);

    EXPECT_EQ(read(kTriggerMode) & kTriggerOn, 0u);
    EXPECT_EQ(read(kFrameInfo), frameinfo::kPresent);
    EXPECT_EQ(read(kGain), gainBefore);
    EXPECT_EQ(read(kGpioControl), 0u);
    EXPECT_EQ(read(kInitialize), 0u) << "self-clearing";
    EXPECT_EQ(read(userData), 0x12345678u) << "user memory is non-volatile";
}

TEST_F(CameraRegisters, UnimplementedAddressesAnswerLikeACamera)
{
    // Inside the control register area: reads 0, writes ignored.
    EXPECT_EQ(read(0xF0F00F00), 0u);
    write(0xF0F00F00, 0xFFFFFFFF);
    EXPECT_EQ(read(0xF0F00F00), 0u);
    // Read-only inquiry registers ignore writes.
    const uint32_t inquiry = read(kTriggerInquiry);
    write(kTriggerInquiry, 0);
    EXPECT_EQ(read(kTriggerInquiry), inquiry);
    // Outside every area the camera answers: an address error.
    uint32_t value = 0;
    EXPECT_EQ(_camera->readRegister(0xF1000000, value), Status::addressError);
    EXPECT_EQ(_camera->writeRegister(0x00000010, 1), Status::addressError);
    // A camera without smart features reads all ones in the advanced area.
    EXPECT_EQ(read(sf::kAccessControl0), sf::kAllOnes);
}

TEST_F(CameraRegisters, CycleTimeIsReachedThroughTheWrappingOffset)
{
    const uint32_t address = registerAddress(kCycleTimeRegisterOffset);
    ASSERT_EQ(address, kCycleTime);
    const uint32_t before = world().bus(_bus)->clock().cycleTimeNow();
    const uint32_t value = read(address);
    const uint32_t after = world().bus(_bus)->clock().cycleTimeNow();
    EXPECT_LE(cycleTimeToTicks(before), cycleTimeToTicks(value));
    EXPECT_LE(cycleTimeToTicks(value), cycleTimeToTicks(after));
    EXPECT_LT(cycleCount(value), kCyclesPerSecond);
    EXPECT_LT(cycleOffset(value), kTicksPerCycle);
}

TEST_F(CameraRegisters, VideoFormatModeAndRateStayAValidTriple)
{
    // Power-up: the largest fixed 8-bit mono mode (format 2 mode 5: 1600x1200)
    // at its fastest rate (index 4: 30 fps).
    EXPECT_EQ(read(kCurrentVideoFormat) >> kCurrentIndexShift, 2u);
    EXPECT_EQ(read(kCurrentVideoMode) >> kCurrentIndexShift, 5u);
    EXPECT_EQ(read(kCurrentFrameRate) >> kCurrentIndexShift, 4u);
    EXPECT_TRUE(read(kVideoFormatInquiry) & formatBit(kFormat7));

    // Format 7 offers mode 0 only: the mode follows, a write of mode 3 is ignored.
    write(kCurrentVideoFormat, read(kCurrentVideoFormat) | 0xE0000000);
    EXPECT_EQ(read(kCurrentVideoFormat) >> kCurrentIndexShift, kFormat7);
    EXPECT_EQ(read(kCurrentVideoMode) >> kCurrentIndexShift, 0u);
    write(kCurrentVideoMode, 3u << kCurrentIndexShift);
    EXPECT_EQ(read(kCurrentVideoMode) >> kCurrentIndexShift, 0u);

    // Fixed modes offer the rates the sensor reaches: 640x480 (fewer rows)
    // up to 60 fps, 1600x1200 up to 30 fps.
    EXPECT_TRUE(read(videoRateInquiry(0, 5)) & formatBit(5));
    EXPECT_TRUE(read(videoRateInquiry(2, 5)) & formatBit(4));
    EXPECT_FALSE(read(videoRateInquiry(2, 5)) & formatBit(5));
    EXPECT_EQ(read(videoModeInquiry(0)), formatBit(5)) << "8-bit mono modes only";
    // Back to a fixed format: its mode and rate become valid ones again.
    write(kCurrentVideoFormat, 0u << kCurrentIndexShift);
    EXPECT_EQ(read(kCurrentVideoMode) >> kCurrentIndexShift, 5u);
    write(kCurrentFrameRate, 5u << kCurrentIndexShift);
    EXPECT_EQ(read(kCurrentFrameRate) >> kCurrentIndexShift, 5u);
    write(kCurrentVideoFormat, 2u << kCurrentIndexShift);
    EXPECT_EQ(read(kCurrentFrameRate) >> kCurrentIndexShift, 4u) << "60 fps is not offered at 1600x1200";
}

TEST_F(CameraRegisters, Format7RefusesBadGeometryAndKeepsPacketSizeWithinLimits)
{
    write(kCurrentVideoFormat, kFormat7 << kCurrentIndexShift);
    EXPECT_EQ(format7(kF7MaxImageSizeInquiry), packHigh(1624, 1224));
    const uint32_t fullSize = format7(kF7ImageSize);
    EXPECT_EQ(fullSize, packHigh(1624, 1224));
    EXPECT_EQ(highField(format7(kF7BytePerPacket)), 4096u) << "an S800 camera comes up sending at S400";

    // Width not a multiple of the unit: refused, flagged, size kept.
    writeFormat7(kF7ImageSize, packHigh(641, 480));
    EXPECT_EQ(format7(kF7ImageSize), fullSize);
    EXPECT_TRUE(format7(kF7ValueSetting) & kF7ValueSettingError);
    // Position plus size beyond the sensor: refused.
    writeFormat7(kF7ImagePosition, packHigh(8, 0));
    EXPECT_EQ(format7(kF7ImagePosition), 0u);

    // A tiny image cannot use packets larger than itself: the packet size follows.
    writeFormat7(kF7ImageSize, packHigh(64, 4));
    EXPECT_FALSE(format7(kF7ValueSetting) & kF7ValueSettingError);
    EXPECT_EQ(format7(kF7PacketParameterInquiry), packHigh(4, 256));
    EXPECT_EQ(highField(format7(kF7BytePerPacket)), 256u);
    writeFormat7(kF7BytePerPacket, 258u << 16); // not a multiple of the unit
    EXPECT_EQ(highField(format7(kF7BytePerPacket)), 256u);

    // 16-bit mono doubles the image and the largest useful packet.
    writeFormat7(kF7ColorCodingId, kColorCodeMono16 << kF7ColorCodingShift);
    EXPECT_EQ(format7(kF7TotalBytesLowInquiry), 64u * 4 * 2);
    EXPECT_EQ(lowField(format7(kF7PacketParameterInquiry)), 512u);
}

TEST_F(CameraRegisters, ASettingFromTheSdkDropsValuesHeldForSetting1)
{
    write(kCurrentVideoFormat, kFormat7 << kCurrentIndexShift);
    writeFormat7(kF7ImageSize, packHigh(641, 480)); // refused, held
    FrameGeometry g;
    g.width = 320;
    g.height = 240;
    g.bytesPerPacket = _camera->packetLimits(320, 240, 1).maxBytes;
    ASSERT_EQ(_camera->configureFormat7(g), Status::ok);
    writeFormat7(kF7ValueSetting, kF7ValueSettingApply);
    EXPECT_FALSE(format7(kF7ValueSetting) & kF7ValueSettingError);
    EXPECT_EQ(format7(kF7ImageSize), packHigh(320, 240));
}

TEST_F(CameraRegisters, PacketLimitsFollowTheIsoSpeedUpToWhatTheLinkCarries)
{
    const int slowBus = world().addBus(busAt(1, 0.0, 0.0, 400));
    const auto slow = world().addCamera(slowBus, "Grasshopper GRAS-20S4M", 1002);
    // Both come up at S400: 4096 bytes.
    EXPECT_EQ(_camera->packetLimits(1624, 1224, 1).maxBytes, 4096u);
    EXPECT_EQ(slow->packetLimits(1624, 1224, 1).maxBytes, 4096u);
    EXPECT_EQ(slow->packetLimits(1624, 1224, 1).unitBytes, 4u);
    EXPECT_EQ(slow->packetLimits(10, 10, 1).maxBytes, 100u);
    EXPECT_EQ(slow->packetLimits(10, 10, 2).maxBytes, 200u);
    // S800 (1394b mode, speed 3): 8192 bytes where the bus carries S800.
    write(0xF0F0060C, 0x00008003);
    EXPECT_EQ(_camera->packetLimits(1624, 1224, 1).maxBytes, 8192u);
    EXPECT_EQ(lowField(format7(kF7PacketParameterInquiry)), 8192u);
    ASSERT_EQ(slow->writeRegister(0xF0F0060C, 0x00008003), Status::ok);
    EXPECT_EQ(slow->packetLimits(1624, 1224, 1).maxBytes, 4096u) << "an S400 bus";
    // Legacy mode: speed in bits 25..24; S200 2048 bytes, S100 1024.
    write(0xF0F0060C, 0x01000000);
    EXPECT_EQ(_camera->packetLimits(1624, 1224, 1).maxBytes, 2048u);
    write(0xF0F0060C, 0x00000000);
    EXPECT_EQ(_camera->packetLimits(1624, 1224, 1).maxBytes, 1024u);
    // Unplugged and plugged into the fast bus, the camera comes up at S400
    // and can go to S800 there.
    world().unplugCamera(1002);
    world().plugCamera(1002, _bus);
    EXPECT_EQ(slow->packetLimits(1624, 1224, 1).maxBytes, 4096u);
    ASSERT_EQ(slow->writeRegister(0xF0F0060C, 0x00008003), Status::ok);
    EXPECT_EQ(slow->packetLimits(1624, 1224, 1).maxBytes, 8192u);
}

TEST_F(CameraRegisters, AbsoluteValuesAreQuantisedToRawSteps)
{
    // Gain: 1/16 dB steps from -2 dB.
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureGain, false, true, false, 12.3), Status::ok);
    PropertyValue gain = property(kFeatureGain);
    EXPECT_EQ(gain.raw, 229u);
    EXPECT_DOUBLE_EQ(gain.absValue, 12.3125);
    EXPECT_TRUE(gain.absoluteMode);
    EXPECT_EQ(read(kGain) & kControlValueMask, 229u) << "the register holds the raw value";

    // A raw write leaves absolute mode.
    ASSERT_EQ(_camera->setPropertyRaw(kFeatureGain, false, true, false, 40, 0), Status::ok);
    gain = property(kFeatureGain);
    EXPECT_FALSE(gain.absoluteMode);
    EXPECT_DOUBLE_EQ(gain.absValue, 0.5);

    // Shutter: steps of the 20 µs time base.
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureShutter, false, true, false, 1.234), Status::ok);
    EXPECT_EQ(property(kFeatureShutter).raw, 62u);
    EXPECT_NEAR(property(kFeatureShutter).absValue, 1.24, 1e-5);

    EXPECT_EQ(_camera->setPropertyAbsolute(kFeatureGain, false, true, false, 30.0), Status::outOfRange);
    EXPECT_EQ(_camera->setPropertyAbsolute(kFeatureGain, false, true, false, std::nan("")),
              Status::invalidArgument);
}

TEST_F(CameraRegisters, ShutterRangeFollowsFrameRateAndTrigger)
{
    write(kCurrentVideoFormat, kFormat7 << kCurrentIndexShift);
    // S800 and 8192-byte packets: 243 packets a frame, up to 30 fps.
    write(0xF0F0060C, 0x00008003);
    writeFormat7(kF7BytePerPacket, 8192u << 16);
    // Frame rate on at 10 fps: at most one frame period of exposure.
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, 10.0), Status::ok);
    PropertyValue shutter = property(kFeatureShutter);
    EXPECT_NEAR(shutter.absMax, 81.9, 1e-4) << "12-bit raw limit (4095 x 20 µs) below 100 ms";
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, 25.0), Status::ok);
    EXPECT_NEAR(property(kFeatureShutter).absMax, 40.0, 1e-4);

    // A long shutter is clamped when the frame rate rises.
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, 12.5), Status::ok);
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureShutter, false, true, false, 70.0), Status::ok);
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, 30.0), Status::ok);
    EXPECT_LE(property(kFeatureShutter).absValue, 1000.0 / 30.0);

    // Trigger on: the frame rate no longer limits the exposure.
    write(kTriggerMode, read(kTriggerMode) | kTriggerOn);
    EXPECT_NEAR(property(kFeatureShutter).absMax, 81.9, 1e-4);
    // Frame-rate control off: neither.
    write(kTriggerMode, read(kTriggerMode) & ~kTriggerOn);
    write(kFrameRate, read(kFrameRate) & ~kControlOn);
    EXPECT_NEAR(property(kFeatureShutter).absMax, 81.9, 1e-4);
}

TEST_F(CameraRegisters, FrameRateLimitFollowsPacketSize)
{
    write(kCurrentVideoFormat, kFormat7 << kCurrentIndexShift);
    // At S400 packets hold at most 4096 bytes: 486 a frame, 16.46 fps.
    EXPECT_NEAR(property(kFeatureFrameRate).absMax, 16.4375, 1e-9) << "rounded down to 1/16 fps";
    write(0xF0F0060C, 0x00008003); // S800
    writeFormat7(kF7BytePerPacket, 8192u << 16);
    EXPECT_DOUBLE_EQ(property(kFeatureFrameRate).absMax, 30.0) << "sensor limit, 243 packets per frame";
    writeFormat7(kF7BytePerPacket, 2048u << 16); // 971 packets per frame: 8.24 fps
    EXPECT_NEAR(property(kFeatureFrameRate).absMax, 8.1875, 1e-9) << "rounded down to 1/16 fps";
    EXPECT_LE(property(kFeatureFrameRate).absValue, 8.1875) << "the current rate follows";
}

TEST_F(CameraRegisters, TriggerModeKeepsWhatTheCameraCannotDo)
{
    const uint32_t inquiry = read(kTriggerInquiry);
    EXPECT_TRUE(inquiry & kTriggerInqPresence);
    EXPECT_TRUE(inquiry & triggerInqMode(0));
    EXPECT_TRUE(inquiry & triggerInqMode(1));
    EXPECT_FALSE(inquiry & triggerInqMode(3));
    EXPECT_TRUE(inquiry & kTriggerInqSoftware);

    write(kTriggerMode,
          kTriggerOn | kTriggerPolarity | (3u << kTriggerModeShift) | (2u << kTriggerSourceShift));
    const uint32_t mode = read(kTriggerMode);
    EXPECT_TRUE(mode & kTriggerOn);
    EXPECT_TRUE(mode & kTriggerPolarity);
    EXPECT_EQ((mode >> kTriggerModeShift) & kTriggerModeMask, 0u) << "mode 3 is not offered";
    EXPECT_EQ((mode >> kTriggerSourceShift) & kTriggerSourceMask, 0u) << "source 2 is not offered";
    EXPECT_TRUE(mode & kPresence);
}

TEST_F(CameraRegisters, StrobeOutputsAppearOnlyOnOutputPins)
{
    const uint32_t block = quadletOffsetToAddress(read(kStrobeOutputInquiry));
    ASSERT_EQ(block & 0xFFF00000, kRegisterBase);
    EXPECT_EQ(read(block + kStrobeInquiryOffset + 4), 0u) << "pin 1 is an input";
    write(kGpioControl, gpioOutputBit(1));
    const uint32_t inquiry = read(block + kStrobeInquiryOffset + 4);
    EXPECT_TRUE((inquiry & kPresence) && (inquiry & kStrobeInqReadable) && (inquiry & kStrobeInqOnOff));
    EXPECT_EQ(read(block + kStrobeInquiryOffset + 12), 0u) << "pin 3 has no strobe on this camera";

    write(block + kStrobeControlOffset + 4, 0x83200400);
    EXPECT_EQ(read(block + kStrobeControlOffset + 4), 0x83200400u);
    write(block + kStrobeControlOffset + 4, 0x00000000);
    EXPECT_EQ(read(block + kStrobeControlOffset + 4), kPresence) << "presence is read-only";
}

TEST_F(CameraRegisters, FrameInformationTakesOnlyTheItemsTheCameraHas)
{
    write(kFrameInfo, 0xFFFFFFFF);
    EXPECT_EQ(read(kFrameInfo), frameinfo::kPresent | frameinfo::kAllItems);

    CameraConfig config = *modelConfig("Flea2 FL2G-50S5M", 1003);
    config.frameInfoItems = frameinfo::kTimestamp | frameinfo::kFrameCounter;
    const auto partial = world().addCamera(_bus, config);
    ASSERT_EQ(partial->writeRegister(kFrameInfo, frameinfo::kAllItems), Status::ok);
    uint32_t value = 0;
    ASSERT_EQ(partial->readRegister(kFrameInfo, value), Status::ok);
    EXPECT_EQ(value, frameinfo::kPresent | frameinfo::kTimestamp | frameinfo::kFrameCounter);

    config.serialNumber = 1004;
    config.frameInfoItems = 0;
    const auto none = world().addCamera(_bus, config);
    ASSERT_EQ(none->writeRegister(kFrameInfo, frameinfo::kAllItems), Status::ok);
    ASSERT_EQ(none->readRegister(kFrameInfo, value), Status::ok);
    EXPECT_EQ(value, 0u) << "no register: reads 0";
}

TEST_F(CameraRegisters, IdentityTemperatureAndUserMemoryDescription)
{
    EXPECT_EQ(read(kFirmwareVersion), 0x01040103u);
    const uint32_t temperature = read(kTemperature);
    EXPECT_TRUE(temperature & kPresence);
    EXPECT_NEAR(((temperature & kTemperatureValueMask) - kTemperatureZeroCelsiusTenthsK) * 0.1, 40.0, 0.06);
    EXPECT_EQ(read(kUserMemoryDescription), 0x8000A006u) << "64 KiB";
    EXPECT_EQ(read(kConfigRomGuidLow), 1001u);
}

TEST_F(CameraRegisters, RegisterOverridesForceInquiriesAndDefaults)
{
    CameraConfig config = *modelConfig("Grasshopper GRAS-50S5M", 1005);
    config.registerOverrides[kTriggerInquiry] = 0;
    config.registerOverrides[kTriggerMode] = kPresence | (3u << kTriggerModeShift);
    config.registerOverrides[kVideoFormatInquiry] = formatBit(0);
    const auto odd = world().addCamera(_bus, config);
    uint32_t value = 1;
    ASSERT_EQ(odd->readRegister(kTriggerInquiry, value), Status::ok);
    EXPECT_EQ(value, 0u);
    ASSERT_EQ(odd->readRegister(kTriggerMode, value), Status::ok);
    EXPECT_EQ((value >> kTriggerModeShift) & kTriggerModeMask, 3u);
    EXPECT_FALSE(odd->format7Available());
    ASSERT_EQ(odd->writeRegister(kInitialize, kInitializeBit), Status::ok);
    ASSERT_EQ(odd->readRegister(kTriggerMode, value), Status::ok);
    EXPECT_EQ((value >> kTriggerModeShift) & kTriggerModeMask, 3u)
        << "the forced default survives INITIALIZE";
}

TEST_F(CameraRegisters, ForcedFormat7InquiriesAreWhatTheCameraChecksAgainst)
{
    CameraConfig config = *modelConfig("Grasshopper GRAS-20S4M", 1006);
    const uint32_t base = quadletOffsetToAddress(read(format7CsrInquiry(0)));
    config.registerOverrides[base + kF7UnitSizeInquiry] = packHigh(16, 8);
    config.registerOverrides[base + kF7PacketParameterInquiry] = packHigh(8, 1024);
    config.registerOverrides[base + kF7MaxImageSizeInquiry] = packHigh(1024, 768);
    const auto forced = world().addCamera(_bus, config);
    auto f7 = [&](uint32_t offset) {
        uint32_t value = 0;
        EXPECT_EQ(forced->readRegister(base + offset, value), Status::ok);
        return value;
    };
    auto writeF7 = [&](uint32_t offset, uint32_t value) {
        EXPECT_EQ(forced->writeRegister(base + offset, value), Status::ok);
    };
    EXPECT_EQ(f7(kF7ImageSize), packHigh(1024, 768)) << "power-up size: the largest it reports";

    writeF7(kF7ImageSize, packHigh(648, 480)); // a multiple of the model's 8, not of 16
    EXPECT_TRUE(f7(kF7ValueSetting) & kF7ValueSettingError);
    writeF7(kF7ImageSize, packHigh(640, 484));
    EXPECT_TRUE(f7(kF7ValueSetting) & kF7ValueSettingError) << "height not a multiple of 8";
    writeF7(kF7ImagePosition, packHigh(400, 0));
    EXPECT_TRUE(f7(kF7ValueSetting) & kF7ValueSettingError) << "beyond the reported width";
    writeF7(kF7ImageSize, packHigh(640, 480));
    EXPECT_EQ(f7(kF7ImageSize), packHigh(640, 480));

    writeF7(kF7BytePerPacket, 1028u << 16); // not a multiple of 8
    writeF7(kF7BytePerPacket, 2048u << 16); // above the reported maximum
    EXPECT_EQ(highField(f7(kF7BytePerPacket)), 1024u);
    writeF7(kF7BytePerPacket, 512u << 16);
    EXPECT_EQ(highField(f7(kF7BytePerPacket)), 512u);
    EXPECT_EQ(forced->packetLimits(640, 480, 1).maxBytes, 1024u) << "what the SDK reports, too";
    EXPECT_EQ(forced->packetLimits(640, 480, 1).unitBytes, 8u);
}

TEST_F(CameraRegisters, IsochronousBudgetIsIeee1394s)
{
    EXPECT_EQ(world().bus(_bus)->isoBandwidth(), 9830u);
    EXPECT_EQ(world().bus(world().addBus(busAt(1, 0.0, 0.0, 400)))->isoBandwidth(), 4915u);
}

TEST_F(CameraRegisters, UnpluggedCameraAnswersNothing)
{
    world().unplugCamera(1001);
    uint32_t value = 0;
    EXPECT_EQ(_camera->readRegister(kInitialize, value), Status::notConnected);
    PropertyValue v;
    EXPECT_EQ(_camera->property(kFeatureGain, v), Status::notConnected);
}

// Period, exposure, geometry and trigger state are worked out once per
// change of the registers: every kind of write shows at once.
TEST_F(CameraRegisters, PeriodExposureGeometryAndTriggerFollowEveryWrite)
{
    auto configure = [&](uint32_t width, uint32_t height) {
        FrameGeometry g;
        g.width = width;
        g.height = height;
        g.bytesPerPixel = 1;
        g.bytesPerPacket = _camera->packetLimits(width, height, 1).maxBytes;
        ASSERT_EQ(_camera->configureFormat7(g), Status::ok);
    };
    configure(64, 32);
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, 100.0), Status::ok);
    EXPECT_NEAR(_camera->framePeriodSeconds(), 0.01, 1e-4);
    ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, 50.0), Status::ok);
    EXPECT_NEAR(_camera->framePeriodSeconds(), 0.02, 2e-4);

    write(kShutter, (read(kShutter) & ~kControlValueMask) | 250);
    const double exposure250 = _camera->exposureSeconds();
    write(kShutter, (read(kShutter) & ~kControlValueMask) | 500);
    EXPECT_GT(exposure250, 0.0);
    EXPECT_DOUBLE_EQ(_camera->exposureSeconds(), 2 * exposure250);

    // Frame rate off: as fast as the sensor and the bus allow.
    write(kFrameRate, read(kFrameRate) & ~kControlOn);
    EXPECT_LT(_camera->framePeriodSeconds(), 0.019);
    write(kFrameRate, read(kFrameRate) | kControlOn);
    EXPECT_NEAR(_camera->framePeriodSeconds(), 0.02, 2e-4);

    // Triggered, the frame rate no longer bounds the shutter.
    const uint32_t boundedByRate = property(kFeatureShutter).rawMax;
    write(kTriggerMode, read(kTriggerMode) | kTriggerOn);
    EXPECT_GT(property(kFeatureShutter).rawMax, boundedByRate);
    write(kTriggerMode, read(kTriggerMode) & ~kTriggerOn);
    EXPECT_EQ(property(kFeatureShutter).rawMax, boundedByRate);

    auto collector = std::make_shared<FrameCollector>();
    configure(32, 16);
    ASSERT_EQ(_camera->startStream(collector, Pacing::frameRate), Status::ok);
    EXPECT_EQ(_camera->streamGeometry().width, 32u);
    EXPECT_EQ(_camera->streamGeometry().height, 16u);
    _camera->stopStream();
    configure(48, 24);
    ASSERT_EQ(_camera->startStream(collector, Pacing::frameRate), Status::ok);
    EXPECT_EQ(_camera->streamGeometry().width, 48u);
    _camera->stopStream();
}

// Reads are answered from recent reads until the next write of any kind:
// a write, to the same address or to one sharing its place among the recent
// answers, shows at the next read, as do an added and a replaced map.
TEST(RegisterFileTest, EveryWriteShowsAtTheNextRead)
{
    RegisterFile registers;
    EXPECT_EQ(registers.get(0x818), 0u) << "an address the camera lacks";
    registers.set(0x818, 7);
    EXPECT_EQ(registers.get(0x818), 7u);
    EXPECT_EQ(registers.get(0x818), 7u);
    registers[0x818] = 9;
    EXPECT_EQ(registers.get(0x818), 9u);

    // 0x858 lies 16 quadlets on: both may be answered from the same place.
    registers.set(0x858, 1);
    EXPECT_EQ(registers.get(0x818), 9u);
    EXPECT_EQ(registers.get(0x858), 1u);
    EXPECT_EQ(registers.get(0x818), 9u);
    registers.set(0x858, 2);
    EXPECT_EQ(registers.get(0x858), 2u);
    EXPECT_EQ(registers.get(0x818), 9u);

    registers.assign(RegisterFile::Map{{0x818, 3}});
    EXPECT_EQ(registers.get(0x818), 3u);
    EXPECT_EQ(registers.get(0x858), 0u);
    registers.touch();
    EXPECT_EQ(registers.get(0x818), 3u);
}

// --- smart features ----------------------------------------------------------------
// The protocol itself is tested through the library's smart features manager
// (tests/core); here only what the time base does to the camera.

class SmartFeatureRegisters : public CameraRegisters {
protected:
    void SetUp() override
    {
        CameraRegisters::SetUp();
        _camera = world().addCamera(_bus, "A102f", 2001);
    }
    uint32_t inquire(unsigned feature)
    {
        for (unsigned q = 0; q < 4; ++q)
            write(sf::kInquiryId + 4 * q, sf::kFeatureIds[feature].q[q]);
        return read(sf::kInquiryAddress);
    }
};

TEST_F(SmartFeatureRegisters, InquiryAnswersBothHalvesOfTheAddress)
{
    const uint32_t low = inquire(sf::kFeatureShutterTimeBase);
    EXPECT_EQ(low & 0xFFF00000, kAdvancedFeatureBase & 0xFFF00000);
    EXPECT_EQ(read(sf::kInquirySecond), uint32_t(kAddressHigh));
    // An identifier the camera does not know: no address at all.
    write(sf::kInquiryId, 0x12345678);
    EXPECT_EQ(read(sf::kInquiryAddress), 0u);
    EXPECT_EQ(read(sf::kInquirySecond), 0u);
}

TEST_F(SmartFeatureRegisters, ShutterTimeBaseScalesTheAbsoluteShutter)
{
    const uint32_t control = inquire(sf::kFeatureShutterTimeBase);
    auto asFloat = [](uint32_t bits) {
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    };
    auto asBits = [](float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return bits;
    };
    EXPECT_FLOAT_EQ(asFloat(read(control + sf::kTimeBaseCurrentOffset)), 20e-6f);
    // Writes are refused while the feature is off.
    write(control + sf::kTimeBaseCurrentOffset, asBits(50e-6f));
    EXPECT_FLOAT_EQ(asFloat(read(control + sf::kTimeBaseCurrentOffset)), 20e-6f);

    write(control, sf::kControlEnabled);
    const uint32_t raw = property(kFeatureShutter).raw;
    EXPECT_NEAR(_camera->exposureSeconds(), raw * 20e-6, 1e-12);
    write(control + sf::kTimeBaseCurrentOffset, asBits(50.4e-6f)); // snapped to the 1 µs increment
    EXPECT_FLOAT_EQ(asFloat(read(control + sf::kTimeBaseCurrentOffset)), 50e-6f);
    const PropertyValue shutter = property(kFeatureShutter);
    EXPECT_NEAR(shutter.absValue, shutter.raw * 0.05, 1e-6);
    EXPECT_NEAR(_camera->exposureSeconds(), shutter.raw * 50e-6, 1e-12) << "images follow the time base";

    // INITIALIZE brings the power-up time base back.
    write(kInitialize, kInitializeBit);
    EXPECT_NEAR(_camera->exposureSeconds(), property(kFeatureShutter).raw * 20e-6, 1e-12);
}

} // namespace
} // namespace orvex::sim::test
