// The FlyCapture video server over the simulated SDK, with the test thread as
// the host thread that owns the hidden windows and pumps their messages.
#include "SimulatedBuses.h"

#include "core/VideoServerRegistry.h"
#include "flycap/FlyCapCall.h"
#include "support/LogCapture.h"

#include <orvex/iidc/Registers.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace orvex::test;
namespace iidc = orvex::iidc;
namespace sim = orvex::sim;

namespace {

constexpr UINT kArrival = 0x8001;
constexpr UINT kRemoval = 0x8002;

std::string hostName(uint32_t serialNumber)
{
    return "0x" + CamGUID(serialNumber, 0).to_string();
}

// Records what the host hears, and on which thread. Called on the window's
// thread only, so it needs no lock (a call from elsewhere is a race that
// ThreadSanitizer reports).
class RecordingCallback : public CaptureDeviceChangedCB {
public:
    struct Event {
        std::string kind;
        std::string name;
        bool flag;
        std::thread::id thread;
        bool operator==(const Event& other) const
        {
            return kind == other.kind && name == other.name && flag == other.flag && thread == other.thread;
        }
    };

    void onDeviceArrival(const std::string& deviceName, bool flag) override
    {
        events.push_back({"arrival", deviceName, flag, std::this_thread::get_id()});
    }
    void onDeviceRemoval(const std::string& deviceName, bool flag) override
    {
        events.push_back({"removal", deviceName, flag, std::this_thread::get_id()});
    }

    std::vector<Event> events;
};

void PrintTo(const RecordingCallback::Event& event, std::ostream* out)
{
    *out << event.kind << " " << event.name << " flag " << event.flag
         << (event.thread == std::this_thread::get_id() ? " on this thread" : " on another thread");
}

RecordingCallback::Event arrival(uint32_t serialNumber)
{
    return {"arrival", hostName(serialNumber), false, std::this_thread::get_id()};
}

RecordingCallback::Event removal(uint32_t serialNumber)
{
    return {"removal", hostName(serialNumber), false, std::this_thread::get_id()};
}

// Reaches the server's protected members.
class ExposedServer : public FlyCapVideoServer {
public:
    using FlyCapVideoServer::busCallback;
    using FlyCapVideoServer::FlyCapVideoServer;
    using FlyCapVideoServer::removeCamera;
};

uint32_t serialOf(IEEE1394Camera& camera)
{
    return camera.getUniqueId().low();
}

class FlyCapVideoServerTest : public SimulatedBuses {
protected:
    // A server that captures device changes and reports them to `host`.
    IEEE1394VideoServer& startCapturing()
    {
        IEEE1394VideoServer& server = createFlyCapVideoServer(true);
        server.setCaptureDeviceChangedCB(&host, false);
        return server;
    }

    // Plugs cameras and waits until the host has heard each arrive, so that
    // no arrival is still on its way when the test starts; then forgets them.
    void plugAndSettle(int bus, const std::vector<std::pair<std::string, uint32_t>>& cameras)
    {
        for (const auto& [model, serialNumber] : cameras) {
            addCamera(bus, model, serialNumber);
        }
        ASSERT_TRUE(pumpUntil([&] { return host.events.size() >= cameras.size(); }));
        host.events.clear();
    }

    RecordingCallback host; // outlives the server: registered without ownership
};

} // namespace

TEST_F(FlyCapVideoServerTest, LivesOnceAtATimeAndCountsCamerasOnlyAfterReset)
{
    EXPECT_EQ("video server not created", errorOf([] { flyCapVideoServer(); }));
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    EXPECT_EQ(&server, &flyCapVideoServer());
    EXPECT_EQ("video server already created", errorOf([] { createFlyCapVideoServer(false); }));
    EXPECT_EQ("you must call reset before", errorOf([&] { server.getNbCameras(); }));
    server.reset(false);
    EXPECT_EQ(0, server.getNbCameras()) << "an empty bus";
    EXPECT_EQ(9830u, server.getMaxPacketSz());

    destroyVideoServer();
    EXPECT_NO_THROW(createFlyCapVideoServer(true));
}

TEST_F(FlyCapVideoServerTest, EnumerationLeavesOutCamerasThatFailAndKeepsThePortsOfTheOthers)
{
    addCamera(bus0, kGras20, 0x100); // port 0: its construction fails
    addCamera(bus0, kGras50, 0x101); // port 1
    sim::CameraConfig noFormat7 = modelConfig(kFlea2, 0x102);
    noFormat7.registerOverrides[iidc::kVideoFormatInquiry] = iidc::formatBit(0);
    world().addCamera(bus0, noFormat7); // port 2: its init fails
    const int bus1 = world().addBus();
    addCamera(bus1, kFlea2, 0x103); // port 3

    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    // The first camera's context is the next one created.
    world().faults().failNext("flycaptureCreateContext", 1, FLYCAPTURE_FAILED);
    server.reset(true);

    ASSERT_EQ(2, server.getNbCameras());
    EXPECT_EQ(0x101u, serialOf(server.getCamera(0)));
    EXPECT_EQ(1, server.getCamera(0).getPortIdx()) << "a camera keeps the port it was enumerated at";
    EXPECT_EQ(0x103u, serialOf(server.getCamera(1)));
    EXPECT_EQ(3, server.getCamera(1).getPortIdx());
    EXPECT_EQ("1", server.getCamera(1).getOwningBusId());
    EXPECT_EQ(&server.getCamera(1), &server.getCamera(CamGUID(0x103, 0))) << "the map holds list positions";
    EXPECT_TRUE(server.getCamera(0).isInitialized());
    EXPECT_FALSE(server.testCameraConnected(CamGUID(0x100, 0)));
    EXPECT_FALSE(server.testCameraConnected(CamGUID(0x102, 0)));

    // Without init, and without the fault, every camera is listed again.
    server.reset(false);
    ASSERT_EQ(4, server.getNbCameras());
    for (int position = 0; position < 4; ++position) {
        EXPECT_EQ(position, server.getCamera(position).getPortIdx());
        EXPECT_FALSE(server.getCamera(position).isInitialized());
    }
}

TEST_F(FlyCapVideoServerTest, AFailedEnumerationIsLoggedAndYieldsAnEmptyList)
{
    addCamera(bus0, kGras20, 0x110);
    addCamera(bus0, kGras50, 0x111);
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    world().faults().failNext("flycaptureBusEnumerateCamerasEx", 1, FLYCAPTURE_BUS_ERROR);
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);

    server.reset(true);

    EXPECT_EQ(0, server.getNbCameras());
    // Five entries per counted camera were offered; the SDK filled none.
    EXPECT_EQ(std::vector<std::string>{"Error calling flycaptureBusEnumerateCamerasEx(bufferSize=2); "
                                       "(nb cams finally found: 10 ): Bus transaction failed"},
              errors.messages());
}

TEST_F(FlyCapVideoServerTest, EveryContextIsClosedWithItsCameraAndTheServer)
{
    addCamera(bus0, kGras20, 0x120);
    addCamera(bus0, kFlea2, 0x121);
    {
        IEEE1394VideoServer& server = createFlyCapVideoServer(false); // loads the SDK
        server.reset(false);
        destroyVideoServer();
    }
    const unsigned contexts = liveSdkContexts();
    IEEE1394VideoServer& server = createFlyCapVideoServer(true);
    EXPECT_EQ(contexts + 1, liveSdkContexts());
    server.reset(false);
    server.reset(false);
    EXPECT_EQ(contexts + 3, liveSdkContexts()) << "a reset closes the contexts of the cameras it replaces";
    EXPECT_EQ(1u, sdkBusCallbacks());
    destroyVideoServer();
    EXPECT_EQ(contexts, liveSdkContexts());
    EXPECT_EQ(0u, sdkBusCallbacks()) << "the callback goes with the server's context";
}

TEST_F(FlyCapVideoServerTest, AFailedServerCallIsReportedFromTheServer)
{
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    world().faults().failNext("flycaptureBusCameraCount", 1, FLYCAPTURE_FAILED);
    try {
        server.reset(false);
        ADD_FAILURE() << "reset did not fail";
    } catch (const OrvexError& error) {
        EXPECT_EQ("Function failed", std::string(error.what()));
        EXPECT_EQ("FlyCapVideoServer", error.unit());
    }
}

TEST_F(FlyCapVideoServerTest, ArrivalAndRemovalReachTheHostOnTheWindowThread)
{
    IEEE1394VideoServer& server = startCapturing();
    plugAndSettle(bus0, {{kGras20, 0x200}});
    server.reset(true);
    ASSERT_EQ(1, server.getNbCameras());

    addCamera(bus0, kFlea2, 0x201);
    ASSERT_TRUE(waitUntilQueued(kArrival));
    EXPECT_TRUE(host.events.empty()) << "the SDK's thread only posts";
    ASSERT_TRUE(pumpUntil([&] { return host.events.size() == 1; }));
    EXPECT_EQ(arrival(0x201), host.events[0]);
    EXPECT_EQ(1, server.getNbCameras()) << "a new camera joins the list at the next reset";

    world().unplugCamera(0x200);
    ASSERT_TRUE(pumpUntil([&] { return host.events.size() == 2; }));
    EXPECT_EQ(removal(0x200), host.events[1]);
    EXPECT_EQ(0, server.getNbCameras());
    EXPECT_FALSE(server.testCameraConnected(CamGUID(0x200, 0)));

    // A camera that is not in the list leaves unnoticed; the next event
    // shows that its removal was handled in between.
    world().unplugCamera(0x201);
    addCamera(bus0, kGras50, 0x202);
    ASSERT_TRUE(pumpUntil([&] { return host.events.size() == 3; }));
    EXPECT_EQ(arrival(0x202), host.events[2]);
}

TEST_F(FlyCapVideoServerTest, AnArrivalOfAListedCameraIsStillReported)
{
    auto& server = static_cast<ExposedServer&>(orvex::VideoServerRegistry::create<ExposedServer>(true));
    server.setCaptureDeviceChangedCB(&host, false);
    plugAndSettle(bus0, {{kGras20, 0x310}});
    server.reset(false);
    ASSERT_TRUE(server.testCameraConnected(CamGUID(0x310, 0)));

    ExposedServer::busCallback(&server, 3, 0x310); // a bus reset makes the SDK report it again
    ASSERT_TRUE(pumpUntil([&] { return !host.events.empty(); }));
    EXPECT_EQ(std::vector<RecordingCallback::Event>{arrival(0x310)}, host.events);
    EXPECT_EQ(1, server.getNbCameras());
}

TEST_F(FlyCapVideoServerTest, BusEventsPostNothingWithoutAHostCallback)
{
    auto& server = static_cast<ExposedServer&>(orvex::VideoServerRegistry::create<ExposedServer>(true));
    server.reset(false);

    ExposedServer::busCallback(&server, 3, 0x300);
    ExposedServer::busCallback(&server, 4, 0x300);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, kArrival, kRemoval, PM_NOREMOVE));

    server.setCaptureDeviceChangedCB(&host, false);
    ExposedServer::busCallback(&server, 2, 0x300); // a bus reset is only logged
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, kArrival, kRemoval, PM_NOREMOVE));
    ExposedServer::busCallback(&server, 3, 0x300);
    ExposedServer::busCallback(&server, 4, 0x300); // not in the list: ignored
    pumpPending();
    ASSERT_EQ(1u, host.events.size());
    EXPECT_EQ(arrival(0x300), host.events[0]);
}

TEST_F(FlyCapVideoServerTest, ARetriedCallThatFailsTwiceGetsTheCameraRemoved)
{
    IEEE1394VideoServer& server = startCapturing();
    plugAndSettle(bus0, {{kGras20, 0x400}, {kFlea2, 0x401}});
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(CamGUID(0x400, 0));

    // One failure: logged once, the second attempt succeeds, nothing is posted.
    {
        LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
        failNext("flycaptureGetCustomImagePacketInfo", 1, FLYCAPTURE_BUS_ERROR, 0x400);
        EXPECT_NO_THROW(camera.setPixelFormat(pf_yMono16));
        const std::string expected =
            "cam guid #0x" + CamGUID(0x400, 0).to_string() +
            "; flycaptureGetCustomImagePacketInfo(_fcContext, 0, static_cast<unsigned long>(_xImgSz), "
            "static_cast<unsigned long>(_yImgSz), _fcPixFormat, &_fcPacketInfo): " +
            orvex::flycap::sdkErrorText(FLYCAPTURE_BUS_ERROR);
        EXPECT_EQ(std::vector<std::string>{expected}, errors.messages());
    }
    pumpPending();
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(2, server.getNbCameras());

    // Two failures: the error names the camera and the call, and the camera goes.
    failNext("flycaptureGetCustomImagePacketInfo", 2, FLYCAPTURE_DEVICE_REMOVED, 0x400);
    const std::string message = errorOf([&] { camera.setPixelFormat(pf_yMono); });
    EXPECT_EQ(0u, message.find("cam guid #0x" + CamGUID(0x400, 0).to_string() +
                               "; flycaptureGetCustomImagePacketInfo("))
        << message;
    EXPECT_NE(std::string::npos, message.find(orvex::flycap::sdkErrorText(FLYCAPTURE_DEVICE_REMOVED)));
    ASSERT_TRUE(pumpUntil([&] { return !host.events.empty(); }));
    EXPECT_EQ(std::vector<RecordingCallback::Event>{removal(0x400)}, host.events);
    ASSERT_EQ(1, server.getNbCameras());
    EXPECT_EQ(0x401u, serialOf(server.getCamera(0)));
}

TEST_F(FlyCapVideoServerTest, UserMemoryTransfersAreTriedThreeTimesBeforeTheCameraIsRemoved)
{
    IEEE1394VideoServer& server = startCapturing();
    plugAndSettle(bus0, {{kGras20, 0x410}, {kFlea2, 0x411}});
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(CamGUID(0x410, 0));
    const unsigned char data[3] = {1, 2, 3};

    failNext("flycaptureWriteRegisterBlock", 2, FLYCAPTURE_BUS_ERROR, 0x410);
    EXPECT_NO_THROW(camera.writeUserMemory(5, data, 3));
    pumpPending();
    EXPECT_TRUE(host.events.empty());

    const std::string guid = "cam guid #0x" + CamGUID(0x410, 0).to_string() + "; ";
    const std::string tail =
        "(_fcContext, 0xFFFF, static_cast<unsigned long>(nRegBlockOffset), oldData.get(), "
        "static_cast<unsigned long>(nRegBlockSz)): Bus transaction failed";
    failNext("flycaptureReadRegisterBlock", 3, FLYCAPTURE_BUS_ERROR, 0x410);
    EXPECT_EQ(guid + "flycaptureReadRegisterBlock" + tail,
              errorOf([&] { camera.writeUserMemory(5, data, 3); }));
    ASSERT_TRUE(pumpUntil([&] { return !host.events.empty(); }));
    EXPECT_EQ(std::vector<RecordingCallback::Event>{removal(0x410)}, host.events);
    EXPECT_EQ(1, server.getNbCameras());

    // The write back fails for good: thrown, not swallowed.
    IEEE1394Camera& other = server.getCamera(CamGUID(0x411, 0));
    failNext("flycaptureWriteRegisterBlock", 3, FLYCAPTURE_BUS_ERROR, 0x411);
    EXPECT_EQ("cam guid #0x" + CamGUID(0x411, 0).to_string() + "; flycaptureWriteRegisterBlock" + tail,
              errorOf([&] { other.writeUserMemory(5, data, 3); }));
    ASSERT_TRUE(pumpUntil([&] { return host.events.size() == 2; }));
    EXPECT_EQ(removal(0x411), host.events[1]);
    EXPECT_EQ(0, server.getNbCameras());
}

TEST_F(FlyCapVideoServerTest, RegisterAccessFailuresAreRetriedOnceAndRemoveNoCamera)
{
    IEEE1394VideoServer& server = startCapturing();
    plugAndSettle(bus0, {{kGras20, 0x420}});
    server.reset(true);
    IEEE1394Camera& camera = server.getCamera(0);

    failNext("flycaptureGetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x420);
    unsigned long value = 0;
    EXPECT_EQ("Error in FlyCapCamera::readRegister(0xf0f00830): " +
                  orvex::flycap::sdkErrorText(FLYCAPTURE_BUS_ERROR),
              errorOf([&] { camera.readRegister(0xF0F00830, value); }));
    failNext("flycaptureSetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x420);
    EXPECT_EQ("Error in FlyCapCamera::writeRegister(0xf0f00830, 0x82000000): " +
                  orvex::flycap::sdkErrorText(FLYCAPTURE_BUS_ERROR),
              errorOf([&] { camera.writeRegister(0xF0F00830, 0x82000000); }));

    // Plugging a camera is a later event: once it is heard, any removal
    // posted before it would have been handled.
    addCamera(bus0, kFlea2, 0x421);
    ASSERT_TRUE(pumpUntil([&] { return !host.events.empty(); }));
    EXPECT_EQ(std::vector<RecordingCallback::Event>{arrival(0x421)}, host.events);
    EXPECT_EQ(1, server.getNbCameras());
}

TEST_F(FlyCapVideoServerTest, NotificationsStillQueuedWhenTheServerDiesReachNobody)
{
    IEEE1394VideoServer& server = startCapturing();
    plugAndSettle(bus0, {{kGras20, 0x500}});
    server.reset(true);

    addCamera(bus0, kFlea2, 0x501);
    ASSERT_TRUE(waitUntilQueued(kArrival));
    world().unplugCamera(0x500);
    ASSERT_TRUE(waitUntilQueued(kRemoval));
    destroyVideoServer();
    pumpPending();

    EXPECT_TRUE(host.events.empty());
}

TEST_F(FlyCapVideoServerTest, CaptureSwitchesTheServerWindowAndItsClass)
{
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    WNDCLASSEXA wndClass = {};
    wndClass.cbSize = sizeof wndClass;
    EXPECT_FALSE(GetClassInfoExA(nullptr, "FlyCapVideoServerWndClass", &wndClass));

    server.captureDeviceNotification(true);
    server.captureDeviceNotification(true);
    EXPECT_TRUE(server.isCapturingDeviceNotification());
    EXPECT_TRUE(GetClassInfoExA(nullptr, "FlyCapVideoServerWndClass", &wndClass));
    EXPECT_EQ(1u, sdkBusCallbacks());

    server.captureDeviceNotification(false);
    EXPECT_FALSE(server.isCapturingDeviceNotification());
    EXPECT_EQ(0u, sdkBusCallbacks()) << "the SDK's bus callback is removed";
    EXPECT_FALSE(GetClassInfoExA(nullptr, "FlyCapVideoServerWndClass", &wndClass));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST), GetLastError());

    // Off: a camera that leaves is not reported, and stays listed.
    addCamera(bus0, kGras20, 0x600);
    server.setCaptureDeviceChangedCB(&host, false);
    server.reset(false);
    world().unplugCamera(0x600);
    pumpPending();
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(1, server.getNbCameras());
}

TEST_F(FlyCapVideoServerTest, CaptureStaysSwitchedOnWhenTheSdkRefusesTheCallback)
{
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    world().faults().failNext("flycaptureModifyCallback", 1, FLYCAPTURE_FAILED);
    EXPECT_EQ("Function failed", errorOf([&] { server.captureDeviceNotification(true); }));
    EXPECT_TRUE(server.isCapturingDeviceNotification()) << "recorded before the SDK was asked";
    server.captureDeviceNotification(true); // already on: the SDK is not asked again
    EXPECT_EQ(0u, sdkBusCallbacks());
}

TEST_F(FlyCapVideoServerTest, RemovingAnUnknownCameraNamesTheConnectedOnes)
{
    ExposedServer server(false);
    CamGUID unknown(0x999, 0);
    EXPECT_EQ("FlyCapVideoServer::removeCamera: " + unknown.to_string() +
                  " not found among connected cameras (no camera connected at all)",
              errorOf([&] { server.removeCamera(unknown); }));

    addCamera(bus0, kGras20, 0x702);
    addCamera(bus0, kGras50, 0x701);
    server.reset(false);
    EXPECT_EQ("FlyCapVideoServer::removeCamera: " + unknown.to_string() +
                  " not found among connected cameras(connected cameras: " + CamGUID(0x701, 0).to_string() +
                  "," + CamGUID(0x702, 0).to_string() + ",)",
              errorOf([&] { server.removeCamera(unknown); }));

    CamGUID first(0x702, 0);
    server.removeCamera(first);
    ASSERT_EQ(1, server.getNbCameras());
    EXPECT_EQ(1, server.getCamera(0).getPortIdx()) << "the list closes up, the port stays";
    EXPECT_EQ(&server.getCamera(0), &server.getCamera(CamGUID(0x701, 0)));
}

TEST_F(FlyCapVideoServerTest, TheChronoRunsFromConstructionUntilStopped)
{
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    ASSERT_TRUE(pumpUntil([&] { return server.getChrono() > 0.0; })) << "started by the constructor";
    server.stopChrono();
    const double stopped = server.getChrono();
    EXPECT_EQ(stopped, server.getChrono()) << "a stopped stopwatch adds nothing";
    server.startChrono();
    EXPECT_TRUE(pumpUntil([&] { return server.getChrono() > stopped; }));
}

TEST_F(FlyCapVideoServerTest, TheChronoIsSharedSafelyWithOtherThreads)
{
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    auto readMany = [&server] {
        double previous = 0.0;
        for (int i = 0; i < 2000; ++i) {
            const double now = server.getChrono();
            EXPECT_GE(now, previous);
            previous = now;
        }
    };
    std::thread other(readMany);
    readMany();
    other.join();
}
