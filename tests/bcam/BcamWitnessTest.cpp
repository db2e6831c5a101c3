// What the BCAM camera asks of its driver, witnessed at the driver: the
// control code and sizes of every request, against the driver's table as
// written out here (never the code's own constants), and the message a new
// image posts to the host's window. No header the client and the driver
// share is included.
#include "sim/SimTestSupport.h"

#include <orvex/BCAMCamera.h>
#include <orvex/BCAMVideoServer.h>
#include <orvex/sim/BcamRequests.h>
#include <orvex/win32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <thread>
#include <vector>

namespace orvex::bcam::witness {
namespace {

using orvex::sim::bcam::ReceivedRequest;

struct Sizes {
    uint32_t in;
    uint32_t out;
};

// The driver's requests: code, bytes in, bytes out.
const std::map<uint32_t, Sizes> kRequests = {
    {0x80102004, {0, 4}},   {0x80102008, {4, 4}},  {0x8010200C, {8, 4}},  {0x80102010, {12, 0}},
    {0x80102018, {4, 256}}, {0x8010201C, {4, 56}}, {0x80102020, {24, 0}}, {0x80102024, {4, 16}},
    {0x80102028, {4, 4}},   {0x8010202C, {8, 0}},  {0x80102030, {4, 28}}, {0x8010203C, {8, 0}},
    {0x80102050, {4, 4}},   {0x80102054, {12, 0}}, {0x80102058, {8, 4}},  {0x80102064, {12, 12}},
    {0x8010206B, {0, 0}},   {0x8010206C, {8, 0}},  {0x80102070, {0, 12}}, {0x80102093, {0, 0}},
    {0x80103FC0, {8, 4}},   {0x80103FC4, {12, 0}},
};
// GrabImageAsync: nothing in, the image buffer out.
constexpr uint32_t kGrabImage = 0x80102041;
constexpr uint32_t kA312fSerial = 0x312F02;
constexpr int kWidth = 64;
constexpr int kHeight = 48;

// The camera's protected DCAM operations, reached by name.
struct Dcam : BCAMCamera {
    using BCAMCamera::getVideoFormat;
    using BCAMCamera::isVideoCfgSupported;
    using BCAMCamera::isVideoFormatSupported;
    using BCAMCamera::isVideoModeSupported;
    using BCAMCamera::setVideoCfg;
};

class BcamWitnessTest : public orvex::sim::test::FreshWorld {
protected:
    void SetUp() override
    {
        FreshWorld::SetUp();
        world().addBus(busAt(2, 5.0, 0.0, 400));
        world().addCamera(2, "A312f", kA312fSerial);
    }
    void TearDown() override
    {
        if (isVideoServerAllocated())
            destroyVideoServer();
        FreshWorld::TearDown();
    }

    static std::vector<ReceivedRequest> sent(const std::function<void()>& operation)
    {
        orvex::sim::bcam::startRecordingRequests();
        operation();
        return orvex::sim::bcam::stopRecordingRequests();
    }

    static BCAMCamera& initialisedCamera()
    {
        IEEE1394VideoServer& server = createBCAMVideoServer(false);
        server.reset(true);
        auto& cam = dynamic_cast<BCAMCamera&>(server.getCamera(0));
        cam.setSize(kWidth, kHeight);
        return cam;
    }

    static bool pumpUntil(const std::function<bool()>& done)
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done() && std::chrono::steady_clock::now() < limit) {
            MSG message{};
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return done();
    }
};

// Every request of `requests` has its code's sizes; a grab's output is one image.
void expectTableSizes(const std::vector<ReceivedRequest>& requests)
{
    for (const ReceivedRequest& r : requests) {
        SCOPED_TRACE(testing::Message() << std::hex << r.code);
        const auto entry = kRequests.find(r.code);
        const Sizes sizes = r.code == kGrabImage       ? Sizes{0, uint32_t(kWidth * kHeight)}
                            : entry != kRequests.end() ? entry->second
                                                       : Sizes{~0U, ~0U};
        EXPECT_EQ(sizes.in, r.inBytes);
        EXPECT_EQ(sizes.out, r.outBytes);
    }
}

TEST_F(BcamWitnessTest, eachOperationEndsWithItsOwnRequestOfTheTablesSizes)
{
    BCAMCamera* camera = nullptr;
    expectTableSizes(sent([&] { camera = &initialisedCamera(); }));
    BCAMCamera& cam = *camera;
    auto& dcam = static_cast<Dcam&>(cam);
    unsigned long value = 0;
    int w = 0, h = 0;
    const std::pair<uint32_t, std::function<void()>> cases[] = {
        {0x80102004, [&] { (dcam.*&Dcam::isVideoFormatSupported)(7); }},
        {0x80102008, [&] { (dcam.*&Dcam::isVideoModeSupported)(7, 0); }},
        {0x80102010, [&] { (dcam.*&Dcam::setVideoCfg)(7, 0, 0); }},
        {0x8010200C, [&] { (dcam.*&Dcam::isVideoCfgSupported)(7, 0, 0); }},
        {0x8010200C, [&] { (dcam.*&Dcam::isVideoCfgSupported)(0, 0, 0); }},
        // Index 7, the last an inquiry quadlet has a bit for, is asked too.
        {0x80102008, [&] { (dcam.*&Dcam::isVideoModeSupported)(7, 7); }},
        {0x8010200C, [&] { (dcam.*&Dcam::isVideoCfgSupported)(0, 7, 7); }},
        {0x80102018, [&] { cam.getVendorName(); }},
        {0x8010201C, [&] { cam.getUnitSize(w, h); }},
        {0x80102020, [&] { cam.setSize(kWidth, kHeight); }},
        {0x80102024, [&] { cam.getSize(w, h); }},
        {0x80102028, [&] { cam.getPixelFormat(); }},
        {0x8010202C, [&] { cam.setPixelFormat(pf_yMono16); }},
        {0x80102030, [&] { cam.getNbBytesPerPacket(); }},
        {0x80102050, [&] { cam.getShutterMax(); }},
        {0x80102054, [&] { cam.turnOnTrigger(false); }},
        {0x80102058, [&] { cam.getGain(gainsel_main); }},
        {0x8010206C, [&] { cam.setNbBytesPerPacket(cam.getUnitNbBytesPerPacket()); }},
        {0x80102070, [&] { (dcam.*&Dcam::getVideoFormat)(); }},
        {0x80102030, [&] { cam.getNbBytesPerFrame(value, value); }},
        {0x80103FC0, [&] { cam.readRegister(0xF0F00000, value); }},
        {0x80103FC4, [&] { cam.writeRegister(0xF0F00000, 0x80000000); }},
    };
    std::set<uint32_t> covered;
    for (const auto& [code, operation] : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << code);
        const std::vector<ReceivedRequest> requests = sent(operation);
        expectTableSizes(requests);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(code, requests.back().code);
        EXPECT_EQ(kA312fSerial, requests.back().serialNumber);
        covered.insert(code);
    }
    EXPECT_EQ(kRequests.size() - 4, covered.size()) << "all but start's and stop's, checked below";
    // A Format_7 configuration is asked with one three-argument inquiry.
    EXPECT_EQ(1U, sent([&] { (dcam.*&Dcam::isVideoCfgSupported)(7, 0, 3); }).size());
}

TEST_F(BcamWitnessTest, startAndStopSendTheirRequestsInOrder)
{
    BCAMCamera& cam = initialisedCamera();
    auto codes = [](const std::vector<ReceivedRequest>& requests) {
        std::vector<uint32_t> out;
        for (const ReceivedRequest& r : requests) {
            if (r.code != 0x80102030 && r.code != 0x80102024 && r.code != 0x80102070)
                out.push_back(r.code); // leaves out the frame-size reads
        }
        return out;
    };
    const std::vector<ReceivedRequest> start = sent([&] { cam.startAcquisition(); });
    expectTableSizes(start);
    EXPECT_EQ((std::vector<uint32_t>{0x80102064, 0x8010203C, kGrabImage, kGrabImage, kGrabImage, kGrabImage}),
              codes(start));
    const std::vector<ReceivedRequest> stop = sent([&] { cam.stopAcquisition(); });
    expectTableSizes(stop);
    EXPECT_EQ((std::vector<uint32_t>{0x8010203C, 0x80102093, 0x8010206B}), codes(stop));
}

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Posted> posted; // by the test thread's window

LRESULT CALLBACK recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= 0x8000)
        posted.push_back({message, wParam, lParam});
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(BcamWitnessTest, aNewImageIsAnnouncedToTheHostsWindowWithMessage0x8003)
{
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &recordingProcedure;
    windowClass.lpszClassName = "BcamWitnessWindow";
    ASSERT_NE(0, RegisterClassExA(&windowClass));
    HWND window = CreateWindowExA(0, "BcamWitnessWindow", "", WS_POPUP | WS_DISABLED, 0, 0, 0, 0, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    BCAMCamera& cam = initialisedCamera();
    cam.setNewImageNotifiedWnd(window, 77);
    posted.clear();
    cam.startAcquisition();
    EXPECT_TRUE(pumpUntil([] { return !posted.empty(); }));
    cam.stopAcquisition();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(0x8003U, posted.front().message);
    EXPECT_EQ(WPARAM(77), posted.front().wParam);
    EXPECT_EQ(LPARAM(0), posted.front().lParam);
    DestroyWindow(window);
    UnregisterClassA("BcamWitnessWindow", nullptr);
}

} // namespace
} // namespace orvex::bcam::witness
