// The controller works only with FlyCapture cameras: a camera of another
// back end is refused when the controller starts, and nothing is written.
#include "core/VideoServerRegistry.h"
#include "core/support/TestCamera.h"

#include <orvex/MultiSync.h>

#include "support/ErrorOf.h"

#include <gtest/gtest.h>

using orvex::test::errorOf;
using orvex::test::TestCamera;

namespace {

// A back end with two cameras of its own on one bus.
class OtherBackEndServer : public IEEE1394VideoServer {
public:
    explicit OtherBackEndServer(bool /*capture*/) {}
    ~OtherBackEndServer() override { destroyAllCameras(); }
    void captureDeviceNotification(bool /*capture*/) override {}
    void reset(bool /*initCameras*/) override
    {
        destroyAllCameras();
        std::vector<IEEE1394Camera*>& cameras = replaceCameraCollection();
        cameras.push_back(new TestCamera(CamGUID(1, 0), 0));
        cameras.push_back(new TestCamera(CamGUID(2, 0), 1));
        updateMapGuidToPort();
    }
    int getNbCameras() override { return _pCamsColl ? static_cast<int>(_pCamsColl->size()) : 0; }
    void startChrono() override {}
    void stopChrono() override {}
    double getChrono() override { return 0.0; }
    void destroyAllCameras() override { IEEE1394VideoServer::destroyAllCameras(); }
};

class CountingEvtCB : public MultiSyncEvtCB {
public:
    explicit CountingEvtCB(int& events) : _events(events) {}
    void onUpdateSyncRegistersSuccess() override { ++_events; }
    void onUpdateSyncRegistersFailure(const std::string& /*message*/) override { ++_events; }

private:
    int& _events;
};

} // namespace

TEST(MultiSyncBackEnd, CamerasOfAnotherBackEndAreRefusedAtStart)
{
    orvex::VideoServerRegistry::create<OtherBackEndServer>(false).reset(false);
    {
        MultiSync sync;
        int events = 0;
        sync.setEvtCB(new CountingEvtCB(events));
        sync.setCameras(CamGUID(1, 0), {CamGUID(2, 0)});
        EXPECT_TRUE(sync.areAllCamerasOnTheSameBus()) << "the bus query works with any back end";
        EXPECT_EQ("camera 0x" + CamGUID(1, 0).to_string() +
                      " is not a FlyCapture camera: MultiSync synchronises FlyCapture cameras only",
                  errorOf([&] { sync.start(); }));
        EXPECT_FALSE(sync.isStarted());
        EXPECT_EQ(0, events) << "nothing was tried";
    }
    destroyVideoServer();
}

TEST(MultiSyncBackEnd, StartWithoutAVideoServerIsRefused)
{
    MultiSync sync;
    sync.setCameras(CamGUID(1, 0), {CamGUID(2, 0)});
    EXPECT_EQ("videoServer not allocated", errorOf([&] { sync.start(); }));
    EXPECT_FALSE(sync.isStarted());
}
