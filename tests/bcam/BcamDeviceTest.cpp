// Device names, opening, and every request wrapper round-tripping to the
// camera's registers; client windows and their undo.
#include "bcam/BcamClientFixture.h"

#include "bcam/client/BcamDevInfo.h"

#include <algorithm>
#include <sstream>

namespace orvex::bcam::test {
namespace {

using namespace orvex::iidc;
using Bcam::BcamException;
using Bcam::CBcamExtension;

// The camera model's identifier rule (text after the first "#", padded to
// 16 characters, two hexadecimal digits at a time).
void decode(const std::string& name, uint32_t& high, uint32_t& low)
{
    std::string t = name.substr(name.find('#') + 1);
    if (t.size() < 16)
        t.insert(0, 16 - t.size(), '0');
    auto g = [&t](size_t i) {
        uint32_t value = 0;
        std::istringstream(t.substr(i, 2)) >> std::hex >> value;
        return value;
    };
    low = g(0) + (g(10) << 8) + (g(12) << 16) + (g(14) << 24);
    high = g(2) + (g(4) << 8) + (g(6) << 16) + (g(8) << 24);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

template <typename Call> BcamException thrownBy(Call call)
{
    try {
        call();
    } catch (const BcamException& e) {
        return e;
    }
    ADD_FAILURE() << "no BcamException";
    return BcamException(0, "");
}

TEST_F(BcamClientTest, deviceNamesAreTheBcamCamerasAndDecodeToTheirIdentifiers)
{
    world().addCamera(kBcamBus, "Flea2 FL2G-50S5M", 77); // another stack's camera
    const std::list<std::string> names = Bcam::CBcam::DeviceNames();
    ASSERT_EQ(2u, names.size());
    EXPECT_EQ(pathOf(kA102fSerial), names.front());
    EXPECT_EQ(pathOf(kA312fSerial), names.back());
    for (uint32_t serial : {kA102fSerial, kA312fSerial}) {
        uint32_t high = 0, low = 0;
        decode(pathOf(serial), high, low);
        EXPECT_EQ(cameraRegister(serial, kConfigRomGuidHigh), high);
        EXPECT_EQ(cameraRegister(serial, kConfigRomGuidLow), low);
    }

    world().unplugCamera(kA102fSerial);
    EXPECT_EQ(std::list<std::string>{pathOf(kA312fSerial)}, Bcam::CBcamDevMgr::DeviceNames());
}

TEST_F(BcamClientTest, aShortNameIsCompletedWithTheClassAsTheDriverSpellsIt)
{
    const std::string path = pathOf(kA312fSerial);
    const std::string shortName = path.substr(path.find('#') + 1, 16);
    EXPECT_EQ("\\\\?\\1394#" + shortName + "#{D535C794-A527-4b72-923A-63029FA5D83B}",
              Bcam::CBcamDevMgr::CompleteName(shortName));
    EXPECT_EQ(path, Bcam::CBcamDevMgr::CompleteName(path));

    CBcamExtension device;
    device.Open(shortName);
    EXPECT_EQ(lower(path), lower(device.DeviceName()));
    EXPECT_EQ("A312f", device.Info.ModelName());
}

TEST_F(BcamClientTest, aDeviceThatIsNotOpenRefusesRequests)
{
    CBcamExtension device;
    EXPECT_FALSE(device.IsOpen());
    const BcamException e = thrownBy([&] { device.ReadQuadlet(kInitialize, kHigh); });
    EXPECT_EQ(message::kNotOpen, e.Error());
    EXPECT_EQ("CBcam::Transmit()", e.Context());
    EXPECT_EQ(message::kNotOpen, thrownBy([&] { device.GrabImageAsync(&device, 4, 0); }).Error());

    const BcamException missing = thrownBy([&] { device.Open("0123456789ABCDEF"); });
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), missing.Error());
    EXPECT_EQ("CBcam::Open()", missing.Context());
    EXPECT_FALSE(device.IsOpen());

    device.Open(pathOf(kA102fSerial));
    device.Close();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(message::kNotOpen, thrownBy([&] { device.Info.VendorName(); }).Error());
}

TEST_F(BcamClientTest, openingAnotherDeviceClosesTheFirst)
{
    CBcamExtension device;
    device.Open(pathOf(kA102fSerial));
    device.Open(pathOf(kA312fSerial));
    EXPECT_EQ("A312f", device.Info.ModelName());
    // The first handle is gone: another program may open the A102f alone.
    HANDLE exclusive = CreateFileA(pathOf(kA102fSerial).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, exclusive);
    CloseHandle(exclusive);
}

class BcamRequestTest : public BcamClientTest {
protected:
    void SetUp() override
    {
        BcamClientTest::SetUp();
        device_.Open(pathOf(kA102fSerial));
    }
    uint32_t reg(uint32_t address) { return cameraRegister(kA102fSerial, address); }
    uint32_t format7(uint32_t offset)
    {
        return reg(quadletOffsetToAddress(reg(format7CsrInquiry(0))) + offset);
    }

    CBcamExtension device_;
};

TEST_F(BcamRequestTest, videoModesAreAskedAndSetThroughTheInquiryAndCurrentRegisters)
{
    const uint32_t formats = reg(kVideoFormatInquiry);
    for (DWORD format = 0; format <= 7; ++format)
        EXPECT_EQ((formats & formatBit(format)) != 0, device_.IsVideoModeSupported(format)) << format;
    EXPECT_TRUE(device_.IsVideoModeSupported(kFormat7));
    EXPECT_TRUE(device_.IsVideoModeSupported(kFormat7, 0));
    EXPECT_TRUE(device_.IsVideoModeSupported(kFormat7, 0, 0));
    EXPECT_EQ((reg(videoModeInquiry(kFormat7)) & formatBit(7)) != 0,
              device_.IsVideoModeSupported(kFormat7, 7));
    EXPECT_FALSE(device_.IsVideoModeSupported(8));
    EXPECT_FALSE(device_.IsVideoModeSupported(0, 8));

    // A fixed mode the camera offers, with a rate it does not.
    DWORD fixedFormat = 0, fixedMode = 0, rate = 0;
    bool found = false;
    for (fixedFormat = 0; fixedFormat < kFormat7 && !found; ++fixedFormat) {
        const uint32_t modes = reg(videoModeInquiry(fixedFormat));
        for (fixedMode = 0; fixedMode <= 7 && !found; ++fixedMode)
            found = (formats & formatBit(fixedFormat)) && (modes & formatBit(fixedMode));
    }
    if (found) {
        --fixedFormat;
        --fixedMode;
        const uint32_t rates = reg(videoRateInquiry(fixedFormat, fixedMode));
        for (rate = 0; rate <= 7; ++rate)
            EXPECT_EQ((rates & formatBit(rate)) != 0,
                      device_.IsVideoModeSupported(fixedFormat, fixedMode, rate));
    }

    device_.SetVideoMode(kFormat7, 0, kAnyIndex);
    EXPECT_EQ(kFormat7, reg(kCurrentVideoFormat) >> kCurrentIndexShift);
    DWORD format = 9, mode = 9;
    device_.GetVideoMode(format, mode, rate);
    EXPECT_EQ(kFormat7, format);
    EXPECT_EQ(0u, mode);

    const BcamException refused = thrownBy([&] { device_.SetVideoMode(kFormat7, 7, 0); });
    if (!device_.IsVideoModeSupported(kFormat7, 7)) {
        EXPECT_EQ(error::kUnsupported, refused.Error());
        EXPECT_EQ("CBcam::SetVideoMode()", refused.Context());
    }
}

TEST_F(BcamRequestTest, formatSevenGeometryCodingAndPacketsRoundTripToTheModeRegisters)
{
    device_.SetVideoMode(kFormat7, 0, kAnyIndex);
    Bcam::CFormatSevenMode& mode = device_.FormatSeven[0];
    DWORD width = 0, height = 0;
    mode.MaxSize(width, height);
    EXPECT_EQ(highField(format7(kF7MaxImageSizeInquiry)), width);
    EXPECT_EQ(lowField(format7(kF7MaxImageSizeInquiry)), height);
    mode.ImageSize.Inc(width, height);
    EXPECT_EQ(highField(format7(kF7UnitSizeInquiry)), width);
    EXPECT_EQ(lowField(format7(kF7UnitSizeInquiry)), height);
    mode.ImagePosition.Inc(width, height);
    EXPECT_EQ(highField(format7(kF7UnitPositionInquiry)), width);
    EXPECT_EQ(lowField(format7(kF7UnitPositionInquiry)), height);

    mode.ImageSize.Assign(640, 480);
    mode.ImagePosition.Assign(16, 8);
    EXPECT_EQ(packHigh(640, 480), format7(kF7ImageSize));
    EXPECT_EQ(packHigh(16, 8), format7(kF7ImagePosition));
    mode.ImageSize.Read(width, height);
    EXPECT_EQ(640u, width);
    EXPECT_EQ(480u, height);
    DWORD left = 0, top = 0;
    mode.ImagePosition.Read(left, top);
    EXPECT_EQ(16u, left);
    EXPECT_EQ(8u, top);

    const uint32_t codings = format7(kF7ColorCodingInquiry);
    for (DWORD code = 0; code < 32; ++code)
        EXPECT_EQ((codings & formatBit(code)) != 0, mode.ColorCoding.IsSupported(code)) << code;
    EXPECT_FALSE(mode.ColorCoding.IsSupported(32));
    mode.ColorCoding.Assign(5);
    EXPECT_EQ(5u, format7(kF7ColorCodingId) >> kF7ColorCodingShift);
    EXPECT_EQ(5u, mode.ColorCoding.Read());
    mode.ColorCoding.Assign(0);

    const DWORD unit = mode.BytePerPacket.Inc();
    EXPECT_EQ(highField(format7(kF7PacketParameterInquiry)), unit);
    EXPECT_EQ(lowField(format7(kF7PacketParameterInquiry)), mode.BytePerPacket.Max());
    mode.BytePerPacket.Assign(unit * 4);
    EXPECT_EQ(unit * 4, highField(format7(kF7BytePerPacket)));
    EXPECT_EQ(unit * 4, mode.BytePerPacket.Read());
    EXPECT_EQ(format7(kF7TotalBytesLowInquiry), mode.BytePerFrame());

    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), thrownBy([&] { device_.FormatSeven[8]; }).Error());
    const BcamException refused = thrownBy([&] { mode.BytePerPacket.Assign(unit * 4 + 1); });
    EXPECT_EQ(error::kValueRefused, refused.Error());
    EXPECT_EQ("CBcam::CBytePerPacket::Assign()", refused.Context());
}

TEST_F(BcamRequestTest, shutterGainAndTriggerRoundTripToTheFeatureRegisters)
{
    const uint32_t shutterInquiry = reg(featureInquiry(kFeatureShutter));
    EXPECT_EQ((shutterInquiry >> 12) & 0xFFF, device_.Shutter.Raw.Min());
    EXPECT_EQ(shutterInquiry & 0xFFF, device_.Shutter.Raw.Max());
    const uint32_t gainInquiry = reg(featureInquiry(kFeatureGain));
    EXPECT_EQ((gainInquiry >> 12) & 0xFFF, device_.Gain.Raw.Min());
    EXPECT_EQ(gainInquiry & 0xFFF, device_.Gain.Raw.Max());

    const DWORD shutter = device_.Shutter.Raw.Min() + 3;
    device_.Shutter.Raw.Assign(shutter);
    EXPECT_EQ(shutter, reg(kShutter) & kControlValueMask);
    EXPECT_EQ(shutter, device_.Shutter.Raw.Read());
    const DWORD gain = device_.Gain.Raw.Max();
    device_.Gain.Raw.Assign(gain);
    EXPECT_EQ(gain, reg(kGain) & kControlValueMask);
    EXPECT_EQ(gain, device_.Gain.Raw.Read());

    device_.Trigger.OnOff.Assign(true);
    device_.Trigger.Mode.Assign(1);
    device_.Trigger.Polarity.Assign(true);
    uint32_t trigger = reg(kTriggerMode);
    EXPECT_NE(0u, trigger & kTriggerOn);
    EXPECT_NE(0u, trigger & kTriggerPolarity);
    EXPECT_EQ(1u, (trigger >> kTriggerModeShift) & kTriggerModeMask);
    EXPECT_TRUE(device_.Trigger.OnOff.Read());
    EXPECT_EQ(1u, device_.Trigger.Mode.Read());
    EXPECT_TRUE(device_.Trigger.Polarity.Read());
    device_.Trigger.OnOff.Assign(false);
    device_.Trigger.Polarity.Assign(false);
    trigger = reg(kTriggerMode);
    EXPECT_EQ(0u, trigger & (kTriggerOn | kTriggerPolarity));
    EXPECT_FALSE(device_.Trigger.OnOff.Read());
    EXPECT_FALSE(device_.Trigger.Polarity.Read());

    const uint32_t triggerInquiry = reg(kTriggerInquiry);
    for (DWORD m = 0; m <= 15; ++m)
        EXPECT_EQ((triggerInquiry & triggerInqMode(m)) != 0, device_.Trigger.IsModeSupported(m)) << m;
    EXPECT_FALSE(device_.Trigger.IsModeSupported(16));

    const BcamException refused =
        thrownBy([&] { device_.Shutter.Raw.Assign(device_.Shutter.Raw.Max() + 1); });
    EXPECT_EQ(error::kValueRefused, refused.Error());
    EXPECT_EQ("CBcam::CRawRegister::Assign()", refused.Context());
}

TEST_F(BcamRequestTest, infoQuadletsAndResourcesReachTheCamera)
{
    EXPECT_EQ("A102f", device_.Info.ModelName());
    EXPECT_EQ(world().camera(kA102fSerial)->config().vendorName, device_.Info.VendorName());
    EXPECT_EQ(world().camera(kA102fSerial)->config().extendedVersion, device_.Info.CameraFirmwareVersion());

    EXPECT_EQ(reg(kConfigRomGuidLow), device_.ReadQuadlet(kConfigRomGuidLow, kHigh));
    device_.WriteQuadlet(kShutter, kHigh, (reg(kShutter) & ~kControlValueMask) | device_.Shutter.Raw.Min());
    EXPECT_EQ(device_.Shutter.Raw.Min(), reg(kShutter) & kControlValueMask);
    EXPECT_EQ(error::kAddressError, thrownBy([&] { device_.ReadQuadlet(kInitialize, 0xFFFE); }).Error());

    device_.SetVideoMode(kFormat7, 0, kAnyIndex);
    const DWORD bytes = device_.FormatSeven[0].BytePerFrame();
    device_.AllocateResources(2, bytes);
    EXPECT_EQ(error::kResourcesInUse, thrownBy([&] { device_.AllocateResources(2, bytes); }).Error());
    device_.FreeResources();
    device_.AllocateResources(2, bytes);
    device_.Cancel();
    EXPECT_EQ(error::kBufferTooSmall, thrownBy([&] {
                                          device_.FreeResources();
                                          device_.AllocateResources(1, bytes - 1);
                                      }).Error());
}

TEST_F(BcamRequestTest, aFailedRequestCarriesTheDriversCodeAndTheOperation)
{
    world().faults().failNext("Info", 1, static_cast<int>(error::kBusy), kA102fSerial);
    const BcamException e = thrownBy([&] { device_.Info.ModelName(); });
    EXPECT_EQ(error::kBusy, e.Error());
    EXPECT_EQ("CBcam::CInfo::ModelName()", e.Context());
    EXPECT_EQ("A102f", device_.Info.ModelName());
}

TEST_F(BcamClientTest, aClientWindowHearsTheBcamClassUntilItIsUnregistered)
{
    BroadcastWindow window;
    Bcam::CBcam::RegisterClient(window.handle());
    EXPECT_NE(reinterpret_cast<LONG_PTR>(BroadcastWindow::ownProcedure()),
              GetWindowLongPtrA(window.handle(), GWLP_WNDPROC));
    Bcam::CBcam::RegisterClient(window.handle()); // twice is once

    world().addCamera(kBcamBus, "A102f", 0x102F03);
    world().addCamera(kBcamBus, "Flea2 FL2G-50S5M", 78); // not of the class
    world().unplugCamera(kA312fSerial);
    ASSERT_TRUE(pumpUntil([&] { return window.broadcasts().size() >= 2; }));
    pumpFor(std::chrono::milliseconds(200)); // and nothing else
    ASSERT_EQ(2u, window.broadcasts().size());
    EXPECT_EQ(WPARAM(DBT_DEVICEARRIVAL), window.broadcasts()[0].event);
    EXPECT_EQ(lower(pathOf(0x102F03)), lower(window.broadcasts()[0].name));
    EXPECT_EQ(WPARAM(DBT_DEVICEREMOVECOMPLETE), window.broadcasts()[1].event);

    Bcam::CBcam::UnregisterClient(window.handle());
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(BroadcastWindow::ownProcedure()),
              GetWindowLongPtrA(window.handle(), GWLP_WNDPROC));
    world().addCamera(kBcamBus, "A312f", 0x312F04);
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(2u, window.broadcasts().size());
}

} // namespace
} // namespace orvex::bcam::test
