// The simulated FlyCapture SDK, called directly: contexts, enumeration,
// Format_7, image buffers under LockLatest/Unlock, the embedded frame
// information, time stamps, hot-plug callbacks and injected faults.
#include "sim/SimTestSupport.h"

#include "PGRFlyCapture.h"

#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SyncRegisters.h>
#include <orvex/sim/FramePattern.h>

#include <algorithm>
#include <future>
#include <set>
#include <string>
#include <thread>

// Probes of the simulated SDK, linked here directly.
extern "C" uint64_t orvexSimFlyCapDroppedImages(uint32_t serialNumber);
extern "C" unsigned orvexSimFlyCapLockedBuffers(uint32_t serialNumber);

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;
using namespace std::chrono_literals;

constexpr uint32_t kSerialA = 7001, kSerialB = 7002, kSerialC = 8001;

class FlyCaptureSdk : public FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        world().addBus(busAt(0, 20.0));
        world().addBus(busAt(1, 50.0, 25.0));
        world().addCamera(0, "Grasshopper GRAS-20S4M", kSerialA);
        world().addCamera(0, "Grasshopper GRAS-50S5M", kSerialB);
        world().addCamera(1, "Flea2 FL2G-50S5M", kSerialC);
    }
    void TearDown() override
    {
        for (FlyCaptureContext c : _contexts)
            flycaptureDestroyContext(c);
        FreshWorld::TearDown();
    }
    FlyCaptureContext context()
    {
        FlyCaptureContext c = nullptr;
        EXPECT_EQ(flycaptureCreateContext(&c), FLYCAPTURE_OK);
        _contexts.push_back(c);
        return c;
    }
    // A context bound to the camera at `port` with `buffers` image buffers.
    FlyCaptureContext bound(unsigned port, unsigned buffers = 4)
    {
        FlyCaptureContext c = context();
        EXPECT_EQ(flycaptureInitializePlus(c, port, buffers, nullptr), FLYCAPTURE_OK);
        return c;
    }
    // Single-register calls take the offset from the register base, modulo 2^32.
    static uint32_t reg(FlyCaptureContext c, uint32_t address)
    {
        uint32_t value = 0;
        EXPECT_EQ(flycaptureGetCameraRegister(c, address - kRegisterBase, &value), FLYCAPTURE_OK);
        return value;
    }
    static void setReg(FlyCaptureContext c, uint32_t address, uint32_t value)
    {
        EXPECT_EQ(flycaptureSetCameraRegister(c, address - kRegisterBase, value), FLYCAPTURE_OK);
    }
    static FlyCaptureError startSmall(FlyCaptureContext c, unsigned width = 64, unsigned height = 48)
    {
        FlyCapturePacketInfo info{};
        EXPECT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, width, height, FLYCAPTURE_MONO8, &info),
                  FLYCAPTURE_OK);
        return flycaptureStartCustomImagePacket(c, 0, 0, 0, width, height, info.uiMaxSizeBytes,
                                                FLYCAPTURE_MONO8);
    }
    static void triggerOn(FlyCaptureContext c) { setReg(c, kTriggerMode, reg(c, kTriggerMode) | kTriggerOn); }
    static void softwareTrigger(FlyCaptureContext c) { setReg(c, kSoftwareTrigger, kSoftwareTriggerFire); }
    // A LockLatest (infinite time-out) left waiting on a triggered camera that
    // no trigger reaches.
    static std::future<FlyCaptureError> lockWaitingForATrigger(FlyCaptureContext c)
    {
        triggerOn(c);
        EXPECT_EQ(startSmall(c), FLYCAPTURE_OK);
        auto waiting = std::async(std::launch::async, [c] {
            FlyCaptureImage image{};
            return flycaptureLockLatest(c, &image);
        });
        std::this_thread::sleep_for(20ms);
        return waiting;
    }

    std::vector<FlyCaptureContext> _contexts;
};

TEST_F(FlyCaptureSdk, EnumerationListsCamerasByBusInPlugOrder)
{
    unsigned count = 0;
    ASSERT_EQ(flycaptureBusCameraCount(&count), FLYCAPTURE_OK);
    EXPECT_EQ(count, 3u);

    FlyCaptureInfoEx entries[15];
    unsigned size = 2;
    EXPECT_EQ(flycaptureBusEnumerateCamerasEx(entries, &size), FLYCAPTURE_BUFFER_SIZE_TOO_SMALL);
    EXPECT_EQ(size, 2u);
    size = 3;
    EXPECT_EQ(flycaptureBusEnumerateCamerasEx(entries, &size), FLYCAPTURE_OK) << "an array that just fits";
    EXPECT_EQ(size, 3u);
    size = 15;
    ASSERT_EQ(flycaptureBusEnumerateCamerasEx(entries, &size), FLYCAPTURE_OK);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(entries[0].uiSerialNumber, kSerialA);
    EXPECT_STREQ(entries[0].szModelName, "Grasshopper GRAS-20S4M");
    EXPECT_STREQ(entries[0].szVendorName, "Point Grey Research");
    EXPECT_EQ(entries[1].uiSerialNumber, kSerialB);
    EXPECT_EQ(entries[1].iNodeNumber, 1);
    EXPECT_EQ(entries[2].uiSerialNumber, kSerialC);
    EXPECT_STREQ(entries[2].szModelName, "Flea2 FL2G-50S5M");
    EXPECT_EQ(entries[2].iBusNumber, 1);
    EXPECT_EQ(entries[2].iMaxBusSpeed, 800);

    // The port index of InitializePlus is the enumeration position.
    FlyCaptureContext c = bound(2);
    EXPECT_EQ(reg(c, kConfigRomGuidLow), kSerialC);
}

TEST_F(FlyCaptureSdk, ContextMisuseIsRefusedWithoutHarm)
{
    FlyCaptureContext c = context();
    uint32_t value = 0;
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0, &value), FLYCAPTURE_NOT_INITIALIZED);
    EXPECT_EQ(flycaptureInitializePlus(c, 3, 4, nullptr), FLYCAPTURE_INVALID_BUS_INDEX);
    unsigned char* buffers[1] = {nullptr};
    EXPECT_EQ(flycaptureInitializePlus(c, 0, 4, buffers), FLYCAPTURE_NOT_IMPLEMENTED);
    EXPECT_EQ(flycaptureInitializePlus(c, 0, 0, nullptr), FLYCAPTURE_INVALID_ARGUMENT);
    ASSERT_EQ(flycaptureInitializePlus(c, 0, 4, nullptr), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureInitializePlus(c, 1, 4, nullptr), FLYCAPTURE_ALREADY_INITIALIZED);
    FlyCaptureImage image;
    EXPECT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_NOT_STARTED);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_NOT_STARTED);
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0, nullptr), FLYCAPTURE_INVALID_ARGUMENT);

    int stranger = 0;
    EXPECT_EQ(flycaptureGetCameraRegister(&stranger, 0, &value), FLYCAPTURE_INVALID_CONTEXT);
    FlyCaptureContext gone = context();
    _contexts.pop_back();
    EXPECT_EQ(flycaptureDestroyContext(gone), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureDestroyContext(gone), FLYCAPTURE_INVALID_CONTEXT);
    EXPECT_EQ(flycaptureCreateContext(nullptr), FLYCAPTURE_INVALID_ARGUMENT);
}

TEST_F(FlyCaptureSdk, RegistersAndBlocksUseTheCameraAddressSpace)
{
    FlyCaptureContext c = bound(0);
    uint32_t value = 0;
    // 0xFF100200 wraps to CSR CYCLE_TIME.
    ASSERT_EQ(flycaptureGetCameraRegister(c, FC_REG_CSR_CYCLE_TIME, &value), FLYCAPTURE_OK);
    EXPECT_LT(cycleCount(value), kCyclesPerSecond);
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0x0F000000, &value), FLYCAPTURE_ADDRESS_ERROR);

    // The sync block, written and read back in one transfer each.
    const uint32_t block[2] = {makeCycleTime(1, 0, 1), makeSyncQuadlet1(25, 4)};
    ASSERT_EQ(flycaptureWriteRegisterBlock(c, kAddressHigh, FC_REG_SYNC, block, 2), FLYCAPTURE_OK);
    uint32_t back[2] = {};
    ASSERT_EQ(flycaptureReadRegisterBlock(c, kAddressHigh, FC_REG_SYNC, back, 2), FLYCAPTURE_OK);
    EXPECT_EQ(back[0], 0x02000001u);
    EXPECT_EQ(back[1], 6404u); // 25 * 256 + 4
    EXPECT_EQ(flycaptureReadRegisterBlock(c, 0x1234, FC_REG_SYNC, back, 2), FLYCAPTURE_ADDRESS_ERROR);

    // User memory: 64 KiB behind the description, reached by block transfers.
    EXPECT_EQ(reg(c, kUserMemoryDescription), 0x8000A006u);
    const uint32_t data = (4 * reg(c, kUserMemoryDataOffset)) | kCsrBase;
    const uint32_t words[3] = {0x01020304, 0x05060708, 0x090A0B0C};
    ASSERT_EQ(flycaptureWriteRegisterBlock(c, kAddressHigh, data + 8, words, 3), FLYCAPTURE_OK);
    uint32_t read[4] = {};
    ASSERT_EQ(flycaptureReadRegisterBlock(c, kAddressHigh, data + 4, read, 4), FLYCAPTURE_OK);
    EXPECT_EQ(read[0], 0xFFFFFFFFu) << "erased";
    EXPECT_EQ(read[1], 0x01020304u);
    EXPECT_EQ(read[3], 0x090A0B0Cu);
}

TEST_F(FlyCaptureSdk, Format7QueryPacketInfoAndStartChecks)
{
    FlyCaptureContext c = bound(0);
    bool available = false;
    unsigned maxW = 0, maxH = 0, unitW = 0, unitH = 0, unitL = 0, unitT = 0, formats = 0;
    ASSERT_EQ(flycaptureQueryCustomImageEx(c, 0, &available, &maxW, &maxH, &unitW, &unitH, &unitL, &unitT,
                                           &formats),
              FLYCAPTURE_OK);
    EXPECT_TRUE(available);
    EXPECT_EQ(maxW, 1624u);
    EXPECT_EQ(maxH, 1224u);
    EXPECT_EQ(unitW, 8u);
    EXPECT_EQ(unitH, 2u);
    EXPECT_EQ(formats, unsigned(FLYCAPTURE_MONO8 | FLYCAPTURE_MONO16));
    ASSERT_EQ(flycaptureQueryCustomImageEx(c, 1, &available, &maxW, &maxH, &unitW, &unitH, &unitL, &unitT,
                                           &formats),
              FLYCAPTURE_OK);
    EXPECT_FALSE(available);

    FlyCapturePacketInfo info{};
    ASSERT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, 1624, 1224, FLYCAPTURE_MONO16, &info), FLYCAPTURE_OK);
    EXPECT_EQ(info.uiMinSizeBytes, 4u);
    EXPECT_EQ(info.uiMaxSizeBytes, 4096u) << "S400, the speed a camera comes up with";
    // ISO_Channel/ISO_Speed at 0x60C: 1394b mode, S800.
    ASSERT_EQ(flycaptureSetCameraRegister(c, 0x60C, 0x00008003), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, 1624, 1224, FLYCAPTURE_MONO16, &info), FLYCAPTURE_OK);
    EXPECT_EQ(info.uiMaxSizeBytes, 8192u);
    EXPECT_EQ(flycaptureGetCustomImagePacketInfo(c, 0, 2000, 10, FLYCAPTURE_MONO8, &info),
              FLYCAPTURE_INVALID_CUSTOM_SIZE);

    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 641, 480, 4096, FLYCAPTURE_MONO8),
              FLYCAPTURE_INVALID_CUSTOM_SIZE);
    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 0, 0, 0, 640, 480, 4098, FLYCAPTURE_MONO8),
              FLYCAPTURE_INVALID_CUSTOM_SIZE);
    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 1, 0, 0, 640, 480, 4096, FLYCAPTURE_MONO8),
              FLYCAPTURE_INVALID_MODE);
    ASSERT_EQ(flycaptureStartCustomImagePacket(c, 0, 8, 2, 640, 480, 8192, FLYCAPTURE_MONO8), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureStartCustomImagePacket(c, 0, 8, 2, 640, 480, 8192, FLYCAPTURE_MONO8),
              FLYCAPTURE_ALREADY_STARTED);
    // The geometry went to the camera's Format_7 registers.
    const uint32_t block = (4 * reg(c, format7CsrInquiry(0))) | kCsrBase;
    EXPECT_EQ(reg(c, block + kF7ImagePosition), packHigh(8, 2));
    EXPECT_EQ(reg(c, block + kF7ImageSize), packHigh(640, 480));
    EXPECT_EQ(reg(c, kIsoEnable), kIsoEnableBit);

    // The second camera of the bus finds too little bandwidth left.
    FlyCaptureContext other = bound(1);
    ASSERT_EQ(flycaptureSetCameraRegister(other, 0x60C, 0x00008103), FLYCAPTURE_OK); // channel 1, S800
    EXPECT_EQ(flycaptureStartCustomImagePacket(other, 0, 0, 0, 640, 480, 8192, FLYCAPTURE_MONO8),
              FLYCAPTURE_BANDWIDTH_EXCEEDED);
    EXPECT_EQ(flycaptureStartCustomImagePacket(other, 0, 0, 0, 640, 480, 1024, FLYCAPTURE_MONO8),
              FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureStop(other), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_OK);
    EXPECT_EQ(reg(c, kIsoEnable), 0u);
}

TEST_F(FlyCaptureSdk, PropertiesInRawAndAbsoluteForm)
{
    FlyCaptureContext c = bound(0);
    bool present = false, onOff = false, autoMode = false;
    float minimum = 0, maximum = 0;
    const char *units = nullptr, *abbreviation = nullptr;
    ASSERT_EQ(flycaptureGetCameraAbsPropertyRange(c, FLYCAPTURE_GAIN, &present, &minimum, &maximum, &units,
                                                  &abbreviation),
              FLYCAPTURE_OK);
    EXPECT_TRUE(present);
    EXPECT_FLOAT_EQ(minimum, -2.0f);
    EXPECT_FLOAT_EQ(maximum, 24.0f);
    EXPECT_STREQ(abbreviation, "dB");

    ASSERT_EQ(flycaptureSetCameraAbsPropertyEx(c, FLYCAPTURE_GAIN, false, true, false, 3.14f), FLYCAPTURE_OK);
    float gain = 0;
    ASSERT_EQ(flycaptureGetCameraAbsProperty(c, FLYCAPTURE_GAIN, &gain), FLYCAPTURE_OK);
    EXPECT_FLOAT_EQ(gain, 3.125f) << "nearest 1/16 dB step";
    int32_t raw = 0, high = 0;
    ASSERT_EQ(flycaptureGetCameraProperty(c, FLYCAPTURE_GAIN, &raw, &high, &autoMode), FLYCAPTURE_OK);
    EXPECT_EQ(raw, 82);
    EXPECT_TRUE(reg(c, kGain) & kControlAbsolute);
    // Written back through the raw interface: same setting, raw mode.
    ASSERT_EQ(flycaptureSetCameraProperty(c, FLYCAPTURE_GAIN, raw, high, autoMode), FLYCAPTURE_OK);
    EXPECT_FALSE(reg(c, kGain) & kControlAbsolute);
    EXPECT_EQ(reg(c, kGain) & kControlValueMask, 82u);

    EXPECT_EQ(flycaptureSetCameraAbsPropertyEx(c, FLYCAPTURE_GAIN, false, true, false, 99.0f),
              FLYCAPTURE_VALUE_OUT_OF_RANGE);
    EXPECT_EQ(flycaptureGetCameraAbsProperty(c, static_cast<FlyCaptureProperty>(7), &gain),
              FLYCAPTURE_INVALID_ARGUMENT);

    // In Format_7 the frame-rate switch changes the shutter range.
    setReg(c, kCurrentVideoFormat, kFormat7 << kCurrentIndexShift);
    ASSERT_EQ(flycaptureGetCameraPropertyRangeEx(c, FLYCAPTURE_FRAME_RATE, &present, nullptr, nullptr, &onOff,
                                                 nullptr, nullptr, nullptr, nullptr),
              FLYCAPTURE_OK);
    EXPECT_TRUE(present && onOff);
    bool onePush = false, on = false;
    int32_t a = 0, b = 0;
    ASSERT_EQ(flycaptureGetCameraPropertyEx(c, FLYCAPTURE_FRAME_RATE, &onePush, &on, &autoMode, &a, &b),
              FLYCAPTURE_OK);
    ASSERT_TRUE(on);
    float shutterMaxOn = 0, shutterMaxOff = 0;
    ASSERT_EQ(flycaptureGetCameraAbsPropertyRange(c, FLYCAPTURE_SHUTTER, &present, &minimum, &shutterMaxOn,
                                                  nullptr, nullptr),
              FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetCameraPropertyEx(c, FLYCAPTURE_FRAME_RATE, onePush, false, autoMode, a, b),
              FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCameraAbsPropertyRange(c, FLYCAPTURE_SHUTTER, &present, &minimum, &shutterMaxOff,
                                                  nullptr, nullptr),
              FLYCAPTURE_OK);
    EXPECT_LT(shutterMaxOn, shutterMaxOff);
}

// What a host reads, recorded: the range call answers capabilities, the
// property call the state, as the real SDK does (a host reading the range
// call's on/off as "switched on" sees the frame rate on while it is off).
TEST_F(FlyCaptureSdk, RangeCallAnswersCapabilitiesAndPropertyCallState)
{
    FlyCaptureContext c = bound(0);
    setReg(c, kCurrentVideoFormat, kFormat7 << kCurrentIndexShift);
    bool onePush = false, on = false, autoMode = false;
    int32_t a = 0, b = 0;
    ASSERT_EQ(flycaptureGetCameraPropertyEx(c, FLYCAPTURE_FRAME_RATE, &onePush, &on, &autoMode, &a, &b),
              FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetCameraPropertyEx(c, FLYCAPTURE_FRAME_RATE, onePush, false, autoMode, a, b),
              FLYCAPTURE_OK);
    auto range = [&](FlyCaptureProperty property, bool& onOff, bool& onePushCapable) {
        bool present = false;
        ASSERT_EQ(flycaptureGetCameraPropertyRangeEx(c, property, &present, &onePushCapable, nullptr, &onOff,
                                                     nullptr, nullptr, nullptr, nullptr),
                  FLYCAPTURE_OK);
        EXPECT_TRUE(present);
    };
    bool onOff = false, onePushCapable = false;
    range(FLYCAPTURE_FRAME_RATE, onOff, onePushCapable);
    EXPECT_TRUE(onOff) << "can be switched, though off";
    ASSERT_EQ(flycaptureGetCameraPropertyEx(c, FLYCAPTURE_FRAME_RATE, &onePush, &on, &autoMode, &a, &b),
              FLYCAPTURE_OK);
    EXPECT_FALSE(on);
    range(FLYCAPTURE_SHUTTER, onOff, onePushCapable);
    EXPECT_FALSE(onOff) << "the shutter cannot be switched off";

    // One-push: capable per the range call; running, then done, per the
    // property call.
    range(FLYCAPTURE_AUTO_EXPOSURE, onOff, onePushCapable);
    ASSERT_TRUE(onePushCapable);
    ASSERT_EQ(flycaptureGetCameraPropertyEx(c, FLYCAPTURE_AUTO_EXPOSURE, &onePush, &on, &autoMode, &a, &b),
              FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetCameraPropertyEx(c, FLYCAPTURE_AUTO_EXPOSURE, true, on, false, a, b),
              FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCameraPropertyEx(c, FLYCAPTURE_AUTO_EXPOSURE, &onePush, &on, &autoMode, &a, &b),
              FLYCAPTURE_OK);
    EXPECT_TRUE(onePush);
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (onePush && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(1ms);
        ASSERT_EQ(
            flycaptureGetCameraPropertyEx(c, FLYCAPTURE_AUTO_EXPOSURE, &onePush, &on, &autoMode, &a, &b),
            FLYCAPTURE_OK);
    }
    EXPECT_FALSE(onePush) << "clears when the adjustment is done";
}

TEST_F(FlyCaptureSdk, TimeStampsLieBetweenCycleTimeReadsAroundTheTrigger)
{
    FlyCaptureContext c = bound(2); // the drifting bus
    setReg(c, kFrameInfo, frameinfo::kTimestamp);
    triggerOn(c);
    ASSERT_EQ(startSmall(c), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 5000), FLYCAPTURE_OK);
    for (int i = 0; i < 3; ++i) {
        const uint32_t before = reg(c, kCycleTime);
        softwareTrigger(c);
        const uint32_t after = reg(c, kCycleTime);
        FlyCaptureImage image{};
        ASSERT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_OK);
        const uint32_t stamp = frameinfo::readQuadlet(image.pData);
        auto ahead = [](uint32_t from, uint32_t to) {
            int64_t d = int64_t(cycleTimeToTicks(to)) - int64_t(cycleTimeToTicks(from));
            return d < 0 ? d + kTicksPerWrap : d;
        };
        EXPECT_LE(ahead(before, stamp), ahead(before, after))
            << "stamp taken while the trigger register was written";
        ASSERT_EQ(flycaptureUnlock(c, image.uiBufferIndex), FLYCAPTURE_OK);
    }
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_OK);
}

// An image triggered while a LockLatest waits for one wakes that lock
// (unpaced, the image is handed over inside the trigger's write).
TEST_F(FlyCaptureSdk, ATriggeredImageWakesALockWaitingForIt)
{
    World::instance().setPacing(Pacing::unpaced);
    FlyCaptureContext c = bound(0);
    auto waiting = lockWaitingForATrigger(c);
    softwareTrigger(c);
    const bool woke = waiting.wait_for(10s) == std::future_status::ready;
    if (!woke) {
        // Destroying the context wakes the waiter: the test fails, not hangs.
        _contexts.clear();
        flycaptureDestroyContext(c);
    }
    ASSERT_TRUE(woke) << "the triggered image left the lock asleep";
    EXPECT_EQ(waiting.get(), FLYCAPTURE_OK);
}

TEST_F(FlyCaptureSdk, LockLatestLendsTheNewestImageAndNeverOverwritesHeldBuffers)
{
    World::instance().setPacing(Pacing::unpaced);
    FlyCaptureContext c = bound(0, 3);
    triggerOn(c);
    ASSERT_EQ(startSmall(c), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 50), FLYCAPTURE_OK);
    FlyCaptureImage image{};
    EXPECT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_TIMEOUT) << "no trigger, no image";

    // Three images arrive: the newest is lent, the two older ones are dropped.
    for (int i = 0; i < 3; ++i)
        softwareTrigger(c);
    ASSERT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_OK);
    EXPECT_EQ(image.uiSeqNum, 2u);
    EXPECT_EQ(orvexSimFlyCapDroppedImages(kSerialA), 2u);
    EXPECT_EQ(orvexSimFlyCapLockedBuffers(kSerialA), 1u);
    EXPECT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_TIMEOUT);
    ASSERT_EQ(flycaptureUnlockAll(c), FLYCAPTURE_OK);
    EXPECT_EQ(orvexSimFlyCapLockedBuffers(kSerialA), 0u);

    // Hold all three buffers.
    std::vector<FlyCaptureImage> held(3);
    std::set<unsigned> indexes;
    for (auto& h : held) {
        softwareTrigger(c);
        ASSERT_EQ(flycaptureLockLatest(c, &h), FLYCAPTURE_OK);
        indexes.insert(h.uiBufferIndex);
    }
    EXPECT_EQ(indexes.size(), 3u);
    softwareTrigger(c); // nowhere to go: dropped
    EXPECT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_TIMEOUT);
    EXPECT_EQ(orvexSimFlyCapDroppedImages(kSerialA), 3u);
    for (const auto& h : held)
        EXPECT_EQ(pattern::readFrameNumber(h.pData), h.uiSeqNum) << "a lent buffer is never written";

    EXPECT_EQ(flycaptureUnlock(c, held[1].uiBufferIndex), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureUnlock(c, held[1].uiBufferIndex), FLYCAPTURE_BUFFER_NOT_LOCKED);
    EXPECT_EQ(flycaptureUnlock(c, 3), FLYCAPTURE_INVALID_ARGUMENT);
    softwareTrigger(c);
    ASSERT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_OK);
    EXPECT_EQ(image.uiBufferIndex, held[1].uiBufferIndex) << "the only free buffer";
    EXPECT_EQ(image.uiSeqNum, held[2].uiSeqNum + 2);
    EXPECT_EQ(pattern::readFrameNumber(held[0].pData), held[0].uiSeqNum);
    EXPECT_EQ(flycaptureUnlockAll(c), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_NOT_STARTED);
}

TEST_F(FlyCaptureSdk, ImagesDueWhileNobodyLocksAreMadeAndCountAsDropped)
{
    FlyCaptureContext c = bound(0, 3);
    ASSERT_EQ(startSmall(c), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 5000), FLYCAPTURE_OK);
    FlyCaptureImage first{}, later{};
    ASSERT_EQ(flycaptureLockLatest(c, &first), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureUnlock(c, first.uiBufferIndex), FLYCAPTURE_OK);
    const uint64_t droppedBefore = orvexSimFlyCapDroppedImages(kSerialA);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(flycaptureLockLatest(c, &later), FLYCAPTURE_OK);
    ASSERT_GT(later.uiSeqNum, first.uiSeqNum + 3) << "several periods passed";
    EXPECT_EQ(orvexSimFlyCapDroppedImages(kSerialA) - droppedBefore, later.uiSeqNum - first.uiSeqNum - 1)
        << "every image between the two was made and dropped, none went missing";
    EXPECT_EQ(pattern::readFrameNumber(later.pData), later.uiSeqNum);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_OK);
}

// What a host reads from a lent buffer after the transfer was stopped and
// started again: its own image, until it unlocks the buffer.
TEST_F(FlyCaptureSdk, ARestartNeitherWritesNorFreesABufferStillLent)
{
    World::instance().setPacing(Pacing::unpaced);
    FlyCaptureContext c = bound(0, 3);
    ASSERT_EQ(startSmall(c), FLYCAPTURE_OK);
    FlyCaptureImage held{};
    ASSERT_EQ(flycaptureLockLatest(c, &held), FLYCAPTURE_OK);
    const std::vector<uint8_t> before(held.pData, held.pData + 64 * 48);
    ASSERT_EQ(flycaptureStop(c), FLYCAPTURE_OK);

    ASSERT_EQ(startSmall(c), FLYCAPTURE_OK) << "the same size";
    for (int i = 0; i < 6; ++i) {
        FlyCaptureImage image{};
        ASSERT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_OK);
        EXPECT_NE(image.uiBufferIndex, held.uiBufferIndex);
        ASSERT_EQ(flycaptureUnlock(c, image.uiBufferIndex), FLYCAPTURE_OK);
    }
    EXPECT_EQ(std::vector<uint8_t>(held.pData, held.pData + 64 * 48), before);
    ASSERT_EQ(flycaptureStop(c), FLYCAPTURE_OK);

    // Another shape with as many bytes: the held memory stays readable and
    // untouched, the new images carry the new shape's gradient.
    ASSERT_EQ(startSmall(c, 48, 64), FLYCAPTURE_OK);
    FlyCaptureImage image{};
    ASSERT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_OK);
    EXPECT_EQ(std::vector<uint8_t>(held.pData, held.pData + 64 * 48), before);
    const FrameGeometry shape{0, 0, 48, 64, 1, 0};
    for (uint32_t row : {2u, 10u, 63u})
        EXPECT_EQ(image.pData[row * 48 + 47], pattern::gradientByte(shape, row, 47)) << "row " << row;
    EXPECT_EQ(flycaptureUnlock(c, held.uiBufferIndex), FLYCAPTURE_OK) << "still lent until now";
    EXPECT_EQ(flycaptureUnlockAll(c), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_OK);
}

TEST_F(FlyCaptureSdk, ExternalTriggerLineFiresEveryTriggeredCameraTogether)
{
    World::instance().setPacing(Pacing::unpaced);
    FlyCaptureContext a = bound(0), b = bound(1), free = bound(2);
    for (FlyCaptureContext c : {a, b}) {
        setReg(c, kFrameInfo, frameinfo::kGpioStatus);
        setReg(c, kTriggerMode, kPresence | kTriggerOn | kTriggerPolarity);
        ASSERT_EQ(startSmall(c), FLYCAPTURE_OK);
        ASSERT_EQ(flycaptureSetGrabTimeoutEx(c, 50), FLYCAPTURE_OK);
    }
    EXPECT_EQ(World::instance().fireExternalTrigger(), 2) << "the free-running camera has its trigger off";
    for (FlyCaptureContext c : {a, b}) {
        FlyCaptureImage image{};
        ASSERT_EQ(flycaptureLockLatest(c, &image), FLYCAPTURE_OK);
        EXPECT_TRUE(image.pData[0] & frameinfo::kGpioTriggerInput);
        EXPECT_EQ(flycaptureUnlock(c, image.uiBufferIndex), FLYCAPTURE_OK);
    }
    // A broadcast software trigger reaches the triggered cameras of one bus only.
    triggerOn(free);
    ASSERT_EQ(startSmall(free), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetGrabTimeoutEx(free, 50), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureSetCameraRegisterBroadcast(a, kSoftwareTriggerOffset, kSoftwareTriggerFire),
              FLYCAPTURE_OK);
    FlyCaptureImage image{};
    EXPECT_EQ(flycaptureLockLatest(a, &image), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureLockLatest(b, &image), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureLockLatest(free, &image), FLYCAPTURE_TIMEOUT) << "on the other bus";
}

// --- hot-plug ---------------------------------------------------------------------------

struct Notification {
    int message;
    unsigned long param;
    std::thread::id thread;
};

class NotificationLog {
public:
    static void PGRFLYCAPTURE_CALL_CONVEN callback(void* self, int message, unsigned long param)
    {
        auto* log = static_cast<NotificationLog*>(self);
        std::lock_guard<std::mutex> lock(log->_m);
        log->_entries.push_back({message, param, std::this_thread::get_id()});
        log->_cv.notify_all();
    }
    std::vector<Notification> waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(_m);
        _cv.wait_for(lock, 10s, [&] { return _entries.size() >= count; });
        return _entries;
    }
    std::vector<Notification> take()
    {
        std::lock_guard<std::mutex> lock(_m);
        return std::move(_entries);
    }

private:
    std::mutex _m;
    std::condition_variable _cv;
    std::vector<Notification> _entries;
};

TEST_F(FlyCaptureSdk, BusEventsReachEveryCallbackOnTheSdksThread)
{
    NotificationLog first, second;
    FlyCaptureContext server = context(); // unbound, as a video server's
    ASSERT_EQ(flycaptureModifyCallback(server, &NotificationLog::callback, &first, true), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureModifyCallback(server, &NotificationLog::callback, &second, true), FLYCAPTURE_OK);

    World::instance().unplugCamera(kSerialB);
    auto events = first.waitFor(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].message, FLYCAPTURE_MESSAGE_BUS_RESET);
    EXPECT_EQ(events[0].param, 0ul);
    EXPECT_EQ(events[1].message, FLYCAPTURE_MESSAGE_DEVICE_REMOVAL);
    EXPECT_EQ(events[1].param, kSerialB);
    EXPECT_NE(events[1].thread, std::this_thread::get_id());
    EXPECT_EQ(second.waitFor(2).size(), 2u);

    World::instance().plugCamera(kSerialB, 1);
    events = first.waitFor(4);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2].message, FLYCAPTURE_MESSAGE_BUS_RESET);
    EXPECT_EQ(events[2].param, 1ul);
    EXPECT_EQ(events[3].message, FLYCAPTURE_MESSAGE_DEVICE_ARRIVAL);
    EXPECT_EQ(events[3].param, kSerialB);

    World::instance().resetBus(0);
    events = first.waitFor(5);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[4].message, FLYCAPTURE_MESSAGE_BUS_RESET);

    // Once removed, a callback is not called again.
    ASSERT_EQ(second.waitFor(5).size(), 5u);
    ASSERT_EQ(flycaptureModifyCallback(server, &NotificationLog::callback, &second, false), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureModifyCallback(server, &NotificationLog::callback, &second, false),
              FLYCAPTURE_INVALID_ARGUMENT);
    const size_t secondCount = second.take().size();
    EXPECT_EQ(secondCount, 5u);
    World::instance().removeBus(1); // Flea2 and the replugged Grasshopper leave
    events = first.waitFor(7);
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[5].message, FLYCAPTURE_MESSAGE_DEVICE_REMOVAL);
    EXPECT_EQ(events[6].message, FLYCAPTURE_MESSAGE_DEVICE_REMOVAL);
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(second.take().empty());

    // Destroying the context removes its callbacks too.
    _contexts.erase(std::find(_contexts.begin(), _contexts.end(), server));
    ASSERT_EQ(flycaptureDestroyContext(server), FLYCAPTURE_OK);
    World::instance().resetBus(0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(first.take().size(), 7u);
}

TEST_F(FlyCaptureSdk, ANewBusAndItsCameraAreAnnounced)
{
    NotificationLog log;
    FlyCaptureContext server = context();
    ASSERT_EQ(flycaptureModifyCallback(server, &NotificationLog::callback, &log, true), FLYCAPTURE_OK);
    const int bus = World::instance().addBus(busAt(5, 0.0));
    World::instance().addCamera(bus, "Flea2 FL2G-50S5M", 4242);
    const auto events = log.waitFor(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].message, FLYCAPTURE_MESSAGE_BUS_RESET);
    EXPECT_EQ(events[0].param, 5ul);
    EXPECT_EQ(events[1].message, FLYCAPTURE_MESSAGE_BUS_RESET);
    EXPECT_EQ(events[2].message, FLYCAPTURE_MESSAGE_DEVICE_ARRIVAL);
    EXPECT_EQ(events[2].param, 4242ul);
    unsigned count = 0;
    ASSERT_EQ(flycaptureBusCameraCount(&count), FLYCAPTURE_OK);
    EXPECT_EQ(count, 4u);
}

TEST_F(FlyCaptureSdk, CallsOnARemovedCameraFailAndWakeAWaitingLock)
{
    FlyCaptureContext c = bound(0);
    auto waiting = lockWaitingForATrigger(c);
    World::instance().unplugCamera(kSerialA);
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), FLYCAPTURE_DEVICE_REMOVED);

    uint32_t value = 0;
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0, &value), FLYCAPTURE_DEVICE_REMOVED);
    EXPECT_EQ(flycaptureSetCameraAbsPropertyEx(c, FLYCAPTURE_GAIN, false, true, false, 1.0f),
              FLYCAPTURE_DEVICE_REMOVED);
    EXPECT_EQ(flycaptureUnlockAll(c), FLYCAPTURE_OK) << "the host can still give its buffers back";
    EXPECT_EQ(flycaptureStop(c), FLYCAPTURE_DEVICE_REMOVED);

    // Back on the bus, the camera is a new node: the old context stays dead.
    World::instance().plugCamera(kSerialA, 0);
    EXPECT_EQ(flycaptureGetCameraRegister(c, 0, &value), FLYCAPTURE_DEVICE_REMOVED);
    FlyCaptureContext fresh = bound(1); // bus 0 now lists B, then A
    EXPECT_EQ(reg(fresh, kConfigRomGuidLow), kSerialA);
    EXPECT_EQ(flycaptureGetCameraRegister(fresh, 0, &value), FLYCAPTURE_OK);
}

TEST_F(FlyCaptureSdk, DestroyingAContextWakesItsWaiter)
{
    FlyCaptureContext c = bound(0);
    auto waiting = lockWaitingForATrigger(c);
    _contexts.clear();
    ASSERT_EQ(flycaptureDestroyContext(c), FLYCAPTURE_OK);
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
    const FlyCaptureError result = waiting.get();
    EXPECT_TRUE(result == FLYCAPTURE_INVALID_CONTEXT || result == FLYCAPTURE_NOT_STARTED) << result;
}

// --- faults and texts -------------------------------------------------------------------------

TEST_F(FlyCaptureSdk, InjectedFaultsHitTheNextCallsOfOneCameraOrAll)
{
    FlyCaptureContext a = bound(0), b = bound(1);
    FaultTable& faults = World::instance().faults();
    faults.failNext("flycaptureGetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, kSerialA);
    uint32_t value = 0;
    EXPECT_EQ(flycaptureGetCameraRegister(b, 0, &value), FLYCAPTURE_OK) << "another camera";
    EXPECT_EQ(flycaptureGetCameraRegister(a, 0, &value), FLYCAPTURE_BUS_ERROR);
    EXPECT_EQ(flycaptureSetCameraRegister(a, 0, 0), FLYCAPTURE_OK) << "another function";
    EXPECT_EQ(flycaptureGetCameraRegister(a, 0, &value), FLYCAPTURE_BUS_ERROR);
    EXPECT_EQ(flycaptureGetCameraRegister(a, 0, &value), FLYCAPTURE_OK);

    faults.failNext("flycaptureBusCameraCount", 1, FLYCAPTURE_FAILED);
    unsigned count = 0;
    EXPECT_EQ(flycaptureBusCameraCount(&count), FLYCAPTURE_FAILED);
    EXPECT_EQ(flycaptureBusCameraCount(&count), FLYCAPTURE_OK);

    faults.failNext(FaultTable::kAnyFunction, 1, FLYCAPTURE_NOT_IMPLEMENTED, kSerialB);
    float gain = 0;
    EXPECT_EQ(flycaptureGetCameraAbsProperty(b, FLYCAPTURE_GAIN, &gain), FLYCAPTURE_NOT_IMPLEMENTED);
    EXPECT_EQ(flycaptureGetCameraAbsProperty(b, FLYCAPTURE_GAIN, &gain), FLYCAPTURE_OK);
    EXPECT_EQ(faults.pending("flycaptureGetCameraRegister"), 0u);
}

TEST_F(FlyCaptureSdk, InjectedFaultsCanTargetOneRegisterSkipCallsAndStall)
{
    FlyCaptureContext a = bound(0);
    FaultTable& faults = World::instance().faults();
    // Only CYCLE_TIME reads, after two of them have gone through.
    FaultTable::Fault cycleTime;
    cycleTime.function = "flycaptureGetCameraRegister";
    cycleTime.address = orvex::iidc::kCycleTime;
    cycleTime.skip = 2;
    cycleTime.errorCode = FLYCAPTURE_TIMEOUT;
    faults.add(cycleTime);
    uint32_t value = 0;
    EXPECT_EQ(flycaptureGetCameraRegister(a, 0, &value), FLYCAPTURE_OK) << "another register";
    EXPECT_EQ(flycaptureGetCameraRegister(a, orvex::iidc::kCycleTimeRegisterOffset, &value), FLYCAPTURE_OK)
        << "skipped";
    EXPECT_EQ(flycaptureGetCameraRegister(a, orvex::iidc::kCycleTimeRegisterOffset, &value), FLYCAPTURE_OK)
        << "skipped";
    EXPECT_EQ(flycaptureGetCameraRegister(a, orvex::iidc::kCycleTimeRegisterOffset, &value),
              FLYCAPTURE_TIMEOUT);
    EXPECT_EQ(flycaptureGetCameraRegister(a, orvex::iidc::kCycleTimeRegisterOffset, &value), FLYCAPTURE_OK);

    // Block calls are targeted by their first quadlet's address.
    FaultTable::Fault syncBlock;
    syncBlock.function = "flycaptureWriteRegisterBlock";
    syncBlock.address = orvex::iidc::kSync;
    syncBlock.errorCode = FLYCAPTURE_FAILED;
    faults.add(syncBlock);
    const uint32_t zeros[2] = {0, 0};
    EXPECT_EQ(flycaptureWriteRegisterBlock(a, 0xFFFF, orvex::iidc::kSync + 8, zeros, 2), FLYCAPTURE_OK);
    EXPECT_EQ(flycaptureWriteRegisterBlock(a, 0xFFFF, orvex::iidc::kSync, zeros, 2), FLYCAPTURE_FAILED);

    // A stall without failure: the read samples the clock that much later.
    FaultTable::Fault stall;
    stall.function = "flycaptureGetCameraRegister";
    stall.address = orvex::iidc::kCycleTime;
    stall.skip = 1;
    stall.delayNs = 20000000;
    faults.add(stall);
    uint32_t before = 0, after = 0;
    ASSERT_EQ(flycaptureGetCameraRegister(a, orvex::iidc::kCycleTimeRegisterOffset, &before), FLYCAPTURE_OK);
    ASSERT_EQ(flycaptureGetCameraRegister(a, orvex::iidc::kCycleTimeRegisterOffset, &after), FLYCAPTURE_OK);
    const uint32_t elapsed = (orvex::iidc::cycleTimeToTicks(after) + orvex::iidc::kTicksPerWrap -
                              orvex::iidc::cycleTimeToTicks(before)) %
                             orvex::iidc::kTicksPerWrap;
    EXPECT_GE(elapsed, 20u * orvex::iidc::kTicksPerSecond / 1000u) << "20 ms of ticks at least";
    EXPECT_EQ(0u, faults.pending("flycaptureGetCameraRegister"));

    // An entry whose code is 0 still answers: the driver's image faults rely on it.
    faults.failNext("DropImage", 1, 0, kSerialA);
    EXPECT_EQ(std::optional<int>(0), faults.consume("DropImage", kSerialA));
    EXPECT_EQ(std::nullopt, faults.consume("DropImage", kSerialA));
}

TEST(FlyCaptureSdkTexts, EveryCodeHasItsOwnText)
{
    std::set<std::string> texts;
    std::vector<int> codes;
    for (int code = 0; code <= 21; ++code)
        codes.push_back(code);
    codes.push_back(FLYCAPTURE_SDK_NOT_LOADED);
    codes.push_back(FLYCAPTURE_SDK_FUNCTION_MISSING);
    for (int code : codes) {
        const char* text = flycaptureErrorToString(static_cast<FlyCaptureError>(code));
        ASSERT_NE(text, nullptr);
        EXPECT_GT(std::string(text).size(), 5u) << code;
        texts.insert(text);
    }
    EXPECT_EQ(texts.size(), codes.size()) << "one text per code";
    EXPECT_GT(std::string(flycaptureErrorToString(static_cast<FlyCaptureError>(12345))).size(), 5u);
}

} // namespace
} // namespace orvex::sim::test
