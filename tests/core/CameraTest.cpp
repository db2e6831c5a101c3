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
#include <iterator>

#include <string>

namespace {

using orvex::test::LogCapture;
using orvex::test::TestCamera;
using testing::ElementsAre;

using orvex::test::errorOf;

// What a back end that overrides none of the optional features answers; the
// BCAM back end relies on these.
TEST(CameraDefaults, FixedAnswersOfTheOptionalFeatures)
{
    TestCamera camera;
    EXPECT_EQ(1, static_cast<int>(camera.getDeviceClass()));
    EXPECT_EQ(0.0, camera.getShutterOffset());
    EXPECT_EQ(0u, camera.getNbStrobeOutputPorts());
    EXPECT_FALSE(camera.isStrobeOutputPortIdValid(0));
    EXPECT_FALSE(camera.isStrobeOutputFeatureSupported(0));
    EXPECT_FALSE(camera.isTriggerReadyFeatureSupported());
    EXPECT_FALSE(camera.isFrameRateFeatureAvailable());
    EXPECT_TRUE(camera.isTrigStatusChangeAllowedDuringAcq());
}

// Every operation of an optional feature the back end lacks refuses, with
// the text of its own, rather than doing nothing or answering something made up.
TEST(CameraDefaults, EveryUnsupportedOperationRefusesWithItsText)
{
    TestCamera camera;
    unsigned char byte = 0;
    const std::string strobe = "strobe output is not supported";
    const std::string frameRate = "frame rate feature not supported";
    const std::string autoExposure = "auto-exposure feature not supported";
    const std::pair<std::function<void()>, std::string> operations[] = {
        {[&] { camera.readUserMemory(0, &byte, 1); }, "no user memory available"},
        {[&] { camera.writeUserMemory(0, &byte, 1); }, "no user memory available"},
        {[&] { camera.getStrobeOutputPortId(17); }, "FlyCapCamera::getStrobeOutputPortId(17): invalid idx"},
        {[&] { camera.enableStrobeOutput(1, true); }, "stroube output is not supported"},
        {[&] { camera.enableStrobeOutput(1, true, true, 0, 0); }, strobe},
        {[&] { camera.isStrobeOutputEnabled(1); }, strobe},
        {[&] { camera.setStrobeOutputPolarity(1, true); }, strobe},
        {[&] { camera.getStrobeOutputPolarity(1); }, strobe},
        {[&] { camera.setStrobeOutputDelay(1, 5); }, strobe},
        {[&] { camera.getStrobeOutputDelay(1); }, strobe},
        {[&] { camera.setStrobeOutputDuration(1, 5); }, strobe},
        {[&] { camera.getStrobeOutputDuration(1); }, strobe},
        {[&] { camera.softwareTrigger(); }, "software trigger is not supported"},
        {[&] { camera.softwareTriggerBroadcast(); }, "software trigger broadcast is not supported"},
        {[&] { camera.isTriggerReady(); }, "trigger ready feature is not supported"},
        {[&] { camera.enableFrameRateFeature(true); }, frameRate},
        {[&] { camera.isFrameRateFeatureEnabled(); }, frameRate},
        {[&] { camera.setFrameRate(30.0); }, frameRate},
        {[&] { camera.getFrameRate(); }, frameRate},
        {[&] { camera.getFrameRateMin(); }, frameRate},
        {[&] { camera.getFrameRateMax(); }, frameRate},
        {[&] { camera.isAutoExposureFeatureSupported(); }, autoExposure},
        {[&] { camera.enableAutoExposureFeature(true); }, autoExposure},
        {[&] { camera.isAutoExposureFeatureEnabled(); }, autoExposure},
        {[&] { camera.getTemperature(); }, "temperature read operation not available"},
    };
    for (std::size_t i = 0; i < std::size(operations); ++i) {
        EXPECT_EQ(operations[i].second, errorOf(operations[i].first)) << "operation " << i;
    }
}

// Brightness and temperature defaults ask the support query each time: a
// back end that reports support but keeps the base getters gets 0.0, and
// the limits never come from another getter a back end may override.
class BrightnessOnlyCamera : public TestCamera {
public:
    explicit BrightnessOnlyCamera(bool supported) : _bSupported(supported) {}
    bool isBrightnessFeatureSupported() const override { return _bSupported; }
    bool isTemperatureAvailable() const override { return _bSupported; }
    double getBrightness() const override { return 42.0; }

private:
    bool _bSupported;
};

TEST(CameraDefaults, GuardedDefaultsFollowTheSupportQuery)
{
    const BrightnessOnlyCamera supporting(true);
    EXPECT_EQ(0.0, supporting.getBrightnessMin());
    EXPECT_EQ(0.0, supporting.getBrightnessMax());
    EXPECT_EQ(0.0, supporting.getTemperature());

    BrightnessOnlyCamera refusing(false);
    EXPECT_EQ("brightness feature not supported", errorOf([&] { refusing.getBrightnessMin(); }));
    EXPECT_EQ("brightness feature not supported", errorOf([&] { refusing.getBrightnessMax(); }));
    EXPECT_EQ("brightness feature not supported", errorOf([&] { refusing.setBrightness(1.0); }));

    TestCamera plain;
    EXPECT_EQ("brightness feature not supported", errorOf([&] { plain.getBrightness(); }));
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
