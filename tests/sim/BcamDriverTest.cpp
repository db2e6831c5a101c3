// The simulated BCAM driver seen by a client: device interfaces and their
// names, frame sizes with chunks, refusals and injected faults (what the
// requests do to the registers is checked through the client). Only the Win32 calls a client makes reach the
// driver.
#include "BcamTestClient.h"
#include "SimTestSupport.h"

#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>
#include <orvex/sim/BcamDriver.h>

#include <gtest/gtest.h>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;
namespace req = bcam::request;

constexpr uint32_t kA102Serial = 0x10203;
constexpr uint32_t kA312Serial = 0xCAFE0042;
constexpr uint32_t kBaslerGuidHigh = 0x00305300; // vendor id 0x003053, then the chip id's high byte
constexpr uint32_t kAnyRate = 0xFFFFFFFF;

class BcamDriverTest : public FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        bcam::installDriver();
        world().addBus(busAt(0, 1.0));
        world().addCamera(0, "Grasshopper GRAS-20S4M", 7240101); // another stack's camera
        world().addBus(busAt(2, 5.0, 0.0, 400));
        _a102 = world().addCamera(2, "A102f", kA102Serial);
        _a312 = world().addCamera(2, "A312f", kA312Serial);
        _device = std::make_unique<OwnedHandle>(openBcamDevice(bcam::devicePath(kA102Serial)));
        ASSERT_NE(INVALID_HANDLE_VALUE, _device->get());
    }
    void TearDown() override
    {
        _device.reset();
        FreshWorld::TearDown();
    }

    HANDLE device() const { return _device->get(); }
    DWORD send(const bcam::RequestEntry& entry, const std::vector<uint32_t>& in,
               std::vector<uint32_t>* out = nullptr)
    {
        return transmit(device(), entry, in, out);
    }
    void enterFormat7() { ASSERT_EQ(0u, send(req::kSetVideoMode, {kFormat7, 0, kAnyRate})); }

    std::shared_ptr<Camera> _a102, _a312;
    std::unique_ptr<OwnedHandle> _device;
};

TEST_F(BcamDriverTest, publishesOneInterfacePerBaslerCameraNamedAfterItsIdentifier)
{
    const std::vector<std::string> names = bcamDeviceNames();
    ASSERT_EQ(2u, names.size());
    const uint32_t serials[] = {kA102Serial, kA312Serial};
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(0u, names[i].find("\\\\?\\1394#"));
        EXPECT_EQ(names[i], bcam::devicePath(serials[i]));
        uint32_t high = 0, low = 0;
        decodeDeviceName(names[i], high, low);
        EXPECT_EQ(kBaslerGuidHigh, high);
        EXPECT_EQ(serials[i], low);
    }
    EXPECT_EQ("1394#0123456789ABCDEF", bcam::deviceReference(0x89674523, 0xEFCDAB01));
}

TEST_F(BcamDriverTest, arrivalsAndRemovalsChangeTheInterfacesAndFailOpenHandles)
{
    world().unplugCamera(kA312Serial);
    EXPECT_EQ(std::vector<std::string>{bcam::devicePath(kA102Serial)}, bcamDeviceNames());

    world().unplugCamera(kA102Serial);
    EXPECT_TRUE(bcamDeviceNames().empty());
    std::vector<uint32_t> out;
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), send(req::kReadQuadlet, {kInitialize, kAddressHigh}, &out));

    world().plugCamera(kA102Serial, 2);
    ASSERT_EQ(1u, bcamDeviceNames().size());
    // The old handle belongs to the device that left; a new one reaches the camera.
    EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), send(req::kReadQuadlet, {kInitialize, kAddressHigh}, &out));
    OwnedHandle fresh(openBcamDevice(bcamDeviceNames()[0]));
    EXPECT_EQ(0u, transmit(fresh.get(), req::kReadQuadlet, {kConfigRomGuidLow, kAddressHigh}, &out));
    EXPECT_EQ(kA102Serial, out[0]);
}

// What a message-only window hears of device changes.
struct Heard {
    std::vector<std::pair<WPARAM, std::string>> interfaces; // event, interface name
    std::vector<std::pair<WPARAM, HANDLE>> handles;         // event, handle
};

LRESULT CALLBACK recordDeviceChange(HWND window, UINT message, WPARAM event, LPARAM data)
{
    auto* heard = reinterpret_cast<Heard*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_DEVICECHANGE && heard && data) {
        const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
        if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            heard->interfaces.emplace_back(
                event, reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(data)->dbcc_name);
        } else if (header->dbch_devicetype == DBT_DEVTYP_HANDLE) {
            heard->handles.emplace_back(event,
                                        reinterpret_cast<const DEV_BROADCAST_HANDLE*>(data)->dbch_handle);
        }
    }
    return DefWindowProcA(window, message, event, data);
}

TEST_F(BcamDriverTest, arrivalsAndRemovalsAreBroadcastToInterfaceAndHandleRegistrations)
{
    Heard heard;
    HWND window = CreateWindowExA(0, "Message", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&heard));
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&recordDeviceChange));
    DEV_BROADCAST_DEVICEINTERFACE_A classFilter{};
    classFilter.dbcc_size = sizeof classFilter;
    classFilter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    classFilter.dbcc_classguid = bcam::kInterfaceClass;
    HDEVNOTIFY byClass = RegisterDeviceNotificationA(window, &classFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
    DEV_BROADCAST_HANDLE handleFilter{};
    handleFilter.dbch_size = sizeof handleFilter;
    handleFilter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    handleFilter.dbch_handle = device();
    HDEVNOTIFY byHandle = RegisterDeviceNotificationA(window, &handleFilter, DEVICE_NOTIFY_WINDOW_HANDLE);
    ASSERT_NE(nullptr, byClass);
    ASSERT_NE(nullptr, byHandle);

    const std::string path = bcam::devicePath(kA102Serial);
    world().unplugCamera(kA102Serial);
    world().plugCamera(kA102Serial, 2);
    world().addCamera(0, "Flea2 FL2G-50S5M", 9050303); // not a BCAM camera: no broadcast
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);

    const std::vector<std::pair<WPARAM, std::string>> expected = {{DBT_DEVICEREMOVECOMPLETE, path},
                                                                  {DBT_DEVICEARRIVAL, path}};
    EXPECT_EQ(expected, heard.interfaces);
    ASSERT_EQ(1u, heard.handles.size());
    EXPECT_EQ(WPARAM(DBT_DEVICEREMOVECOMPLETE), heard.handles[0].first);
    EXPECT_EQ(device(), heard.handles[0].second);

    UnregisterDeviceNotification(byHandle);
    UnregisterDeviceNotification(byClass);
    DestroyWindow(window);
}

TEST_F(BcamDriverTest, bytesPerFrameFollowGeometryPacketsAndChunks)
{
    enterFormat7();
    ASSERT_EQ(0u, send(req::kSetImageArea, {0, bcam::kAreaSize, 640, 480, 0, 0}));
    std::vector<uint32_t> out;
    ASSERT_EQ(0u, send(req::kBytePerFrame, {0}, &out));
    EXPECT_EQ(640u * 480u, out[bcam::kFrameBytes]);
    EXPECT_EQ(0u, out[bcam::kChunkBytes]);
    const uint32_t unit = out[bcam::kPacketUnit];
    ASSERT_NE(0u, unit);

    ASSERT_EQ(0u, send(req::kSetBytePerPacket, {0, unit * 10}));
    ASSERT_EQ(0u, send(req::kBytePerFrame, {0}, &out));
    EXPECT_EQ(unit * 10, out[bcam::kPacketBytes]);
    EXPECT_EQ((640u * 480u + unit * 10 - 1) / (unit * 10), out[bcam::kPacketsPerFrame]);
    EXPECT_EQ(bcam::error::kValueRefused, send(req::kSetBytePerPacket, {0, unit * 10 + 1}));

    // Switch on the extended data stream and the frame counter the way a host
    // does, through the smart-feature registers.
    namespace sf = orvex::iidc::sf;
    auto enable = [this](unsigned feature) {
        std::vector<uint32_t> address;
        ASSERT_EQ(0u, send(req::kWriteQuadlet, {sf::kAccessControl0, kAddressHigh, sf::kFeatureSetId[0]}));
        ASSERT_EQ(0u, send(req::kWriteQuadlet, {sf::kAccessControl1, kAddressHigh, sf::kFeatureSetId[1]}));
        for (uint32_t q = 0; q < 4; ++q) {
            ASSERT_EQ(0u, send(req::kWriteQuadlet,
                               {sf::kInquiryId + 4 * q, kAddressHigh, sf::kFeatureIds[feature].q[q]}));
        }
        ASSERT_EQ(0u, send(req::kReadQuadlet, {sf::kInquiryAddress, kAddressHigh}, &address));
        ASSERT_EQ(0u, send(req::kWriteQuadlet, {address[0], kAddressHigh, sf::kControlEnabled}));
    };
    enable(sf::kFeatureExtendedDataStream);
    enable(sf::kFeatureFrameCounter);
    enable(sf::kFeatureCrcChecksum);
    ASSERT_EQ(0u, send(req::kBytePerFrame, {0}, &out));
    const uint32_t chunks =
        static_cast<uint32_t>(sf::kChunkSizes[0] + sf::kChunkSizes[1] + sf::kCrcChunkSize);
    EXPECT_EQ(chunks, out[bcam::kChunkBytes]);
    EXPECT_EQ(640u * 480u + chunks, out[bcam::kFrameBytes]);
}

TEST_F(BcamDriverTest, malformedRequestsAndInjectedFaultsFail)
{
    DWORD bytes = 0;
    uint32_t in[4] = {};
    uint32_t out[4] = {};
    // Input of the wrong size, output too small, unknown code.
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER),
              transmit(device(), req::kReadQuadlet, {kShutter}, nullptr, &bytes));
    OVERLAPPED overlapped{};
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    overlapped.hEvent = event.get();
    EXPECT_FALSE(DeviceIoControl(device(), req::kReadQuadlet.code, in, 8, out, 2, &bytes, &overlapped));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_FALSE(DeviceIoControl(device(), 0x80102FF0, in, 8, out, 4, &bytes, &overlapped));
    EXPECT_EQ(DWORD(ERROR_INVALID_FUNCTION), GetLastError());

    world().faults().failNext("SetVideoMode", 1, static_cast<int>(0xE0000042), kA102Serial);
    EXPECT_EQ(0xE0000042u, send(req::kSetVideoMode, {kFormat7, 0, kAnyRate}));
    EXPECT_EQ(0u, send(req::kSetVideoMode, {kFormat7, 0, kAnyRate}));
}

} // namespace
} // namespace orvex::sim::test
