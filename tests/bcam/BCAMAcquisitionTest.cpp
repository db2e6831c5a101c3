// BCAM acquisition over the simulated driver: indexes and dates of the
// images, the chunks' hardware dates and CRC verdicts, one callback per
// burst, the refusals and failures of start and stop, and an unplug in the
// middle of acquisition.
#include "bcam/BCAMFixture.h"
#include "support/LogCapture.h"

#include <orvex/ImageSample.h>
#include <orvex/iidc/SmartFeatures.h>
#include <orvex/sim/Bus.h>

#include <boost/shared_ptr.hpp>

#include <algorithm>
#include <functional>
#include <sstream>
#include <thread>

namespace orvex::bcam::test {
namespace {

using orvex::test::errorOf;

constexpr int kWidth = 64;
constexpr int kHeight = 48;

class CountingCallback : public ImageCB {
public:
    void onNewImage() override { ++calls; }
    int calls = 0;
};

class BCAMAcquisitionTest : public BCAMServerTest {
protected:
    // The A312f, initialised, on a small region (fast), its buffer large
    // enough to keep every image of a test.
    IEEE1394Camera& camera(bool captureDeviceNotification = false)
    {
        IEEE1394VideoServer& server = createBCAMVideoServer(captureDeviceNotification);
        server.reset(true);
        IEEE1394Camera& cam = server.getCamera(1);
        cam.setSize(kWidth, kHeight);
        cam.setImagesBufferMaxSize(10000);
        return cam;
    }

    // The images in the buffer, oldest first.
    static std::vector<boost::shared_ptr<ImageSample>> images(IEEE1394Camera& cam)
    {
        cam.lockImagesBuffer();
        std::vector<boost::shared_ptr<ImageSample>> all;
        for (unsigned long pos = cam.getImagesBufferSize(); pos > 0; --pos)
            all.push_back(cam.getImagesBufferContent(pos - 1));
        cam.unlockImagesBuffer();
        return all;
    }

    static size_t countOf(IEEE1394Camera& cam)
    {
        cam.lockImagesBuffer();
        const size_t n = cam.getImagesBufferSize();
        cam.unlockImagesBuffer();
        return n;
    }

    static bool waitForImages(IEEE1394Camera& cam, size_t count)
    {
        return pumpUntil([&] { return countOf(cam) >= count; });
    }
};

TEST_F(BCAMAcquisitionTest, imagesAreIndexedFromOneInEachAcquisitionWithSoftwareDatesInOrder)
{
    IEEE1394Camera& cam = camera();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        cam.startAcquisition();
        EXPECT_TRUE(cam.isAcquisitionStarted());
        ASSERT_TRUE(waitForImages(cam, 12));
        cam.stopAcquisition();
        EXPECT_FALSE(cam.isAcquisitionStarted());

        const auto all = images(cam);
        ASSERT_GE(all.size(), 12U);
        double previousDate = -1.0;
        for (size_t i = 0; i < all.size(); ++i) {
            EXPECT_EQ(i + 1, all[i]->getIdx());
            EXPECT_LE(previousDate, all[i]->getSWDate());
            previousDate = all[i]->getSWDate();
            double hwDate = 0.0;
            EXPECT_FALSE(all[i]->getHWDate(hwDate)); // no cycle-time chunk
            EXPECT_EQ(imgv_notChecked, all[i]->getValidity());
            ASSERT_NE(nullptr, all[i]->getImage());
            EXPECT_EQ(kWidth, all[i]->getImage()->size().width);
            EXPECT_EQ(kHeight, all[i]->getImage()->size().height);
            EXPECT_EQ(idt_uint8, all[i]->getImage()->dataType());
        }
    }
}

TEST_F(BCAMAcquisitionTest, eachImageIsLoggedWithItsDatesAndValidity)
{
    IEEE1394Camera& cam = camera();
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(GetClassInfoExA(nullptr, "BCAMCameraWndClass", &info));
    orvex::test::LogCapture stream("Orvex.stream", log4cplus::DEBUG_LOG_LEVEL);
    orvex::test::LogCapture trace("Orvex", log4cplus::TRACE_LOG_LEVEL);
    cam.startAcquisition();
    ASSERT_TRUE(waitForImages(cam, 1));
    cam.stopAcquisition();
    std::ostringstream swDate;
    swDate << std::fixed << images(cam).front()->getSWDate();
    EXPECT_EQ("acquiFunction; new image grabbed; portId = 1;\timgId = 1;\tsw date = " + swDate.str() +
                  ";\thw date = -1.000000;\tvalidity: ?",
              stream.messages().front());
    const auto lines = trace.messages();
    EXPECT_EQ(countOf(cam), size_t(std::count(lines.begin(), lines.end(), "BCAM image received")));
}

TEST_F(BCAMAcquisitionTest, chunksGiveTheHardwareDateTheCrcVerdictShutterAndGain)
{
    IEEE1394Camera& cam = camera();
    // The camera appends chunks only with the extended data stream.
    ASSERT_TRUE(cam.enableSmartFeature(sf_extendedDataStream, true));
    ASSERT_TRUE(cam.enableSmartFeature(sf_cycleTimeStamp, true));
    ASSERT_TRUE(cam.enableSmartFeature(sf_crcChecksum, true));
    ASSERT_TRUE(cam.enableSmartFeature(sf_dcam, true));
    const unsigned long shutter = cam.getShutterMin() + 7;
    const long gain = cam.getGainMax(gainsel_main) - 3;
    cam.setShutter(shutter);
    cam.setGain(gain, gainsel_main);
    orvex::test::LogCapture stream("Orvex.stream", log4cplus::DEBUG_LOG_LEVEL);
    cam.startAcquisition();
    ASSERT_TRUE(waitForImages(cam, 5));
    cam.stopAcquisition();
    double previous = -1.0;
    const auto lines = stream.messages();
    for (const auto& image : images(cam)) {
        double hwDate = -1.0;
        EXPECT_TRUE(image->getHWDate(hwDate));
        EXPECT_LT(previous, hwDate);
        previous = hwDate;
        EXPECT_EQ(imgv_valid, image->getValidity());
        unsigned long imageShutter = 0;
        long imageGain = 0;
        EXPECT_TRUE(image->getShutter(imageShutter) && image->getGain(imageGain));
        EXPECT_EQ(shutter, imageShutter); // the DCAM chunk's values
        EXPECT_EQ(gain, imageGain);
        std::ostringstream ending; // the line names the hardware date and the verdict
        ending << std::fixed << ";\thw date = " << hwDate << ";\tvalidity: ok";
        EXPECT_EQ(1, std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
                      return line.size() > ending.str().size() &&
                             line.compare(line.size() - ending.str().size(), std::string::npos,
                                          ending.str()) == 0;
                  }));
    }
}

TEST_F(BCAMAcquisitionTest, aFrameSizeThatShrinksAfterStartKeepsTheStreamAndItsChunks)
{
    IEEE1394Camera& cam = camera();
    ASSERT_TRUE(cam.enableSmartFeature(sf_extendedDataStream, true));
    ASSERT_TRUE(cam.enableSmartFeature(sf_cycleTimeStamp, true));
    ASSERT_TRUE(cam.enableSmartFeature(sf_crcChecksum, true));
    // Start's frame size goes through; any later request for it stalls
    // while the CRC is switched off, so that it would answer 4 bytes less
    // than the buffers start queued.
    orvex::sim::FaultTable::Fault stall;
    stall.function = "BytePerFrame";
    stall.serialNumber = kA312fSerial;
    stall.skip = 1;
    stall.count = 100;
    stall.delayNs = 300'000'000;
    world().faults().add(stall);
    cam.startAcquisition();
    ASSERT_TRUE(cam.enableSmartFeature(sf_crcChecksum, false));
    // More than the four grabs start queued: the stream went on.
    EXPECT_TRUE(waitForImages(cam, 12));
    cam.stopAcquisition();
    // The last images are shorter than their buffers; their chunks end
    // where the transfer ended.
    const boost::shared_ptr<ImageSample> last = images(cam).back();
    double hwDate = -1.0;
    EXPECT_TRUE(last->getHWDate(hwDate));
    EXPECT_LE(0.0, hwDate);
}

TEST_F(BCAMAcquisitionTest, sixteenBitImagesHaveTwoBytesPerPixel)
{
    IEEE1394Camera& cam = camera();
    cam.setPixelFormat(pf_yMono16);
    cam.startAcquisition();
    ASSERT_TRUE(waitForImages(cam, 2));
    cam.stopAcquisition();
    EXPECT_EQ(idt_uint16, images(cam).front()->getImage()->dataType());
}

TEST_F(BCAMAcquisitionTest, aBurstOfImagesGivesOneCallback)
{
    IEEE1394Camera& cam = camera();
    auto* callback = new CountingCallback;
    cam.setImageCB(callback, true);
    orvex::test::LogCapture trace("Orvex", log4cplus::TRACE_LOG_LEVEL);
    cam.startAcquisition();
    // Not dispatching while images arrive; the unplug ends the burst.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (countOf(cam) < 5 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    world().unplugCamera(kA312fSerial);
    ASSERT_GE(countOf(cam), 5U);
    pumpFor(std::chrono::milliseconds(50));
    EXPECT_EQ(1, callback->calls);
    const auto lines = trace.messages(); // the queued notifications after the first
    EXPECT_LT(0, std::count(lines.begin(), lines.end(), "BCAM CWM_NEW_IMAGE_AVAILABLE removed"));
    EXPECT_EQ("error in BCAMCamera::stopAcquisition: \"The device is not connected.\r\n",
              errorOf([&] { cam.stopAcquisition(); }));
}

TEST_F(BCAMAcquisitionTest, aGrabCompletedOutOfOrderIsLoggedAndNotDelivered)
{
    IEEE1394Camera& cam = camera();
    world().faults().failNext("StallGrab", 1, 0, kA312fSerial); // the first grab, id 0, stays pending
    orvex::test::LogCapture log("Orvex", log4cplus::ERROR_LOG_LEVEL);
    cam.startAcquisition();
    const std::string first = "buffer id not found in allocated buffers queue (1 vs {0, 1, 2, 3})";
    EXPECT_TRUE(pumpUntil([&] { return !log.messages().empty(); }));
    cam.stopAcquisition();
    ASSERT_FALSE(log.messages().empty());
    EXPECT_EQ(first, log.messages().front());
    EXPECT_EQ(0U, countOf(cam));
}

TEST_F(BCAMAcquisitionTest, startAndStopRefuseTheWrongState)
{
    IEEE1394Camera& cam = camera();
    EXPECT_EQ("camera not acquiring", errorOf([&] { cam.stopAcquisition(); }));
    cam.startAcquisition();
    EXPECT_EQ("camera already acquiring", errorOf([&] { cam.startAcquisition(); }));
    cam.stopAcquisition();
}

TEST_F(BCAMAcquisitionTest, eachStartStepFailureHasItsMessageAndStopRecovers)
{
    IEEE1394Camera& cam = camera();
    const int busy = static_cast<int>(orvex::bcam::error::kBusy);

    const std::string description = "The request is not allowed while the camera transfers images.\r\n";
    world().faults().failNext("AllocateResources", 1, busy, kA312fSerial);
    std::string message = errorOf([&] { cam.startAcquisition(); });
    EXPECT_EQ("Error in BCAMCamera::startAcquisition, while allocating resources:" + description, message);
    EXPECT_FALSE(cam.isAcquisitionStarted());

    const std::pair<const char*, const char*> steps[] = {
        {"ContinuousShot", "Error in BCAMCamera::startAcquisition, while switching to continuous shot:"},
        {"GrabImageAsync", "Error in BCAMCamera::startAcquisition, while requesting async image grab:"},
    };
    for (const auto& [request, text] : steps) {
        SCOPED_TRACE(request);
        world().faults().failNext(request, 1, busy, kA312fSerial);
        message = errorOf([&] { cam.startAcquisition(); });
        EXPECT_EQ(text + description, message);
        EXPECT_TRUE(cam.isAcquisitionStarted());
        EXPECT_EQ("", errorOf([&] { cam.stopAcquisition(); }));
    }

    // And the camera acquires again.
    cam.startAcquisition();
    EXPECT_TRUE(waitForImages(cam, 3));
    cam.stopAcquisition();
}

TEST_F(BCAMAcquisitionTest, aStopStepFailureIsThrownAfterEveryStepRan)
{
    IEEE1394Camera& cam = camera();
    cam.startAcquisition();
    ASSERT_TRUE(waitForImages(cam, 2));
    world().faults().failNext("Cancel", 1, static_cast<int>(orvex::bcam::error::kBusy), kA312fSerial);
    EXPECT_EQ("error in BCAMCamera::stopAcquisition: \"The request is not allowed while the camera "
              "transfers images.\r\n",
              errorOf([&] { cam.stopAcquisition(); }));
    EXPECT_FALSE(cam.isAcquisitionStarted());
    // The resources were freed despite the failure: a new start allocates them.
    cam.startAcquisition();
    EXPECT_TRUE(waitForImages(cam, countOf(cam) + 2));
    cam.stopAcquisition();
}

TEST_F(BCAMAcquisitionTest, aBusFullOfOtherPacketsRefusesTheResourcesUntilThereIsRoom)
{
    IEEE1394VideoServer& server = serverWithCameras();
    IEEE1394Camera& a102f = server.getCamera(0);
    IEEE1394Camera& a312f = server.getCamera(1);
    for (IEEE1394Camera* cam : {&a312f, &a102f}) {
        cam->setImagesBufferMaxSize(10000);
        cam->setSize(640, 480); // smaller images: the test waits less
        cam->setNbBytesPerPacket(4096);
    }
    // Another node's stream leaves room for one of the two cameras' packets.
    orvex::sim::Bus& bus = *world().bus(kBcamBus);
    const uint32_t otherNode = bus.isoBandwidth() - 2 * 4096 + 4;
    ASSERT_TRUE(bus.reserveBandwidth(otherNode));

    a312f.startAcquisition();
    const std::string message = errorOf([&] { a102f.startAcquisition(); });
    EXPECT_EQ("Error in BCAMCamera::startAcquisition, while allocating resources:"
              "The bus has too little isochronous bandwidth left for the camera's packets.\r\n",
              message);
    EXPECT_FALSE(a102f.isAcquisitionStarted());
    EXPECT_EQ(otherNode + 4096, bus.bandwidthInUse()); // the refusal holds nothing

    // Smaller packets leave room for both, each on a channel of its own.
    a312f.stopAcquisition();
    EXPECT_EQ(otherNode, bus.bandwidthInUse());
    for (IEEE1394Camera* cam : {&a312f, &a102f})
        cam->setNbBytesPerPacket(2048);
    a312f.startAcquisition();
    a102f.startAcquisition();
    EXPECT_EQ(otherNode + 2 * 2048, bus.bandwidthInUse());
    const uint32_t channels[] = {cameraRegister(kA312fSerial, 0xF0F0060C) >> 28,
                                 cameraRegister(kA102fSerial, 0xF0F0060C) >> 28};
    EXPECT_NE(channels[0], channels[1]);
    EXPECT_TRUE(bus.isChannelAllocated(channels[0]) && bus.isChannelAllocated(channels[1]));
    EXPECT_TRUE(waitForImages(a312f, 3));
    EXPECT_TRUE(waitForImages(a102f, 3));
    a102f.stopAcquisition();
    a312f.stopAcquisition();
    EXPECT_FALSE(bus.isChannelAllocated(channels[0]) || bus.isChannelAllocated(channels[1]));
    bus.releaseBandwidth(otherNode);
}

TEST_F(BCAMAcquisitionTest, busResetsLoseTheImageOnTheWireAndTheStreamGoesOn)
{
    IEEE1394Camera& cam = camera();
    cam.startAcquisition();
    ASSERT_TRUE(waitForImages(cam, 2));
    orvex::sim::Bus& bus = *world().bus(kBcamBus);
    const uint32_t held = bus.bandwidthInUse();
    const std::function<void()> resets[] = {
        [&] { world().resetBus(kBcamBus); },
        [&] { world().addCamera(kBcamBus, "A102f", 0x102F77); }, // a plug resets the bus too
    };
    for (const auto& reset : resets) {
        const uint64_t dropped = orvex::sim::bcam::droppedImages(kA312fSerial);
        reset();
        EXPECT_TRUE(waitForImages(cam, countOf(cam) + 3));
        EXPECT_LT(dropped, orvex::sim::bcam::droppedImages(kA312fSerial));
        EXPECT_EQ(held, bus.bandwidthInUse());
        EXPECT_TRUE(cam.isAcquisitionStarted());
    }
    EXPECT_EQ("", errorOf([&] { cam.stopAcquisition(); }));
}

TEST_F(BCAMAcquisitionTest, aRestartAfterTheThreadEndedEarlyDeliversImages)
{
    IEEE1394Camera& cam = camera();
    // Four pixels and their chunks: not one or two bytes a pixel.
    cam.setSize(4, 1);
    ASSERT_TRUE(cam.enableSmartFeature(sf_extendedDataStream, true));
    ASSERT_TRUE(cam.enableSmartFeature(sf_cycleTimeStamp, true));
    orvex::test::LogCapture log("Orvex", log4cplus::ERROR_LOG_LEVEL);
    cam.startAcquisition();
    ASSERT_TRUE(pumpUntil([&] {
        const auto lines = log.messages();
        return std::find(lines.begin(), lines.end(), "unknown pixel format") != lines.end();
    }));
    pumpFor(std::chrono::milliseconds(100)); // a thread that went on would deliver meanwhile
    EXPECT_EQ("", errorOf([&] { cam.stopAcquisition(); }));
    EXPECT_EQ(0U, countOf(cam));

    cam.setSize(kWidth, kHeight);
    ASSERT_TRUE(cam.enableSmartFeature(sf_extendedDataStream, false));
    cam.startAcquisition();
    EXPECT_TRUE(waitForImages(cam, 3));
    cam.stopAcquisition();
    EXPECT_EQ(1U, images(cam).front()->getIdx());
}

class RemovalCallback : public CaptureDeviceChangedCB {
public:
    void onDeviceArrival(const std::string&, bool) override {}
    void onDeviceRemoval(const std::string& name, bool) override { removals.push_back(name); }
    std::vector<std::string> removals;
};

TEST_F(BCAMAcquisitionTest, anUnplugDuringAcquisitionIsReportedAndSurvived)
{
    IEEE1394VideoServer& server = createBCAMVideoServer(true);
    auto* removal = new RemovalCallback;
    server.setCaptureDeviceChangedCB(removal, true);
    // Capture was switched on before the cameras existed.
    server.reset(true);
    IEEE1394Camera& cam = server.getCamera(1);
    cam.setSize(kWidth, kHeight);
    cam.setImagesBufferMaxSize(10000);
    cam.startAcquisition();
    ASSERT_TRUE(waitForImages(cam, 3));

    const std::string path = pathOf(kA312fSerial);
    world().unplugCamera(kA312fSerial);
    ASSERT_TRUE(pumpUntil([&] { return !removal->removals.empty(); }));
    EXPECT_EQ(std::vector<std::string>{path}, removal->removals);
    EXPECT_TRUE(cam.isAcquisitionStarted());

    // Stopping an unplugged camera reports the driver's refusal but ends
    // the acquisition; the images received stay readable.
    EXPECT_EQ("error in BCAMCamera::stopAcquisition: \"The device is not connected.\r\n",
              errorOf([&] { cam.stopAcquisition(); }));
    EXPECT_FALSE(cam.isAcquisitionStarted());
    EXPECT_GE(countOf(cam), 3U);
    destroyVideoServer();
}

TEST_F(BCAMAcquisitionTest, destroyingTheServerStopsAnUnpluggedCameraStillAcquiring)
{
    IEEE1394Camera& cam = camera();
    IEEE1394Camera& other = videoServer().getCamera(0);
    other.setSize(kWidth, kHeight);
    cam.startAcquisition();
    other.startAcquisition();
    ASSERT_TRUE(waitForImages(cam, 2));
    world().unplugCamera(kA312fSerial);
    pumpFor(std::chrono::milliseconds(50));
    orvex::test::LogCapture log("Orvex", log4cplus::ERROR_LOG_LEVEL);
    destroyVideoServer(); // both cameras stop; nothing leaks, nothing is thrown
    EXPECT_FALSE(isVideoServerAllocated());
    // The driver's description follows the prefix, once.
    const std::string prefix = "Erreur dans le destructeur de BCAMCamera: ";
    const std::string description = "The device is not connected.\r\n";
    EXPECT_EQ(std::vector<std::string>{prefix + description}, log.messages());
}

} // namespace
} // namespace orvex::bcam::test
