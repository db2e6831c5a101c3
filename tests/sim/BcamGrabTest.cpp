// Grabs through the simulated BCAM driver: queued first in, first out,
// completed in order through a completion port with the camera's images,
// dropped and counted when none is queued, ended with an error by Cancel,
// CloseHandle and an unplug, never written after they ended.
#include "BcamTestClient.h"
#include "SimTestSupport.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/BcamDriver.h>
#include <orvex/sim/FramePattern.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;
namespace req = bcam::request;

constexpr uint32_t kSerial = 0x5150;
constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
constexpr uint32_t kFrameBytes = kWidth * kHeight;

// One grab: its buffer and overlapped block, alive until the grab has ended.
struct Grab {
    OVERLAPPED overlapped{};
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kFrameBytes, 0xAB);
};

class BcamGrabTest : public FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        bcam::installDriver();
        world().addBus(busAt(2, 3.0, 0.0, 400));
        world().addCamera(2, "A312f", kSerial);
        _device = std::make_unique<OwnedHandle>(openBcamDevice(bcam::devicePath(kSerial)));
        ASSERT_NE(INVALID_HANDLE_VALUE, _device->get());
        _port = std::make_unique<OwnedHandle>(CreateIoCompletionPort(device(), nullptr, 1, 0));
        ASSERT_NE(nullptr, _port->get());
        ASSERT_EQ(0u, send(req::kSetVideoMode, {kFormat7, 0, 0xFFFFFFFF}));
        ASSERT_EQ(0u, send(req::kSetImageArea, {0, bcam::kAreaSize, kWidth, kHeight, 0, 0}));
    }
    void TearDown() override
    {
        _device.reset(); // ends every grab still pending before the buffers go
        _port.reset();
        FreshWorld::TearDown();
    }

    HANDLE device() const { return _device->get(); }
    DWORD send(const bcam::RequestEntry& entry, const std::vector<uint32_t>& in,
               std::vector<uint32_t>* out = nullptr)
    {
        return transmit(device(), entry, in, out);
    }
    void allocate(uint32_t count)
    {
        std::vector<uint32_t> out;
        ASSERT_EQ(0u, send(req::kAllocateResources, {count, kFrameBytes, 0}, &out));
        EXPECT_EQ(kFrameBytes, out[bcam::kResourceFrameBytes]);
    }
    // Queues a grab; true when it is pending.
    bool queue(Grab& grab)
    {
        DWORD bytes = 0;
        const BOOL done = DeviceIoControl(device(), req::kGrabImage.code, nullptr, 0, grab.buffer.data(),
                                          kFrameBytes, &bytes, &grab.overlapped);
        return !done && GetLastError() == ERROR_IO_PENDING;
    }
    // The next completion: its overlapped block and error (0 on success).
    OVERLAPPED* next(DWORD& error, DWORD& bytes, DWORD limit = 10000)
    {
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        const BOOL ok = GetQueuedCompletionStatus(_port->get(), &bytes, &key, &overlapped, limit);
        error = ok ? 0 : GetLastError();
        return overlapped;
    }

    std::unique_ptr<OwnedHandle> _device;
    std::unique_ptr<OwnedHandle> _port;
};

TEST_F(BcamGrabTest, grabsCompleteInTheOrderTheyWereQueuedWithConsecutiveImages)
{
    allocate(4);
    Grab grabs[4];
    for (Grab& grab : grabs)
        ASSERT_TRUE(queue(grab));
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 1}));

    uint32_t previous = 0;
    for (size_t i = 0; i < 4; ++i) {
        DWORD error = 1, bytes = 0;
        EXPECT_EQ(&grabs[i].overlapped, next(error, bytes));
        EXPECT_EQ(0u, error);
        EXPECT_EQ(kFrameBytes, bytes);
        const uint32_t number = pattern::readFrameNumber(grabs[i].buffer.data());
        if (i > 0) {
            EXPECT_EQ(previous + 1, number);
        }
        previous = number;
        // The pixels are the camera's gradient, not what the buffer held.
        EXPECT_EQ(pattern::gradientByte({0, 0, kWidth, kHeight, 1, 0}, kHeight - 1, 0),
                  grabs[i].buffer[std::size_t{kHeight - 1} * kWidth]);
    }
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 0}));
}

TEST_F(BcamGrabTest, anUnpacedCameraFillsTheGrabsQueuedBeforeItStreams)
{
    world().setPacing(Pacing::unpaced);
    allocate(2);
    Grab grabs[2];
    for (Grab& grab : grabs)
        ASSERT_TRUE(queue(grab));
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 1}));
    for (Grab& grab : grabs) {
        DWORD error = 1, bytes = 0;
        EXPECT_EQ(&grab.overlapped, next(error, bytes, 2000));
        EXPECT_EQ(0u, error);
    }
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 0}));
}

TEST_F(BcamGrabTest, injectedFaultsDropImagesAndStallGrabs)
{
    allocate(4);
    world().faults().failNext("StallGrab", 1, 0, kSerial);
    world().faults().failNext("DropImage", 2, 0, kSerial);
    auto stalled = std::make_unique<Grab>();
    Grab grab;
    ASSERT_TRUE(queue(*stalled));
    ASSERT_TRUE(queue(grab));
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 1}));

    // The two dropped images are counted; the next fills the grab queued
    // after the stalled one, which stays pending until it is cancelled.
    DWORD error = 1, bytes = 0;
    EXPECT_EQ(&grab.overlapped, next(error, bytes));
    EXPECT_EQ(0u, error);
    EXPECT_GE(bcam::droppedImages(kSerial), 2u);
    EXPECT_FALSE(HasOverlappedIoCompleted(&stalled->overlapped));
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 0}));
    ASSERT_EQ(0u, send(req::kCancel, {}));
    EXPECT_EQ(&stalled->overlapped, next(error, bytes));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), error);
    EXPECT_EQ(0xABu, stalled->buffer[0]);
}

TEST_F(BcamGrabTest, grabsAreRefusedWithoutResourcesOrBeyondThem)
{
    Grab grab;
    EXPECT_FALSE(queue(grab));
    EXPECT_EQ(bcam::error::kNoResources, GetLastError());
    EXPECT_EQ(bcam::error::kNoResources, send(req::kContinuousShot, {0, 1}));

    allocate(1);
    std::vector<uint32_t> out;
    EXPECT_EQ(bcam::error::kResourcesInUse, send(req::kAllocateResources, {1, kFrameBytes, 0}, &out));
    ASSERT_TRUE(queue(grab));
    Grab second;
    EXPECT_FALSE(queue(second));
    EXPECT_EQ(bcam::error::kTooManyGrabs, GetLastError());
    _device->reset(); // ends the pending grab while its buffer lives
}

TEST_F(BcamGrabTest, resourcesHoldAChannelAndTheBandwidthUntilFreedAndARefusalHoldsNothing)
{
    Bus& bus = *world().bus(2);
    std::vector<uint32_t> frame;
    ASSERT_EQ(0u, send(req::kBytePerFrame, {0}, &frame));
    const uint32_t packet = frame[bcam::kPacketBytes];
    const uint32_t others = bus.isoBandwidth() - packet + 1; // another node leaves too little
    ASSERT_TRUE(bus.reserveBandwidth(others));
    std::vector<uint32_t> out;
    EXPECT_EQ(bcam::error::kNoBandwidth, send(req::kAllocateResources, {1, kFrameBytes, 0}, &out));
    EXPECT_FALSE(bus.isChannelAllocated(0));
    bus.releaseBandwidth(others);

    allocate(1);
    EXPECT_EQ(packet, bus.bandwidthInUse());
    EXPECT_TRUE(bus.isChannelAllocated(0));
    uint32_t channelSpeed = 0;
    ASSERT_EQ(Status::ok, world().camera(kSerial)->readRegister(kIsoChannelSpeed, channelSpeed));
    EXPECT_EQ(0u, channelSpeed >> kIsoChannelShift);
    // Streaming uses what the resources hold; it claims nothing more.
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 1}));
    EXPECT_EQ(packet, bus.bandwidthInUse());
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 0}));
    EXPECT_EQ(packet, bus.bandwidthInUse());
    ASSERT_EQ(0u, send(req::kFreeResources, {}));
    EXPECT_EQ(0u, bus.bandwidthInUse());
    EXPECT_FALSE(bus.isChannelAllocated(0));
}

TEST_F(BcamGrabTest, aLegacyCameraIsGivenOneOfTheSixteenChannelsItCanBeTold)
{
    Bus& bus = *world().bus(2);
    for (uint32_t channel = 0; channel < 15; ++channel)
        ASSERT_TRUE(bus.allocateChannel());
    allocate(1);
    EXPECT_TRUE(bus.isChannelAllocated(15));
    ASSERT_EQ(0u, send(req::kFreeResources, {}));
    ASSERT_TRUE(bus.allocateChannel()); // 15
    std::vector<uint32_t> out;
    EXPECT_EQ(bcam::error::kNoChannel, send(req::kAllocateResources, {1, kFrameBytes, 0}, &out));
    EXPECT_EQ(16u, *bus.allocateChannel()) << "channels above 15 stay for other nodes";
}

TEST_F(BcamGrabTest, cancelEndsOnlyTheCallingHandlesGrabs)
{
    allocate(4);
    Grab mine, theirs; // outlive the handles their grabs are pending on
    OwnedHandle other(openBcamDevice(bcam::devicePath(kSerial)));
    ASSERT_NE(INVALID_HANDLE_VALUE, other.get());
    OwnedHandle otherPort(CreateIoCompletionPort(other.get(), nullptr, 2, 0));
    ASSERT_TRUE(queue(mine));
    DWORD bytes = 0;
    ASSERT_FALSE(DeviceIoControl(other.get(), req::kGrabImage.code, nullptr, 0, theirs.buffer.data(),
                                 kFrameBytes, &bytes, &theirs.overlapped));
    ASSERT_EQ(DWORD(ERROR_IO_PENDING), GetLastError());
    ASSERT_EQ(0u, send(req::kCancel, {}));
    DWORD error = 0;
    EXPECT_EQ(&mine.overlapped, next(error, bytes));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), error);
    EXPECT_FALSE(HasOverlappedIoCompleted(&theirs.overlapped));
    other.reset(); // ends the other handle's grab while its buffer lives
    EXPECT_TRUE(HasOverlappedIoCompleted(&theirs.overlapped));
}

TEST_F(BcamGrabTest, cancelAndFreeResourcesEndEveryPendingGrabWithAnError)
{
    allocate(4);
    Grab grabs[3];
    for (Grab& grab : grabs)
        ASSERT_TRUE(queue(grab));
    ASSERT_EQ(0u, send(req::kCancel, {}));
    for (Grab& grab : grabs) {
        DWORD error = 0, bytes = 0;
        EXPECT_EQ(&grab.overlapped, next(error, bytes));
        EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), error);
        EXPECT_EQ(0xABu, grab.buffer[0]);
    }

    ASSERT_TRUE(queue(grabs[0]));
    ASSERT_EQ(0u, send(req::kFreeResources, {}));
    DWORD error = 0, bytes = 0;
    EXPECT_EQ(&grabs[0].overlapped, next(error, bytes));
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), error);
    EXPECT_FALSE(queue(grabs[1]));
}

TEST_F(BcamGrabTest, closingTheHandleEndsItsGrabsAndStopsTheCamera)
{
    allocate(4);
    auto grab = std::make_unique<Grab>();
    ASSERT_TRUE(queue(*grab));
    ASSERT_EQ(0u, send(req::kContinuousShot, {0, 1}));
    _device->reset();
    EXPECT_TRUE(HasOverlappedIoCompleted(&grab->overlapped));
    grab.reset();
    EXPECT_FALSE(world().camera(kSerial)->isStreaming());
}

} // namespace
} // namespace orvex::sim::test
