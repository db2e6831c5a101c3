// A simulated camera driven the way any IIDC host drives a camera: raw
// register reads and writes only (and, for images, a receiver listening on
// an isochronous channel). What it finds must be what a real camera gives.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/Crc16Xmodem.h>
#include <orvex/iidc/Registers.h>

#include <cstring>
#include <string>
#include <thread>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;
using namespace std::chrono_literals;

float asFloat(uint32_t bits)
{
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t floatBits(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// Polls a condition the camera is expected to reach on its own.
template <typename Condition> bool eventually(Condition condition)
{
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class IidcHost : public OneCamera {
protected:
    IidcHost() : OneCamera(7001) {}

    // --- configuration ROM ------------------------------------------------------
    // A directory or leaf: its quadlets after the header, CRC checked.
    std::vector<uint32_t> block(uint32_t address)
    {
        const uint32_t header = read(address);
        std::vector<uint32_t> body;
        uint16_t crc = 0;
        for (uint32_t i = 1; i <= header >> 16; ++i) {
            body.push_back(read(address + 4 * i));
            const uint8_t bytes[4] = {uint8_t(body.back() >> 24), uint8_t(body.back() >> 16),
                                      uint8_t(body.back() >> 8), uint8_t(body.back())};
            crc = crc16Xmodem(bytes, 4, crc);
        }
        EXPECT_EQ(header & 0xFFFF, crc) << "CRC of the block at " << std::hex << address;
        return body;
    }
    // The value of the first entry with `key`, and where it sits.
    static bool entry(const std::vector<uint32_t>& directory, uint32_t directoryAddress, uint32_t key,
                      uint32_t& value, uint32_t& at)
    {
        for (size_t i = 0; i < directory.size(); ++i) {
            if (romKey(directory[i]) == key) {
                value = romValue(directory[i]);
                at = directoryAddress + 4 * uint32_t(i + 1);
                return true;
            }
        }
        return false;
    }
    std::string text(uint32_t leafAddress)
    {
        const std::vector<uint32_t> leaf = block(leafAddress);
        std::string s;
        for (size_t i = 2; i < leaf.size(); ++i) {
            for (int shift = 24; shift >= 0; shift -= 8) {
                if (const char c = char(leaf[i] >> shift))
                    s += c;
            }
        }
        return s;
    }

    // --- Format_7 ---------------------------------------------------------------
    uint32_t format7Base()
    {
        write(kCurrentVideoFormat, kFormat7 << kCurrentIndexShift);
        write(kCurrentVideoMode, 0);
        return quadletOffsetToAddress(read(format7CsrInquiry(0)));
    }
    // Setting_1, then wait for the camera to clear it; the flags it leaves.
    uint32_t valueSettingHandshake(uint32_t base)
    {
        write(base + kF7ValueSetting, kF7ValueSettingApply);
        uint32_t setting = 0;
        EXPECT_TRUE(eventually([&] {
            setting = read(base + kF7ValueSetting);
            return !(setting & kF7ValueSettingApply);
        }));
        return setting;
    }
};

TEST_F(IidcHost, ConfigRomLeadsToTheIidcVersionAndCommandRegisters)
{
    const uint32_t info = read(kConfigRomBase);
    EXPECT_EQ(info >> 24, 4u) << "bus information block of 4 quadlets";
    EXPECT_EQ(read(kConfigRomBusName), kBusName1394);
    EXPECT_EQ(read(kConfigRomGuidLow), 7001u);
    EXPECT_EQ(read(kConfigRomNodeCaps) & 0x7, 3u) << "S800 link";

    const std::vector<uint32_t> root = block(kConfigRomRootDirectory);
    uint32_t value = 0, at = 0;
    ASSERT_TRUE(entry(root, kConfigRomRootDirectory, kRomKeyModuleVendorId, value, at));
    EXPECT_EQ(value, 0x00B09Du);
    ASSERT_TRUE(entry(root, kConfigRomRootDirectory, kRomKeyUnitDirectory, value, at));
    const uint32_t unitAddress = at + 4 * value;
    const std::vector<uint32_t> unit = block(unitAddress);
    ASSERT_TRUE(entry(unit, unitAddress, kRomKeyUnitSpecifierId, value, at));
    EXPECT_EQ(value, 0x00A02Du) << "an IIDC unit";
    ASSERT_TRUE(entry(unit, unitAddress, kRomKeyUnitSwVersion, value, at));
    EXPECT_EQ(value, 0x000102u);

    ASSERT_TRUE(entry(unit, unitAddress, kRomKeyUnitDependentDirectory, value, at));
    const uint32_t dependentAddress = at + 4 * value;
    const std::vector<uint32_t> dependent = block(dependentAddress);
    ASSERT_TRUE(entry(dependent, dependentAddress, kRomKeyUnitSubSwVersion, value, at));
    EXPECT_EQ(value, 0x10u) << "IIDC 1.31";
    ASSERT_TRUE(entry(dependent, dependentAddress, kRomKeyModelNameLeaf, value, at));
    EXPECT_EQ(text(at + 4 * value), "Grasshopper GRAS-20S4M");
    ASSERT_TRUE(entry(dependent, dependentAddress, kRomKeyVendorNameLeaf, value, at));
    EXPECT_EQ(text(at + 4 * value), "Point Grey Research");

    // The command registers are where the ROM says.
    ASSERT_TRUE(entry(dependent, dependentAddress, kRomKeyCommandRegsBase, value, at));
    const uint32_t commandBase = kCsrBase + 4 * value;
    ASSERT_EQ(commandBase, kRegisterBase);
    const uint32_t basic = read(commandBase + (kBasicFunctionInquiry - kRegisterBase));
    EXPECT_TRUE(basic & kBasicOneShot);
    EXPECT_TRUE(basic & kBasicMultiShot);
    EXPECT_TRUE(basic & kBasic1394b);
    EXPECT_TRUE(basic & kBasicOptionalFunctions);
    EXPECT_EQ(read(kOptionalFunctionInquiry), kOptionalStrobe);
    EXPECT_NE(read(kStrobeOutputInquiry), 0u);
}

TEST_F(IidcHost, OptionalFunctionsFollowTheStrobeInquiry)
{
    CameraConfig config = *modelConfig("Flea2 FL2G-50S5M", 7002);
    config.registerOverrides[kStrobeOutputInquiry] = 0;
    _camera = world().addCamera(_bus, config);
    EXPECT_EQ(read(kOptionalFunctionInquiry), 0u);
    EXPECT_FALSE(read(kBasicFunctionInquiry) & kBasicOptionalFunctions);

    _camera = world().addCamera(world().addBus(busAt(1, 0.0, 0.0, 400)), "A102f", 7003);
    EXPECT_FALSE(read(kBasicFunctionInquiry) & kBasic1394b) << "an S400 camera";
    EXPECT_EQ(read(kConfigRomNodeCaps) & 0x7, 2u);
}

TEST_F(IidcHost, AbsoluteShutterThroughTheAbsoluteValueRegisters)
{
    ASSERT_TRUE(read(featureInquiry(kFeatureShutter)) & kInquiryAbsolute);
    const uint32_t shutter = quadletOffsetToAddress(read(featureAbsoluteOffset(kFeatureShutter)));
    // Seconds, in steps of the 20 µs time base.
    EXPECT_FLOAT_EQ(asFloat(read(shutter + kAbsMinimum)), 20e-6f);
    EXPECT_FLOAT_EQ(asFloat(read(shutter + kAbsValue)), 0.010f);

    write(shutter + kAbsValue, floatBits(0.004995f));
    EXPECT_FLOAT_EQ(asFloat(read(shutter + kAbsValue)), 0.005f) << "nearest step";
    EXPECT_EQ(read(kShutter) & kControlValueMask, 250u) << "the raw value follows";
    EXPECT_TRUE(read(kShutter) & kControlAbsolute);
    write(shutter + kAbsValue, floatBits(10.0f));
    EXPECT_FLOAT_EQ(asFloat(read(shutter + kAbsValue)), 0.005f) << "out of range: kept";
    const uint32_t maximum = read(shutter + kAbsMaximum);
    write(shutter + kAbsMaximum, floatBits(1.0f));
    EXPECT_EQ(read(shutter + kAbsMaximum), maximum) << "read-only";

    // In Format_7 with the frame-rate control on, one frame period bounds
    // the shutter: 25 fps written through the frame rate's own block.
    format7Base();
    const uint32_t frameRate = quadletOffsetToAddress(read(featureAbsoluteOffset(kFeatureFrameRate)));
    write(frameRate + kAbsValue, floatBits(25.0f));
    EXPECT_FLOAT_EQ(asFloat(read(frameRate + kAbsValue)), 25.0f);
    EXPECT_FLOAT_EQ(asFloat(read(shutter + kAbsMaximum)), 0.040f);
    write(shutter + kAbsValue, read(shutter + kAbsMaximum));
    EXPECT_FLOAT_EQ(asFloat(read(shutter + kAbsValue)), 0.040f) << "the maximum itself is in range";

    // Features without absolute control have no block.
    EXPECT_EQ(read(featureAbsoluteOffset(kFeatureTemperature)), 0u);
    _camera = world().addCamera(_bus, "A102f", 7004);
    EXPECT_FALSE(read(featureInquiry(kFeatureGain)) & kInquiryAbsolute);
    EXPECT_EQ(read(featureAbsoluteOffset(kFeatureGain)), 0u);
}

TEST_F(IidcHost, Format7SizeThroughTheValueSettingHandshake)
{
    const uint32_t base = format7Base();
    ASSERT_TRUE(read(base + kF7ValueSetting) & kPresence);

    // Position first, as a host moving a full-size image does: alone it does
    // not fit, together with the new size it does.
    write(base + kF7ImagePosition, packHigh(800, 8));
    write(base + kF7ImageSize, packHigh(640, 480));
    write(base + kF7ValueSetting, 0);
    EXPECT_EQ(read(base + kF7ImagePosition), 0u) << "only Setting_1 applies a held value";
    uint32_t setting = valueSettingHandshake(base);
    EXPECT_FALSE(setting & (kF7ValueSettingError | kF7ValueSettingPacketError));
    EXPECT_EQ(read(base + kF7ImagePosition), packHigh(800, 8));
    EXPECT_EQ(read(base + kF7ImageSize), packHigh(640, 480));
    const uint32_t packets = read(base + kF7PacketParameterInquiry);
    EXPECT_EQ(lowField(packets), 8192u);
    EXPECT_EQ(read(base + kF7TotalBytesLowInquiry), 640u * 480u);

    // A width off the unit: ErrorFlag_1, nothing applied.
    write(base + kF7ImageSize, packHigh(641, 480));
    setting = valueSettingHandshake(base);
    EXPECT_TRUE(setting & kF7ValueSettingError);
    EXPECT_FALSE(setting & kF7ValueSettingPacketError);
    EXPECT_EQ(read(base + kF7ImageSize), packHigh(640, 480));

    // Corrected, with a packet size off the unit: the size is applied,
    // the packet size refused with ErrorFlag_2.
    write(base + kF7ImageSize, packHigh(320, 240));
    write(base + kF7BytePerPacket, (highField(packets) * 100 + 1) << 16);
    setting = valueSettingHandshake(base);
    EXPECT_FALSE(setting & kF7ValueSettingError);
    EXPECT_TRUE(setting & kF7ValueSettingPacketError);
    EXPECT_EQ(read(base + kF7ImageSize), packHigh(320, 240));
    const uint32_t packetBefore = highField(read(base + kF7BytePerPacket));

    write(base + kF7BytePerPacket, (highField(packets) * 100) << 16);
    setting = valueSettingHandshake(base);
    EXPECT_FALSE(setting & (kF7ValueSettingError | kF7ValueSettingPacketError));
    EXPECT_EQ(highField(read(base + kF7BytePerPacket)), highField(packets) * 100);
    EXPECT_NE(packetBefore, highField(packets) * 100);
}

class IidcHostStreams : public IidcHost {
protected:
    void SetUp() override
    {
        IidcHost::SetUp();
        _receiver = std::make_shared<FrameCollector>();
        world().bus(_bus)->listen(kChannel, _receiver);
        // A small Format_7 image at 100 fps on channel 5 at S800.
        const uint32_t base = format7Base();
        write(base + kF7ImageSize, packHigh(64, 32));
        ASSERT_FALSE(valueSettingHandshake(base) & kF7ValueSettingError);
        const uint32_t frameRate = quadletOffsetToAddress(read(featureAbsoluteOffset(kFeatureFrameRate)));
        write(frameRate + kAbsValue, floatBits(100.0f));
        const uint32_t shutter = quadletOffsetToAddress(read(featureAbsoluteOffset(kFeatureShutter)));
        write(shutter + kAbsValue, floatBits(0.001f));
        write(kIsoChannelSpeed, kIsoOperationMode1394b | (kChannel << kIso1394bChannelShift) | 3);
    }
    // Nothing more arrives for a while (a few frame periods).
    size_t settledCount()
    {
        std::this_thread::sleep_for(60ms);
        return _receiver->frames().size();
    }

    static constexpr uint32_t kChannel = 5;
    std::shared_ptr<FrameCollector> _receiver;
};

TEST_F(IidcHostStreams, ChannelAndSpeedKeepWhatIsWritten)
{
    EXPECT_EQ(read(kIsoChannelSpeed), kIsoOperationMode1394b | (kChannel << kIso1394bChannelShift) | 3);
    write(kIsoChannelSpeed, (9u << kIsoChannelShift) | (1u << kIsoSpeedShift) | 0x00FF00FF);
    EXPECT_EQ(read(kIsoChannelSpeed), (9u << kIsoChannelShift) | (1u << kIsoSpeedShift))
        << "legacy fields only";
    // An S400 camera has no 1394b mode: the legacy fields are all it keeps.
    _camera = world().addCamera(_bus, "A102f", 7005);
    write(kIsoChannelSpeed,
          kIsoOperationMode1394b | (40u << kIso1394bChannelShift) | (3u << kIsoChannelShift));
    EXPECT_EQ(read(kIsoChannelSpeed), 3u << kIsoChannelShift);
}

TEST_F(IidcHostStreams, IsoEnableStartsAndStopsTransmission)
{
    const auto otherChannel = std::make_shared<FrameCollector>();
    world().bus(_bus)->listen(kChannel + 1, otherChannel);
    EXPECT_EQ(settledCount(), 0u) << "nothing before ISO_EN";

    write(kIsoEnable, kIsoEnableBit);
    EXPECT_EQ(read(kIsoEnable), kIsoEnableBit);
    ASSERT_TRUE(_receiver->waitFor(3));
    EXPECT_EQ(world().bus(_bus)->bandwidthInUse(), _receiver->frames().front().geometry.bytesPerPacket);
    EXPECT_EQ(_receiver->frames().front().geometry.width, 64u);

    write(kIsoEnable, 0);
    EXPECT_EQ(read(kIsoEnable), 0u);
    const size_t stopped = settledCount();
    EXPECT_EQ(settledCount(), stopped) << "no image after ISO_EN off";
    EXPECT_EQ(world().bus(_bus)->bandwidthInUse(), 0u);
    EXPECT_TRUE(otherChannel->frames().empty());

    // On again, and INITIALIZE stops it like ISO_EN off.
    write(kIsoEnable, kIsoEnableBit);
    ASSERT_TRUE(_receiver->waitFor(stopped + 2));
    write(kInitialize, kInitializeBit);
    EXPECT_EQ(read(kIsoEnable), 0u);
    const size_t initialised = settledCount();
    EXPECT_EQ(settledCount(), initialised);
    EXPECT_EQ(world().bus(_bus)->bandwidthInUse(), 0u);
}

TEST_F(IidcHostStreams, OneShotAndMultiShotSendOneOrNImages)
{
    write(kOneShot, kOneShotBit);
    ASSERT_TRUE(_receiver->waitFor(1));
    EXPECT_TRUE(eventually([&] { return read(kOneShot) == 0; })) << "clears itself";
    EXPECT_EQ(settledCount(), 1u);
    EXPECT_EQ(read(kIsoEnable), 0u);
    EXPECT_EQ(world().bus(_bus)->bandwidthInUse(), 0u);

    write(kOneShot, kMultiShotBit | 3);
    ASSERT_TRUE(_receiver->waitFor(4));
    EXPECT_TRUE(eventually([&] { return read(kOneShot) == 0; }));
    EXPECT_EQ(settledCount(), 4u);
    const auto frames = _receiver->frames();
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].frameCounter, frames[i - 1].frameCounter + 1);

    // Shots are for a camera that is not streaming.
    write(kIsoEnable, kIsoEnableBit);
    write(kOneShot, kOneShotBit);
    EXPECT_EQ(read(kOneShot), 0u);
    write(kIsoEnable, 0);
}

TEST_F(IidcHostStreams, AReceiverTakesOverWhatTheRegistersStarted)
{
    write(kIsoEnable, kIsoEnableBit);
    ASSERT_TRUE(_receiver->waitFor(1));
    const auto sdk = std::make_shared<FrameCollector>();
    ASSERT_EQ(_camera->startStream(sdk, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(sdk->waitFor(2));
    const size_t onChannel = settledCount();
    EXPECT_EQ(settledCount(), onChannel) << "the channel's stream ended";
    // ISO_EN pauses and resumes the receiver's stream.
    write(kIsoEnable, 0);
    const size_t paused = sdk->frames().size() + 1;
    std::this_thread::sleep_for(60ms);
    EXPECT_LE(sdk->frames().size(), paused);
    write(kIsoEnable, kIsoEnableBit);
    EXPECT_TRUE(sdk->waitFor(paused + 2));
    _camera->stopStream();
    EXPECT_EQ(world().bus(_bus)->bandwidthInUse(), 0u);
}

TEST_F(IidcHost, OnePushRunsAndClearsWhenDone)
{
    const uint32_t autoExposureInquiry = read(featureInquiry(kFeatureAutoExposure));
    ASSERT_TRUE(autoExposureInquiry & kInquiryOnePush);
    ASSERT_FALSE(read(featureInquiry(kFeatureBrightness)) & kInquiryOnePush);
    const uint32_t gainBefore = read(kGain) & kControlValueMask;

    write(kAutoExposure, read(kAutoExposure) | kControlOnePush);
    EXPECT_TRUE(read(kAutoExposure) & kControlOnePush) << "running";
    // Writing 0 to the bit does not cancel it.
    write(kAutoExposure, read(kAutoExposure) & ~kControlOnePush);
    EXPECT_TRUE(read(kAutoExposure) & kControlOnePush);
    EXPECT_TRUE(eventually([&] { return !(read(kAutoExposure) & kControlOnePush); }));
    // At 0 EV the camera settles on 6 dB and 5 ms, and leaves them manual.
    EXPECT_EQ(read(kGain) & kControlValueMask, 128u);
    EXPECT_NE(read(kGain) & kControlValueMask, gainBefore);
    EXPECT_EQ(read(kShutter) & kControlValueMask, 250u);
    EXPECT_FALSE(read(kGain) & kControlAuto);

    // Gain alone, on a camera whose forced gain inquiry offers one-push.
    CameraConfig config = *modelConfig("Grasshopper GRAS-20S4M", 7006);
    config.registerOverrides[featureInquiry(kFeatureGain)] =
        read(featureInquiry(kFeatureGain)) | kInquiryOnePush;
    auto other = world().addCamera(_bus, config);
    std::swap(_camera, other);
    const uint32_t shutterBefore = read(kShutter) & kControlValueMask;
    write(kGain, read(kGain) | kControlOnePush);
    EXPECT_TRUE(eventually([&] { return !(read(kGain) & kControlOnePush); }));
    EXPECT_EQ(read(kGain) & kControlValueMask, 128u);
    EXPECT_EQ(read(kShutter) & kControlValueMask, shutterBefore);
    std::swap(_camera, other);

    // Without the capability, or in automatic mode, the bit is ignored.
    write(kBrightness, read(kBrightness) | kControlOnePush);
    EXPECT_FALSE(read(kBrightness) & kControlOnePush);
    write(kAutoExposure, read(kAutoExposure) | kControlAuto | kControlOnePush);
    EXPECT_FALSE(read(kAutoExposure) & kControlOnePush);
}

} // namespace
} // namespace orvex::sim::test
