// The tool's settings on a BCAM camera that is acquiring (the viewer's
// inputs): the camera sizes its images at the start, so a new region must
// reach the images that follow, and the tool must say what it did.
#include "BusBudget.h"
#include "Settings.h"
#include "bcam/BCAMFixture.h"

#include <orvex/ImageSample.h>

#include <boost/shared_ptr.hpp>

#include <string>
#include <utility>

namespace orvex::bcam::test {
namespace {

using orvex::cli::applySettings;
using orvex::cli::CameraSettings;
using orvex::cli::fitPacketsToBuses;
using orvex::cli::RegionSetting;
using orvex::cli::SettingLimitError;

// The size of the newest image once one of `width` x `height` arrived, or
// of the newest when none does within the pump's limit.
std::pair<int, int> newestSizeAfterWaitingFor(IEEE1394Camera& camera, int width, int height)
{
    std::pair<int, int> newest{0, 0};
    pumpUntil([&] {
        camera.lockImagesBuffer();
        if (camera.getImagesBufferSize() > 0) {
            const IImage* image = camera.getImagesBufferContent(0)->getImage();
            newest = {image->size().width, image->size().height};
        }
        camera.unlockImagesBuffer();
        return newest == std::make_pair(width, height);
    });
    return newest;
}

class SettingsWhileAcquiring : public BCAMServerTest {};

TEST_F(SettingsWhileAcquiring, ANewRegionReachesTheImagesThatFollowAndTheToolSaysHow)
{
    serverWithCameras();
    IEEE1394Camera& camera = cameraOf(kA312fSerial);
    CameraSettings small;
    small.region = RegionSetting{0, 0, 64, 48};
    ASSERT_TRUE(applySettings(camera, small).empty()) << "a stopped camera needs no restart";
    camera.startAcquisition();
    ASSERT_EQ(std::make_pair(64, 48), newestSizeAfterWaitingFor(camera, 64, 48));

    CameraSettings larger;
    larger.region = RegionSetting{2, 2, 128, 96};
    const std::vector<std::string> notes = applySettings(camera, larger);
    ASSERT_EQ(1u, notes.size());
    EXPECT_NE(std::string::npos, notes[0].find("stopped")) << notes[0];
    EXPECT_NE(std::string::npos, notes[0].find("started again")) << notes[0];
    EXPECT_TRUE(camera.isAcquisitionStarted());
    EXPECT_EQ(std::make_pair(128, 96), newestSizeAfterWaitingFor(camera, 128, 96));

    // A refused region leaves the camera acquiring as it was.
    CameraSettings empty;
    empty.region = RegionSetting{0, 0, 0, 0};
    EXPECT_THROW(applySettings(camera, empty), SettingLimitError);
    EXPECT_TRUE(camera.isAcquisitionStarted());
    camera.stopAcquisition();
}

// A camera started beside one already acquiring gets what the bus has left
// of its 4915 bytes per cycle, or, with its packet size kept, a refusal.
TEST_F(SettingsWhileAcquiring, ACameraStartedBesideAnAcquiringOneGetsWhatTheBusHasLeft)
{
    serverWithCameras();
    IEEE1394Camera& first = cameraOf(kA102fSerial);
    IEEE1394Camera& second = cameraOf(kA312fSerial);
    first.setNbBytesPerPacket(4096);
    second.setNbBytesPerPacket(4096);
    first.startAcquisition();
    const auto kept = fitPacketsToBuses(videoServer(), {&second}, true);
    ASSERT_EQ(1u, kept.problems.size());
    EXPECT_NE(std::string::npos, kept.problems[0].find("carries 4915 bytes per cycle, its cameras ask 8192"))
        << kept.problems[0];
    EXPECT_EQ(4096, second.getNbBytesPerPacket());

    const auto shared = fitPacketsToBuses(videoServer(), {&second}, false);
    EXPECT_TRUE(shared.problems.empty());
    EXPECT_LE(second.getNbBytesPerPacket(), 4915 - 4096);
    EXPECT_GT(second.getNbBytesPerPacket(), 4915 - 4096 - second.getUnitNbBytesPerPacket());
    second.startAcquisition();
    EXPECT_TRUE(second.isAcquisitionStarted());
    second.stopAcquisition();
    first.stopAcquisition();
}

} // namespace
} // namespace orvex::bcam::test
