// Grabs through the client: queued, completed in order through the
// device's completion port with their chunks, ended by Notify, by the
// synchronous time-out, and by an unplug that is also broadcast.
#include "bcam/BcamClientFixture.h"
#include "bcam/client/CompletionRecord.h"

#include <orvex/iidc/Crc16Xmodem.h>
#include <orvex/iidc/SmartFeatures.h>
#include <orvex/sim/FramePattern.h>

#include <memory>

namespace orvex::bcam::test {
namespace {

using namespace orvex::iidc;
namespace sf = orvex::iidc::sf;

constexpr DWORD kWidth = 64;
constexpr DWORD kHeight = 48;
constexpr DWORD kPixels = kWidth * kHeight;
constexpr uint8_t kUntouched = 0xAB;

uint32_t little(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

uint32_t little16(const uint8_t* p)
{
    return p[0] | (p[1] << 8);
}

class BcamGrabTest : public BcamClientTest {
protected:
    void SetUp() override
    {
        BcamClientTest::SetUp();
        _device = std::make_unique<Bcam::CBcamExtension>();
        _device->Open(pathOf(kA312fSerial));
        _device->SetVideoMode(kFormat7, 0, kAnyIndex);
        _device->FormatSeven[0].ImageSize.Assign(kWidth, kHeight);
    }
    void TearDown() override
    {
        _device.reset(); // ends what is pending while the buffers live
        BcamClientTest::TearDown();
    }

    // Switches a smart feature on the way a host does, through raw quadlets.
    void enableSmartFeature(unsigned feature)
    {
        _device->WriteQuadlet(sf::kAccessControl0, kHigh, sf::kFeatureSetId[0]);
        _device->WriteQuadlet(sf::kAccessControl1, kHigh, sf::kFeatureSetId[1]);
        for (uint32_t q = 0; q < 4; ++q)
            _device->WriteQuadlet(sf::kInquiryId + 4 * q, kHigh, sf::kFeatureIds[feature].q[q]);
        _device->WriteQuadlet(_device->ReadQuadlet(sf::kInquiryAddress, kHigh), kHigh, sf::kControlEnabled);
    }

    struct Completion {
        DWORD message = 1, error = 1, context = 1, bytes = 1;
    };
    Completion next(DWORD timeoutMs = 10000)
    {
        Completion c;
        _device->WaitForCompletion(c.message, c.error, c.context, timeoutMs, &c.bytes);
        return c;
    }

    std::unique_ptr<Bcam::CBcamExtension> _device;
};

TEST_F(BcamGrabTest, grabsCompleteInOrderWithTheirChunksAndNotifyEndsTheWait)
{
    enableSmartFeature(sf::kFeatureExtendedDataStream);
    enableSmartFeature(sf::kFeatureFrameCounter);
    enableSmartFeature(sf::kFeatureCrcChecksum);
    const DWORD bytes = _device->FormatSeven[0].BytePerFrame();
    ASSERT_EQ(kPixels + sf::kChunkSizes[0] + sf::kChunkSizes[1] + sf::kCrcChunkSize, bytes);

    _device->AllocateResources(4, bytes);
    std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(bytes, kUntouched));
    for (DWORD i = 0; i < 4; ++i)
        _device->GrabImageAsync(buffers[i].data(), bytes, 100 + i);
    _device->ContinuousShot.Assign(true);

    uint32_t previousCounter = 0;
    for (DWORD i = 0; i < 4; ++i) {
        const Completion c = next();
        EXPECT_EQ(0x15u, c.message);
        EXPECT_EQ(0u, c.error);
        EXPECT_EQ(100 + i, c.context);
        EXPECT_EQ(bytes, c.bytes);
        const uint8_t* image = buffers[i].data();
        // [pixels][extended data stream][frame counter][CRC]: the first
        // describes the image, the counter counts the images, the CRC
        // covers everything before it.
        const uint8_t* eds = image + kPixels;
        EXPECT_EQ(kWidth, little(eds + sf::kEdsStrideOffset));
        EXPECT_EQ(8u, eds[sf::kEdsDataDepthOffset]);
        EXPECT_EQ(0u, little16(eds + sf::kEdsTopOffset));
        EXPECT_EQ(0u, little16(eds + sf::kEdsLeftOffset));
        EXPECT_EQ(kHeight, little16(eds + sf::kEdsHeightOffset));
        EXPECT_EQ(kWidth, little16(eds + sf::kEdsWidthOffset));
        EXPECT_EQ(kColorCodeMono8, eds[sf::kEdsColorCodingOffset]);
        EXPECT_EQ(0u, eds[sf::kEdsColorFilterOffset]);
        const uint32_t counter = little(image + kPixels + sf::kChunkSizes[0] + sf::kFrameCounterOffset);
        if (i > 0) {
            EXPECT_EQ(previousCounter + 1, counter);
        }
        previousCounter = counter;
        EXPECT_EQ(crc16Xmodem(image, bytes - 4), little(image + bytes - 4));
    }
    _device->ContinuousShot.Assign(false);

    // The stop message a camera's acquisition thread waits for.
    Completion stop;
    std::thread waiter([&] { stop = next(INFINITE); });
    _device->Notify(kStopMessage, 7);
    waiter.join();
    EXPECT_EQ(0xFFFFFFFEu, stop.message);
    EXPECT_EQ(7u, stop.context);
    EXPECT_EQ(0u, stop.error);
    _device->FreeResources();
}

TEST_F(BcamGrabTest, askingTheFrameSizeLeavesAHostsSmartFeatureInquiryAlone)
{
    enableSmartFeature(sf::kFeatureExtendedDataStream);
    enableSmartFeature(sf::kFeatureCrcChecksum);
    // A host halfway through its inquiry: the identifier written, the
    // address not yet read.
    for (uint32_t q = 0; q < 4; ++q)
        _device->WriteQuadlet(sf::kInquiryId + 4 * q, kHigh, sf::kFeatureIds[sf::kFeatureFrameCounter].q[q]);
    const DWORD answer = _device->ReadQuadlet(sf::kInquiryAddress, kHigh);
    ASSERT_NE(0u, answer);
    EXPECT_EQ(kPixels + sf::kChunkSizes[0] + sf::kCrcChunkSize, _device->FormatSeven[0].BytePerFrame());
    EXPECT_EQ(answer, _device->ReadQuadlet(sf::kInquiryAddress, kHigh));
}

TEST_F(BcamGrabTest, destroyingADeviceFreesTheCompletionsNobodyWaitedFor)
{
    const DWORD bytes = _device->FormatSeven[0].BytePerFrame();
    _device->AllocateResources(2, bytes);
    std::vector<uint8_t> first(bytes), second(bytes);
    _device->GrabImageAsync(first.data(), bytes, 1);
    _device->GrabImageAsync(second.data(), bytes, 2);
    _device->Notify(0xFFFFFFFE, 0);
    EXPECT_EQ(3, Bcam::detail::liveCompletionRecords());
    _device.reset(); // the grabs end and their completions reach the port unread
    EXPECT_EQ(0, Bcam::detail::liveCompletionRecords());
}

TEST_F(BcamGrabTest, aGrabTheDriverRefusesAtOnceIsThrownAndNeverCompletes)
{
    const DWORD bytes = _device->FormatSeven[0].BytePerFrame();
    std::vector<uint8_t> buffer(bytes, kUntouched);
    const auto refusal = [&] {
        try {
            _device->GrabImageAsync(buffer.data(), bytes, 1);
        } catch (const Bcam::BcamException& e) {
            EXPECT_EQ("CBcam::GrabImageAsync()", e.Context());
            return e.Error();
        }
        return DWORD(0);
    };
    EXPECT_EQ(error::kNoResources, refusal());
    _device->AllocateResources(1, bytes);
    _device->GrabImageAsync(buffer.data(), bytes, 1);
    EXPECT_EQ(error::kTooManyGrabs, refusal());

    _device->Cancel();
    const Completion cancelled = next();
    EXPECT_EQ(0x15u, cancelled.message);
    EXPECT_EQ(1u, cancelled.context);
    EXPECT_EQ(DWORD(ERROR_OPERATION_ABORTED), cancelled.error);
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), next(50).error) << "the refused grabs left nothing in the port";
    EXPECT_EQ(kUntouched, buffer[0]);
}

TEST_F(BcamGrabTest, aDriverCodeEndingAGrabComesBackWithoutTheCustomerBit)
{
    const DWORD bytes = _device->FormatSeven[0].BytePerFrame();
    _device->AllocateResources(1, bytes);
    std::vector<uint8_t> buffer(bytes, kUntouched);
    _device->GrabImageAsync(buffer.data(), bytes, 5);
    // The images grow past the buffer queued for them.
    _device->FormatSeven[0].ImageSize.Assign(kWidth * 2, kHeight);
    _device->ContinuousShot.Assign(true);
    const Completion c = next();
    EXPECT_EQ(5u, c.context);
    EXPECT_EQ(error::kBufferTooSmall & ~0x20000000u, c.error);
    EXPECT_EQ(0xC0000002u, c.error);
    _device->ContinuousShot.Assign(false);
}

TEST_F(BcamGrabTest, aSynchronousRequestPastItsTimeLimitIsCancelledAndReportsTheTimeOut)
{
    const DWORD bytes = _device->FormatSeven[0].BytePerFrame();
    _device->AllocateResources(1, bytes);
    world().faults().failNext("StallGrab", 1, 0, kA312fSerial);
    auto buffer = std::make_unique<std::vector<uint8_t>>(bytes, kUntouched);
    DWORD transferred = 1;
    EXPECT_EQ(DWORD(ERROR_SEM_TIMEOUT), _device->Transmit(request::kGrabImage.code, nullptr, 0,
                                                          buffer->data(), bytes, &transferred, 50));
    EXPECT_EQ(DWORD(ERROR_SEM_TIMEOUT), GetLastError());
    EXPECT_EQ(0u, transferred);
    // Cancelled: the driver holds the buffer no more, and images do not reach it.
    _device->ContinuousShot.Assign(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    _device->ContinuousShot.Assign(false);
    EXPECT_EQ(kUntouched, (*buffer)[0]);
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), next(50).error) << "a synchronous request never reaches the port";
}

TEST_F(BcamGrabTest, anUnplugEndsPendingGrabsIsBroadcastAndWritesNoBufferAfter)
{
    BroadcastWindow window;
    Bcam::CBcam::RegisterClient(window.handle());
    const DWORD bytes = _device->FormatSeven[0].BytePerFrame();
    _device->AllocateResources(4, bytes);
    world().faults().failNext("StallGrab", 3, 0, kA312fSerial);
    // Heap buffers freed as soon as their grab has ended: a late write is
    // a use after free.
    std::vector<std::unique_ptr<uint8_t[]>> buffers;
    for (DWORD i = 0; i < 3; ++i) {
        buffers.emplace_back(new uint8_t[bytes]);
        _device->GrabImageAsync(buffers.back().get(), bytes, i);
    }
    world().unplugCamera(kA312fSerial);
    for (DWORD i = 0; i < 3; ++i) {
        const Completion c = next();
        EXPECT_EQ(0x15u, c.message);
        EXPECT_EQ(i, c.context);
        EXPECT_EQ(DWORD(ERROR_DEVICE_NOT_CONNECTED), c.error);
        buffers[c.context].reset();
    }
    ASSERT_TRUE(pumpUntil([&] { return _device->IsRemoved() && !window.broadcasts().empty(); }));
    EXPECT_EQ(WPARAM(DBT_DEVICEREMOVECOMPLETE), window.broadcasts()[0].event);
    EXPECT_EQ(DWORD(DBT_DEVTYP_DEVICEINTERFACE), window.broadcasts()[0].deviceType);

    // The camera comes back as a new device: the old handle stays dead.
    world().plugCamera(kA312fSerial, kBcamBus);
    ASSERT_FALSE(pathOf(kA312fSerial).empty());
    std::vector<uint8_t> late(bytes, kUntouched);
    EXPECT_THROW(_device->GrabImageAsync(late.data(), bytes, 9), Bcam::BcamException);
    EXPECT_EQ(kUntouched, late[0]);
    _device->Open(pathOf(kA312fSerial));
    EXPECT_FALSE(_device->IsRemoved()) << "the device opened again is there";
    Bcam::CBcam::UnregisterClient(window.handle());
}

} // namespace
} // namespace orvex::bcam::test
