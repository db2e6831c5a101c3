// A FlyCapture camera's exposure controls over the simulated SDK: shutter,
// gain and auto exposure, brightness, frame rate. Each group checks the
// range refusals, what reaches the camera, and that a failed SDK call leaves
// the cached value alone.
#include "SimulatedBuses.h"

#include "support/LogCapture.h"

#include <orvex/companions/CamGUID.h>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

using namespace orvex::test;
namespace sim = orvex::sim;

namespace {

// The feature control registers and bits, written out here so that a wrong
// constant in the library's register header cannot pass unnoticed.
constexpr uint32_t kBrightnessRegister = 0xF0F00800, kAutoExposureRegister = 0xF0F00804;
constexpr uint32_t kShutterRegister = 0xF0F0081C;
constexpr uint32_t kGainRegister = 0xF0F00820, kFrameRateRegister = 0xF0F0083C;
constexpr uint32_t kAbsoluteBit = 1u << 30, kOnBit = 1u << 25, kAutoBit = 1u << 24;

uint32_t rawValue(IEEE1394Camera& camera, uint32_t address)
{
    return readQuadlet(camera, address) & 0xFFF;
}

class FlyCapExposureTest : public SimulatedBuses {
protected:
    IEEE1394Camera& initialisedRoundCamera(uint32_t serialNumber)
    {
        return listOne(roundCamera(serialNumber), true);
    }
};

// The refreshers the camera's other operations call, reachable here.
class RefreshableCamera : public FlyCapCamera {
public:
    using FlyCapCamera::FlyCapCamera;
    using FlyCapCamera::updateShutter;
};

} // namespace

// --- shutter ---------------------------------------------------------------------

TEST_F(FlyCapExposureTest, ShutterRangeStartsOneMicrosecondAboveTheCameraMinimumAndBothEndsAreAccepted)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x100);
    ASSERT_EQ(501ul, camera.getShutterMin()) << "0.5 ms, plus one";
    ASSERT_EQ(80000ul, camera.getShutterMax()) << "the 12.5 fps frame period";
    EXPECT_EQ(10000ul, camera.getShutter()) << "the camera's own 10 ms, read by init";

    EXPECT_EQ("shutter lower than min shutter allowed (500 < 501)", errorOf([&] { camera.setShutter(500); }));
    EXPECT_EQ("shutter greater than max shutter allowed (80001 > 80000)",
              errorOf([&] { camera.setShutter(80001); }));
#if ULONG_MAX > 0xFFFFFFFFu // where unsigned long is 32-bit no such value exists
    // A value only a 64-bit unsigned long can hold is refused, not wrapped.
    EXPECT_EQ("shutter greater than max shutter allowed (4294967796 > 80000)",
              errorOf([&] { camera.setShutter(0x100000000ul + 500); }));
#endif
    EXPECT_EQ(10000ul, camera.getShutter());

    camera.setShutter(501);
    EXPECT_EQ(501ul, camera.getShutter());
    EXPECT_EQ(25u, rawValue(camera, kShutterRegister)) << "0.501 ms in 20 us steps";
    camera.setShutter(80000);
    EXPECT_EQ(80000ul, camera.getShutter());
    EXPECT_EQ(4000u, rawValue(camera, kShutterRegister));
    camera.setShutter(12340);
    EXPECT_EQ(617u, rawValue(camera, kShutterRegister)) << "microseconds reach the SDK as milliseconds";
    EXPECT_EQ(0u, readQuadlet(camera, kShutterRegister) & kAbsoluteBit)
        << "written back raw after the absolute set";
}

TEST_F(FlyCapExposureTest, AFailedShutterSetKeepsTheCachedShutterAndTheCurrentValueIsAppliedAgain)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x101);
    camera.setShutter(20000);

    failNext("flycaptureSetCameraAbsPropertyEx", 1, FLYCAPTURE_FAILED, 0x101);
    EXPECT_EQ("error calling FlyCapCamera::setShutter(30000): Function failed (error code = 1)",
              errorOf([&] { camera.setShutter(30000); }));
    EXPECT_EQ(20000ul, camera.getShutter());
    EXPECT_EQ(1000u, rawValue(camera, kShutterRegister));

    // No shortcut for the value already set: the SDK is called again.
    failNext("flycaptureSetCameraAbsPropertyEx", 1, FLYCAPTURE_BUS_ERROR, 0x101);
    EXPECT_EQ("error calling FlyCapCamera::setShutter(20000): Bus transaction failed (error code = 15)",
              errorOf([&] { camera.setShutter(20000); }));
}

TEST_F(FlyCapExposureTest, AShutterAppliedWhoseRawValueCannotBeReadStaysCached)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x105);
    failNext("flycaptureGetCameraProperty", 2, FLYCAPTURE_FAILED, 0x105);
    EXPECT_EQ(
        "cam guid #0x" + CamGUID(0x105, 0).to_string() +
            "; flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_SHUTTER, &rawShutter, &dummy, &bAuto): "
            "Function failed",
        errorOf([&] { camera.setShutter(20000); }));
    EXPECT_EQ(20000ul, camera.getShutter());
    EXPECT_NE(0u, readQuadlet(camera, kShutterRegister) & kAbsoluteBit)
        << "left in absolute mode: the raw write-back never came";
}

TEST_F(FlyCapExposureTest, SwitchingTheFrameRateControlReRangesTheShutterAndClampsTheCachedOne)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x102);
    ASSERT_TRUE(camera.isFrameRateFeatureEnabled());

    camera.enableFrameRateFeature(false);
    EXPECT_FALSE(camera.isFrameRateFeatureEnabled());
    EXPECT_EQ(0u, readQuadlet(camera, kFrameRateRegister) & kOnBit);
    EXPECT_EQ(200u, rawValue(camera, kFrameRateRegister)) << "the rate itself is kept";
    EXPECT_EQ(81900ul, camera.getShutterMax()) << "no frame period bounds the exposure";
    EXPECT_EQ(501ul, camera.getShutterMin());
    camera.setShutter(81000);

    camera.enableFrameRateFeature(true);
    EXPECT_TRUE(camera.isFrameRateFeatureEnabled());
    EXPECT_NE(0u, readQuadlet(camera, kFrameRateRegister) & kOnBit);
    EXPECT_EQ(80000ul, camera.getShutterMax());
    EXPECT_EQ(80000ul, camera.getShutter()) << "clamped, without an error";
    EXPECT_EQ(4000u, rawValue(camera, kShutterRegister)) << "and applied";
}

TEST_F(FlyCapExposureTest, UpdateShutterRefusesACachedShutterOutsideTheNewRangeInsteadOfClampingIt)
{
    world().addCamera(bus0, roundCamera(0x103));
    RefreshableCamera camera(0, 0x103, kGras20, "Point Grey Research", 0);
    camera.init();
    camera.enableFrameRateFeature(false);
    camera.setShutter(81000);
    // The frame-rate control comes back on behind the library's back (as a
    // new geometry would change the range).
    camera.writeRegister(kFrameRateRegister, readQuadlet(camera, kFrameRateRegister) | kOnBit);

    EXPECT_EQ("shutter value greater than max shutter allowed (81000 > 80000)",
              errorOf([&] { camera.updateShutter(); }));
    EXPECT_EQ(80000ul, camera.getShutterMax()) << "the new range stays";
    EXPECT_EQ(81000ul, camera.getShutter()) << "the cached shutter is not clamped";
}

TEST_F(FlyCapExposureTest, AShutterRangeThatCannotBeReadTwiceFailsTheFrameRateSwitchNamingTheCall)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x104);
    LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
    failNext("flycaptureGetCameraAbsPropertyRange", 2, FLYCAPTURE_FAILED, 0x104);
    const std::string expected = "cam guid #0x" + CamGUID(0x104, 0).to_string() +
                                 "; flycaptureGetCameraAbsPropertyRange(_fcContext, FLYCAPTURE_SHUTTER, "
                                 "&bPresent, &fMinShutter, &fMaxShutter, 0, 0): Function failed";
    EXPECT_EQ(expected, errorOf([&] { camera.enableFrameRateFeature(false); }));
    ASSERT_FALSE(errors.messages().empty());
    EXPECT_EQ(expected, errors.messages().front()) << "the first attempt is logged";
    EXPECT_FALSE(camera.isFrameRateFeatureEnabled()) << "the switch itself went through";
}

// --- gain and auto exposure -----------------------------------------------------------

TEST_F(FlyCapExposureTest, GainRangeStartsOneTenthAboveTheCameraMinimumAndReachesTheSdkInDecibels)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x110);
    ASSERT_EQ(-19, camera.getGainMin(gainsel_main));
    ASSERT_EQ(240, camera.getGainMax(gainsel_main));

    EXPECT_EQ("gain value lower than min gain allowed (-20 < -19)",
              errorOf([&] { camera.setGain(-20, gainsel_main); }));
    EXPECT_EQ("gain value greater than max gain allowed (241 > 240)",
              errorOf([&] { camera.setGain(241, gainsel_main); }));
    EXPECT_EQ("invalid gainSelector", errorOf([&] { camera.setGain(10, static_cast<GainSelector>(1)); }));
    EXPECT_EQ(0, camera.getGain(gainsel_main));

    camera.setGain(-19, gainsel_main);
    EXPECT_EQ(-19, camera.getGain(gainsel_main));
    camera.setGain(240, gainsel_main);
    EXPECT_EQ(416u, rawValue(camera, kGainRegister)) << "24 dB in 1/16 dB steps from -2 dB";
    camera.setGain(120, gainsel_main);
    EXPECT_EQ(120, camera.getGain(gainsel_main));
    EXPECT_EQ(224u, rawValue(camera, kGainRegister)) << "12 dB";
}

TEST_F(FlyCapExposureTest, TheCurrentGainIsNotSentAgainAndAFailedGainSetKeepsTheCachedGain)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x111);
    camera.setGain(120, gainsel_main);

    failNext("flycaptureSetCameraAbsPropertyEx", 1, FLYCAPTURE_FAILED, 0x111);
    EXPECT_NO_THROW(camera.setGain(120, gainsel_main)) << "no SDK call, the failure stays pending";
    EXPECT_EQ("error calling FlyCapCamera::setGain(130): Function failed (error code = 1)",
              errorOf([&] { camera.setGain(130, gainsel_main); }));
    EXPECT_EQ(120, camera.getGain(gainsel_main));
    EXPECT_EQ(224u, rawValue(camera, kGainRegister));
}

TEST_F(FlyCapExposureTest, AGainAppliedWhoseRawValueCannotBeReadStaysCached)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x115);
    failNext("flycaptureGetCameraProperty", 2, FLYCAPTURE_FAILED, 0x115);
    EXPECT_EQ("cam guid #0x" + CamGUID(0x115, 0).to_string() +
                  "; flycaptureGetCameraProperty(_fcContext, FLYCAPTURE_GAIN, &rawGain, &dummy, &bAuto): "
                  "Function failed",
              errorOf([&] { camera.setGain(60, gainsel_main); }));
    EXPECT_EQ(60, camera.getGain(gainsel_main));
}

TEST_F(FlyCapExposureTest, AutoExposureForgetsTheGainAndASetGainTurnsItOffAndAppliesEvenTheSameValue)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x112);
    camera.setGain(120, gainsel_main);
    const uint32_t target = rawValue(camera, kAutoExposureRegister);

    camera.enableAutoExposureFeature(true);
    EXPECT_TRUE(camera.isAutoExposureFeatureEnabled());
    EXPECT_TRUE(camera.isGainValueIgnored(gainsel_main));
    EXPECT_EQ("gain value is ignored!", errorOf([&] { camera.getGain(gainsel_main); }));
    EXPECT_NE(0u, readQuadlet(camera, kAutoExposureRegister) & kAutoBit);
    EXPECT_NE(0u, readQuadlet(camera, kGainRegister) & kAutoBit);
    EXPECT_EQ(target, rawValue(camera, kAutoExposureRegister)) << "the target keeps its value";
    EXPECT_EQ(0u, readQuadlet(camera, kShutterRegister) & kAutoBit) << "the shutter is left alone";

    camera.setGain(120, gainsel_main);
    EXPECT_FALSE(camera.isAutoExposureFeatureEnabled());
    EXPECT_EQ(120, camera.getGain(gainsel_main));
    EXPECT_EQ(0u, readQuadlet(camera, kAutoExposureRegister) & kAutoBit);
    EXPECT_EQ(0u, readQuadlet(camera, kGainRegister) & kAutoBit);
    EXPECT_EQ(224u, rawValue(camera, kGainRegister));

    // Switching it off also leaves the gain unknown until the next setGain.
    camera.enableAutoExposureFeature(false);
    EXPECT_FALSE(camera.isAutoExposureFeatureEnabled());
    EXPECT_EQ("gain value is ignored!", errorOf([&] { camera.getGain(gainsel_main); }));
}

TEST_F(FlyCapExposureTest, AFailedAutoExposureSwitchKeepsTheGainAndTheMode)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x113);
    camera.setGain(50, gainsel_main);
    failNext("flycaptureGetCameraAbsProperty", 1, FLYCAPTURE_FAILED, 0x113);
    EXPECT_EQ("Function failed", errorOf([&] { camera.enableAutoExposureFeature(true); }));
    EXPECT_FALSE(camera.isAutoExposureFeatureEnabled());
    EXPECT_EQ(50, camera.getGain(gainsel_main));
    EXPECT_EQ(0u, readQuadlet(camera, kAutoExposureRegister) & kAutoBit);
}

TEST_F(FlyCapExposureTest, AZeroDecibelGainMinimumMakesInitRefuseTheZeroGainItSets)
{
    // The minimum is one tenth above the camera's: 1, not 0, so the 0 dB that
    // init applies is then out of range.
    sim::CameraConfig config = roundCamera(0x114);
    config.gain.absAtRawMin = 0.0;
    config.gain.rawMax = 384; // 24 dB
    config.gain.defaultRaw = 0;
    IEEE1394Camera& camera = listOne(config, false);
    EXPECT_EQ("gain value lower than min gain allowed (0 < 1)", errorOf([&] { camera.init(); }));
    // init had got far enough to count as done: the range it read stays.
    EXPECT_EQ(1, camera.getGainMin(gainsel_main));
    EXPECT_EQ(240, camera.getGainMax(gainsel_main));
}

// --- brightness ------------------------------------------------------------------------

TEST_F(FlyCapExposureTest, BrightnessIsRangeCheckedSentUnscaledAndSkippedWhenUnchanged)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x120);
    ASSERT_EQ(0.0, camera.getBrightnessMin());
    ASSERT_EQ(25.5, camera.getBrightnessMax());

    EXPECT_EQ("brightness value lower than min brightness allowed (-0.5 < 0)",
              errorOf([&] { camera.setBrightness(-0.5); }));
    EXPECT_EQ("brightness value greater than max brightness allowed (25.6 > 25.5)",
              errorOf([&] { camera.setBrightness(25.6); }));
    camera.setBrightness(12.5);
    EXPECT_EQ(12.5, camera.getBrightness());
    EXPECT_EQ(125u, rawValue(camera, kBrightnessRegister)) << "0.1 per step";

    failNext("flycaptureSetCameraAbsPropertyEx", 2, FLYCAPTURE_FAILED, 0x120);
    EXPECT_NO_THROW(camera.setBrightness(12.5)) << "the current value makes no SDK call";
    EXPECT_EQ(2u, world().faults().pending("flycaptureSetCameraAbsPropertyEx"));
    world().faults().clear();
}

TEST_F(FlyCapExposureTest, ABrightnessSetIsTriedTwiceAndKeepsTheCachedValueWhenBothFail)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x121);
    camera.setBrightness(12.5);

    {
        LogCapture errors("Orvex", log4cplus::ERROR_LOG_LEVEL);
        failNext("flycaptureSetCameraAbsPropertyEx", 1, FLYCAPTURE_BUS_ERROR, 0x121);
        camera.setBrightness(3.0);
        EXPECT_EQ(3.0, camera.getBrightness()) << "the second attempt went through";
        EXPECT_EQ(1u, errors.messages().size());
    }

    failNext("flycaptureSetCameraAbsPropertyEx", 2, FLYCAPTURE_FAILED, 0x121);
    EXPECT_EQ("cam guid #0x" + CamGUID(0x121, 0).to_string() +
                  "; flycaptureSetCameraAbsPropertyEx(_fcContext, FLYCAPTURE_BRIGHTNESS, false, true, false, "
                  "static_cast<float>(fValue)): Function failed",
              errorOf([&] { camera.setBrightness(4.0); }));
    EXPECT_EQ(3.0, camera.getBrightness());
    EXPECT_EQ(30u, rawValue(camera, kBrightnessRegister));
}

// --- frame rate ------------------------------------------------------------------------

TEST_F(FlyCapExposureTest, FrameRateIsRangeCheckedSentInFramesPerSecondAndAFailedSetKeepsTheCache)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x130);
    ASSERT_EQ(1.0, camera.getFrameRateMin());
    ASSERT_EQ(12.5, camera.getFrameRateMax());
    ASSERT_EQ(12.5, camera.getFrameRate());

    EXPECT_EQ("frameRate lower than min frameRate allowed (0.5 < 1)",
              errorOf([&] { camera.setFrameRate(0.5); }));
    EXPECT_EQ("frameRate greater than max frameRate allowed (12.75 > 12.5)",
              errorOf([&] { camera.setFrameRate(12.75); }));
    camera.setFrameRate(6.25);
    EXPECT_EQ(6.25, camera.getFrameRate());
    EXPECT_EQ(16u + 84u, rawValue(camera, kFrameRateRegister)) << "1 fps at raw 16, 1/16 fps per step";
    EXPECT_EQ(0u, readQuadlet(camera, kFrameRateRegister) & kAutoBit) << "in manual mode";

    failNext("flycaptureSetCameraAbsPropertyEx", 1, FLYCAPTURE_FAILED, 0x130);
    EXPECT_NO_THROW(camera.setFrameRate(6.25)) << "the current value makes no SDK call";
    EXPECT_EQ("error calling FlyCapCamera::setFrameRate(10.25): Function failed (error code = 1)",
              errorOf([&] { camera.setFrameRate(10.25); }));
    EXPECT_EQ(6.25, camera.getFrameRate());
    EXPECT_EQ(100u, rawValue(camera, kFrameRateRegister));
}

TEST_F(FlyCapExposureTest, TheFrameRateCanBeSetWhileItsControlIsOff)
{
    IEEE1394Camera& camera = initialisedRoundCamera(0x131);
    camera.enableFrameRateFeature(false);
    camera.setFrameRate(5.0);
    EXPECT_EQ(16u + 64u, rawValue(camera, kFrameRateRegister));
    EXPECT_EQ("frame rate feature not enabled", errorOf([&] { camera.getFrameRate(); }));
    camera.enableFrameRateFeature(true);
    EXPECT_EQ(5.0, camera.getFrameRate());
    EXPECT_EQ(81900ul, camera.getShutterMax()) << "a 5 fps period no longer bounds the exposure";
}

TEST_F(FlyCapExposureTest, TheFrameRateOperationsRefuseACameraWithoutTheControl)
{
    sim::CameraConfig config = roundCamera(0x132);
    config.frameRate.present = false;
    IEEE1394Camera& camera = listOne(config, true);
    const std::string unsupported = "frame rate feature not supported";
    EXPECT_FALSE(camera.isFrameRateFeatureAvailable());
    EXPECT_EQ(unsupported, errorOf([&] { camera.isFrameRateFeatureEnabled(); }));
    EXPECT_EQ(unsupported, errorOf([&] { camera.setFrameRate(5.0); }));
    EXPECT_EQ(unsupported, errorOf([&] { camera.enableFrameRateFeature(true); }));
    EXPECT_EQ(unsupported, errorOf([&] { camera.getFrameRate(); }));
    EXPECT_EQ(unsupported, errorOf([&] { camera.getFrameRateMin(); }));
    EXPECT_EQ(unsupported, errorOf([&] { camera.getFrameRateMax(); }));
}

// --- before init ---------------------------------------------------------------------

TEST_F(FlyCapExposureTest, ExposureControlsNeedInit)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x140), false);
    const std::string initFirst = "\"init\" method must be called before";
    const std::vector<std::function<void()>> operations = {
        [&] { camera.setShutter(1000); },
        [&] { camera.setGain(0, gainsel_main); },
        [&] { camera.setBrightness(1.0); },
        [&] { camera.setFrameRate(1.0); },
        [&] { camera.enableFrameRateFeature(true); },
        [&] { camera.enableAutoExposureFeature(true); },
        [&] { camera.getShutter(); },
        [&] { camera.getShutterMin(); },
        [&] { camera.getShutterMax(); },
        [&] { camera.getGain(gainsel_main); },
        [&] { camera.getGainMin(gainsel_main); },
        [&] { camera.getGainMax(gainsel_main); },
        [&] { camera.getDefaultGain(); },
        [&] { camera.isGainValueIgnored(gainsel_main); },
        [&] { camera.getBrightness(); },
        [&] { camera.getBrightnessMin(); },
        [&] { camera.getBrightnessMax(); },
        [&] { camera.getFrameRate(); },
        [&] { camera.getFrameRateMin(); },
        [&] { camera.getFrameRateMax(); },
        [&] { camera.isAutoExposureFeatureEnabled(); },
    };
    for (size_t i = 0; i < operations.size(); ++i) {
        EXPECT_EQ(initFirst, errorOf(operations[i])) << "operation " << i;
    }
    EXPECT_FALSE(camera.isFrameRateFeatureAvailable());
    EXPECT_EQ("frame rate feature not supported", errorOf([&] { camera.isFrameRateFeatureEnabled(); }));
}

// --- shutter time base -----------------------------------------------------------------

// One shutter unit is one microsecond, fixed: the time base asks nothing of
// the camera, before init as after, and takes only that value.
TEST_F(FlyCapExposureTest, TheShutterTimeBaseIsAFixedMicrosecondThatTouchesNothing)
{
    IEEE1394Camera& camera = listOne(roundCamera(0x141), false);
    world().faults().failNext(sim::FaultTable::kAnyFunction, 1, FLYCAPTURE_FAILED);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "before init" : "after init");
        EXPECT_TRUE(camera.isShutterTimeBaseAvailable());
        EXPECT_EQ(1e-6f, camera.getShutterTimeBase());
        EXPECT_EQ(1e-6f, camera.getShutterTimeBaseMin());
        EXPECT_EQ(1e-6f, camera.getShutterTimeBaseMax());
        EXPECT_TRUE(camera.setShutterTimeBase(1e-6f));
        EXPECT_FALSE(camera.setShutterTimeBase(2e-6f));
        EXPECT_FALSE(camera.setShutterTimeBase(1e-5f));
        EXPECT_FALSE(camera.setShutterTimeBase(0.0f));
        EXPECT_TRUE(camera.isSmartFeatureEnabled(sf_shutterTimeBase));
        EXPECT_TRUE(camera.enableSmartFeature(sf_shutterTimeBase, false));
        EXPECT_EQ(1u, world().faults().pending(sim::FaultTable::kAnyFunction)) << "no SDK call";
        if (pass == 0) {
            world().faults().clear();
            camera.init();
            world().faults().failNext(sim::FaultTable::kAnyFunction, 1, FLYCAPTURE_FAILED);
        }
    }
    world().faults().clear();
}
