// A FlyCapture camera acquiring over the simulated SDK: start and stop
// refusals, the bus packet budget, what each sample carries across counter
// and clock wraps, both thread variants against the simulator's pattern, the
// host notification, and the thread's end on a failed lock or an unplug with
// every SDK buffer given back.
#include "SimulatedBuses.h"

#include "support/LogCapture.h"

#include <orvex/ImageSample.h>
#include <orvex/iidc/FrameInfo.h>
#include <orvex/iidc/Registers.h>
#include <orvex/sim/FramePattern.h>
#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
#include <orvex/win32_testing.h>
#endif

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <locale>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace orvex::test;
namespace iidc = orvex::iidc;
namespace frameinfo = orvex::iidc::frameinfo;
namespace pattern = orvex::sim::pattern;
namespace sim = orvex::sim;

namespace {

constexpr uint32_t kWidth = 160;
constexpr uint32_t kHeight = 120;

// A small camera, so that every image is cheap.
sim::CameraConfig smallCamera(uint32_t serialNumber)
{
    sim::CameraConfig config = *sim::modelConfig(kGras20, serialNumber);
    config.sensorWidth = kWidth;
    config.sensorHeight = kHeight;
    return config;
}

// What one image carried, copied while the buffer was locked.
struct Seen {
    unsigned long idx = 0;
    bool hasHwDate = false;
    double hwDate = 0.0;
    uint32_t frameNumber = 0; // the simulator's own stamp, read from the pixels
    std::vector<uint8_t> pixels;
};

class CountingCB : public ImageCB {
public:
    void onNewImage() override { ++calls; }
    int calls = 0;
};

class RemovalCB : public CaptureDeviceChangedCB {
public:
    void onDeviceArrival(const std::string&, bool) override {}
    void onDeviceRemoval(const std::string& name, bool) override { removed.push_back(name); }
    std::vector<std::string> removed;
};

class FlyCapAcquisitionTest : public SimulatedBuses {
protected:
    void TearDown() override
    {
        SimulatedBuses::TearDown();
        world().setPacing(sim::Pacing::frameRate);
#ifndef _WIN32
        orvex::win32::testing::setWow64(orvex::win32::testing::Wow64::native);
#endif
    }

    static FlyCapCamera& flyCap(IEEE1394Camera& camera)
    {
        return dynamic_cast<FlyCapCamera&>(camera);
    }

    // Copies every image now in the buffer, oldest first.
    static std::vector<Seen> drain(IEEE1394Camera& camera)
    {
        std::vector<Seen> seen;
        camera.lockImagesBuffer();
        for (unsigned long pos = camera.getImagesBufferSize(); pos-- > 0;) {
            const boost::shared_ptr<ImageSample> sample = camera.getImagesBufferContent(pos);
            Seen s;
            s.idx = sample->getIdx();
            s.hasHwDate = sample->getHWDate(s.hwDate);
            const auto* data = static_cast<const uint8_t*>(sample->getImage()->data());
            s.frameNumber = pattern::readFrameNumber(data);
            s.pixels.assign(data, data + size_t{kWidth} * kHeight);
            seen.push_back(std::move(s));
        }
        camera.unlockImagesBuffer();
        return seen;
    }

    // Images until `enough` says so (or a broken test gives up), each once,
    // in order of index modulo 2^32.
    static std::vector<Seen> collect(IEEE1394Camera& camera,
                                     const std::function<bool(const std::vector<Seen>&)>& enough)
    {
        std::vector<Seen> all;
        pumpUntil([&] {
            for (Seen& s : drain(camera)) {
                if (all.empty() || isAhead(s.idx, all.back().idx))
                    all.push_back(std::move(s));
            }
            return enough(all);
        });
        return all;
    }

    static bool isAhead(unsigned long idx, unsigned long than)
    {
        const uint32_t ahead = static_cast<uint32_t>(idx) - static_cast<uint32_t>(than);
        return ahead != 0 && ahead < 0x80000000u;
    }

    // The first sample the thread delivers (null if none comes).
    static boost::shared_ptr<ImageSample> firstSample(IEEE1394Camera& camera)
    {
        boost::shared_ptr<ImageSample> sample;
        pumpUntil([&] {
            camera.lockImagesBuffer();
            if (camera.getImagesBufferSize() > 0)
                sample = camera.getImagesBufferContent(camera.getImagesBufferSize() - 1);
            camera.unlockImagesBuffer();
            return sample != nullptr;
        });
        return sample;
    }

    // Waits, dispatching nothing, until `done` holds.
    static bool waitFor(const std::function<bool()>& done)
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > giveUp)
                return false;
            Sleep(1);
        }
        return true;
    }

    static unsigned lockedSdkBuffers(uint32_t serialNumber)
    {
        const auto probe = sdkProbe<sim::flycap::LockedBuffersProbe>(sim::flycap::kLockedBuffersProbe);
        return probe != nullptr ? probe(serialNumber) : 0;
    }
};

#ifndef _WIN32 // for the variants, compared only where both can run
// The image the simulator makes for a frame counter, with no frame information.
std::vector<uint8_t> expectedPixels(uint32_t frameCounter)
{
    sim::FrameGeometry g;
    g.width = kWidth;
    g.height = kHeight;
    std::vector<uint8_t> image(g.imageBytes());
    pattern::fill(image.data(), g);
    sim::Frame frame;
    frame.geometry = g;
    frame.frameCounter = frameCounter;
    pattern::StampState state;
    pattern::stamp(image.data(), g, frame, state);
    return image;
}
#endif

} // namespace

// --- states and refusals ------------------------------------------------------------

TEST_F(FlyCapAcquisitionTest, StartNeedsInitAndIsRefusedTwiceStopNeedsAStartAndEmptiesTheBuffer)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x300), false);
    EXPECT_EQ("\"init\" method must be called before", errorOf([&] { camera.startAcquisition(); }));
    EXPECT_EQ("camera not acquiring", errorOf([&] { camera.stopAcquisition(); }));
    camera.init();
    camera.startAcquisition();
    EXPECT_TRUE(camera.isAcquisitionStarted());
    EXPECT_EQ("camera acquisition already started", errorOf([&] { camera.startAcquisition(); }));
    EXPECT_EQ("cannot be invoked while camera is acquiring",
              errorOf([&] { flyCap(camera).enableFrameCounterFeature(true); }));
    ASSERT_FALSE(collect(camera, [](const std::vector<Seen>& s) { return s.size() >= 3; }).empty());
    camera.stopAcquisition();
    EXPECT_FALSE(camera.isAcquisitionStarted());
    camera.lockImagesBuffer();
    EXPECT_EQ(0ul, camera.getImagesBufferSize());
    camera.unlockImagesBuffer();
    EXPECT_EQ(0u, lockedSdkBuffers(0x300)) << "every buffer given back at the stop";
    EXPECT_EQ("camera not acquiring", errorOf([&] { camera.stopAcquisition(); }));

    // And again: a restart delivers images as the first start did.
    camera.startAcquisition();
    EXPECT_GE(collect(camera, [](const std::vector<Seen>& s) { return s.size() >= 3; }).size(), 3u);
    camera.stopAcquisition();
}

TEST_F(FlyCapAcquisitionTest, TheBusPacketBudgetRefusesTheCameraThatWouldExceedItAndStartsNothing)
{
    sim::BusConfig roomy;
    roomy.isoBandwidth = 100000; // so that only the library's own budget applies
    const int bus = world().addBus(roomy);
    world().addCamera(bus, kGras20, 0x310);
    world().addCamera(bus, kGras20, 0x311);
    world().addCamera(bus, kGras20, 0x313);
    world().addCamera(bus0, kGras20, 0x312); // another bus: never counted
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(true);
    IEEE1394Camera& other = server.getCamera(CamGUID(0x312, 0));
    IEEE1394Camera& first = server.getCamera(CamGUID(0x310, 0));
    IEEE1394Camera& second = server.getCamera(CamGUID(0x311, 0));
    IEEE1394Camera& third = server.getCamera(CamGUID(0x313, 0));
    // 4096 bytes at S400, the speed the cameras come up with: two fit, three do not.
    const int packet = first.getNbBytesPerPacket();
    ASSERT_EQ(4096, packet);

    other.startAcquisition();
    first.startAcquisition();
    second.startAcquisition();
    EXPECT_EQ("sum of packet sizes of acquiring cameras on bus exceeds max allowed (12288 > 9830)",
              errorOf([&] { third.startAcquisition(); }));
    EXPECT_FALSE(third.isAcquisitionStarted());
    EXPECT_FALSE(world().camera(0x313)->isStreaming());

    first.stopAcquisition();
    third.startAcquisition();
    EXPECT_TRUE(third.isAcquisitionStarted());
}

// --- what a sample carries ----------------------------------------------------------

TEST_F(FlyCapAcquisitionTest, IndexesFollowTheFrameCounterAndHardwareDatesTheTimeStampAcrossBothWraps)
{
    // Paced, so that the host sees every image.
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x320), true));
    ASSERT_TRUE(camera.enableFrameCounterFeature(true));
    ASSERT_TRUE(camera.enableTimeStampFeature(true));
    world().camera(0x320)->setFrameCounter(0xFFFFFFFCu);
    // A quarter of a second before the cycle clock's 128-second wrap.
    world().bus(bus0)->clock().setTicksNow(int64_t{iidc::kTicksPerWrap} - iidc::kTicksPerSecond / 4);

    camera.startAcquisition();
    const std::vector<Seen> seen = collect(camera, [](const std::vector<Seen>& s) {
        bool counterWrapped = false, clockWrapped = false;
        for (size_t i = 1; i < s.size(); ++i) {
            counterWrapped |= s[i].idx < s[i - 1].idx;
            clockWrapped |= s[i].hwDate < s[i - 1].hwDate;
        }
        return counterWrapped && clockWrapped;
    });
    camera.stopAcquisition();

    bool counterWrapped = false, clockWrapped = false;
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE("image " + std::to_string(i));
        EXPECT_EQ(seen[i].frameNumber, seen[i].idx) << "the index is the camera's frame counter";
        ASSERT_TRUE(seen[i].hasHwDate);
        EXPECT_GE(seen[i].hwDate, 0.0);
        EXPECT_LT(seen[i].hwDate, 128000.0);
        if (i == 0)
            continue;
        if (seen[i].idx < seen[i - 1].idx) {
            counterWrapped = true;
            EXPECT_GE(seen[i - 1].idx, 0xFFFFFFFCul);
            EXPECT_LT(seen[i].idx, 0x100ul);
        }
        if (seen[i].hwDate < seen[i - 1].hwDate) {
            clockWrapped = true; // not corrected: the date starts again from 0
            EXPECT_GT(seen[i - 1].hwDate, 120000.0);
            EXPECT_LT(seen[i].hwDate, 8000.0);
        }
    }
    EXPECT_TRUE(counterWrapped);
    EXPECT_TRUE(clockWrapped);
}

TEST_F(FlyCapAcquisitionTest, WithoutFrameInformationTheIndexIsTheImageCountAndNoHardwareDateIsKnown)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x321), true);
    camera.startAcquisition();
    const std::vector<Seen> seen = collect(camera, [](const std::vector<Seen>& s) { return s.size() >= 3; });
    camera.stopAcquisition();
    for (size_t i = 1; i < seen.size(); ++i)
        EXPECT_GT(seen[i].idx, seen[i - 1].idx);
    for (const Seen& s : seen) {
        EXPECT_FALSE(s.hasHwDate);
        EXPECT_LE(s.idx, s.frameNumber + 1) << "counted from 1 by the library, from 0 by the camera";
    }
}

// The date is the time stamp's seconds, cycles and offset ticks in
// milliseconds, to the tick; no wrap is corrected.
TEST_F(FlyCapAcquisitionTest, TheHardwareDateIsTheTimeStampInMillisecondsToTheTick)
{
    world().setPacing(sim::Pacing::unpaced);
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x325), true));
    ASSERT_TRUE(camera.enableTimeStampFeature(true));
    const struct {
        uint32_t timeStamp;
        double date;
    } cases[] = {
        {0x02008C00, 1001.125},               // 1 s, cycle 8, offset 3072
        {0xFFF3FBFF, 127999.99995930989},     // 127 s, cycle 7999, offset 3071: the last tick
        {0x00000001, 4.0690104166666664e-05}, // one offset tick
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeStamp);
        world().camera(0x325)->forceTimeStamp(c.timeStamp);
        camera.startAcquisition();
        const boost::shared_ptr<ImageSample> sample = firstSample(camera);
        ASSERT_TRUE(sample);
        double date = -1.0;
        EXPECT_TRUE(sample->getHWDate(date));
        EXPECT_DOUBLE_EQ(c.date, date);
        camera.stopAcquisition();
    }
}

// With auto exposure on, the start reads neither range (a failing range read
// stays unconsumed); switched off, the start reads them again but, the gain
// being forgotten, checks no gain against them.
TEST_F(FlyCapAcquisitionTest, TheStartRefreshesShutterAndGainOnlyWithAutoExposureOff)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x326), true);
    camera.enableAutoExposureFeature(true);
    failNext("flycaptureGetCameraAbsPropertyRange", 1, FLYCAPTURE_FAILED, 0x326);
    camera.startAcquisition();
    camera.stopAcquisition();
    EXPECT_EQ(1u, world().faults().pending("flycaptureGetCameraAbsPropertyRange"));

    camera.enableAutoExposureFeature(false);
    camera.startAcquisition();
    camera.stopAcquisition();
    EXPECT_EQ(0u, world().faults().pending("flycaptureGetCameraAbsPropertyRange"));
    EXPECT_EQ("gain value is ignored!", errorOf([&] { camera.getGain(gainsel_main); }));

    // A refresh failing twice fails the start after the transfer began: the
    // transfer is stopped again.
    failNext("flycaptureGetCameraAbsPropertyRange", 2, FLYCAPTURE_FAILED, 0x326);
    EXPECT_EQ("cam guid #0x" + CamGUID(0x326, 0).to_string() +
                  "; flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_SHUTTER, &bPresent, "
                  "&fMinShutter, &fMaxShutter, 0, 0): Function failed",
              errorOf([&] { camera.startAcquisition(); }));
    EXPECT_FALSE(camera.isAcquisitionStarted());
    EXPECT_FALSE(world().camera(0x326)->isStreaming());
}

// Result 21 of a lock is no failure: no image, no log line, and the thread
// takes the next image as usual.
TEST_F(FlyCapAcquisitionTest, ALockAnsweringTwentyOneIsTriedAgain)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x327), true);
    camera.turnOnTrigger(true);
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    LogCapture stream("Orvex.stream", log4cplus::INFO_LOG_LEVEL);
    world().faults().failNext("flycaptureLockLatest", 5, 21, 0x327);
    camera.startAcquisition();
    ASSERT_TRUE(waitFor([&] { return world().faults().pending("flycaptureLockLatest") == 0; }));
    EXPECT_TRUE(stream.lines().empty());
    camera.softwareTrigger();
    EXPECT_TRUE(waitFor([&] { return stream.lines().size() == 1; }));
    camera.stopAcquisition();
    for (const LogLine& line : errors.lines())
        EXPECT_NE(log4cplus::ERROR_LOG_LEVEL, line.level) << line.message;
    EXPECT_EQ(1, videoServer().getNbCameras()) << "the camera was not reported as removed";
}

// A time stamp the SDK cannot parse ends the thread. The frame-information
// tracer's leaving line tells so at ERROR whether or not "Orvex" traces:
// bare when it does not, named with the camera's port when it does.
TEST_F(FlyCapAcquisitionTest, AnUnparsableTimeStampEndsTheThreadWithTheTracersLeavingLine)
{
    world().setPacing(sim::Pacing::unpaced);
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x32A), true));
    ASSERT_TRUE(camera.enableTimeStampFeature(true));
    for (const int level : {log4cplus::INFO_LOG_LEVEL, log4cplus::TRACE_LOG_LEVEL}) {
        SCOPED_TRACE(level);
        LogCapture log("Orvex", level);
        camera.startAcquisition();
        ASSERT_TRUE(firstSample(camera));
        failNext("flycaptureParseImageTimestamp", 1, FLYCAPTURE_FAILED, 0x32A);
        ASSERT_TRUE(waitFor([&] { return world().faults().pending("flycaptureParseImageTimestamp") == 0; }));
        const std::string bare = "Leaving  because of exception.";
        const std::string named =
            "Leaving FlyCapCamera::readFrameInfo(...); (portId=" + std::to_string(camera.getPortIdx()) +
            ") because of exception.";
        const std::string& expected = level == log4cplus::INFO_LOG_LEVEL ? bare : named;
        ASSERT_TRUE(waitFor([&] {
            for (const LogLine& line : log.lines()) {
                if (line.level == log4cplus::ERROR_LOG_LEVEL && line.message.rfind(expected, 0) == 0)
                    return true;
            }
            return false;
        })) << expected;
        camera.stopAcquisition();
        camera.lockImagesBuffer();
        EXPECT_EQ(camera.getImagesBufferSize(), 0u);
        camera.unlockImagesBuffer();
    }
}

// Every combination of the four items: each value is found where the
// camera put it, whatever comes before it.
TEST_F(FlyCapAcquisitionTest, EachCombinationOfItemsIsDecodedFromItsOwnOffsets)
{
    world().setPacing(sim::Pacing::unpaced);
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x322), true));
    for (unsigned combination = 0; combination < 16; ++combination) {
        const bool timestamp = combination & 1, dcam = combination & 2, counter = combination & 4,
                   gpio = combination & 8;
        SCOPED_TRACE("timestamp " + std::to_string(timestamp) + ", DCAM " + std::to_string(dcam) +
                     ", counter " + std::to_string(counter) + ", GPIO " + std::to_string(gpio));
        ASSERT_EQ(timestamp, camera.enableTimeStampFeature(timestamp));
        ASSERT_EQ(dcam, camera.enableDCAMInfoFeature(dcam));
        ASSERT_EQ(counter, camera.enableFrameCounterFeature(counter));
        ASSERT_EQ(gpio, camera.enableGPIOStatusFeature(gpio));
        // 100 s sharp, so that a date read from the wrong bytes shows.
        world().camera(0x322)->forceTimeStamp(0xC8000000);
        // A counter far from the image count, so that an index from the wrong source shows.
        world().camera(0x322)->setFrameCounter(0x80000000u);

        camera.startAcquisition();
        boost::shared_ptr<ImageSample> sample = firstSample(camera);
        ASSERT_TRUE(sample);
        const auto* data = static_cast<const uint8_t*>(sample->getImage()->data());
        const uint32_t frameNumber = pattern::readFrameNumber(data);
        double hwDate = -1.0;
        unsigned long shutter = 0;
        long gain = 0;
        bool on = false;

        EXPECT_EQ(timestamp, sample->getHWDate(hwDate));
        if (timestamp) {
            EXPECT_EQ(100000.0, hwDate);
        }
        EXPECT_EQ(dcam, sample->getShutter(shutter));
        EXPECT_EQ(dcam, sample->getGain(gain));
        if (dcam) {
            EXPECT_EQ(camera.getShutter(), shutter);
            EXPECT_EQ(camera.getGain(gainsel_main), gain);
        }
        if (counter)
            EXPECT_EQ(frameNumber, sample->getIdx());
        else
            EXPECT_LT(sample->getIdx(), 0x80000000ul);
        EXPECT_EQ(gpio, sample->getTriggerStatus(on));
        if (gpio) {
            EXPECT_FALSE(on) << "the high-active input idles low";
        }
        EXPECT_EQ(gpio, sample->getStrobeOutStatus(0, on));
        EXPECT_EQ(gpio, sample->getStrobeOutStatus(1, on));
        sample.reset();
        camera.stopAcquisition();
    }
}

// Shutter and gain changed behind the library's back: the start reads them
// again, so the samples carry their real values.
TEST_F(FlyCapAcquisitionTest, TheStartRereadsShutterAndGainForTheSamples)
{
    world().setPacing(sim::Pacing::unpaced);
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x323), true));
    ASSERT_TRUE(camera.enableDCAMInfoFeature(true));
    for (const uint32_t address : {iidc::kShutter, iidc::kGain}) {
        unsigned long value = 0;
        camera.readRegister(address, value);
        camera.writeRegister(address, (value & ~static_cast<unsigned long>(iidc::kControlValueMask)) |
                                          ((value & iidc::kControlValueMask) + 7));
    }
    camera.startAcquisition();
    boost::shared_ptr<ImageSample> sample = firstSample(camera);
    ASSERT_TRUE(sample);
    unsigned long shutter = 0;
    long gain = 0;
    EXPECT_TRUE(sample->getShutter(shutter));
    EXPECT_TRUE(sample->getGain(gain));
    EXPECT_EQ(camera.getShutter(), shutter);
    EXPECT_EQ(camera.getGain(gainsel_main), gain);
    sample.reset();
    camera.stopAcquisition();
}

TEST_F(FlyCapAcquisitionTest, AnUnknownRawShutterIsLoggedWithTheCamerasAndLeftUnset)
{
    world().setPacing(sim::Pacing::unpaced);
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x324), true));
    ASSERT_TRUE(camera.enableDCAMInfoFeature(true));
    camera.startAcquisition();
    // Changed behind the library's back while it acquires: no map knows it.
    unsigned long value = 0;
    camera.readRegister(iidc::kShutter, value);
    const unsigned long raw = (value & iidc::kControlValueMask) + 3;
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    camera.writeRegister(iidc::kShutter,
                         (value & ~static_cast<unsigned long>(iidc::kControlValueMask)) | raw);
    const std::string expected = "port # 0invalid raw shutter: " + std::to_string(raw) +
                                 " (rawShutter in register: " + std::to_string(raw) + ")\r\n";
    ASSERT_TRUE(pumpUntil([&] {
        for (const std::string& message : errors.messages())
            if (message == expected)
                return true;
        return false;
    }));
    boost::shared_ptr<ImageSample> sample;
    camera.lockImagesBuffer();
    sample = camera.getImagesBufferContent(0);
    camera.unlockImagesBuffer();
    unsigned long shutter = 0;
    EXPECT_FALSE(sample->getShutter(shutter));
    long gain = 0;
    EXPECT_TRUE(sample->getGain(gain)) << "the gain is still known";
    sample.reset();
    camera.stopAcquisition();
}

// --- the two variants ---------------------------------------------------------------

#ifndef _WIN32 // the variant follows the process where it cannot be switched
TEST_F(FlyCapAcquisitionTest, BothVariantsDeliverTheSimulatorsPixels)
{
    using orvex::win32::testing::Wow64;
    world().setPacing(sim::Pacing::unpaced);
    uint32_t serialNumber = 0x330;
    for (const Wow64 environment : {Wow64::native, Wow64::wow64}) {
        SCOPED_TRACE(environment == Wow64::wow64 ? "copied into own slots" : "the SDK's buffers");
        orvex::win32::testing::setWow64(environment);
        IEEE1394Camera& camera = listOne(smallCamera(serialNumber++), true);
        camera.startAcquisition();
        // Long enough for the WOW64 slots to be reused several times.
        const std::vector<Seen> seen =
            collect(camera, [](const std::vector<Seen>& s) { return s.size() >= 40; });
        // The normal variant's images hold the SDK's buffers; the copies do not.
        camera.lockImagesBuffer();
        const unsigned long held = camera.getImagesBufferSize();
        const unsigned lent = lockedSdkBuffers(serialNumber - 1);
        camera.unlockImagesBuffer();
        if (environment == Wow64::wow64)
            EXPECT_LE(lent, 1u);
        else
            EXPECT_GE(lent, held);
        camera.stopAcquisition();
        ASSERT_GE(seen.size(), 40u);
        for (const Seen& s : seen)
            ASSERT_EQ(expectedPixels(s.frameNumber), s.pixels) << "image " << s.idx;
    }
}

// A format chosen while acquiring applies from the next start: the images
// of the running transfer stay 8-bit (type 2) at one byte a pixel, those
// of the next are 16-bit (type 8).
TEST_F(FlyCapAcquisitionTest, APixelFormatSetWhileAcquiringAppliesFromTheNextStart)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x340), true);
    const auto typesOfBufferedImages = [&camera] {
        std::set<int> types;
        camera.lockImagesBuffer();
        for (unsigned long pos = 0; pos < camera.getImagesBufferSize(); ++pos)
            types.insert(static_cast<int>(camera.getImagesBufferContent(pos)->getImage()->dataType()));
        camera.unlockImagesBuffer();
        return types;
    };
    camera.startAcquisition();
    collect(camera, [](const std::vector<Seen>& s) { return s.size() >= 3; });
    camera.setPixelFormat(pf_yMono16);
    collect(camera, [](const std::vector<Seen>& s) { return s.size() >= 10; });
    EXPECT_EQ(std::set<int>{2}, typesOfBufferedImages());
    camera.stopAcquisition();

    camera.startAcquisition();
    pumpUntil([&] {
        camera.lockImagesBuffer();
        const unsigned long held = camera.getImagesBufferSize();
        camera.unlockImagesBuffer();
        return held >= 3;
    });
    EXPECT_EQ(std::set<int>{8}, typesOfBufferedImages());
    camera.stopAcquisition();
}

// The host keeps more images than the thread has slots: once every slot
// holds one, the thread ends, gives the SDK its buffers back and stops the
// transfer; the camera still counts as acquiring and is not removed.
TEST_F(FlyCapAcquisitionTest, TheCopyingVariantEndsWhenEverySlotHoldsAnImageTheHostKeeps)
{
    orvex::win32::testing::setWow64(orvex::win32::testing::Wow64::wow64);
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x331), true);
    camera.setImagesBufferMaxSize(100); // after construction: the slots stay 3 + 2 + 4
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    camera.startAcquisition();
    ASSERT_TRUE(waitFor([&] { return !world().camera(0x331)->isStreaming(); }));
    EXPECT_TRUE(camera.isAcquisitionStarted());
    EXPECT_EQ(0u, lockedSdkBuffers(0x331));
    bool logged = false;
    for (const std::string& message : errors.messages())
        logged |= message.find("flyCapAcquiFunctionWow64: no more available buffer!!!") != std::string::npos;
    EXPECT_TRUE(logged);
    camera.lockImagesBuffer();
    EXPECT_EQ(9ul, camera.getImagesBufferSize());
    camera.unlockImagesBuffer();
    camera.stopAcquisition();
    EXPECT_EQ(1, videoServer().getNbCameras());
}
#endif

#ifndef _WIN32 // the lending variant, which an i686 process under Wine may not run
// The host raises the images buffer's bound after construction, past what
// the SDK was given (3 + 2 + 4 buffers): images keep coming, the later ones
// as copies, and the SDK always keeps buffers of its own to fill.
TEST_F(FlyCapAcquisitionTest, ABoundRaisedPastTheSdkBuffersKeepsImagesComing)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x332), true);
    camera.setImagesBufferMaxSize(200);
    camera.startAcquisition();
    ASSERT_TRUE(waitFor([&] {
        camera.lockImagesBuffer();
        const unsigned long held = camera.getImagesBufferSize();
        camera.unlockImagesBuffer();
        return held >= 40;
    })) << "images stopped once the SDK's buffers were all lent";
    EXPECT_LT(lockedSdkBuffers(0x332), 9u);
    const std::vector<Seen> seen = drain(camera);
    camera.stopAcquisition();
    EXPECT_EQ(0u, lockedSdkBuffers(0x332));
    for (const Seen& s : seen)
        ASSERT_EQ(expectedPixels(s.frameNumber), s.pixels) << "image " << s.idx;
}
#endif

// --- notification -----------------------------------------------------------------------

TEST_F(FlyCapAcquisitionTest, TenImagesBeforeTheHostDispatchesGiveOneCallback)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x340), true);
    auto* cb = new CountingCB;
    camera.setImageCB(cb, true);
    // Triggered, so that the camera makes exactly the images asked for.
    unsigned long mode = 0;
    camera.readRegister(iidc::kTriggerMode, mode);
    camera.writeRegister(iidc::kTriggerMode, mode | iidc::kTriggerOn);
    LogCapture stream("Orvex.stream", log4cplus::INFO_LOG_LEVEL);
    camera.startAcquisition();
    for (size_t image = 1; image <= 10; ++image) {
        camera.writeRegister(iidc::kSoftwareTrigger, iidc::kSoftwareTriggerFire);
        // Without dispatching, until the thread took the image.
        waitFor([&] { return stream.lines().size() >= image; });
    }
    ASSERT_EQ(10u, stream.lines().size());
    EXPECT_EQ(0, cb->calls);
    pumpUntil([&] { return cb->calls > 0; });
    pumpPending();
    EXPECT_EQ(1, cb->calls);
    camera.stopAcquisition();
}

TEST_F(FlyCapAcquisitionTest, TheHostsEventIsSetWhenNoWindowIsRegistered)
{
    world().setPacing(sim::Pacing::unpaced);
    IEEE1394Camera& camera = listOne(smallCamera(0x341), true);
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    camera.setNewImageEvent(event);
    auto* cb = new CountingCB;
    camera.setImageCB(cb, true);
    camera.startAcquisition();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 10000));
    camera.stopAcquisition();
    pumpPending();
    EXPECT_EQ(0, cb->calls) << "the event takes the place of the callback";
    camera.setNewImageEvent(nullptr);
    CloseHandle(event);
}

TEST_F(FlyCapAcquisitionTest, EveryImageWritesOneStreamLine)
{
    world().setPacing(sim::Pacing::unpaced);
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x342), true));
    ASSERT_TRUE(camera.enableDCAMInfoFeature(true));
    ASSERT_TRUE(camera.enableGPIOStatusFeature(true));
    LogCapture stream("Orvex.stream", log4cplus::INFO_LOG_LEVEL);
    camera.startAcquisition();
    ASSERT_TRUE(pumpUntil([&] { return !stream.lines().empty(); }));
    camera.stopAcquisition();
    const std::string line = stream.lines().front().message;
    const std::string start =
        "acquiFunction; new image grabbed; portId = 0;\timgId = 1;\tframeCounter = 1;\tsw date = ";
    EXPECT_EQ(start, line.substr(0, start.size()));
    EXPECT_EQ(std::string::npos, line.find("hw date")) << "no time stamp embedded";
    EXPECT_NE(std::string::npos,
              line.find(";\t shutter = " + std::to_string(camera.getShutter()) + ";\t gain = "));
    EXPECT_NE(std::string::npos, line.find(";\t extTrigger: "));
    EXPECT_NE(std::string::npos, line.find(";\t strobe1: OFF"));
}

// Whether `line` has `label` followed by a date in fixed notation: digits,
// `point`, six decimals, then ";".
bool hasFixedDate(const std::string& line, const std::string& label, char point)
{
    const size_t at = line.find(label);
    if (at == std::string::npos)
        return false;
    size_t i = at + label.size();
    const size_t digits = i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])))
        ++i;
    if (i == digits || i + 8 > line.size() || line[i] != point)
        return false;
    for (size_t k = 1; k <= 6; ++k) {
        if (!std::isdigit(static_cast<unsigned char>(line[i + k])))
            return false;
    }
    return line[i + 7] == ';';
}

// Dates in fixed notation, six decimals; in the host's locale if it set one.
TEST_F(FlyCapAcquisitionTest, StreamLinesWriteDatesInFixedNotationInTheHostsLocale)
{
    world().setPacing(sim::Pacing::unpaced);
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x343), true));
    ASSERT_TRUE(camera.enableTimeStampFeature(true));
    ASSERT_TRUE(camera.enableDCAMInfoFeature(true));
    ASSERT_TRUE(camera.enableGPIOStatusFeature(true));
    auto firstLine = [&] {
        LogCapture stream("Orvex.stream", log4cplus::INFO_LOG_LEVEL);
        camera.startAcquisition();
        EXPECT_TRUE(pumpUntil([&] { return !stream.lines().empty(); }));
        camera.stopAcquisition();
        return stream.lines().empty() ? std::string() : stream.lines().front().message;
    };
    const std::string line = firstLine();
    EXPECT_EQ(0u, line.find("acquiFunction; new image grabbed; portId = 0;\timgId = ")) << line;
    EXPECT_TRUE(hasFixedDate(line, ";\tsw date = ", '.')) << line;
    EXPECT_TRUE(hasFixedDate(line, ";\thw date = ", '.')) << line;
    const size_t shutter = line.find(";\t shutter = ");
    EXPECT_LT(line.find(";\thw date = "), shutter);
    EXPECT_LT(shutter, line.find(";\t gain = "));
    EXPECT_LT(line.find(";\t gain = "), line.find(";\t extTrigger: "));
    EXPECT_LT(line.find(";\t extTrigger: "), line.find(";\t strobe0: "));
    EXPECT_LT(line.find(";\t strobe0: "), line.find(";\t strobe1: "));

    struct CommaPoint : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
    };
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    const std::string hosts = firstLine();
    std::locale::global(previous);
    EXPECT_TRUE(hasFixedDate(hosts, ";\tsw date = ", ',')) << hosts;
    EXPECT_TRUE(hasFixedDate(hosts, ";\thw date = ", ',')) << hosts;
}

// --- the thread's end -------------------------------------------------------------------

// Paced, unlike most tests here: without an image callback the camera's own
// window does not collapse its notifications, one per image, and at
// unpaced rates they fill this thread's message queue (10000) whenever it
// does not dispatch for a moment, so that the removal could not be posted.
TEST_F(FlyCapAcquisitionTest, AFailedLockEndsTheThreadGivesEveryBufferBackAndRemovesTheCamera)
{
    world().addCamera(bus0, smallCamera(0x350));
    IEEE1394VideoServer& server = createFlyCapVideoServer(true);
    auto* removal = new RemovalCB;
    server.setCaptureDeviceChangedCB(removal, true);
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(0);
    const unsigned contexts = liveSdkContexts();
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    camera.startAcquisition();
    ASSERT_TRUE(pumpUntil([&] { return lockedSdkBuffers(0x350) > 0; }));
    failNext("flycaptureLockLatest", 1, FLYCAPTURE_BUS_ERROR, 0x350);

    ASSERT_TRUE(pumpUntil([&] { return server.getNbCameras() == 0; })) << "the camera is removed";
    ASSERT_EQ(1u, removal->removed.size());
    bool logged = false;
    for (const std::string& message : errors.messages())
        logged |= message.rfind("flycaptureLockLatest(...) returned an error: ", 0) == 0;
    EXPECT_TRUE(logged);
    EXPECT_EQ(contexts - 1, liveSdkContexts()) << "the camera's context went with it";
}

TEST_F(FlyCapAcquisitionTest, AnUnplugDuringAGrabEndsTheThreadAndGivesEveryLentBufferBackOnce)
{
    // Paced, as the test before.
    world().addCamera(bus0, smallCamera(0x351));
    IEEE1394VideoServer& server = createFlyCapVideoServer(true);
    auto* removal = new RemovalCB;
    server.setCaptureDeviceChangedCB(removal, true);
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(0);
    const unsigned contexts = liveSdkContexts();
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    camera.startAcquisition();
    // The host holds an image while the camera leaves.
    std::vector<Seen> seen = collect(camera, [](const std::vector<Seen>& s) { return s.size() >= 5; });
    camera.lockImagesBuffer();
    const unsigned long held = camera.getImagesBufferContent(0)->getIdx();
    camera.captureImage(held);
    camera.unlockImagesBuffer();
    ASSERT_GT(lockedSdkBuffers(0x351), 0u);

    world().unplugCamera(0x351);
    // Without dispatching: the thread gives the buffers back by itself.
    EXPECT_TRUE(waitFor([&] { return lockedSdkBuffers(0x351) == 0; }));
    camera.releaseImage();

    ASSERT_TRUE(pumpUntil([&] { return server.getNbCameras() == 0 && !removal->removed.empty(); }));
    for (const std::string& message : errors.messages()) {
        EXPECT_EQ(std::string::npos, message.find("flycaptureUnlock(")) << "no buffer given back twice";
        EXPECT_EQ(std::string::npos, message.find("flycaptureUnlockAll() returned an error"));
    }
    EXPECT_EQ(contexts - 1, liveSdkContexts());
}

#ifndef _WIN32 // both variants, where both can run
// The host keeps a captured sample while its camera leaves: the pixels the
// thread lent it stay readable, and in the lending variant the camera's SDK
// context, which frees its image buffers, goes only with that sample.
TEST_F(FlyCapAcquisitionTest, ASampleKeptPastAnUnplugStaysReadableUntilReleased)
{
    using orvex::win32::testing::Wow64;
    uint32_t serialNumber = 0x353;
    for (const Wow64 environment : {Wow64::native, Wow64::wow64}) {
        SCOPED_TRACE(environment == Wow64::wow64 ? "copied into own slots" : "the SDK's buffers");
        orvex::win32::testing::setWow64(environment);
        world().addCamera(bus0, smallCamera(serialNumber));
        IEEE1394VideoServer& server = createFlyCapVideoServer(true);
        server.reset(true);
        IEEE1394Camera& camera = server.getCamera(0);
        const unsigned contexts = liveSdkContexts();
        camera.startAcquisition();
        boost::shared_ptr<ImageSample> kept;
        ASSERT_TRUE(pumpUntil([&] {
            camera.lockImagesBuffer();
            if (camera.getImagesBufferSize() > 0)
                kept = camera.captureImage(camera.getImagesBufferContent(0)->getIdx());
            camera.unlockImagesBuffer();
            return kept != nullptr;
        }));

        world().unplugCamera(serialNumber);
        ASSERT_TRUE(pumpUntil([&] { return server.getNbCameras() == 0; }));
        if (environment == Wow64::native) {
            EXPECT_EQ(contexts, liveSdkContexts()) << "the kept sample holds the camera's context";
        }
        const auto* data = static_cast<const uint8_t*>(kept->getImage()->data());
        const std::vector<uint8_t> pixels(data, data + size_t{kWidth} * kHeight);
        EXPECT_EQ(expectedPixels(pattern::readFrameNumber(data)), pixels);
        kept.reset();
        EXPECT_EQ(contexts - 1, liveSdkContexts());
        destroyVideoServer();
        ++serialNumber;
    }
}
#endif

TEST_F(FlyCapAcquisitionTest, DestroyingTheServerWhileAcquiringStopsEveryCamera)
{
    world().setPacing(sim::Pacing::unpaced);
    world().addCamera(bus0, smallCamera(0x352));
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(true);
    server.getCamera(0).startAcquisition();
    pumpUntil([&] { return lockedSdkBuffers(0x352) > 0; });
    destroyVideoServer();
    EXPECT_FALSE(world().camera(0x352)->isStreaming());
    EXPECT_EQ(0u, lockedSdkBuffers(0x352));
}

// --- image-level faults of the camera -----------------------------------------------

// Lost images, a stalled stream and a corrupt frame information: the thread
// goes on, the indexes show the gap of exactly the images the camera lost and
// the SDK dropped, and the corrupt values are left unknown.
TEST_F(FlyCapAcquisitionTest, LostStalledAndCorruptImagesLeaveTheAcquisitionRunning)
{
    FlyCapCamera& camera = flyCap(listOne(smallCamera(0x330), true));
    ASSERT_TRUE(camera.enableFrameCounterFeature(true));
    ASSERT_TRUE(camera.enableDCAMInfoFeature(true));
    const std::shared_ptr<sim::Camera> simCamera = world().camera(0x330);
    const auto dropped = sdkProbe<sim::flycap::DroppedImagesProbe>(sim::flycap::kDroppedImagesProbe);
    ASSERT_NE(dropped, nullptr);

    struct Got {
        unsigned long idx = 0;
        bool shutterKnown = false;
    };
    std::map<uint32_t, Got> got; // by the frame number the simulator stamps in the pixels
    const auto take = [&] {
        camera.lockImagesBuffer();
        for (unsigned long pos = 0; pos < camera.getImagesBufferSize(); ++pos) {
            const boost::shared_ptr<ImageSample> sample = camera.getImagesBufferContent(pos);
            unsigned long shutter = 0;
            const auto* data = static_cast<const uint8_t*>(sample->getImage()->data());
            got[pattern::readFrameNumber(data)] = {sample->getIdx(), sample->getShutter(shutter)};
        }
        camera.unlockImagesBuffer();
    };
    const auto past = [&](uint32_t frameNumber) {
        return pumpUntil([&] {
            take();
            return !got.empty() && got.rbegin()->first >= frameNumber;
        });
    };

    camera.startAcquisition();
    ASSERT_TRUE(past(0));
    simCamera->loseNextImages(3);
    ASSERT_TRUE(past(got.rbegin()->first + 6));
    simCamera->stallStream(100'000'000);
    ASSERT_TRUE(past(got.rbegin()->first + 3));
    simCamera->damageNextFrameInfo(sim::FrameInfoDamage::corrupt);
    ASSERT_TRUE(past(got.rbegin()->first + 3));
    camera.stopAcquisition();

    const uint32_t span = got.rbegin()->first - got.begin()->first + 1;
    EXPECT_EQ(span - got.size(), simCamera->lostImages() + dropped(0x330))
        << "nothing missing that the camera did not lose or the SDK did not drop";
    EXPECT_EQ(simCamera->lostImages(), 3u);
    unsigned unknownShutters = 0;
    for (const auto& [frameNumber, sample] : got) {
        if (!sample.shutterKnown) {
            ++unknownShutters;
            continue; // its frame counter is as corrupt as its shutter
        }
        EXPECT_EQ(sample.idx, frameNumber) << "the index is the camera's counter, gaps included";
    }
    EXPECT_EQ(unknownShutters, 1u);
}
