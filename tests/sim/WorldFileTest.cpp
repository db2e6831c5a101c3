// World descriptions: the built-in default world and the JSON world file.
#include "sim/SimTestSupport.h"

#include <orvex/iidc/Registers.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <utility>

namespace orvex::sim::test {
namespace {

using namespace orvex::iidc;

TEST(WorldDescription, DefaultWorldHasTheKnownModelsOnThreeDriftingBuses)
{
    const WorldDescription world = defaultWorld();
    ASSERT_EQ(world.buses.size(), 3u);
    ASSERT_EQ(world.buses[0].cameras.size(), 2u);
    ASSERT_EQ(world.buses[1].cameras.size(), 1u);
    ASSERT_EQ(world.buses[2].cameras.size(), 2u);
    EXPECT_EQ(world.buses[0].cameras[0].modelName, "Grasshopper GRAS-20S4M");
    EXPECT_EQ(world.buses[0].cameras[1].modelName, "Grasshopper GRAS-50S5M");
    EXPECT_EQ(world.buses[1].cameras[0].modelName, "Flea2 FL2G-50S5M");
    EXPECT_EQ(world.buses[2].cameras[0].modelName, "A102f"); // the BCAM driver's
    EXPECT_EQ(world.buses[2].cameras[1].modelName, "A312f");
    EXPECT_NE(world.buses[0].bus.driftPpm, world.buses[1].bus.driftPpm);
    EXPECT_LT(std::abs(world.buses[1].bus.driftPpm - world.buses[0].bus.driftPpm), 100.0) << "a small drift";
    // Every default camera with an absolute gain has a range below 0 dB, so
    // that a host can set 0 dB and find it inside the range. (The BCAM
    // cameras' gain is in raw units.)
    for (const auto& bus : world.buses) {
        for (const auto& camera : bus.cameras) {
            if (camera.gain.absolute) {
                EXPECT_LT(camera.gain.absAtRawMin, 0.0) << camera.modelName;
            }
        }
    }
    // And every known model's full sensor, its power-up image, is whole size
    // steps: otherwise the camera refuses every Format_7 write at power-up.
    for (const std::string& model : knownModels()) {
        const CameraConfig config = *modelConfig(model, 1);
        EXPECT_EQ(0u, config.sensorWidth % config.unitWidth) << model;
        EXPECT_EQ(0u, config.sensorHeight % config.unitHeight) << model;
    }
}

TEST(WorldDescription, ParsesBusesCamerasAndForcedRegisters)
{
    const WorldDescription world = parseWorld(R"({
        "pacing": "unpaced",
        "buses": [
          { "number": 3, "speed": 400, "clockSeconds": 126.5, "driftPpm": -12.5,
            "readLatencyUs": "20", "readJitterUs": 4,
            "cameras": [
              { "model": "Grasshopper GRAS-20S4M", "serial": "0x1234" },
              { "model": "Special", "like": "Flea2 FL2G-50S5M", "serial": 99, "sensorWidth": 1280,
                "sensorHeight": 960, "maxFrameRate": 15, "trigger": false,
                "registers": { "0xF0F012F8": "0", "4042262576": 7 } }
            ] }
        ] })");
    EXPECT_EQ(world.pacing, Pacing::unpaced);
    ASSERT_EQ(world.buses.size(), 1u);
    const auto& bus = world.buses[0];
    EXPECT_EQ(bus.bus.number, 3);
    EXPECT_EQ(bus.bus.speed, 400u);
    EXPECT_DOUBLE_EQ(bus.bus.clockSeconds, 126.5);
    EXPECT_DOUBLE_EQ(bus.bus.driftPpm, -12.5);
    EXPECT_EQ(bus.bus.timing.latencyNs, 20000);
    EXPECT_EQ(bus.bus.timing.jitterNs, 4000);
    ASSERT_EQ(bus.cameras.size(), 2u);
    EXPECT_EQ(bus.cameras[0].serialNumber, 0x1234u);
    const CameraConfig& special = bus.cameras[1];
    EXPECT_EQ(special.modelName, "Special");
    EXPECT_EQ(special.sensorWidth, 1280u);
    EXPECT_FALSE(special.trigger);
    EXPECT_EQ(special.frameRate.defaultRaw, 15u * 16) << "starts at its own full rate";
    EXPECT_EQ(special.registerOverrides.at(kFrameInfo), 0u);
    EXPECT_EQ(special.registerOverrides.at(0xF0F00830), 7u);
}

TEST(WorldDescription, RefusesWhatItCannotBuild)
{
    const char* bad[] = {
        R"({ "buses": [ { "cameras": [ { "model": "Nonexistent", "serial": 1 } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f" } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1 }, { "model": "A312f", "serial": 1 } ] } ] })",
        R"({ "buses": [ { "spead": 400 } ] })",
        R"({ "buses": [ { "speed": 100 } ] })",
        R"({ "pacing": "sometimes" })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": "12x" } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 5, "registers": { "0x1FFFFFFFF": 1 } } ] } ] })",
        R"({ "buses": [ )",
        R"({ "fault": [ ] })",
    };
    for (const char* text : bad)
        EXPECT_THROW(parseWorld(text), std::runtime_error) << text;
}

// Values a hand-edited file can hold that would otherwise reach the world as
// non-finite clocks, wrapped sizes or overflowing conversions.
TEST(WorldDescription, RefusesValuesOutsideWhatTheWorldCanHold)
{
    const char* bad[] = {
        R"({ "buses": [ { "clockSeconds": "inf" } ] })",
        R"({ "buses": [ { "driftPpm": "nan" } ] })",
        R"({ "buses": [ { "readLatencyUs": "1e300" } ] })",
        R"({ "buses": [ { "readJitterUs": -1 } ] })",
        R"({ "buses": [ { "spikeUs": 2000000 } ] })",
        R"({ "buses": [ { "spikeProbability": 1.5 } ] })",
        R"({ "buses": [ { "number": 4294967295 } ] })",
        R"({ "buses": [ { "number": 2147483647 }, { } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "maxFrameRate": "1e300" } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "sensorWidth": 65536 } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "sensorWidth": 1390 } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "unitHeight": 3 } ] } ] })",
        // strtoull negates what follows a minus: this would read as 1.
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": "-18446744073709551615" } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1,
             "userMemoryE1": "0xFFFFFFF0", "userMemoryE2": "0x20" } ] } ] })",
    };
    for (const char* text : bad)
        EXPECT_THROW(parseWorld(text), std::runtime_error) << text;
    // The bounds themselves are still accepted.
    const WorldDescription edge = parseWorld(R"({ "buses": [ { "number": 2147483647, "readLatencyUs": 1000000,
        "cameras": [ { "model": "A102f", "serial": 1, "maxFrameRate": 255.9375, "sensorWidth": 65535, "unitWidth": 1,
                       "sensorHeight": 256, "userMemoryE1": 24, "userMemoryE2": 0 } ] } ] })");
    ASSERT_EQ(edge.buses.size(), 1u);
    EXPECT_EQ(edge.buses[0].bus.number, 2147483647);
    EXPECT_EQ(edge.buses[0].cameras[0].sensorWidth, 65535u);
    // A bus without a number takes the one after the highest, up to the last.
    const WorldDescription last = parseWorld(R"({ "buses": [ { "number": 2147483646 }, { } ] })");
    ASSERT_EQ(last.buses.size(), 2u);
    EXPECT_EQ(last.buses[1].bus.number, 2147483647);
}

// What an attacker or a script gone wrong writes: each refused with the key,
// where it is and the range it must keep to.
TEST(WorldDescription, RefusesHostileFilesNamingTheKeyAndTheRange)
{
    const auto camera = [](const std::string& keys) {
        return R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, )" + keys + " } ] } ] }";
    };
    const std::pair<std::string, std::string> cases[] = {
        {std::string(5000, '[') + std::string(5000, ']'), "line 1: nested deeper than 16 levels"},
        {"{\n\"buses\": " + std::string(200000, '{'), "line 2: nested deeper than 16 levels"},
        {R"({ "buses": [ { "clockSeconds": 3.8e11 } ] })",
         "clockSeconds 380000000000 is outside 0 to 4294967295 in bus #0"},
        {R"({ "buses": [ { "driftPpm": 1e300 } ] })", "driftPpm 1e+300 is outside -1000 to 1000 in bus #0"},
        {R"({ "buses": [ { "isoBandwidth": 4294967295 } ] })",
         "isoBandwidth 4294967295 is outside 0 to 39320 in bus #0"},
        {R"({ "pacing": "unpaced", "pacing": "frameRate" })", "key \"pacing\" repeated in the world"},
        {R"({ "buses": [ ], "sensors": [ ] })", "unknown key \"sensors\" in the world"},
        {R"({ "buses": { "a": { } } })", "buses must be a list in the world"},
        {R"({ "buses": [ { "cameras": 3 } ] })", "cameras must be a list in bus #0"},
        {camera(R"("serial": 2)"), "key \"serial\" repeated in camera #0 of bus #0"},
        {camera(R"("sensorWidth": 65535, "sensorHeight": 65535, "unitWidth": 1)"),
         "sensor of 65535 x 65535 pixels is above 16777216 (4096 x 4096) in camera #0 of bus #0"},
        {camera(R"("temperatureCelsius": 1e300)"),
         "temperatureCelsius 1e+300 is outside -273.15 to 136.35 in camera #0 of bus #0"},
        {camera(R"("shutterTimeBase": 1e300)"),
         "shutterTimeBase 1e+300 is outside 1e-09 to 1 in camera #0 of bus #0"},
        {camera(R"("gain": { "step": 1e-300 })"),
         "step 1e-300 is outside 1e-09 to 1000000000 in gain of camera #0 of bus #0"},
        {camera(R"("gain": { "min": -1e300 })"),
         "min -1e+300 is outside -1000000000 to 1000000000 in gain of camera #0 of bus #0"},
        {camera(R"("strobePins": 4294967295)"),
         "strobePins 4294967295 is outside 0 to 15 in camera #0 of bus #0"},
        {camera(R"("packetUnit": 65536)"), "packetUnit 65536 is outside 1 to 8192 in camera #0 of bus #0"},
        {camera(R"("maxBusSpeed": 3200)"), "maxBusSpeed must be 400 or 800 in camera #0 of bus #0"},
        {R"({ "buses": [ { "wanderPpmPerSqrtMinute": -1 } ] })",
         "wanderPpmPerSqrtMinute -1 is outside 0 to 100 in bus #0"},
        {R"({ "buses": [ { "stepOnResetTicks": 3145728000 } ] })",
         "stepOnResetTicks 3145728000 is outside -3145727999 to 3145727999 in bus #0"},
        {R"({ "buses": [ { "stepOnResetTicks": 0.5 } ] })",
         "stepOnResetTicks must be a whole number of ticks in bus #0"},
        {R"({ "buses": [ { "temperatureSwingPpm": 5 } ] })",
         "temperaturePeriodSeconds must be at least 1 with a temperatureSwingPpm in bus #0"},
        {R"({ "buses": [ { "steps": [ { "atSeconds": 1 } ] } ] })",
         "a step needs \"atSeconds\" and \"ticks\" in step #0 of bus #0"},
        {R"({ "buses": [ { "steps": [ { "atSeconds": -1, "ticks": 1 } ] } ] })",
         "atSeconds -1 is outside 0 to 31536000 in step #0 of bus #0"},
        {R"({ "buses": [ { "steps": [ { "atSeconds": 1, "ticks": 1, "when": 2 } ] } ] })",
         "unknown key \"when\" in step #0 of bus #0"},
    };
    for (const auto& [text, message] : cases) {
        try {
            parseWorld(text);
            ADD_FAILURE() << "accepted: " << text.substr(0, 120);
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(message, e.what()) << text.substr(0, 120);
        }
    }
    // The limits themselves hold: a world may sit at its edges.
    const WorldDescription edge = parseWorld(R"({ "buses": [ { "clockSeconds": 4294967295, "driftPpm": -1000,
        "cameras": [ { "model": "A102f", "serial": 1, "sensorWidth": 4096, "sensorHeight": 4096, "unitWidth": 1,
                       "temperatureCelsius": 136.35 } ] } ] })");
    EXPECT_EQ(edge.buses[0].bus.clockSeconds, 4294967295.0);
    EXPECT_EQ(edge.buses[0].cameras[0].sensorHeight, 4096u);
}

TEST(WorldDescription, ABusClockCanWanderSwingAndStep)
{
    const WorldDescription world =
        parseWorld(R"({ "buses": [ { "wanderPpmPerSqrtMinute": 0.2, "wanderSeed": 9,
        "temperatureSwingPpm": -3, "temperaturePeriodSeconds": 600, "stepOnResetTicks": -24576,
        "steps": [ { "atSeconds": 60, "ticks": 24576 }, { "atSeconds": 90.5, "ticks": -3072 } ] } ] })");
    const BusConfig& bus = world.buses[0].bus;
    EXPECT_EQ(bus.wanderPpmPerSqrtMinute, 0.2);
    EXPECT_EQ(bus.wanderSeed, 9u);
    EXPECT_EQ(bus.temperatureSwingPpm, -3.0);
    EXPECT_EQ(bus.temperaturePeriodSeconds, 600.0);
    EXPECT_EQ(bus.stepOnResetTicks, -24576);
    ASSERT_EQ(bus.steps.size(), 2u);
    EXPECT_EQ(bus.steps[1].atSeconds, 90.5);
    EXPECT_EQ(bus.steps[1].ticks, -3072);
    EXPECT_EQ(bus.steps[0].ticks, 24576);
}

TEST(WorldDescription, PropertyRangesAreGivenInAbsoluteUnitsOnWholeRawSteps)
{
    const WorldDescription world = parseWorld(R"({ "buses": [ { "cameras": [
        { "model": "Grasshopper GRAS-20S4M", "serial": 1, "shutterTimeBase": 1e-5,
          "shutter": { "min": 0.5, "max": 32.75 },
          "gain": { "min": 0, "max": 24, "absolute": false },
          "brightness": { "present": false },
          "frameRate": { "max": 60, "auto": true } } ] } ] })");
    const CameraConfig& c = world.buses.at(0).cameras.at(0);
    EXPECT_EQ(c.shutter.rawMin, 50u) << "0.5 ms in 10 us steps";
    EXPECT_EQ(c.shutter.rawMax, 3275u);
    EXPECT_EQ(c.shutter.defaultRaw, 500u) << "the raw default stays: 5 ms in 10 us steps";
    EXPECT_DOUBLE_EQ(c.gain.absAtRawMin, 0.0);
    EXPECT_EQ(c.gain.rawMax, 384u) << "24 dB in 1/16 dB steps";
    EXPECT_EQ(c.gain.defaultRaw, 0u) << "0 dB, now the minimum";
    EXPECT_FALSE(c.gain.absolute);
    EXPECT_FALSE(c.brightness.present);
    EXPECT_EQ(c.frameRate.rawMax, 16u + 59 * 16) << "1 fps at raw 16, in 1/16 fps steps";
    EXPECT_TRUE(c.frameRate.autoMode);

    const char* bad[] = {
        // 32.75 ms is not a whole number of the default 20 us steps.
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "shutter": { "max": 32.75 } } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "shutter": { "max": 90 } } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "shutter": { "step": 1 } } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "gain": { "min": 6, "max": 3 } } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "gain": { "step": 0 } } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "gain": { "default": 30 } } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "gain": { "maximum": 3 } } ] } ] })",
        R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, "shutterTimeBase": 0 } ] } ] })",
    };
    for (const char* text : bad)
        EXPECT_THROW(parseWorld(text), std::runtime_error) << text;
}

TEST(WorldDescription, AZeroStepOrPacketUnitIsRefusedNamingTheKey)
{
    for (const char* key : {"packetUnit", "unitWidth", "unitHeight", "unitLeft", "unitTop"}) {
        const std::string text =
            std::string(R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1, ")") + key +
            R"(": 0 } ] } ] })";
        try {
            parseWorld(text);
            ADD_FAILURE() << key << " 0 was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(key + std::string(" must be at least 1 in camera #0 of bus #0"), e.what());
        }
    }
    EXPECT_THROW(parseWorld(R"({ "buses": [ { "cameras": [ { "model": "A102f", "serial": 1,
                                 "maxRoiFrameRate": 0 } ] } ] })"),
                 std::runtime_error);
}

// One camera on one bus, then the given faults list.
std::string worldWithFaults(const std::string& faults)
{
    return R"({ "buses": [ { "cameras": [ { "model": "Flea2 FL2G-50S5M", "serial": 9050303 } ] } ],
                "faults": )" +
           faults + " }";
}

TEST(WorldDescription, FaultsCarryEveryFieldOfTheTableInTheFilesOrder)
{
    const WorldDescription world = parseWorld(worldWithFaults(R"([
        { "function": "flycaptureWriteRegisterBlock", "serial": 9050303, "address": "0xF0F01200",
          "skip": 3, "count": "0x10", "errorCode": 1, "stallUs": 2.5 },
        { "function": "any", "serial": "any", "errorCode": "0xE0000001" },
        { "function": "StallGrab", "errorCode": 0 },
        { "function": "flycaptureGetCameraRegister", "stallUs": 1500000 } ])"));
    ASSERT_EQ(world.faults.size(), 4u);
    const FaultTable::Fault& write = world.faults[0];
    EXPECT_EQ(write.function, "flycaptureWriteRegisterBlock");
    EXPECT_EQ(write.serialNumber, 9050303u);
    EXPECT_EQ(write.address, std::optional<uint32_t>(0xF0F01200u));
    EXPECT_EQ(write.skip, 3u);
    EXPECT_EQ(write.count, 16u);
    EXPECT_EQ(write.errorCode, std::optional<int>(1));
    EXPECT_EQ(write.delayNs, 2500);

    const FaultTable::Fault& any = world.faults[1];
    EXPECT_EQ(any.function, FaultTable::kAnyFunction);
    EXPECT_EQ(any.serialNumber, FaultTable::kAnyCamera);
    EXPECT_FALSE(any.address);
    EXPECT_EQ(any.skip, 0u);
    EXPECT_EQ(any.count, 1u);
    // The driver's statuses come back bit for bit.
    ASSERT_TRUE(any.errorCode);
    EXPECT_EQ(static_cast<uint32_t>(*any.errorCode), 0xE0000001u);
    EXPECT_EQ(any.delayNs, 0);

    EXPECT_EQ(world.faults[2].errorCode, std::optional<int>(0)) << "a code of 0 is a code";
    EXPECT_FALSE(world.faults[3].errorCode);
    EXPECT_EQ(world.faults[3].delayNs, 1500000000);
    EXPECT_TRUE(parseWorld(worldWithFaults("[]")).faults.empty());
}

// Each field refused on its own, with the reason in the message; then every
// bound accepted.
TEST(WorldDescription, RefusesEachBadFaultFieldAndAcceptsItsLimits)
{
    const std::pair<const char*, const char*> bad[] = {
        {R"([ { "errorCode": 1 } ])", "missing \"function\""},
        {R"([ { "function": "*", "errorCode": 1 } ])", "no function name"},
        {R"([ { "function": "", "errorCode": 1 } ])", "no function name"},
        {R"([ { "function": "flycapture Start", "errorCode": 1 } ])", "no function name"},
        {R"([ { "function": "f", "serial": 1234, "errorCode": 1 } ])", "no camera of the world"},
        {R"([ { "function": "f", "serial": 0, "errorCode": 1 } ])", "no camera of the world"},
        {R"([ { "function": "f", "serial": "-1", "errorCode": 1 } ])", "not an unsigned number"},
        {R"([ { "function": "f", "address": "0x100000000", "errorCode": 1 } ])", "32 bits"},
        {R"([ { "function": "f", "address": "-0xF0F01200", "errorCode": 1 } ])", "not an unsigned number"},
        {R"([ { "function": "f", "skip": 4294967296, "errorCode": 1 } ])", "32 bits"},
        {R"([ { "function": "f", "count": 0, "errorCode": 1 } ])", "count must be at least 1"},
        {R"([ { "function": "f", "count": 1.5, "errorCode": 1 } ])", "not an unsigned number"},
        {R"([ { "function": "f", "errorCode": "0x100000000" } ])", "32 bits"},
        {R"([ { "function": "f", "errorCode": "-18446744073709551615" } ])", "not an unsigned number"},
        {R"([ { "function": "f", "stallUs": "inf" } ])", "not a number"},
        {R"([ { "function": "f", "stallUs": "nan" } ])", "not a number"},
        {R"([ { "function": "f", "stallUs": -1 } ])", "stallUs must be 0 to 3600000000"},
        {R"([ { "function": "f", "stallUs": 3600000000.5 } ])", "stallUs must be 0 to 3600000000"},
        {R"([ { "function": "f", "stallUs": "1e300" } ])", "stallUs must be 0 to 3600000000"},
        {R"([ { "function": "f" } ])", "errorCode, stallUs or both"},
        {R"([ { "function": "f", "stallUs": 0 } ])", "errorCode, stallUs or both"},
        {R"([ { "function": "f", "errorCode": 1, "stall": 5 } ])", "unknown key \"stall\""},
        {R"({ "one": { "function": "f", "errorCode": 1 } })", "faults must be a list"},
        {R"("flycaptureStart")", "faults must be a list"},
    };
    for (const auto& [faults, reason] : bad) {
        try {
            parseWorld(worldWithFaults(faults));
            ADD_FAILURE() << "accepted: " << faults;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << faults << ": " << e.what();
        }
    }
    const WorldDescription edge = parseWorld(worldWithFaults(R"([
        { "function": "f", "address": "0xFFFFFFFF", "skip": 4294967295, "count": 4294967295,
          "errorCode": "0xFFFFFFFF", "stallUs": 3600000000 },
        { "function": "f", "address": 0, "errorCode": "0x7FFFFFFF" },
        { "function": "f", "errorCode": "0x80000000" } ])"));
    ASSERT_EQ(edge.faults.size(), 3u);
    EXPECT_EQ(edge.faults[0].address, std::optional<uint32_t>(0xFFFFFFFFu));
    EXPECT_EQ(edge.faults[0].skip, 0xFFFFFFFFu);
    EXPECT_EQ(edge.faults[0].count, 0xFFFFFFFFu);
    EXPECT_EQ(edge.faults[0].errorCode, std::optional<int>(-1));
    EXPECT_EQ(edge.faults[0].delayNs, int64_t(3600) * 1000000000);
    EXPECT_EQ(edge.faults[1].address, std::optional<uint32_t>(0u));
    EXPECT_EQ(edge.faults[1].errorCode, std::optional<int>(0x7FFFFFFF));
    EXPECT_EQ(edge.faults[2].errorCode, std::optional<int>(std::numeric_limits<int>::min()));
}

class WorldFile : public FreshWorld {};

// The Format_7 steps, the packet unit and the region's rate limit reach the
// registers a host reads.
TEST_F(WorldFile, Format7StepsPacketUnitAndRegionRateDriveTheCamera)
{
    const WorldDescription description = parseWorld(R"({ "buses": [ { "cameras": [
        { "model": "Grasshopper GRAS-20S4M", "serial": 7, "sensorWidth": 640, "sensorHeight": 480,
          "unitWidth": 16, "unitHeight": 4, "unitLeft": 8, "unitTop": 2, "packetUnit": 12,
          "maxRoiFrameRate": 50 } ] } ] })");
    const int bus = world().addBus(description.buses[0].bus);
    const auto camera = world().addCamera(bus, description.buses[0].cameras[0]);
    const auto read = [&](uint32_t address) {
        uint32_t value = 0;
        EXPECT_EQ(camera->readRegister(address, value), Status::ok) << std::hex << address;
        return value;
    };
    const uint32_t base = quadletOffsetToAddress(read(format7CsrInquiry(0)));
    EXPECT_EQ(read(base + kF7UnitSizeInquiry), packHigh(16, 4));
    EXPECT_EQ(read(base + kF7UnitPositionInquiry), packHigh(8, 2));
    EXPECT_EQ(highField(read(base + kF7PacketParameterInquiry)), 12u);
    EXPECT_EQ(lowField(read(base + kF7PacketParameterInquiry)) % 12, 0u) << "the maximum is on the unit";

    // A small region reads out no faster than the region limit.
    ASSERT_EQ(camera->writeRegister(kCurrentVideoFormat, kFormat7 << kCurrentIndexShift), Status::ok);
    ASSERT_EQ(camera->writeRegister(base + kF7ImageSize, packHigh(64, 16)), Status::ok);
    const uint32_t rateInquiry = read(featureInquiry(kFeatureFrameRate));
    const double fastest = 1.0 + (double(rateInquiry & kInquiryValueMask) - 16) / 16.0;
    EXPECT_NEAR(fastest, 50.0, 1.0 / 16);
}

TEST_F(WorldFile, LoadsAFileAndNamesItWhenItCannot)
{
    const std::string path = "/tmp/orvex-world-" + std::to_string(::getpid()) + ".json";
    {
        std::ofstream out(path);
        out << R"({ "buses": [ { "clockSeconds": 3, "cameras": [ { "model": "A312f", "serial": 42 } ] },
                              { "cameras": [ { "model": "A102f", "serial": 43 } ] } ] })";
    }
    world().loadFile(path);
    const auto cameras = world().connectedCameras();
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0]->serialNumber(), 42u);
    EXPECT_EQ(cameras[1]->bus()->number(), 1);
    EXPECT_NEAR(double(world().bus(0)->clock().ticksNow()) / kTicksPerSecond, 3.0, 1.0);

    {
        std::ofstream out(path);
        out << R"({ "buses": [ { "cameras": [ { "model": "A312f" } ] } ] })";
    }
    try {
        world().loadFile(path);
        FAIL() << "a camera without a serial number was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("serial"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(world().connectedCameras().empty());
    std::remove(path.c_str());
    EXPECT_THROW(world().loadFile(path), std::runtime_error);

    world().loadDefault();
    EXPECT_EQ(world().connectedCameras().size(), 5u);
}

// A bus number given twice, or given to a bus after an earlier one took it
// by default, refuses the whole file: no bus of it is built.
TEST_F(WorldFile, ARepeatedBusNumberRefusesTheWholeFile)
{
    const std::string path = "/tmp/orvex-world-dup-" + std::to_string(::getpid()) + ".json";
    for (const char* text :
         {R"({ "buses": [ { "number": 2, "cameras": [ { "model": "A312f", "serial": 42 } ] },
                          { "number": 2, "cameras": [ { "model": "A102f", "serial": 43 } ] } ] })",
          R"({ "buses": [ { "cameras": [ { "model": "A312f", "serial": 42 } ] },
                          { "number": 0, "cameras": [ { "model": "A102f", "serial": 43 } ] } ] })"}) {
        {
            std::ofstream out(path);
            out << text;
        }
        world().loadDefault();
        try {
            world().loadFile(path);
            ADD_FAILURE() << "a repeated bus number was accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("bus number"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(world().buses().empty());
        EXPECT_TRUE(world().connectedCameras().empty());
    }
    std::remove(path.c_str());
}

// The file's faults reach the world's table, which every simulated SDK call
// and driver request asks first: they act as ones the test API adds.
TEST_F(WorldFile, FaultsFromTheFileActOnTheCallsTheyName)
{
    const std::string path = "/tmp/orvex-world-faults-" + std::to_string(::getpid()) + ".json";
    {
        std::ofstream out(path);
        out << R"({ "buses": [ { "cameras": [ { "model": "Flea2 FL2G-50S5M", "serial": 9050303 },
                                                 { "model": "A102f", "serial": 20110404 } ] } ],
                   "faults": [
                     { "function": "flycaptureWriteRegisterBlock", "serial": 9050303,
                       "address": "0xF0F01200", "skip": 2, "count": 2, "errorCode": 1 },
                     { "function": "GetProperty", "serial": 20110404, "errorCode": "0xE0000001" },
                     { "function": "any", "address": "0xF0000200", "stallUs": 30000 } ] })";
    }
    world().faults().failNext("flycaptureStart", 1, 5); // gone with the world the file replaces
    world().loadFile(path);
    FaultTable& faults = world().faults();
    EXPECT_EQ(faults.pending("flycaptureStart"), 0u);
    EXPECT_EQ(faults.pending("flycaptureWriteRegisterBlock"), 2u);

    const char* write = "flycaptureWriteRegisterBlock";
    EXPECT_FALSE(faults.consume(write, 9050303, 0xF0F01200u)) << "first let through";
    EXPECT_FALSE(faults.consume(write, 9050303, 0xF0F01204u)) << "another register";
    EXPECT_FALSE(faults.consume(write, 7, 0xF0F01200u)) << "another camera";
    EXPECT_FALSE(faults.consume(write, 9050303, std::nullopt)) << "a call without an address";
    EXPECT_FALSE(faults.consume(write, 9050303, 0xF0F01200u)) << "second let through";
    EXPECT_EQ(faults.consume(write, 9050303, 0xF0F01200u), std::optional<int>(1));
    EXPECT_EQ(faults.consume(write, 9050303, 0xF0F01200u), std::optional<int>(1));
    EXPECT_FALSE(faults.consume(write, 9050303, 0xF0F01200u)) << "count used up";

    const auto status = faults.consume("GetProperty", 20110404);
    ASSERT_TRUE(status);
    EXPECT_EQ(static_cast<uint32_t>(*status), 0xE0000001u);

    const int64_t before = hostNowNs();
    EXPECT_FALSE(faults.consume("flycaptureGetCameraRegister", 9050303, 0xF0000200u))
        << "stalls, then goes on";
    EXPECT_GE(hostNowNs() - before, 30000000);

    // A refused file leaves no fault behind, nor does the default world.
    world().faults().failNext("flycaptureStart", 1, 5);
    {
        std::ofstream out(path);
        out << R"({ "faults": [ { "function": "flycaptureStart", "errorCode": 1, "serial": 5 } ] })";
    }
    EXPECT_THROW(world().loadFile(path), std::runtime_error);
    EXPECT_EQ(faults.pending("flycaptureStart"), 0u);
    world().faults().failNext("flycaptureStart", 1, 5);
    world().loadDefault();
    EXPECT_EQ(faults.pending("flycaptureStart"), 0u);
    std::remove(path.c_str());
}

} // namespace
} // namespace orvex::sim::test
