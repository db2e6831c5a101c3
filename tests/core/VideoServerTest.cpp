// The process-wide video server: its lifecycle through the factory pattern
// the back ends use, the camera lookups and their messages, and the
// ownership of the device-change callback.
#include "core/VideoServerRegistry.h"
#include "core/support/TestCamera.h"

#include <orvex/IEEE1394VideoServer.h>
#include <orvex/OrvexError.h>

#include "support/ErrorOf.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <typeinfo>
#include <vector>

namespace {

using orvex::VideoServerRegistry;
using orvex::test::TestCamera;

using orvex::test::errorOf;

// A back end whose "bus" is a list of identifiers the test sets.
class TestVideoServer : public IEEE1394VideoServer {
public:
    static std::vector<CamGUID> bus;
    static bool failConstruction;
    static int destroyed;

    explicit TestVideoServer(bool capture)
    {
        if (failConstruction) {
            throw std::runtime_error("no stack");
        }
        _bCapturingDeviceNotification = capture;
    }
    ~TestVideoServer() override
    {
        destroyAllCameras();
        ++destroyed;
    }

    void captureDeviceNotification(bool capture) override { _bCapturingDeviceNotification = capture; }
    void reset(bool initCameras) override
    {
        destroyAllCameras();
        std::vector<IEEE1394Camera*>& cameras = replaceCameraCollection();
        for (std::size_t i = 0; i < bus.size(); ++i) {
            cameras.push_back(new TestCamera(bus[i], static_cast<unsigned short>(i)));
            if (initCameras) {
                cameras.back()->init();
            }
        }
        updateMapGuidToPort();
    }
    int getNbCameras() override { return _pCamsColl ? static_cast<int>(_pCamsColl->size()) : 0; }
    void startChrono() override {}
    void stopChrono() override {}
    double getChrono() override { return 0.0; }
    void destroyAllCameras() override { IEEE1394VideoServer::destroyAllCameras(); }

    // Test hooks into the protected state.
    void clearSlot(std::size_t i)
    {
        delete (*_pCamsColl)[i];
        (*_pCamsColl)[i] = nullptr;
    }
    TestCamera& cameraAt(std::size_t i) { return static_cast<TestCamera&>(*(*_pCamsColl)[i]); }
    void refreshMap() { updateMapGuidToPort(); }
    CaptureDeviceChangedCB* callback() const { return getCaptureDeviceChangedCB(); }
};
std::vector<CamGUID> TestVideoServer::bus;
bool TestVideoServer::failConstruction = false;
int TestVideoServer::destroyed = 0;

class OtherVideoServer : public TestVideoServer {
public:
    using TestVideoServer::TestVideoServer;
};

class VideoServer : public testing::Test {
protected:
    void SetUp() override
    {
        TestVideoServer::bus.clear();
        TestVideoServer::failConstruction = false;
        TestVideoServer::destroyed = 0;
    }
    void TearDown() override
    {
        if (isVideoServerAllocated()) {
            destroyVideoServer();
        }
    }
    TestVideoServer& create(bool capture = false)
    {
        return static_cast<TestVideoServer&>(VideoServerRegistry::create<TestVideoServer>(capture));
    }
};

TEST_F(VideoServer, LifecycleThroughTheFactory)
{
    EXPECT_FALSE(isVideoServerAllocated());
    EXPECT_EQ("videoServer not allocated", errorOf([] { videoServer(); }));
    EXPECT_EQ("videoServer not allocated", errorOf([] { destroyVideoServer(); }));
    EXPECT_EQ("video server not created", errorOf([] { VideoServerRegistry::typed<TestVideoServer>(); }));

    TestVideoServer& server = create(true);
    EXPECT_TRUE(isVideoServerAllocated());
    EXPECT_EQ(&server, &videoServer());
    EXPECT_EQ(&server, &VideoServerRegistry::typed<TestVideoServer>());
    EXPECT_TRUE(server.isCapturingDeviceNotification());
    EXPECT_EQ("video server already created",
              errorOf([] { VideoServerRegistry::create<TestVideoServer>(false); }));

    destroyVideoServer();
    EXPECT_EQ(1, TestVideoServer::destroyed);
    EXPECT_FALSE(isVideoServerAllocated());
    create(false); // and again
    EXPECT_TRUE(isVideoServerAllocated());
}

TEST_F(VideoServer, AFailingConstructorLeavesNoServer)
{
    TestVideoServer::failConstruction = true;
    EXPECT_THROW(create(), std::runtime_error);
    EXPECT_FALSE(isVideoServerAllocated());
    TestVideoServer::failConstruction = false;
    EXPECT_NO_THROW(create());
}

TEST_F(VideoServer, TypedAccessOfAnotherBackEndIsABadCast)
{
    VideoServerRegistry::create<TestVideoServer>(false);
    EXPECT_THROW(VideoServerRegistry::typed<OtherVideoServer>(), std::bad_cast);
}

TEST_F(VideoServer, LookupsByPosition)
{
    TestVideoServer& server = create();
    EXPECT_EQ("you must call refreshCamsList before", errorOf([&] { server.getCamera(0); }));
    EXPECT_EQ(4915u, server.getMaxPacketSz());

    TestVideoServer::bus = {CamGUID(7, 0), CamGUID(8, 0)};
    server.reset(false);
    EXPECT_EQ(CamGUID(8, 0), server.getCamera(1).getUniqueId());
    EXPECT_EQ("invalid port idx", errorOf([&] { server.getCamera(-1); }));
    EXPECT_EQ("invalid port idx", errorOf([&] { server.getCamera(2); }));
    server.clearSlot(0);
    EXPECT_EQ("camera not created", errorOf([&] { server.getCamera(0); }));
}

TEST_F(VideoServer, UnknownIdentifierNamesTheConnectedCamerasInOrder)
{
    TestVideoServer& server = create();
    const CamGUID unknown(0x99, 0x99);
    server.reset(false);
    EXPECT_EQ(unknown.to_string() + " not found among connected cameras (no camera connected at all)",
              errorOf([&] { server.getCamera(unknown); }));

    // Enumeration order is not identifier order: the high word ranks first.
    const CamGUID a(0xFFFFFFFF, 0x1);
    const CamGUID b(0x00000001, 0x2);
    const CamGUID c(0x00000002, 0x1);
    TestVideoServer::bus = {b, a, c};
    server.reset(false);
    EXPECT_EQ(unknown.to_string() + " not found among connected cameras(connected cameras: " + c.to_string() +
                  "," + a.to_string() + "," + b.to_string() + ",)",
              errorOf([&] { server.getCamera(unknown); }));

    std::set<CamGUID> list = {unknown};
    server.getCamsList(list);
    EXPECT_EQ((std::vector<CamGUID>{c, a, b}), std::vector<CamGUID>(list.begin(), list.end()));
}

TEST_F(VideoServer, LookupByIdentifier)
{
    TestVideoServer& server = create();
    TestVideoServer::bus = {CamGUID(5, 0), CamGUID(6, 0)};
    server.reset(true);
    EXPECT_TRUE(server.testCameraConnected(CamGUID(6, 0)));
    EXPECT_FALSE(server.testCameraConnected(CamGUID(6, 1)));
    IEEE1394Camera& camera = server.getCamera(CamGUID(6, 0));
    EXPECT_EQ(1, camera.getPortIdx());
    EXPECT_TRUE(camera.isInitialized());

    // A camera whose identifier changed behind the map's back is refused.
    server.cameraAt(1).setGuid(CamGUID(6, 9));
    EXPECT_EQ("guids collection of videoServer badly updated",
              errorOf([&] { server.getCamera(CamGUID(6, 0)); }));
}

TEST_F(VideoServer, DuplicateIdentifiersKeepTheirLowestPosition)
{
    TestVideoServer& server = create();
    TestVideoServer::bus = {CamGUID(1, 0), CamGUID(2, 0), CamGUID(1, 0)};
    server.reset(false);
    EXPECT_EQ(0, server.getCamera(CamGUID(1, 0)).getPortIdx());

    // Null slots are skipped.
    server.clearSlot(0);
    server.refreshMap();
    EXPECT_EQ(2, server.getCamera(CamGUID(1, 0)).getPortIdx());
}

TEST_F(VideoServer, DestroyAllCamerasEmptiesCollectionAndMap)
{
    TestVideoServer& server = create();
    TestVideoServer::bus = {CamGUID(1, 0), CamGUID(2, 0)};
    server.reset(false);
    server.destroyAllCameras();
    EXPECT_EQ(0, server.getNbCameras());
    EXPECT_FALSE(server.testCameraConnected(CamGUID(1, 0)));
    EXPECT_EQ("invalid port idx", errorOf([&] { server.getCamera(0); }));
    server.destroyAllCameras(); // nothing left: nothing happens
}

class CountingDeviceCB : public CaptureDeviceChangedCB {
public:
    explicit CountingDeviceCB(int& deletions) : _deletions(deletions) {}
    ~CountingDeviceCB() override { ++_deletions; }
    void onDeviceArrival(const std::string&, bool) override {}
    void onDeviceRemoval(const std::string&, bool) override {}

private:
    int& _deletions;
};

TEST_F(VideoServer, DeviceCallbackOwnership)
{
    int deletedA = 0;
    int deletedB = 0;
    CountingDeviceCB a(deletedA);
    TestVideoServer& server = create();
    server.setCaptureDeviceChangedCB(&a, false);
    auto* b = new CountingDeviceCB(deletedB);
    server.setCaptureDeviceChangedCB(b, true);
    EXPECT_EQ(0, deletedA);
    server.setCaptureDeviceChangedCB(b, true); // the same one again is kept
    EXPECT_EQ(0, deletedB);
    EXPECT_EQ(b, server.callback());
    destroyVideoServer();
    EXPECT_EQ(1, deletedB);
    EXPECT_EQ(0, deletedA);
}

} // namespace
