// A FlyCapture camera over the simulated SDK: what init leaves behind and
// what it refuses, registers, user memory, identity and temperature.
#include "SimulatedBuses.h"

#include "flycap/FlyCapCall.h"
#include "support/LogCapture.h"

#include <orvex/ImagesBuffer.h>
#include <orvex/iidc/Registers.h>
#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
#include <orvex/win32_testing.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

using namespace orvex::test;
namespace iidc = orvex::iidc;
namespace sim = orvex::sim;

namespace {

class FlyCapCameraTest : public SimulatedBuses {};

} // namespace

TEST_F(FlyCapCameraTest, InitResetsAndPowersTheCameraThenSelectsFormat7Mode0AtFullSizeAndLargestPacket)
{
    // Where this model keeps its Format_7 mode 0 block: (quadlet offset x 4) | 0xF0000000.
    const unsigned long f7 = (readQuadlet(listOne(kGras50, 0x10, false), 0xF0F002E0) * 4) | 0xF0000000;
    sim::CameraConfig config = modelConfig(kGras50, 0x12);
    // Comes up switched off, in mode 3, with a small image away from the corner.
    config.registerOverrides[0xF0F00610] = 0;
    config.registerOverrides[0xF0F00604] = 3u << 29;
    config.registerOverrides[f7 + 0x08] = (16u << 16) | 8u;
    config.registerOverrides[f7 + 0x0C] = (640u << 16) | 480u;
    config.registerOverrides[f7 + 0x44] = (64u << 16) | 64u; // a small packet
    IEEE1394Camera& camera = listOne(config, false);
    camera.writeRegister(0xF0F011F8, 0x80000000); // GPIO pin 0 as output: INITIALIZE clears it

    LogCapture trace("Orvex", log4cplus::TRACE_LOG_LEVEL);
    camera.init();
    ASSERT_TRUE(camera.isInitialized());

    EXPECT_EQ(0ul, readQuadlet(camera, 0xF0F011F8)) << "camera initialise written";
    EXPECT_EQ(0x80000000ul, readQuadlet(camera, 0xF0F00610)) << "power on written after it";
    EXPECT_EQ(7ul, readQuadlet(camera, 0xF0F00608) >> 29) << "format 7";
    EXPECT_EQ(0ul, readQuadlet(camera, 0xF0F00604) >> 29) << "mode 0";
    EXPECT_EQ(0ul, readQuadlet(camera, f7 + 0x08)) << "image position";
    EXPECT_EQ((2448ul << 16) | 2048ul, readQuadlet(camera, f7 + 0x0C)) << "image size";
    EXPECT_EQ(static_cast<unsigned long>(camera.getMaxNbBytesPerPacket()),
              readQuadlet(camera, f7 + 0x44) >> 16)
        << "bytes per packet";

    int width = 0, height = 0, x = -1, y = -1;
    camera.getMaxSize(width, height);
    EXPECT_EQ(2448, width);
    EXPECT_EQ(2048, height);
    camera.getSize(width, height);
    EXPECT_EQ(2448, width);
    EXPECT_EQ(2048, height);
    camera.getPos(x, y);
    EXPECT_EQ(0, x);
    EXPECT_EQ(0, y);
    EXPECT_EQ(pf_yMono, camera.getPixelFormat());
    EXPECT_TRUE(camera.isPixelFormatSupported(pf_yMono16));
    EXPECT_GT(camera.getMinNbBytesPerPacket(), 0);
    EXPECT_EQ(camera.getMinNbBytesPerPacket(), camera.getUnitNbBytesPerPacket());
    EXPECT_EQ(camera.getMaxNbBytesPerPacket(), camera.getNbBytesPerPacket());
    unsigned long nbBytes = 0, second = 1;
    camera.getNbBytesPerFrame(nbBytes, second);
    EXPECT_EQ(2448ul * 2048 + 8192, nbBytes);
    EXPECT_EQ(0ul, second);

    // Mode 0 is also written explicitly (this camera would fall back to it
    // anyway); the frame-information items are read, and the strobe block is
    // located last, from its inquiry register.
    const auto lines = trace.messages();
    auto traced = [&lines](const std::string& text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&text](const std::string& line) { return line.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(traced("FlyCapCamera::writeRegister(nAddress=0xf0f00604, nValue=0x0);"));
    EXPECT_TRUE(traced("FlyCapCamera::updateFrameInfoFeatures();"));
    EXPECT_TRUE(traced("FlyCapCamera::readRegister(nAddress=0xf0f0048c, ...)"));
}

TEST_F(FlyCapCameraTest, InitLeavesTheTriggerOffOnTheRisingEdgeAndTheExposureReset)
{
    sim::CameraConfig config = modelConfig(kGras20, 0x11);
    // Comes up on the falling edge, switched on.
    config.registerOverrides[iidc::kTriggerMode] = iidc::kPresence | iidc::kTriggerOn;
    IEEE1394Camera& camera = listOne(config, true);

    const unsigned long mode = readQuadlet(camera, iidc::kTriggerMode);
    EXPECT_EQ(0ul, mode & iidc::kTriggerOn);
    EXPECT_NE(0ul, mode & iidc::kTriggerPolarity);
    EXPECT_FALSE(camera.isTriggerTurnedOn());
    EXPECT_TRUE(camera.getPolarity());
    EXPECT_EQ(camtm_exposureTimed, camera.getTriggerMode());
    EXPECT_TRUE(camera.isTriggerModeSupported(camtm_exposureTimed));
    EXPECT_TRUE(camera.isTriggerModeSupported(camtm_triggerWidth));
    EXPECT_FALSE(camera.isTriggerModeSupported(static_cast<CameraTriggerMode>(2)));

    EXPECT_EQ(0, camera.getGain(gainsel_main)) << "init sets 0 dB";
    EXPECT_EQ(0, camera.getDefaultGain());
    EXPECT_EQ(-19, camera.getGainMin(gainsel_main)) << "-2.0 dB: one tenth above the truncated minimum";
    EXPECT_EQ(240, camera.getGainMax(gainsel_main));
    EXPECT_EQ("invalid gainSelector", errorOf([&] { camera.getGain(static_cast<GainSelector>(1)); }));
    EXPECT_LE(camera.getShutterMin(), camera.getShutter());
    EXPECT_LE(camera.getShutter(), camera.getShutterMax());
    EXPECT_FALSE(camera.isAutoExposureFeatureEnabled());
    EXPECT_TRUE(camera.isBrightnessFeatureSupported());
    EXPECT_TRUE(camera.isFrameRateFeatureAvailable());
}

TEST_F(FlyCapCameraTest, InitRefusesCamerasItCannotDrive)
{
    struct Case {
        const char* what;
        std::function<void(sim::CameraConfig&)> change;
        const char* message;
    };
    const Case cases[] = {
        {"no format 7",
         [](sim::CameraConfig& c) { c.registerOverrides[iidc::kVideoFormatInquiry] = iidc::formatBit(0); },
         "format 7 not supported by this camera"},
        {"trigger mode 3 at power-up",
         [](sim::CameraConfig& c) {
             c.triggerModes = 0xF;
             c.registerOverrides[iidc::kTriggerMode] = iidc::kPresence | (3u << iidc::kTriggerModeShift);
         },
         "support for default trigger mode of this camera is not implemented yet"},
        {"no trigger", [](sim::CameraConfig& c) { c.trigger = false; },
         "trigger feature is not supported by this camera"},
    };
    uint32_t serialNumber = 0x20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::CameraConfig config = modelConfig(kFlea2, ++serialNumber);
        c.change(config);
        IEEE1394Camera& camera = listOne(config, false);
        EXPECT_EQ(c.message, errorOf([&] { camera.init(); }));
        if (std::string(c.message) == "format 7 not supported by this camera") {
            EXPECT_FALSE(camera.isInitialized());
            EXPECT_EQ("\"init\" method must be called before", errorOf([&] { camera.testCommunication(); }));
        }
    }
}

TEST_F(FlyCapCameraTest, ARegisterReadThatFailsOnceLogsOneErrorAndReturnsTheValue)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x30, true);
    const unsigned long expected = readQuadlet(camera, iidc::kTriggerMode);

    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    failNext("flycaptureGetCameraRegister", 1, FLYCAPTURE_BUS_ERROR, 0x30);
    EXPECT_EQ(expected, readQuadlet(camera, iidc::kTriggerMode));
    EXPECT_EQ(std::vector<std::string>{"Error in FlyCapCamera::readRegister(0xf0f00830): " +
                                       orvex::flycap::sdkErrorText(FLYCAPTURE_BUS_ERROR)},
              errors.messages());
}

TEST_F(FlyCapCameraTest, RegisterAddressesReachTheCameraByTheirLow16Bits)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x31, true);
    EXPECT_EQ(readQuadlet(camera, iidc::kTriggerMode), readQuadlet(camera, 0x12340830));
    // The trigger mode register, written through a foreign high part (the
    // on bit: the polarity would move the input level it reads too).
    const unsigned long toggled = readQuadlet(camera, iidc::kTriggerMode) ^ iidc::kTriggerOn;
    camera.writeRegister(0xABCD0830, toggled);
    EXPECT_EQ(toggled, readQuadlet(camera, iidc::kTriggerMode));
}

TEST_F(FlyCapCameraTest, TestCommunicationAnswersWithoutThrowing)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x32, true);
    EXPECT_TRUE(camera.testCommunication());
    failNext("flycaptureGetCameraRegister", 1, FLYCAPTURE_BUS_ERROR, 0x32);
    EXPECT_FALSE(camera.testCommunication()) << "one attempt, reported as false";
    EXPECT_TRUE(camera.testCommunication());
}

TEST_F(FlyCapCameraTest, UserMemoryRoundTripsAtUnalignedOffsetsLeavingNeighboursUntouched)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x40, true);
    ASSERT_EQ(65536u, camera.getAvailableUserMemorySpace());

    std::vector<unsigned char> expected(64);
    std::iota(expected.begin(), expected.end(), static_cast<unsigned char>(0xA0));
    camera.writeUserMemory(0, expected.data(), static_cast<unsigned int>(expected.size()));

    struct Range {
        unsigned int offset, size;
    };
    const Range ranges[] = {{1, 1},  {2, 4},  {3, 2},  {5, 3},  {6, 9},
                            {13, 1}, {17, 7}, {24, 8}, {31, 5}, {40, 0}};
    unsigned char value = 1;
    for (const Range& range : ranges) {
        SCOPED_TRACE(std::to_string(range.offset) + "+" + std::to_string(range.size));
        std::vector<unsigned char> data(range.size);
        for (unsigned char& cell : data) { // <windows.h> has a global `byte`
            cell = value++;
        }
        camera.writeUserMemory(range.offset, data.data(), range.size);
        std::copy(data.begin(), data.end(), expected.begin() + range.offset);

        std::vector<unsigned char> back(range.size, 0xEE);
        camera.readUserMemory(range.offset, back.data(), range.size);
        EXPECT_EQ(data, back);
        std::vector<unsigned char> all(expected.size());
        camera.readUserMemory(0, all.data(), static_cast<unsigned int>(all.size()));
        ASSERT_EQ(expected, all);
    }

    // The last bytes of the memory.
    const unsigned char tail[3] = {0x11, 0x22, 0x33};
    camera.writeUserMemory(65533, tail, 3);
    unsigned char back[3] = {};
    camera.readUserMemory(65533, back, 3);
    EXPECT_TRUE(std::equal(std::begin(tail), std::end(tail), std::begin(back)));
}

TEST_F(FlyCapCameraTest, UserMemorySizeIsReadFromTheCameraOnEveryCall)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x43, true);
    EXPECT_EQ(65536u, camera.getAvailableUserMemorySpace());
    failNext("flycaptureGetCameraRegister", 2, FLYCAPTURE_BUS_ERROR, 0x43);
    EXPECT_EQ("Error in FlyCapCamera::readRegister(0xf0f01240): Bus transaction failed",
              errorOf([&] { camera.getAvailableUserMemorySpace(); }));
    EXPECT_EQ(65536u, camera.getAvailableUserMemorySpace());
}

TEST_F(FlyCapCameraTest, ZeroBytesOfUserMemoryStillMakeTheTransfersOfTheQuadletCount)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x44, true);
    // Unaligned: two quadlets by the count rule, read and (for a write) written back.
    failNext("flycaptureReadRegisterBlock", 1, FLYCAPTURE_BUS_ERROR, 0x44);
    EXPECT_EQ("Bus transaction failed", errorOf([&] { camera.readUserMemory(1, nullptr, 0); }));
    failNext("flycaptureWriteRegisterBlock", 3, FLYCAPTURE_BUS_ERROR, 0x44);
    EXPECT_NE("<no OrvexError>", errorOf([&] { camera.writeUserMemory(1, nullptr, 0); }));
    // Aligned: no quadlet, but the block call is still made.
    failNext("flycaptureReadRegisterBlock", 1, FLYCAPTURE_BUS_ERROR, 0x44);
    EXPECT_EQ("Bus transaction failed", errorOf([&] { camera.readUserMemory(8, nullptr, 0); }));
    EXPECT_NO_THROW(camera.readUserMemory(8, nullptr, 0));
}

TEST_F(FlyCapCameraTest, AFailedSdkCallIsReportedFromItsCallersPlace)
{
    addCamera(bus0, kGras20, 0x45);
    auto placeOf = [](auto&& action) -> std::pair<std::string, int> {
        try {
            action();
        } catch (const OrvexError& error) {
            return {error.unit(), error.line()};
        }
        return {"<no OrvexError>", 0};
    };
    world().faults().failNext("flycaptureInitializePlus", 1, FLYCAPTURE_FAILED);
    const auto construction =
        placeOf([] { FlyCapCamera camera(0, 0x45, kGras20, "Point Grey Research", 0); });
    FlyCapCamera camera(0, 0x45, kGras20, "Point Grey Research", 0);
    world().faults().failNext("flycaptureQueryCustomImageEx", 1, FLYCAPTURE_FAILED);
    const auto query = placeOf([&] { camera.init(); });
    failNext("flycaptureGetCameraAbsPropertyRange", 2, FLYCAPTURE_FAILED, 0x45);
    const auto refresher = placeOf([&] { camera.init(); });

    EXPECT_EQ("FlyCapCamera", construction.first);
    EXPECT_EQ("FlyCapCamera", query.first);
    EXPECT_EQ("FlyCapCamera", refresher.first);
    // Three call sites, three lines: not the one line of a shared helper.
    EXPECT_NE(construction.second, query.second);
    EXPECT_NE(query.second, refresher.second);
    EXPECT_NE(construction.second, refresher.second);
}

TEST_F(FlyCapCameraTest, UserMemoryRefusesRangesBeyondIt)
{
    IEEE1394Camera& camera = listOne(kFlea2, 0x41, true);
    ASSERT_EQ(16384u, camera.getAvailableUserMemorySpace());
    unsigned char data[4] = {};
    EXPECT_EQ("readUserMemory: offset + data size exceeds memory range (16383+2 > 16384)",
              errorOf([&] { camera.readUserMemory(16383, data, 2); }));
    EXPECT_EQ("writeUserMemory: offset + data size exceeds memory range (4294967295+2 > 16384)",
              errorOf([&] { camera.writeUserMemory(0xFFFFFFFF, data, 2); }));

    sim::CameraConfig none = modelConfig(kGras20, 0x42);
    none.userMemoryE1 = 0;
    IEEE1394Camera& without = listOne(none, true);
    EXPECT_EQ(0u, without.getAvailableUserMemorySpace());
    EXPECT_EQ("readUserMemory: offset + data size exceeds memory range (0+1 > 0)",
              errorOf([&] { without.readUserMemory(0, data, 1); }));
}

TEST_F(FlyCapCameraTest, IdentityComesFromTheEnumerationAndTheVersionRegister)
{
    addCamera(bus0, kGras20, 0x50);
    addCamera(bus0, kGras50, 0x51);
    const int bus1 = world().addBus();
    addCamera(bus1, kFlea2, 0x52);
    sim::CameraConfig trailingBlank = modelConfig(kFlea2, 0x53);
    trailingBlank.modelName = "Flea2 FL2G-50S5M ";
    world().addCamera(bus1, trailingBlank);
    IEEE1394VideoServer& server = createFlyCapVideoServer(false);
    server.reset(false);
    ASSERT_EQ(4, server.getNbCameras());

    EXPECT_EQ(camm_GRAS20S4M, server.getCamera(0).getModel());
    EXPECT_EQ(camm_GRAS50S5M, server.getCamera(1).getModel());
    EXPECT_EQ(camm_FL2G50S5M, server.getCamera(2).getModel());
    EXPECT_EQ(camm_other, server.getCamera(3).getModel());
    EXPECT_EQ("Point Grey Research", server.getCamera(2).getVendorName());
    EXPECT_EQ(CamGUID(0x52, 0), server.getCamera(2).getUniqueId());
    EXPECT_EQ("0", server.getCamera(1).getOwningBusId());
    EXPECT_EQ("1", server.getCamera(2).getOwningBusId());

    IEEE1394Camera& flea = server.getCamera(2);
    std::string version;
    EXPECT_EQ("\"init\" method must be called before",
              errorOf([&] { flea.getCameraExtendedVersionInfo(version); }));
    flea.init();
    ASSERT_TRUE(flea.getCameraExtendedVersionInfo(version));
    EXPECT_EQ("2.3.1.5", version); // version register 0x02031005
}

TEST_F(FlyCapCameraTest, TemperatureIsReadFromTheFeatureRegister)
{
    sim::CameraConfig config = modelConfig(kGras20, 0x60);
    config.registerOverrides[0xF0F0082C] = 0x80000B72; // present, 2930 tenths of a kelvin
    IEEE1394Camera& camera = listOne(config, false);
    EXPECT_TRUE(camera.isTemperatureAvailable());
    EXPECT_DOUBLE_EQ(19.85, camera.getTemperature());

    sim::CameraConfig without = modelConfig(kGras20, 0x61);
    without.registerOverrides[iidc::kTemperature] = 0x00000B72; // a value, but no presence bit
    IEEE1394Camera& other = listOne(without, false);
    EXPECT_FALSE(other.isTemperatureAvailable());
    EXPECT_EQ("temperature feature is not available", errorOf([&] { other.getTemperature(); }));
}

TEST_F(FlyCapCameraTest, AFailingConstructionLeavesNothingBehind)
{
    addCamera(bus0, kGras20, 0x70);
    {
        FlyCapCamera loadsTheSdk(0, 0x70, kGras20, "Point Grey Research", 0);
    }
    const unsigned contexts = liveSdkContexts();
    world().faults().failNext("flycaptureInitializePlus", 1, FLYCAPTURE_FAILED);
    EXPECT_EQ(orvex::flycap::sdkErrorText(FLYCAPTURE_FAILED),
              errorOf([] { FlyCapCamera camera(0, 0x70, kGras20, "Point Grey Research", 0); }));
    EXPECT_EQ(contexts, liveSdkContexts()) << "no context left";
    WNDCLASSEXA wndClass = {};
    wndClass.cbSize = sizeof wndClass;
    EXPECT_FALSE(GetClassInfoExA(nullptr, "FlyCaptureCameraWndClass", &wndClass)) << "no window left";

    FlyCapCamera camera(0, 0x70, kGras20, "Point Grey Research", 0);
    EXPECT_TRUE(GetClassInfoExA(nullptr, "FlyCaptureCameraWndClass", &wndClass));
}

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
TEST_F(FlyCapCameraTest, TheSdkGetsFiveBuffersUnderWow64AndTheImagesBufferSizesPlusFourElsewhere)
{
    addCamera(bus0, kGras20, 0x80);
    using orvex::win32::testing::Wow64;
    const struct {
        Wow64 environment;
        unsigned buffers;
        const char* line;
    } cases[] = {
        // Images buffer 3 + transit queue 2 + 4.
        {Wow64::native, 9, "FlyCapCamera::FlyCapCamera(...); non-wow64 environment"},
        {Wow64::wow64, 5, "FlyCapCamera::FlyCapCamera(...); wow64 environment"},
        {Wow64::absent, 9, "FlyCapCamera::FlyCapCamera(...); non-wow64 environment"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        orvex::win32::testing::setWow64(c.environment);
        LogCapture trace("Orvex", log4cplus::TRACE_LOG_LEVEL);
        FlyCapCamera camera(0, 0x80, kGras20, "Point Grey Research", 0);
        EXPECT_EQ(c.buffers, sdkBufferCount(0x80));
        const auto lines = trace.messages();
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), c.line));
    }
    orvex::win32::testing::resetSwitches();
}
#endif

// Reaches the camera's images buffer.
class ExposedCamera : public FlyCapCamera {
public:
    using FlyCapCamera::FlyCapCamera;
    using FlyCapCamera::imagesBuffer;
};

TEST_F(FlyCapCameraTest, TheImagesBufferKeepsObsoleteParametersForTheSdkBuffers)
{
    addCamera(bus0, kGras20, 0x82);
    ExposedCamera camera(0, 0x82, kGras20, "Point Grey Research", 0);
    EXPECT_TRUE(camera.imagesBuffer().areObsoleteParamsKept());
}

TEST_F(FlyCapCameraTest, InitAgainBringsThePixelFormatBackToEightBitMono)
{
    IEEE1394Camera& camera = listOne(kGras20, 0x84, false);
    camera.init();
    unsigned long monoBytes = 0, unused = 0;
    camera.getNbBytesPerFrame(monoBytes, unused);
    camera.setPixelFormat(pf_yMono16);
    ASSERT_EQ(pf_yMono16, camera.getPixelFormat());

    camera.init();
    EXPECT_EQ(pf_yMono, camera.getPixelFormat());
    unsigned long bytes = 0;
    camera.getNbBytesPerFrame(bytes, unused);
    EXPECT_EQ(monoBytes, bytes) << "the packet information follows the format";
}

TEST_F(FlyCapCameraTest, DestructionClosesTheContextAndDestroysTheWindow)
{
    addCamera(bus0, kGras20, 0x81);
    FlyCapCamera probe(0, 0x81, kGras20, "Point Grey Research", 0); // loads the SDK
    const unsigned before = liveSdkContexts();
    {
        LogCapture trace("Orvex", log4cplus::TRACE_LOG_LEVEL);
        {
            FlyCapCamera camera(0, 0x81, kGras20, "Point Grey Research", 0);
            EXPECT_EQ(before + 1, liveSdkContexts());
        }
        EXPECT_EQ(before, liveSdkContexts());
        const auto lines = trace.messages();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("FlyCapCamera::destroyWindow(); (_nPortIdx=0)") != std::string::npos;
        }));
    }
}
