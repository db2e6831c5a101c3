// Images of the simulated camera: pacing, triggers, what each image carries,
// the pixels and chunks, and the clocks behind the time stamps.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/Crc16Xmodem.h>
#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SmartFeatures.h>
#include <orvex/iidc/SyncRegisters.h>
#include <orvex/sim/FramePattern.h>
#include <orvex/sim/HostWait.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <vector>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;
using namespace std::chrono_literals;

int64_t ticksBetween(uint32_t earlier, uint32_t later)
{
    int64_t d = int64_t(cycleTimeToTicks(later)) - int64_t(cycleTimeToTicks(earlier));
    return d < 0 ? d + kTicksPerWrap : d;
}

class CameraStream : public OneCamera {
protected:
    void SetUp() override
    {
        OneCamera::SetUp();
        _sink = std::make_shared<FrameCollector>();
    }
    // A small Format_7 image at a given frame rate.
    void configure(double fps, uint32_t width = 64, uint32_t height = 32)
    {
        FrameGeometry g;
        g.width = width;
        g.height = height;
        g.bytesPerPixel = 1;
        g.bytesPerPacket = _camera->packetLimits(width, height, 1).maxBytes;
        ASSERT_EQ(_camera->configureFormat7(g), Status::ok);
        ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureFrameRate, false, true, false, fps), Status::ok);
        ASSERT_EQ(_camera->setPropertyAbsolute(kFeatureShutter, false, true, false, 1.0), Status::ok);
    }
    void triggerOn() { write(kTriggerMode, read(kTriggerMode) | kTriggerOn | kTriggerPolarity); }

    std::shared_ptr<FrameCollector> _sink;
};

TEST_F(CameraStream, FreeRunKeepsTheFramePeriodAndCountsImages)
{
    configure(100.0);
    ASSERT_EQ(_camera->startStream(_sink, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(_sink->waitFor(5));
    _camera->stopStream();
    const auto frames = _sink->frames();
    const int64_t periodTicks = static_cast<int64_t>(kTicksPerSecond / 100.0);
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].frameCounter, frames[i - 1].frameCounter + 1);
        // Exposure starts are laid out one period apart; where the host
        // stalled the stream thread, the next start moves with the stall.
        const int64_t gap = frames[i].exposureStartNs - frames[i - 1].exposureStartNs;
        if (std::llabs(gap - 10'000'000) < 500'000) {
            EXPECT_NEAR(ticksBetween(frames[i - 1].cycleTime, frames[i].cycleTime), periodTicks, 2);
        }
        EXPECT_GE(frames[i].deliveredNs, frames[i].exposureStartNs)
            << "delivered after exposure and transfer";
    }
    EXPECT_FALSE(_camera->isStreaming());
    const size_t count = _sink->frames().size();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(_sink->frames().size(), count) << "nothing after the stop";
}

TEST_F(CameraStream, TriggeredCameraWaitsForTriggersAndRefusesThemWhileBusy)
{
    configure(30.0);
    triggerOn();
    ASSERT_EQ(_camera->startStream(_sink, Pacing::frameRate), Status::ok);
    EXPECT_FALSE(_sink->waitFor(1, 100ms)) << "no image without a trigger";
    EXPECT_EQ(read(kSoftwareTrigger), kSoftwareTriggerReady);

    const int64_t fired = hostNowNs();
    EXPECT_TRUE(_camera->externalTrigger(fired));
    EXPECT_FALSE(_camera->externalTrigger(fired + 1000)) << "still exposing";
    EXPECT_EQ(_camera->droppedTriggers(), 1u);
    ASSERT_TRUE(_sink->waitFor(1));
    Frame frame = _sink->frames()[0];
    EXPECT_TRUE(frame.triggered);
    EXPECT_EQ(frame.exposureStartNs, fired);
    EXPECT_EQ(frame.cycleTime, world().bus(_bus)->clock().cycleTimeAt(fired));
    EXPECT_TRUE(frame.gpioLevels & frameinfo::kGpioTriggerInput) << "input at its active (high) level";

    // The software trigger register fires too, and is busy meanwhile.
    write(kSoftwareTrigger, kSoftwareTriggerFire);
    EXPECT_EQ(read(kSoftwareTrigger), kSoftwareTriggerBusy);
    ASSERT_TRUE(_sink->waitFor(2));
    frame = _sink->frames()[1];
    EXPECT_TRUE(frame.triggered);
    EXPECT_FALSE(frame.gpioLevels & frameinfo::kGpioTriggerInput) << "the input line stayed idle";
    _camera->stopStream();
}

// A receiver that takes a paced stream's images itself (as the SDK does).
class PullingSink : public FrameSink {
public:
    void onFrame(const Frame&) override { ++pushed; }
    void onCameraRemoved() override {}
    bool pullsImages() const override { return true; }
    void onStreamRescheduled() override { ++rescheduled; }

    std::atomic<int> pushed{0};
    std::atomic<int> rescheduled{0};
};

TEST_F(CameraStream, APulledStreamMakesEveryImageDueMeanwhileWithTheRegistersOfItsMoment)
{
    configure(200.0);
    const int64_t periodTicks = static_cast<int64_t>(kTicksPerSecond / 200.0);
    ASSERT_EQ(_camera->setPropertyRaw(kFeatureGain, false, true, false, 100, 0), Status::ok);
    auto sink = std::make_shared<PullingSink>();
    ASSERT_EQ(_camera->startStream(sink, Pacing::frameRate), Status::ok);
    std::this_thread::sleep_for(40ms);
    const int64_t beforeWrite = hostNowNs();
    ASSERT_EQ(_camera->setPropertyRaw(kFeatureGain, false, true, false, 200, 0), Status::ok);
    const int64_t afterWrite = hostNowNs();
    std::this_thread::sleep_for(40ms);

    const int64_t pulledAt = hostNowNs();
    std::vector<Frame> frames;
    uint64_t superseded = 1;
    const int64_t next = _camera->pullImages(frames, superseded);
    EXPECT_EQ(superseded, 0u);
    ASSERT_GE(frames.size(), 6u) << "80 ms at 5 ms a period";
    EXPECT_EQ(sink->pushed, 0) << "a pulling receiver is never pushed a paced image";
    size_t before = 0, after = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        const Frame& f = frames[i];
        if (i > 0) {
            EXPECT_EQ(f.frameCounter, frames[i - 1].frameCounter + 1);
            EXPECT_NEAR(ticksBetween(frames[i - 1].cycleTime, f.cycleTime), periodTicks, kTicksPerCycle)
                << "every period of the grid, none skipped";
        }
        EXPECT_GE(f.deliveredNs, f.exposureStartNs);
        EXPECT_LE(f.deliveredNs, pulledAt + 1'000'000'000) << "nothing from the future";
        if (f.deliveredNs < beforeWrite) {
            EXPECT_EQ(f.gainRegister & kControlValueMask, 100u) << "due before the write";
            ++before;
        } else if (f.deliveredNs > afterWrite) {
            EXPECT_EQ(f.gainRegister & kControlValueMask, 200u) << "due after the write";
            ++after;
        }
    }
    EXPECT_GT(before, 0u);
    EXPECT_GT(after, 0u);
    EXPECT_GT(next, frames.back().deliveredNs) << "the next image is still to come";
    EXPECT_GT(next, pulledAt);

    // A trigger changes the plan: the receiver hears it, and the image is
    // made at the trigger's instant when it is due.
    triggerOn();
    std::vector<Frame> ignored;
    _camera->pullImages(ignored, superseded);
    const int rescheduled = sink->rescheduled;
    const int64_t fired = hostNowNs();
    ASSERT_TRUE(_camera->externalTrigger(fired));
    EXPECT_GT(sink->rescheduled, rescheduled);
    frames.clear();
    for (int i = 0; i < 1000 && frames.empty(); ++i) {
        const int64_t due = _camera->pullImages(frames, superseded);
        if (frames.empty() && due > hostNowNs())
            waitNs(due - hostNowNs());
    }
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].triggered);
    EXPECT_EQ(frames[0].exposureStartNs, fired);
    EXPECT_EQ(_camera->pullImages(frames, superseded), kNeverNs) << "no trigger left";

    _camera->stopStream();
    frames.clear();
    EXPECT_EQ(_camera->pullImages(frames, superseded), kNeverNs);
    EXPECT_TRUE(frames.empty());
}

// A pushed receiver that holds the delivering thread in its first image
// until released.
class HoldingCollector : public FrameCollector {
public:
    void onFrame(const Frame& frame) override
    {
        FrameCollector::onFrame(frame);
        std::unique_lock<std::mutex> lock(_m);
        _held = true;
        _cv.notify_all();
        _cv.wait(lock, [&] { return _released; });
    }
    void waitHeld()
    {
        std::unique_lock<std::mutex> lock(_m);
        _cv.wait(lock, [&] { return _held; });
    }
    void release()
    {
        std::lock_guard<std::mutex> lock(_m);
        _released = true;
        _cv.notify_all();
    }

private:
    std::mutex _m;
    std::condition_variable _cv;
    bool _held = false, _released = false;
};

TEST_F(CameraStream, RegisterCallsWhileAPushedReceiverHoldsItsImageMakeNoImages)
{
    configure(200.0);
    auto sink = std::make_shared<HoldingCollector>();
    ASSERT_EQ(_camera->startStream(sink, Pacing::frameRate), Status::ok);
    sink->waitHeld();
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(10ms);
        read(kCycleTime);
    }
    sink->release();
    ASSERT_TRUE(sink->waitFor(4));
    _camera->stopStream();
    const auto frames = sink->frames();
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].frameCounter, frames[i - 1].frameCounter + 1)
            << "image " << i << ": none made unseen";
}

TEST_F(CameraStream, UnpacedCameraProducesOnDemandAndDeliversTriggersAtOnce)
{
    configure(1.0);
    ASSERT_EQ(_camera->startStream(_sink, Pacing::unpaced), Status::ok);
    const auto a = _camera->pullFrame();
    const auto b = _camera->pullFrame();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(b->frameCounter, a->frameCounter + 1) << "no wait for the 1 fps period";

    triggerOn();
    EXPECT_FALSE(_camera->pullFrame()) << "triggered: only triggers produce images";
    EXPECT_TRUE(_camera->externalTrigger(hostNowNs()));
    EXPECT_TRUE(_camera->externalTrigger(hostNowNs())) << "no busy time when unpaced";
    EXPECT_EQ(_sink->frames().size(), 2u) << "delivered on the triggering thread";
    _camera->stopStream();
}

TEST_F(CameraStream, InitializeStopsTheTransferAndUnplugTellsTheReceiver)
{
    configure(200.0);
    ASSERT_EQ(_camera->startStream(_sink, Pacing::frameRate), Status::ok);
    ASSERT_TRUE(_sink->waitFor(1));
    write(kInitialize, kInitializeBit);
    EXPECT_EQ(read(kIsoEnable), 0u);
    const size_t count = _sink->frames().size();
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(_sink->frames().size(), count + 1) << "at most the image already on its way";
    EXPECT_TRUE(_camera->isStreaming()) << "the receiver stays attached until stopped";

    world().unplugCamera(1001);
    EXPECT_TRUE(_sink->removed());
    EXPECT_FALSE(_camera->isStreaming());
}

TEST_F(CameraStream, BusBandwidthLimitsConcurrentStreams)
{
    const auto other = world().addCamera(_bus, "Grasshopper GRAS-50S5M", 1002);
    FrameGeometry g;
    g.width = 1600;
    g.height = 1200;
    g.bytesPerPacket = 8192;
    // 8192-byte packets need S800 (1394b mode, speed 3).
    ASSERT_EQ(_camera->writeRegister(0xF0F0060C, 0x00008003), Status::ok);
    ASSERT_EQ(other->writeRegister(0xF0F0060C, 0x00008003), Status::ok);
    ASSERT_EQ(_camera->configureFormat7(g), Status::ok);
    ASSERT_EQ(other->configureFormat7(g), Status::ok);
    auto otherSink = std::make_shared<FrameCollector>();
    ASSERT_EQ(_camera->startStream(_sink, Pacing::unpaced), Status::ok);
    EXPECT_EQ(other->startStream(otherSink, Pacing::unpaced), Status::bandwidthExceeded);
    EXPECT_EQ(world().bus(_bus)->bandwidthInUse(), 8192u);
    _camera->stopStream();
    EXPECT_EQ(other->startStream(otherSink, Pacing::unpaced), Status::ok);
    other->stopStream();
    EXPECT_EQ(world().bus(_bus)->bandwidthInUse(), 0u);
}

TEST_F(CameraStream, ImagesCarryRegistersGpioAndSmartChunkSelection)
{
    configure(1.0);
    const uint32_t strobeBlock = quadletOffsetToAddress(read(kStrobeOutputInquiry));
    write(kGpioControl, gpioOutputBit(1) | gpioOutputBit(2));
    write(strobeBlock + kStrobeControlOffset + 4, kPresence | kStrobeOn | kStrobePolarity); // pin 1 on, high
    write(strobeBlock + kStrobeControlOffset + 8, kPresence); // pin 2 off, low active
    write(kFrameInfo, frameinfo::kTimestamp | frameinfo::kFrameCounter);
    ASSERT_EQ(_camera->startStream(_sink, Pacing::unpaced), Status::ok);
    const auto frame = _camera->pullFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->gpioLevels & (frameinfo::kGpioStrobe0 | frameinfo::kGpioStrobe1),
              frameinfo::kGpioStrobe0 | frameinfo::kGpioStrobe1)
        << "pin 1 at its active high level, pin 2 at its idle (high) level";
    EXPECT_EQ(frame->frameInfoRegister, frameinfo::kTimestamp | frameinfo::kFrameCounter);
    EXPECT_EQ(frame->gainRegister, read(kGain));
    EXPECT_EQ(frame->shutterRegister, read(kShutter));
    EXPECT_EQ(frame->smartChunks, 0u);
    _camera->stopStream();
}

TEST_F(CameraStream, AutoExposureMovesGainAndShutterFromImageToImage)
{
    configure(1.0);
    write(kAutoExposure, read(kAutoExposure) | kControlOn);
    write(kGain, read(kGain) | kControlAuto);
    write(kShutter, read(kShutter) | kControlAuto);
    ASSERT_EQ(_camera->startStream(_sink, Pacing::unpaced), Status::ok);
    std::vector<Frame> frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back(*_camera->pullFrame());
    auto gain = [&](size_t i) { return frames[i].gainRegister & kControlValueMask; };
    auto shutter = [&](size_t i) { return frames[i].shutterRegister & kControlValueMask; };
    EXPECT_NE(gain(0), gain(1));
    EXPECT_NE(gain(1), gain(2));
    EXPECT_NE(shutter(0), shutter(1));
    // Each image is exposed for the shutter it carries.
    for (size_t i = 1; i < frames.size(); ++i)
        EXPECT_NEAR(double(frames[i].exposureNs) / shutter(i), double(frames[0].exposureNs) / shutter(0),
                    1.0);
    _camera->stopStream();
}

// --- pixels and chunks ---------------------------------------------------------------

TEST(FramePattern, StampTouchesABoundedAreaAndLeavesNoTrace)
{
    for (uint32_t bpp : {1u, 2u}) {
        FrameGeometry g;
        g.width = 320;
        g.height = 240;
        g.bytesPerPixel = bpp;
        std::vector<uint8_t> image(g.imageBytes()), gradient(g.imageBytes());
        pattern::fill(image.data(), g);
        pattern::fill(gradient.data(), g);
        pattern::StampState state;
        Frame frame;
        frame.geometry = g;
        frame.frameInfoRegister = frameinfo::kAllItems;
        for (uint32_t counter : {7u, 8u, 1000u}) {
            frame.frameCounter = counter;
            pattern::stamp(image.data(), g, frame, state);
            EXPECT_EQ(pattern::readFrameNumber(image.data()), counter);
            size_t changed = 0;
            for (size_t i = 0; i < image.size(); ++i)
                changed += image[i] != gradient[i];
            EXPECT_LE(changed,
                      pattern::kFrameNumberOffset + 4 + pattern::kMarkerSize * pattern::kMarkerSize * bpp)
                << "older stamps are restored, only the current one differs";
            uint32_t x, y;
            ASSERT_TRUE(pattern::markerPosition(g, counter, x, y));
            EXPECT_EQ(image[uint64_t(y) * g.rowBytes() + x * bpp], pattern::kMarkerByte);
        }
    }
}

TEST(FramePattern, RestoringTheMarkerWorksAtEveryOffsetAndWrapsTheGradient)
{
    // An odd width: the marker's rows start at every offset of a word, and
    // the gradient (column + 2 x row, mod 256) wraps inside them.
    FrameGeometry g;
    g.width = 141;
    g.height = 300;
    g.bytesPerPixel = 1;
    std::vector<uint8_t> image(g.imageBytes());
    pattern::fill(image.data(), g);
    pattern::StampState state;
    Frame frame;
    frame.geometry = g;
    for (uint32_t counter = 0; counter < 40; ++counter) {
        frame.frameCounter = counter;
        pattern::stamp(image.data(), g, frame, state);
    }
    uint32_t x, y;
    ASSERT_TRUE(pattern::markerPosition(g, 39, x, y));
    for (uint32_t row = 0; row < g.height; ++row) {
        for (uint32_t column = 0; column < g.width; ++column) {
            const bool marker = row >= y && row < y + 16 && column >= x && column < x + 16;
            const bool number =
                row == 0 && column >= pattern::kFrameNumberOffset && column < pattern::kFrameNumberOffset + 4;
            if (!marker && !number) {
                ASSERT_EQ(image[row * 141 + column], (column + 2 * row) % 256)
                    << "row " << row << ", column " << column;
            }
        }
    }
}

TEST(FramePattern, TinyImagesAreStampedWithinTheirBytes)
{
    FrameGeometry g;
    g.width = 8;
    g.height = 2;
    std::vector<uint8_t> image(g.imageBytes() + 8, 0xAB);
    pattern::fill(image.data(), g);
    pattern::StampState state;
    Frame frame;
    frame.geometry = g;
    frame.frameInfoRegister = frameinfo::kAllItems;
    pattern::stamp(image.data(), g, frame, state);
    for (size_t i = g.imageBytes(); i < image.size(); ++i)
        EXPECT_EQ(image[i], 0xAB) << "byte " << i << " lies past the image";
}

uint32_t little(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

TEST(FramePattern, ChunksEndWithTheirTrailersAndAChecksumOverEverythingBefore)
{
    FrameGeometry g;
    g.width = 40;
    g.height = 10;
    Frame frame;
    frame.geometry = g;
    frame.frameCounter = 0x01020304;
    frame.cycleTime = makeCycleTime(5, 100, 7);
    frame.gainRegister = kPresence | 123;
    frame.shutterRegister = kPresence | 456;
    frame.smartChunks = 0x1F;
    frame.crcChunk = true;
    const size_t total = g.imageBytes() + pattern::chunkBytes(frame);
    ASSERT_EQ(total, g.imageBytes() + 48 + 28 + 28 + 36 + 64 + 4);
    std::vector<uint8_t> buffer(total);
    pattern::fill(buffer.data(), g);
    pattern::writeChunks(buffer.data(), g.imageBytes(), frame);

    EXPECT_EQ(little(&buffer[total - 4]), crc16Xmodem(buffer.data(), total - 4));

    // Walk back from the end as a reader does.
    size_t end = total - 4;
    std::vector<unsigned> found;
    while (end >= g.imageBytes() + sf::kChunkTrailerSize) {
        const uint8_t* trailer = &buffer[end - sf::kChunkTrailerSize];
        unsigned k = 0;
        while (k < sf::kChunkCount) {
            bool same = true;
            for (unsigned q = 0; q < 4; ++q)
                same = same && little(trailer + 4 * q) == sf::kChunkIds[k].q[q];
            if (same)
                break;
            ++k;
        }
        ASSERT_LT(k, sf::kChunkCount) << "a known chunk ends at " << end;
        EXPECT_EQ(little(trailer + 16), sf::kChunkSizes[k]);
        EXPECT_EQ(little(trailer + 20), ~uint32_t(sf::kChunkSizes[k]));
        end -= sf::kChunkSizes[k];
        if (k == 1) {
            EXPECT_EQ(little(&buffer[end + sf::kFrameCounterOffset]), 0x01020304u);
        }
        if (k == 2) {
            EXPECT_EQ(little(&buffer[end + sf::kCycleTimeOffset]), frame.cycleTime);
        }
        if (k == 4) {
            EXPECT_EQ(little(&buffer[end + sf::kDcamGainOffset]) & sf::kDcamValueMask, 123u);
            EXPECT_EQ(little(&buffer[end + sf::kDcamShutterOffset]) & sf::kDcamValueMask, 456u);
        }
        found.push_back(k);
        if (k == 0)
            break;
    }
    EXPECT_EQ(found, (std::vector<unsigned>{4, 3, 2, 1, 0}));
    EXPECT_EQ(end, g.imageBytes()) << "chunk 0 starts right after the pixels";
}

// --- clocks -------------------------------------------------------------------------------

TEST(CycleClock, DriftOffsetAndWrap)
{
    CycleClock reference, fast;
    reference.setTicksNow(0);
    fast.setTicksNow(5 * int64_t(kTicksPerSecond));
    fast.setDriftPpm(100.0);
    const int64_t t0 = hostNowNs();
    const int64_t t1 = t0 + 10'000'000'000; // 10 s later
    const int64_t referenceAdvance = reference.ticksAt(t1) - reference.ticksAt(t0);
    const int64_t fastAdvance = fast.ticksAt(t1) - fast.ticksAt(t0);
    EXPECT_NEAR(referenceAdvance, 10 * int64_t(kTicksPerSecond), 1);
    EXPECT_NEAR(fastAdvance - referenceAdvance, 10 * kTicksPerSecond * 100e-6, 2);

    // The register wraps after 128 s.
    CycleClock clock;
    clock.setTicksNow(int64_t(kTicksPerWrap) - kTicksPerSecond / 2); // 127.5 s
    const int64_t now = hostNowNs();
    const uint32_t before = clock.cycleTimeAt(now);
    const uint32_t after = clock.cycleTimeAt(now + 1'000'000'000);
    EXPECT_EQ(cycleSeconds(before), 127u);
    EXPECT_EQ(cycleSeconds(after), 0u);
    EXPECT_NEAR(ticksBetween(before, after), kTicksPerSecond, 1);
}

TEST(TransactionDelays, HalvesOfLatencyPlusJitterAndOccasionalSpikes)
{
    TransactionDelays delays(7);
    TransactionTiming timing;
    timing.latencyNs = 10'000;
    timing.jitterNs = 4'000;
    delays.setTiming(timing);
    bool sawJitter = false;
    for (int i = 0; i < 200; ++i) {
        const auto [request, response] = delays.draw();
        EXPECT_GE(request, 5'000);
        EXPECT_LE(request, 9'000);
        EXPECT_GE(response, 5'000);
        EXPECT_LE(response, 9'000);
        sawJitter = sawJitter || request != response;
    }
    EXPECT_TRUE(sawJitter);
    timing.spikeProbability = 1.0;
    timing.spikeNs = 1'000'000;
    delays.setTiming(timing);
    EXPECT_GE(delays.draw().first, 1'005'000);
    delays.setTiming(TransactionTiming{});
    EXPECT_EQ(delays.draw(), std::make_pair(int64_t(0), int64_t(0))) << "an ideal bus costs nothing";
}

TEST_F(CameraStream, SyncBlockMakesTimeStampsFollowTheMaster)
{
    // A slave on another bus, 37.2 s ahead and 30 ppm fast.
    const int slaveBus = world().addBus(busAt(1, 47.2, 30.0));
    const auto slave = world().addCamera(slaveBus, "Flea2 FL2G-50S5M", 3003);
    CycleClock& masterClock = world().bus(_bus)->clock();
    CycleClock& slaveClock = world().bus(slaveBus)->clock();

    // What a controller would measure: master minus slave at the slave's
    // last whole second, and the drift in master ticks per second.
    const int64_t now = hostNowNs();
    const int64_t slaveTicks = slaveClock.ticksAt(now);
    const int64_t intoSecond = slaveTicks % kTicksPerSecond;
    const int64_t referenceNs =
        now - static_cast<int64_t>(intoSecond / (kTickFrequencyHz * (1 + 30e-6)) * 1e9);
    const int64_t offset = masterClock.ticksAt(referenceNs) - slaveClock.ticksAt(referenceNs);
    const uint32_t offsetTicks =
        static_cast<uint32_t>(((offset % kTicksPerWrap) + kTicksPerWrap) % kTicksPerWrap);
    const int32_t drift = -static_cast<int32_t>(std::lround(kTicksPerSecond * 30e-6)); // the slave gains
    const uint32_t referenceSecond = static_cast<uint32_t>((slaveTicks % kTicksPerWrap) / kTicksPerSecond);
    const uint32_t block[2] = {
        ticksToCycleTime(offsetTicks),
        makeSyncQuadlet1(static_cast<uint32_t>(drift) & kSyncDriftMask, referenceSecond)};
    ASSERT_EQ(slave->writeBlock(FC_REG_SYNC, block, 2), Status::ok);
    uint32_t readBack[2] = {};
    ASSERT_EQ(slave->readBlock(FC_REG_SYNC, readBack, 2), Status::ok);
    EXPECT_EQ(readBack[0], block[0]);
    EXPECT_EQ(readBack[1], block[1]);

    // Images triggered together now carry agreeing stamps, seconds later too,
    // while the raw bus clocks stay 37 s apart.
    configure(30.0);
    triggerOn();
    ASSERT_EQ(slave->writeRegister(kTriggerMode, kPresence | kTriggerOn), Status::ok);
    auto slaveSink = std::make_shared<FrameCollector>();
    ASSERT_EQ(_camera->startStream(_sink, Pacing::unpaced), Status::ok);
    ASSERT_EQ(slave->startStream(slaveSink, Pacing::unpaced), Status::ok);
    EXPECT_EQ(world().fireExternalTrigger(), 2);
    ASSERT_EQ(_sink->frames().size(), 1u);
    ASSERT_EQ(slaveSink->frames().size(), 1u);
    const Frame m = _sink->frames()[0], s = slaveSink->frames()[0];
    EXPECT_EQ(m.exposureStartNs, s.exposureStartNs) << "one trigger line";
    EXPECT_LE(std::min(ticksBetween(m.cycleTime, s.cycleTime), ticksBetween(s.cycleTime, m.cycleTime)), 3)
        << "stamps agree";
    EXPECT_NEAR(double(ticksBetween(m.busCycleTime, s.busCycleTime)), 37.2 * kTicksPerSecond,
                0.01 * kTicksPerSecond);

    // 100 s later (computed, not waited for) the drift correction still holds.
    const int64_t later = m.exposureStartNs + 100'000'000'000;
    const uint32_t masterLater = masterClock.cycleTimeAt(later);
    const uint32_t slaveLater = slave->stampCycleTimeAt(later);
    const int64_t error =
        std::min(ticksBetween(masterLater, slaveLater), ticksBetween(slaveLater, masterLater));
    EXPECT_LE(error, 40) << "within the rounding of the drift to whole ticks per second";

    // (0, 0) switches the correction off.
    const uint32_t zero[2] = {0, 0};
    ASSERT_EQ(slave->writeBlock(FC_REG_SYNC, zero, 2), Status::ok);
    EXPECT_EQ(slave->stampCycleTimeAt(later), slaveClock.cycleTimeAt(later));
    _camera->stopStream();
    slave->stopStream();
}

} // namespace
} // namespace orvex::sim::test
