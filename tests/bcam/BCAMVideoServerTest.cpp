// The BCAM video server: its factory and accessor refusals, enumeration and
// reset, device-change reports to the host's callback on the thread that
// pumps the server's window, and the stopwatch.
#include "bcam/BCAMFixture.h"

#include <orvex/FlyCapVideoServer.h>

#include <typeinfo>

namespace orvex::bcam::test {
namespace {

using orvex::test::errorOf;

class RecordingCallback : public CaptureDeviceChangedCB {
public:
    void onDeviceArrival(const std::string& name, bool flag) override
    {
        arrivals.push_back(name);
        flags.push_back(flag);
    }
    void onDeviceRemoval(const std::string& name, bool flag) override
    {
        removals.push_back(name);
        flags.push_back(flag);
    }
    std::vector<std::string> arrivals, removals;
    std::vector<bool> flags;
};

TEST_F(BCAMServerTest, factoryAndAccessorRefusals)
{
    EXPECT_EQ("video server not created", errorOf([] { bCAMVideoServer(); }));
    IEEE1394VideoServer& server = createBCAMVideoServer(false);
    EXPECT_EQ(&server, &bCAMVideoServer());
    EXPECT_EQ("video server already created", errorOf([] { createBCAMVideoServer(false); }));
    EXPECT_EQ("video server already created", errorOf([] { createFlyCapVideoServer(false); }));
    destroyVideoServer();

    createFlyCapVideoServer(false);
    EXPECT_THROW(bCAMVideoServer(), std::bad_cast);
    destroyVideoServer();

    // Again, once the other kind has gone.
    EXPECT_EQ("", errorOf([] { createBCAMVideoServer(true); }));
}

TEST_F(BCAMServerTest, camerasAreCountedOnlyAfterReset)
{
    IEEE1394VideoServer& server = createBCAMVideoServer(false);
    EXPECT_EQ("you must call reset before", errorOf([&] { server.getNbCameras(); }));
    server.reset(false);
    EXPECT_EQ(2, server.getNbCameras());
    EXPECT_EQ(0, server.getCamera(0).getPortIdx());
    EXPECT_EQ(1, server.getCamera(1).getPortIdx());
    EXPECT_EQ(4915U, server.getMaxPacketSz());

    world().unplugCamera(kA102fSerial);
    world().unplugCamera(kA312fSerial);
    server.reset(true);
    EXPECT_EQ(0, server.getNbCameras());
    std::set<CamGUID> guids{CamGUID(1, 2)};
    server.getCamsList(guids);
    EXPECT_TRUE(guids.empty());
}

TEST_F(BCAMServerTest, resetAfterAnUnplugDropsTheCamera)
{
    IEEE1394VideoServer& server = serverWithCameras();
    world().unplugCamera(kA102fSerial);
    server.reset(true);
    ASSERT_EQ(1, server.getNbCameras());
    EXPECT_EQ(camm_A312f, server.getCamera(0).getModel());
    EXPECT_FALSE(server.testCameraConnected(CamGUID(kA102fSerial, kBaslerIdentifierHigh)));
}

TEST_F(BCAMServerTest, arrivalAndRemovalReachTheHostOnThePumpingThread)
{
    IEEE1394VideoServer& server = createBCAMVideoServer(true);
    EXPECT_TRUE(server.isCapturingDeviceNotification());
    auto* callback = new RecordingCallback;
    server.setCaptureDeviceChangedCB(callback, true);

    const std::string path = pathOf(kA312fSerial);
    world().unplugCamera(kA312fSerial);
    ASSERT_TRUE(pumpUntil([&] { return !callback->removals.empty(); }));
    EXPECT_EQ(std::vector<std::string>{path}, callback->removals);

    world().plugCamera(kA312fSerial, kBcamBus);
    ASSERT_TRUE(pumpUntil([&] { return !callback->arrivals.empty(); }));
    EXPECT_EQ(std::vector<std::string>{pathOf(kA312fSerial)}, callback->arrivals);
    EXPECT_EQ(std::vector<bool>(2, false), callback->flags);

    // The server follows no change by itself: the host resets.
    EXPECT_EQ("you must call reset before", errorOf([&] { server.getNbCameras(); }));
}

TEST_F(BCAMServerTest, captureIsSwitchedOnlyWhileThereIsNoCamera)
{
    IEEE1394VideoServer& server = serverWithCameras(false);
    auto* callback = new RecordingCallback;
    server.setCaptureDeviceChangedCB(callback, true);
    server.captureDeviceNotification(true);
    EXPECT_FALSE(server.isCapturingDeviceNotification());
    world().unplugCamera(kA312fSerial);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(callback->removals.empty());

    // With no camera left after a reset it acts, and off again.
    world().unplugCamera(kA102fSerial);
    server.reset(false);
    server.captureDeviceNotification(true);
    EXPECT_TRUE(server.isCapturingDeviceNotification());
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    EXPECT_TRUE(GetClassInfoExA(nullptr, "BCAMVideoServerWndClass", &info));
    world().plugCamera(kA312fSerial, kBcamBus);
    ASSERT_TRUE(pumpUntil([&] { return callback->arrivals.size() == 1; }));
    server.captureDeviceNotification(false);
    EXPECT_FALSE(server.isCapturingDeviceNotification());
    EXPECT_FALSE(GetClassInfoExA(nullptr, "BCAMVideoServerWndClass", &info));
    world().plugCamera(kA102fSerial, kBcamBus);
    pumpFor(std::chrono::milliseconds(100));
    EXPECT_EQ(1U, callback->arrivals.size());
}

TEST_F(BCAMServerTest, aServerAfterACapturingOneStillHearsRemovals)
{
    createBCAMVideoServer(true);
    destroyVideoServer(); // gives its window's registration back
    IEEE1394VideoServer& server = createBCAMVideoServer(true);
    auto* callback = new RecordingCallback;
    server.setCaptureDeviceChangedCB(callback, true);
    world().unplugCamera(kA102fSerial);
    ASSERT_TRUE(pumpUntil([&] { return callback->removals.size() == 1; }));
}

TEST_F(BCAMServerTest, theChronoNeverGoesBack)
{
    IEEE1394VideoServer& server = createBCAMVideoServer(false);
    const double first = server.getChrono();
    const double second = server.getChrono();
    EXPECT_LE(0.0, first);
    EXPECT_LE(first, second);
    server.stopChrono();
    const double stopped = server.getChrono();
    EXPECT_LE(second, stopped);
    server.startChrono();
    EXPECT_LE(stopped, server.getChrono());
}

} // namespace
} // namespace orvex::bcam::test
