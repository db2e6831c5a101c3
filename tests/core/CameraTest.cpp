// What every camera gets from the base class: refusals of the optional
// features a back end does not override, callback ownership, and the
// images-buffer delegation with its log lines.
#include "core/support/TestCamera.h"
#include "support/ErrorOf.h"
#include "support/LogCapture.h"

#include <orvex/ImageSample.h>
#include <orvex/ImagesBuffer.h>
#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>

#include <boost/make_shared.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using orvex::test::LogCapture;
using orvex::test::TestCamera;
using testing::ElementsAre;

using orvex::test::errorOf;

TEST(CameraDefaults, UnsupportedFeaturesAreRefusedWithTheirMessages)
{
    TestCamera camera;
    unsigned char byte = 0;
    const std::vector<std::pair<std::function<void()>, std::string>> refusals = {
        {[&] { camera.setBrightness(1.0); }, "brightness feature not supported"},
        {[&] { camera.getBrightness(); }, "brightness feature not supported"},
        {[&] { camera.getBrightnessMin(); }, "brightness feature not supported"},
        {[&] { camera.getBrightnessMax(); }, "brightness feature not supported"},
        {[&] { camera.getTemperature(); }, "temperature read operation not available"},
        {[&] { camera.readUserMemory(0, &byte, 1); }, "no user memory available"},
        {[&] { camera.writeUserMemory(0, &byte, 1); }, "no user memory available"},
        {[&] { camera.getStrobeOutputPortId(0); }, "FlyCapCamera::getStrobeOutputPortId(0): invalid idx"},
        {[&] { camera.getStrobeOutputPortId(17); }, "FlyCapCamera::getStrobeOutputPortId(17): invalid idx"},
        {[&] { camera.isStrobeOutputEnabled(1); }, "strobe output is not supported"},
        {[&] { camera.enableStrobeOutput(1, true, true, 0, 0); }, "strobe output is not supported"},
        {[&] { camera.enableStrobeOutput(1, true); }, "stroube output is not supported"},
        {[&] { camera.setStrobeOutputPolarity(1, true); }, "strobe output is not supported"},
        {[&] { camera.getStrobeOutputPolarity(1); }, "strobe output is not supported"},
        {[&] { camera.setStrobeOutputDelay(1, 5); }, "strobe output is not supported"},
        {[&] { camera.getStrobeOutputDelay(1); }, "strobe output is not supported"},
        {[&] { camera.setStrobeOutputDuration(1, 5); }, "strobe output is not supported"},
        {[&] { camera.getStrobeOutputDuration(1); }, "strobe output is not supported"},
        {[&] { camera.softwareTrigger(); }, "software trigger is not supported"},
        {[&] { camera.softwareTriggerBroadcast(); }, "software trigger broadcast is not supported"},
        {[&] { camera.isTriggerReady(); }, "trigger ready feature is not supported"},
        {[&] { camera.enableFrameRateFeature(true); }, "frame rate feature not supported"},
        {[&] { camera.isFrameRateFeatureEnabled(); }, "frame rate feature not supported"},
        {[&] { camera.setFrameRate(30.0); }, "frame rate feature not supported"},
        {[&] { camera.getFrameRate(); }, "frame rate feature not supported"},
        {[&] { camera.getFrameRateMin(); }, "frame rate feature not supported"},
        {[&] { camera.getFrameRateMax(); }, "frame rate feature not supported"},
        {[&] { camera.isAutoExposureFeatureSupported(); }, "auto-exposure feature not supported"},
        {[&] { camera.enableAutoExposureFeature(true); }, "auto-exposure feature not supported"},
        {[&] { camera.isAutoExposureFeatureEnabled(); }, "auto-exposure feature not supported"},
    };
    for (const auto& refusal : refusals) {
        EXPECT_EQ(refusal.second, errorOf(refusal.first));
    }
}

// A back end that reports brightness and temperature but keeps the base
// getters gets the base's neutral answers instead of refusals.
class SupportingCamera : public TestCamera {
public:
    bool isBrightnessFeatureSupported() const override { return true; }
    bool isTemperatureAvailable() const override { return true; }
};

TEST(CameraDefaults, GuardedDefaultsFollowTheSupportQuery)
{
    SupportingCamera camera;
    EXPECT_NO_THROW(camera.setBrightness(3.0));
    EXPECT_EQ(0.0, camera.getBrightness());
    EXPECT_EQ(0.0, camera.getBrightnessMax());
    EXPECT_EQ(0.0, camera.getTemperature());
}

// Counts its own destruction.
class CountingCB : public ImageCB {
public:
    explicit CountingCB(int& deletions) : _deletions(deletions) {}
    ~CountingCB() override { ++_deletions; }
    void onNewImage() override {}

private:
    int& _deletions;
};

TEST(ImageCallback, OwnedCallbacksAreDeletedOnReplacementOnly)
{
    int deletedA = 0;
    int deletedB = 0;
    auto* a = new CountingCB(deletedA);
    CountingCB b(deletedB);
    {
        TestCamera camera;
        camera.setImageCB(a, true);
        EXPECT_EQ(&camera, a->getCamera());
        camera.setImageCB(a, true); // registering it again keeps it
        EXPECT_EQ(0, deletedA);
        camera.setImageCB(&b, false);
        EXPECT_EQ(1, deletedA);
        EXPECT_EQ(&b, camera.getImageCB());
        EXPECT_EQ(&camera, b.getCamera());
    }
    EXPECT_EQ(0, deletedB);
    EXPECT_EQ(nullptr, b.getCamera()); // the dead camera is forgotten
}

TEST(ImageCallback, TheCameraDeletesTheCallbackItOwns)
{
    int deleted = 0;
    {
        TestCamera camera;
        camera.setImageCB(new CountingCB(deleted), true);
    }
    EXPECT_EQ(1, deleted);

    int kept = 0;
    CountingCB notOwned(kept);
    {
        TestCamera camera;
        camera.setImageCB(&notOwned, false);
        camera.setImageCB(nullptr, true);
        EXPECT_EQ(nullptr, notOwned.getCamera());
    }
    EXPECT_EQ(0, kept);
}

boost::shared_ptr<ImageSample> sampleWithIndex(unsigned long index)
{
    auto sample = boost::make_shared<ImageSample>();
    sample->setIdx(index);
    return sample;
}

TEST(ImagesBufferDelegation, ImagesFlowThroughTheCameraWithTheirLogLines)
{
    TestCamera camera(CamGUID(1, 0), 4);
    for (unsigned long index = 10; index <= 13; ++index) {
        camera.imagesBuffer().addImage(sampleWithIndex(index));
    }
    EXPECT_EQ(3, camera.getImagesBufferMaxSize());

    LogCapture main(g_OrvexLogger, log4cplus::TRACE_LOG_LEVEL);
    LogCapture stream(g_OrvexStreamLogger, log4cplus::TRACE_LOG_LEVEL);
    camera.lockImagesBuffer();
    EXPECT_EQ(3u, camera.getImagesBufferSize());
    EXPECT_EQ(13u, camera.getImagesBufferContent(0)->getIdx());
    EXPECT_EQ(12u, camera.captureImage(12)->getIdx());
    EXPECT_TRUE(camera.isImageCaptured());
    EXPECT_EQ(12u, camera.getCapturedImage()->getIdx());
    camera.releaseImage();
    camera.unlockImagesBuffer();

    EXPECT_THAT(main.messages(), testing::Contains("IEEE1394Camera::lockImagesBuffer; port 4"));
    EXPECT_THAT(stream.messages(), ElementsAre("IEEE1394Camera::captureImage 12; nPortIdx = 4",
                                               "IEEE1394Camera::releaseImage; nPortIdx = 4"));
}

TEST(ImagesBufferDelegation, BufferRefusalsPassThroughUnchanged)
{
    TestCamera camera;
    EXPECT_EQ("you must lock buffer before invoking this method", errorOf([&] { camera.captureImage(1); }));
    EXPECT_EQ("no image captured", errorOf([&] { camera.releaseImage(); }));
    EXPECT_EQ("buffer max size cannot equal 0", errorOf([&] { camera.setImagesBufferMaxSize(0); }));
    camera.setImagesBufferMaxSize(5);
    EXPECT_EQ(5, camera.getImagesBufferMaxSize());
}

} // namespace
