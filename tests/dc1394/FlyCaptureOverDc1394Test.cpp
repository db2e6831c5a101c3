// The FlyCapture SDK's functions over libdc1394, called directly, over the
// default simulated world as /dev/fw* devices (run through
// scripts/with-simulated-firewire.sh). The world is changed only through the
// device layer's control file, as a test bed outside the program would.
#include "PGRFlyCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The default world's FlyCapture cameras: two Grasshoppers on bus 0, a
// Flea2 on bus 1 (the Basler cameras of bus 2 are the BCAM driver's).
constexpr uint32_t kGras20 = 7240101;
constexpr uint32_t kGras50 = 8120202;
constexpr uint32_t kFlea2 = 9050303;

void worldCommand(const std::string& command)
{
    const int fd = open("/dev/fw-sim-control", O_WRONLY);
    ASSERT_GE(fd, 0) << "no control file: not run under with-simulated-firewire.sh?";
    const std::string line = command + "\n";
    EXPECT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size())) << command;
    close(fd);
}

template <typename Done> bool waitFor(Done done)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class FlyCaptureOverDc1394 : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (FlyCaptureContext c : _contexts)
            flycaptureDestroyContext(c);
    }

    FlyCaptureContext bound(unsigned busIndex, unsigned buffers = 4)
    {
        FlyCaptureContext c = nullptr;
        EXPECT_EQ(flycaptureCreateContext(&c), FLYCAPTURE_OK);
        _contexts.push_back(c);
        EXPECT_EQ(flycaptureInitializePlus(c, busIndex, buffers, nullptr), FLYCAPTURE_OK);
        return c;
    }

    std::vector<FlyCaptureContext> _contexts;
};

TEST_F(FlyCaptureOverDc1394, TheBusesListTheFlyCaptureCamerasByBusAndNode)
{
    unsigned count = 0;
    ASSERT_EQ(flycaptureBusCameraCount(&count), FLYCAPTURE_OK);
    ASSERT_EQ(count, 3u);
    FlyCaptureInfoEx info[4];
    unsigned size = 4;
    ASSERT_EQ(flycaptureBusEnumerateCamerasEx(info, &size), FLYCAPTURE_OK);
    ASSERT_EQ(size, 3u);
    const struct {
        uint32_t serial;
        const char* model;
        int bus, node;
    } expected[] = {{kGras20, "Grasshopper GRAS-20S4M", 0, 0},
                    {kGras50, "Grasshopper GRAS-50S5M", 0, 1},
                    {kFlea2, "Flea2 FL2G-50S5M", 1, 0}};
    for (unsigned i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(info[i].uiSerialNumber, expected[i].serial);
        EXPECT_STREQ(info[i].szModelName, expected[i].model);
        EXPECT_STREQ(info[i].szVendorName, "Point Grey Research");
        EXPECT_EQ(info[i].iBusNumber, expected[i].bus);
        EXPECT_EQ(info[i].iNodeNumber, expected[i].node);
    }
    // Room for one: that one, and the caller told there are more.
    size = 1;
    EXPECT_EQ(flycaptureBusEnumerateCamerasEx(info, &size), FLYCAPTURE_BUFFER_SIZE_TOO_SMALL);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(info[0].uiSerialNumber, kGras20);
    size = 1;
    EXPECT_EQ(flycaptureBusEnumerateCamerasEx(nullptr, &size), FLYCAPTURE_INVALID_ARGUMENT);
}

TEST_F(FlyCaptureOverDc1394, ContextsAndTheirArgumentsAreChecked)
{
    int notAContext = 0;
    uint32_t value = 0;
    EXPECT_EQ(flycaptureGetCameraRegister(&notAContext, 0x600, &value), FLYCAPTURE_INVALID_CONTEXT);
    EXPECT_EQ(flycaptureDestroyContext(&notAContext), FLYCAPTURE_INVALID_CONTEXT);
    EXPECT_EQ(flycaptureCreateContext(nullptr), FLYCAPTURE_INVALID_ARGUMENT);

    FlyCaptureContext c = nullptr;
    ASSERT_EQ(flycaptureCreateContext(&c), FLYCAPTURE_OK);
    _contexts.push_back(c);
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0x600, &value), FLYCAPTURE_NOT_INITIALIZED);
    unsigned char* buffers[2] = {};
    EXPECT_EQ(flycaptureInitializePlus(c, 0, 2, buffers), FLYCAPTURE_NOT_IMPLEMENTED);
    EXPECT_EQ(flycaptureInitializePlus(c, 0, 0, nullptr), FLYCAPTURE_INVALID_ARGUMENT);
    EXPECT_EQ(flycaptureInitializePlus(c, 3, 2, nullptr), FLYCAPTURE_INVALID_BUS_INDEX);
    ASSERT_EQ(flycaptureInitializePlus(c, 2, 2, nullptr), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureInitializePlus(c, 0, 2, nullptr), FLYCAPTURE_ALREADY_INITIALIZED);
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0x600, nullptr), FLYCAPTURE_INVALID_ARGUMENT);
    EXPECT_EQ(flycaptureLockLatest(c, nullptr), FLYCAPTURE_INVALID_ARGUMENT);
    FlyCaptureImage image{};
    EXPECT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_NOT_STARTED);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_NOT_STARTED);
    EXPECT_STREQ(flycaptureErrorToString(FLYCAPTURE_DEVICE_REMOVED),
                 "The camera has been removed from the bus");
    EXPECT_STREQ(flycaptureErrorToString(static_cast<FlyCaptureError>(77)), "Unknown FlyCapture error code");
}

TEST_F(FlyCaptureOverDc1394, RegistersAreReachedAtAnyAddress)
{
    const FlyCaptureContext c = bound(2);
    // CYCLE_TIME (0xF0000200) through the offset that wraps to it: it runs.
    uint32_t first = 0, later = 0;
    ASSERT_EQ(flycaptureGetCameraRegister(c, 0xFF100200, &first), FLYCAPTURE_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(flycaptureGetCameraRegister(c, 0xFF100200, &later), FLYCAPTURE_OK);
    EXPECT_NE(first, later);
    // The configuration ROM's bus name ("1394") and the serial number in a
    // block read.
    uint32_t rom[4] = {};
    ASSERT_EQ(flycaptureReadRegisterBlock(c, 0xFFFF, 0xF0000404, rom, 4), FLYCAPTURE_OK);
    EXPECT_EQ(rom[0], 0x31333934u);
    EXPECT_EQ(rom[3], kFlea2);
    EXPECT_EQ(flycaptureReadRegisterBlock(c, 0xFFFE, 0xF0000404, rom, 4), FLYCAPTURE_ADDRESS_ERROR);
    EXPECT_EQ(flycaptureReadRegisterBlock(c, 0xFFFF, 0xF0000404, nullptr, 4), FLYCAPTURE_INVALID_ARGUMENT);
    // Brightness's control register (0x800) written and read back.
    uint32_t brightness = 0;
    ASSERT_EQ(flycaptureGetCameraRegister(c, 0x800, &brightness), FLYCAPTURE_OK);
    const uint32_t changed = (brightness & ~0xFFFu) | 0x40;
    ASSERT_EQ(flycaptureSetCameraRegister(c, 0x800, changed), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCameraRegister(c, 0x800, &brightness), FLYCAPTURE_OK);
    EXPECT_EQ(brightness & 0xFFFu, 0x40u);
    std::int32_t raw = 0;
    EXPECT_EQ(flycaptureGetCameraProperty(c, FLYCAPTURE_BRIGHTNESS, &raw, nullptr, nullptr), FLYCAPTURE_OK);
    EXPECT_EQ(raw, 0x40);
}

TEST_F(FlyCaptureOverDc1394, PropertiesKeepTheirRangesAndTheShutterIsInMilliseconds)
{
    const FlyCaptureContext c = bound(0);
    bool present = false;
    float low = 0, high = 0;
    const char* units = nullptr;
    const char* abbreviation = nullptr;
    ASSERT_EQ(flycaptureGetCameraAbsPropertyRange(c, FLYCAPTURE_SHUTTER, &present, &low, &high, &units,
                                                  &abbreviation),
              FLYCAPTURE_OK);
    ASSERT_TRUE(present);
    EXPECT_STREQ(units, "milliseconds");
    EXPECT_STREQ(abbreviation, "ms");
    EXPECT_NEAR(low, 0.02f, 1e-5f) << "one 20 us step";
    ASSERT_EQ(flycaptureSetCameraAbsPropertyEx(c, FLYCAPTURE_SHUTTER, false, true, false, 5.0f),
              FLYCAPTURE_OK);
    float shutter = 0;
    ASSERT_EQ(flycaptureGetCameraAbsProperty(c, FLYCAPTURE_SHUTTER, &shutter), FLYCAPTURE_OK);
    EXPECT_NEAR(shutter, 5.0f, 1e-4f);
    std::int32_t raw = 0;
    ASSERT_EQ(flycaptureGetCameraProperty(c, FLYCAPTURE_SHUTTER, &raw, nullptr, nullptr), FLYCAPTURE_OK);
    EXPECT_EQ(raw, 250) << "5 ms in 20 us steps";
    EXPECT_EQ(flycaptureSetCameraAbsPropertyEx(c, FLYCAPTURE_SHUTTER, false, true, false, high * 2),
              FLYCAPTURE_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(flycaptureSetCameraAbsPropertyEx(c, FLYCAPTURE_SHUTTER, false, true, false, 1.0f / 0.0f),
              FLYCAPTURE_INVALID_ARGUMENT);

    bool manual = false;
    std::int32_t minimum = 0, maximum = 0;
    ASSERT_EQ(flycaptureGetCameraPropertyRangeEx(c, FLYCAPTURE_GAIN, &present, nullptr, nullptr, nullptr,
                                                 nullptr, &manual, &minimum, &maximum),
              FLYCAPTURE_OK);
    EXPECT_TRUE(present && manual);
    EXPECT_EQ(flycaptureSetCameraProperty(c, FLYCAPTURE_GAIN, maximum + 1, 0, false),
              FLYCAPTURE_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(flycaptureSetCameraProperty(c, FLYCAPTURE_GAIN, minimum - 1, 0, false),
              FLYCAPTURE_VALUE_OUT_OF_RANGE);
    ASSERT_EQ(flycaptureSetCameraProperty(c, FLYCAPTURE_GAIN, maximum, 0, false), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCameraProperty(c, FLYCAPTURE_GAIN, &raw, nullptr, nullptr), FLYCAPTURE_OK);
    EXPECT_EQ(raw, maximum);
    EXPECT_EQ(flycaptureGetCameraProperty(c, static_cast<FlyCaptureProperty>(99), &raw, nullptr, nullptr),
              FLYCAPTURE_INVALID_ARGUMENT);
}

TEST_F(FlyCaptureOverDc1394, PacketsFollowTheIsoSpeedAndStayWithinWhatTheKernelCarries)
{
    const FlyCaptureContext c = bound(0);
    FlyCapturePacketInfo info{};
    ASSERT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, 1624, 1224, FLYCAPTURE_MONO8, &info), FLYCAPTURE_OK);
    EXPECT_EQ(info.uiMinSizeBytes, 4u);
    EXPECT_EQ(info.uiMaxSizeBytes, 4096u) << "S400, the speed the camera comes up with";
    EXPECT_EQ(info.uiImageSizeBytes, 1624u * 1224u);
    // S800 (ISO_Channel/ISO_Speed at 0x60C: 1394b mode, speed 3): IIDC's
    // 8192 bytes, but 8 of them overflow a kernel descriptor's 16-bit length.
    ASSERT_EQ(flycaptureSetCameraRegister(c, 0x60C, 0x00008003), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, 1624, 1224, FLYCAPTURE_MONO8, &info), FLYCAPTURE_OK);
    EXPECT_EQ(info.uiMaxSizeBytes, 8188u);
    ASSERT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, 16, 4, FLYCAPTURE_MONO16, &info), FLYCAPTURE_OK);
    EXPECT_EQ(info.uiMaxSizeBytes, 128u) << "no larger than the image";
    EXPECT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, 2000, 4, FLYCAPTURE_MONO8, &info),
              FLYCAPTURE_INVALID_CUSTOM_SIZE);
    EXPECT_EQ(flycaptureGetCustomImagePacketInfo(c, 1, 16, 4, FLYCAPTURE_MONO8, &info),
              FLYCAPTURE_INVALID_MODE);
    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 1624, 1224, 8192, FLYCAPTURE_MONO8),
              FLYCAPTURE_INVALID_CUSTOM_SIZE);
    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 641, 480, 4096, FLYCAPTURE_MONO8),
              FLYCAPTURE_INVALID_CUSTOM_SIZE);
    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 640, 480, 4098, FLYCAPTURE_MONO8),
              FLYCAPTURE_INVALID_CUSTOM_SIZE);
    ASSERT_EQ(flycaptureSetCameraRegister(c, 0x60C, 0x02000000), FLYCAPTURE_OK); // back to S400
}

TEST_F(FlyCaptureOverDc1394, TheNewestImageIsLentUntilUnlockedAndOutlivesTheStop)
{
    const FlyCaptureContext c = bound(0, 4);
    ASSERT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 640, 480, 4096, FLYCAPTURE_MONO8), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 640, 480, 4096, FLYCAPTURE_MONO8),
              FLYCAPTURE_ALREADY_STARTED);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 5000), FLYCAPTURE_OK);
    FlyCaptureImage a{}, b{};
    ASSERT_EQ(flycaptureLockLatest(c, &a), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureLockLatest(c, &b), FLYCAPTURE_OK);
    EXPECT_EQ(a.iCols, 640);
    EXPECT_EQ(a.iRows, 480);
    EXPECT_EQ(a.iRowInc, 640);
    EXPECT_EQ(a.pixelFormat, FLYCAPTURE_MONO8);
    EXPECT_NE(a.uiBufferIndex, b.uiBufferIndex) << "a lent buffer is never handed out again";
    EXPECT_GT(b.uiSeqNum, a.uiSeqNum);
    EXPECT_NE(a.pData, nullptr);
    // The first image stays as it was while later ones arrive.
    std::vector<unsigned char> copy(a.pData, a.pData + 640 * 480);
    FlyCaptureImage c3{};
    ASSERT_EQ(flycaptureUnlock(c, b.uiBufferIndex), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureLockLatest(c, &c3), FLYCAPTURE_OK);
    EXPECT_EQ(0, std::memcmp(copy.data(), a.pData, copy.size()));
    EXPECT_EQ(flycaptureUnlock(c, b.uiBufferIndex),
              b.uiBufferIndex == c3.uiBufferIndex ? FLYCAPTURE_OK : FLYCAPTURE_BUFFER_NOT_LOCKED);
    EXPECT_EQ(flycaptureUnlock(c, 99), FLYCAPTURE_INVALID_ARGUMENT);

    // Waiting for an external trigger (TRIGGER_MODE at 0x830: on), the camera
    // sends nothing: the wait ends at the time-out.
    ASSERT_EQ(flycaptureSetCameraRegister(c, 0x830, 0x82000000), FLYCAPTURE_OK);
    FlyCaptureImage none{};
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 0), FLYCAPTURE_OK);
    while (flycaptureLockLatest(c, &none) == FLYCAPTURE_OK) // what came before the switch
        ASSERT_EQ(flycaptureUnlock(c, none.uiBufferIndex), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 50), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureLockLatest(c, &none), FLYCAPTURE_TIMEOUT);
    ASSERT_EQ(flycaptureSetCameraRegister(c, 0x830, 0x80000000), FLYCAPTURE_OK);

    // Stopped: the camera no longer sends (ISO_EN at 0x614 off); the lent
    // image is still readable and comes back by its index.
    uint32_t isoEnable = 0;
    ASSERT_EQ(flycaptureGetCameraRegister(c, 0x614, &isoEnable), FLYCAPTURE_OK);
    EXPECT_EQ(isoEnable, 0x80000000u);
    ASSERT_EQ(flycaptureStop(c), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCameraRegister(c, 0x614, &isoEnable), FLYCAPTURE_OK);
    EXPECT_EQ(isoEnable, 0u);
    EXPECT_EQ(0, std::memcmp(copy.data(), a.pData, copy.size()));
    EXPECT_EQ(flycaptureLockLatest(c, &none), FLYCAPTURE_NOT_STARTED);
    EXPECT_EQ(flycaptureUnlock(c, a.uiBufferIndex), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureUnlock(c, a.uiBufferIndex), FLYCAPTURE_BUFFER_NOT_LOCKED);
    EXPECT_EQ(flycaptureUnlockAll(c), FLYCAPTURE_OK);
    // Without a transfer, indexes still span the context's four buffers.
    EXPECT_EQ(flycaptureUnlock(c, 3), FLYCAPTURE_BUFFER_NOT_LOCKED);
    EXPECT_EQ(flycaptureUnlock(c, 4), FLYCAPTURE_INVALID_ARGUMENT);
    // And a new start works with another size.
    ASSERT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 320, 240, 4096, FLYCAPTURE_MONO8), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 5000), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureLockLatest(c, &a), FLYCAPTURE_OK);
    EXPECT_EQ(a.iCols, 320);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_OK);
}

struct Heard {
    std::mutex m;
    std::vector<std::pair<int, unsigned long>> messages;
    bool has(int message, unsigned long param)
    {
        std::lock_guard<std::mutex> lock(m);
        return std::find(messages.begin(), messages.end(), std::make_pair(message, param)) != messages.end();
    }
};

void PGRFLYCAPTURE_CALL_CONVEN hear(void* param, int message, unsigned long value)
{
    auto* heard = static_cast<Heard*>(param);
    std::lock_guard<std::mutex> lock(heard->m);
    heard->messages.emplace_back(message, value);
}

TEST_F(FlyCaptureOverDc1394, AnUnplugRemovesTheCameraAndEveryChangeIsTold)
{
    Heard heard;
    const FlyCaptureContext watcher = bound(0);
    ASSERT_EQ(flycaptureModifyCallback(watcher, hear, &heard, true), FLYCAPTURE_OK);
    const FlyCaptureContext c = bound(1); // the second Grasshopper
    ASSERT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 640, 480, 4096, FLYCAPTURE_MONO8), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 5000), FLYCAPTURE_OK);
    FlyCaptureImage image{};
    ASSERT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureUnlock(c, image.uiBufferIndex), FLYCAPTURE_OK);

    worldCommand("unplug 8120202");
    EXPECT_TRUE(waitFor([&] { return heard.has(FLYCAPTURE_MESSAGE_DEVICE_REMOVAL, kGras50); }));
    EXPECT_TRUE(heard.has(FLYCAPTURE_MESSAGE_BUS_RESET, 0));
    EXPECT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_DEVICE_REMOVED);
    uint32_t value = 0;
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0x600, &value), FLYCAPTURE_DEVICE_REMOVED);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_DEVICE_REMOVED);
    unsigned count = 0;
    ASSERT_EQ(flycaptureBusCameraCount(&count), FLYCAPTURE_OK);
    EXPECT_EQ(count, 2u);

    worldCommand("plug 8120202 0");
    EXPECT_TRUE(waitFor([&] { return heard.has(FLYCAPTURE_MESSAGE_DEVICE_ARRIVAL, kGras50); }));
    // The old context stays bound to the camera that left; a new one works.
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0x600, &value), FLYCAPTURE_DEVICE_REMOVED);
    const FlyCaptureContext again = bound(1);
    EXPECT_EQ(flycaptureGetCameraRegister(again, 0x600, &value), FLYCAPTURE_OK);

    EXPECT_EQ(flycaptureModifyCallback(watcher, hear, &heard, false), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureModifyCallback(watcher, hear, &heard, false), FLYCAPTURE_INVALID_ARGUMENT);
}

} // namespace
