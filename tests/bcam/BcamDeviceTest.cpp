// Device names, opening, and every request wrapper round-tripping to the
// camera's registers; client windows and their undo.
#include "bcam/BcamClientFixture.h"

#include "bcam/client/BcamDevInfo.h"

#include <orvex/win32_testing.h>

#include <algorithm>

namespace orvex::bcam::test {
namespace {

using namespace orvex::iidc;
using Bcam::BcamException;
using Bcam::CBcamExtension;

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

TEST_F(BcamClientTest, deviceNamesAreTheBcamCamerasInTheDriversOrder)
{
    world().addCamera(kBcamBus, "Flea2 FL2G-50S5M", 77); // another stack's camera
    const std::list<std::string> names = Bcam::CBcam::DeviceNames();
    ASSERT_EQ(2u, names.size());
    EXPECT_EQ(pathOf(kA102fSerial), names.front());
    EXPECT_EQ(pathOf(kA312fSerial), names.back());

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

TEST_F(BcamClientTest, aDeviceObjectGivesBackEveryHandleItTook)
{
    // The process-wide notification window and its thread stay: start them first.
    {
        CBcamExtension warmUp;
        warmUp.Open(pathOf(kA312fSerial));
    }
    const std::size_t before = orvex::win32::testing::openHandleCount();
    {
        CBcamExtension device;
        device.Open(pathOf(kA102fSerial));
        device.Open(pathOf(kA312fSerial)); // the first device handle goes here
        EXPECT_LT(before, orvex::win32::testing::openHandleCount());
    }
    // The device handle and the completion port are closed with the object.
    EXPECT_EQ(before, orvex::win32::testing::openHandleCount());
}

class BcamRequestTest : public BcamClientTest {
protected:
    void SetUp() override
    {
        BcamClientTest::SetUp();
        _device.Open(pathOf(kA102fSerial));
    }
    uint32_t reg(uint32_t address) { return cameraRegister(kA102fSerial, address); }

    CBcamExtension _device;
};

TEST_F(BcamRequestTest, videoModesAreAskedAndSetThroughTheInquiryAndCurrentRegisters)
{
    const uint32_t formats = reg(kVideoFormatInquiry);
    for (DWORD format = 0; format <= 7; ++format)
        EXPECT_EQ((formats & formatBit(format)) != 0, _device.IsVideoModeSupported(format)) << format;
    EXPECT_TRUE(_device.IsVideoModeSupported(kFormat7));
    EXPECT_TRUE(_device.IsVideoModeSupported(kFormat7, 0));
    // Format_7 has no frame rates: the mode's presence decides for any of them.
    EXPECT_TRUE(_device.IsVideoModeSupported(kFormat7, 0, 0));
    EXPECT_TRUE(_device.IsVideoModeSupported(kFormat7, 0, 5));
    EXPECT_FALSE(_device.IsVideoModeSupported(kFormat7, 7));
    EXPECT_FALSE(_device.IsVideoModeSupported(kFormat7, 7, 0));
    EXPECT_FALSE(_device.IsVideoModeSupported(8));
    EXPECT_FALSE(_device.IsVideoModeSupported(0, 8));

    _device.SetVideoMode(kFormat7, 0, kAnyIndex);
    EXPECT_EQ(kFormat7, reg(kCurrentVideoFormat) >> kCurrentIndexShift);
    DWORD format = 9, mode = 9, rate = 9;
    _device.GetVideoMode(format, mode, rate);
    EXPECT_EQ(kFormat7, format);
    EXPECT_EQ(0u, mode);

    const BcamException refused = thrownBy([&] { _device.SetVideoMode(kFormat7, 7, 0); });
    EXPECT_EQ(error::kUnsupported, refused.Error());
    EXPECT_EQ("CBcam::SetVideoMode()", refused.Context());
}

TEST_F(BcamRequestTest, infoQuadletsAndResourcesReachTheCamera)
{
    EXPECT_EQ("A102f", _device.Info.ModelName());
    EXPECT_EQ(world().camera(kA102fSerial)->config().vendorName, _device.Info.VendorName());
    EXPECT_EQ(world().camera(kA102fSerial)->config().extendedVersion, _device.Info.CameraFirmwareVersion());

    EXPECT_EQ(reg(kConfigRomGuidLow), _device.ReadQuadlet(kConfigRomGuidLow, kHigh));
    _device.WriteQuadlet(kShutter, kHigh, (reg(kShutter) & ~kControlValueMask) | _device.Shutter.Raw.Min());
    EXPECT_EQ(_device.Shutter.Raw.Min(), reg(kShutter) & kControlValueMask);
    EXPECT_EQ(error::kAddressError, thrownBy([&] { _device.ReadQuadlet(kInitialize, 0xFFFE); }).Error());

    _device.SetVideoMode(kFormat7, 0, kAnyIndex);
    const DWORD bytes = _device.FormatSeven[0].BytePerFrame();
    _device.AllocateResources(2, bytes);
    EXPECT_EQ(error::kResourcesInUse, thrownBy([&] { _device.AllocateResources(2, bytes); }).Error());
    _device.FreeResources();
    _device.AllocateResources(2, bytes);
    _device.Cancel();
    EXPECT_EQ(error::kBufferTooSmall, thrownBy([&] {
                                          _device.FreeResources();
                                          _device.AllocateResources(1, bytes - 1);
                                      }).Error());
}

TEST_F(BcamRequestTest, aFailedRequestCarriesTheDriversCodeAndTheOperation)
{
    world().faults().failNext("Info", 1, static_cast<int>(error::kBusy), kA102fSerial);
    const BcamException e = thrownBy([&] { _device.Info.ModelName(); });
    EXPECT_EQ(error::kBusy, e.Error());
    EXPECT_EQ("CBcam::CInfo::ModelName()", e.Context());
    EXPECT_EQ("A102f", _device.Info.ModelName());
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
