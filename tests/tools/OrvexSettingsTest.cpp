// `orvex info` with camera settings, on the simulator's built-in world: the
// settings reach the camera in an order that lets each fit, the report shows
// them with the ranges they imply, and a value the camera refuses ends the
// run with the library's own message.
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace orvex::test;

namespace {

// The report's line for `label`, without its leading blanks; "" if absent.
std::string reportLine(const std::string& report, const std::string& label)
{
    const auto at = report.find("  " + label + ":");
    if (at == std::string::npos) {
        return "";
    }
    const auto end = report.find('\n', at);
    std::string line = report.substr(at + 2, end - at - 2);
    // Labels are padded to one column: squeeze the padding to one blank.
    const auto colon = line.find(':');
    const auto value = line.find_first_not_of(' ', colon + 1);
    return line.substr(0, colon + 1) + " " + (value == std::string::npos ? "" : line.substr(value));
}

} // namespace

TEST(OrvexSettings, ARegionAndAShutterAreReportedWithThePacketAndFrameRateRangesTheyImply)
{
    const ToolRun before = runTool("info 0");
    ASSERT_EQ(0, before.status) << before.err;
    EXPECT_EQ("frame rate: 16.44 fps (1.00 to 16.44 fps)", reportLine(before.out, "frame rate"));

    const ToolRun run = runTool("info 0 --roi 0,0,640,480 --shutter 5");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("image area: 640 x 480 at (0, 0)", reportLine(run.out, "image area")) << run.out;
    EXPECT_EQ("shutter: 5000 us (21 to 60820 us)", reportLine(run.out, "shutter")) << run.out;
    EXPECT_EQ("bytes per frame: 315392", reportLine(run.out, "bytes per frame"));
    EXPECT_EQ("frame rate: 16.44 fps (1.00 to 76.50 fps)", reportLine(run.out, "frame rate"))
        << "480 of 1224 rows read out faster";
    EXPECT_EQ("", run.err);

    // A region smaller than one packet: the packet limit and size follow it.
    const ToolRun small = runTool("info 0 --roi 8,4,64,16");
    ASSERT_EQ(0, small.status) << small.err;
    EXPECT_EQ("image area: 64 x 16 at (8, 4)", reportLine(small.out, "image area"));
    EXPECT_EQ("bytes per packet: 1024", reportLine(small.out, "bytes per packet"));
    EXPECT_EQ("maximum: 1024", reportLine(small.out, "maximum"));
    EXPECT_EQ("frame rate: 16.44 fps (1.00 to 240.00 fps)", reportLine(small.out, "frame rate"));
}

TEST(OrvexSettings, SettingsApplyInTheirOwnOrderWhateverTheCommandLineOrder)
{
    // The shutter fits only once the frame rate is lowered; the packet size
    // only once the region is smaller.
    const ToolRun run = runTool(
        "info 0 --shutter 50 --frame-rate 10 --packet 512 --roi 0,0,64,16 --gain 6.5 --brightness 1.5");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("frame rate: 10.00 fps (1.00 to 240.00 fps)", reportLine(run.out, "frame rate")) << run.out;
    EXPECT_EQ("shutter: 50000 us (21 to 81900 us)", reportLine(run.out, "shutter"));
    EXPECT_EQ("bytes per packet: 512", reportLine(run.out, "bytes per packet"));
    EXPECT_EQ("gain: 6.5 dB (-1.9 to 24.0 dB)", reportLine(run.out, "gain"));
    EXPECT_EQ("brightness: 1.50 (0.00 to 25.50)", reportLine(run.out, "brightness"));

    const ToolRun automatic = runTool("info 0 --gain 6.5 --auto-exposure on");
    ASSERT_EQ(0, automatic.status) << automatic.err;
    EXPECT_EQ("auto exposure: on", reportLine(automatic.out, "auto exposure"));
    EXPECT_EQ("gain: automatic", reportLine(automatic.out, "gain"));
}

TEST(OrvexSettings, TriggerAndStrobeSettingsReachTheCameraAndTheTriggerFreesTheShutterRange)
{
    // With the trigger on, the frame period no longer bounds the shutter:
    // 80 ms fits only because the trigger is applied first.
    const ToolRun run = runTool("info 0 --shutter 80 --trigger 1,falling --strobe 1,on,100,200");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("mode: camtm_triggerWidth", reportLine(run.out, "mode"));
    EXPECT_EQ("polarity: falling edge", reportLine(run.out, "polarity"));
    EXPECT_EQ("state: on", reportLine(run.out, "state"));
    EXPECT_EQ("shutter: 80000 us (21 to 81900 us)", reportLine(run.out, "shutter"));
    EXPECT_EQ("port 1: on, active low, delay 100 us, duration 200 us", reportLine(run.out, "port 1"));
    EXPECT_EQ("port 2: off", reportLine(run.out, "port 2"));

    const ToolRun off = runTool("info 0 --trigger off --strobe 1,off");
    ASSERT_EQ(0, off.status) << off.err;
    EXPECT_EQ("state: off", reportLine(off.out, "state"));
    EXPECT_EQ("port 1: off", reportLine(off.out, "port 1"));
}

TEST(OrvexSettings, AValueTheCameraRefusesEndsTheRunWithTheLibrarysMessage)
{
    struct Case {
        const char* arguments;
        const char* message;
    };
    const Case cases[] = {
        {"--shutter 500",
         "orvex: --shutter 500: shutter greater than max shutter allowed (500000 > 60820)\n"},
        {"--gain 30", "orvex: --gain 30: gain value greater than max gain allowed (300 > 240)\n"},
        {"--frame-rate 0.5",
         "orvex: --frame-rate 0.5: frameRate lower than min frameRate allowed (0.5 < 1)\n"},
    };
    for (const Case& c : cases) {
        const ToolRun run = runTool(std::string("info 0 ") + c.arguments);
        EXPECT_EQ(1, run.status) << c.arguments;
        EXPECT_EQ(c.message, run.err) << c.arguments;
        EXPECT_EQ("", run.out) << "no report of a camera left half set";
    }
    const ToolRun badPort = runTool("info 0 --strobe 9,on");
    EXPECT_EQ(1, badPort.status);
    EXPECT_TRUE(contains(badPort.err, "orvex: --strobe 9,on: 9 is an invalid gpioId")) << badPort.err;
}

TEST(OrvexSettings, AValueNotOfItsOptionsFormIsABadCommandLine)
{
    const char* const cases[] = {
        "info 0 --shutter fast",      "info 0 --shutter -1",      "info 0 --shutter nan",
        "info 0 --roi 1,2,3",         "info 0 --roi 1,2,3,4,5",   "info 0 --roi 0,0,64,x",
        "info 0 --roi 0,0,64,",       "info 0 --packet 1e3",      "info 0 --packet 99999999999",
        "info 0 --auto-exposure yes", "info 0 --trigger 2",       "info 0 --trigger 0,up",
        "info 0 --strobe 1",          "info 0 --strobe 1,on,100", "info 0 --strobe -1,on",
        "info 0 --gain 1dB",          "info 0 --strobe 1,on,",    "info 0 --trigger 0,rising,extra",
        "list --shutter 5",
    };
    for (const char* arguments : cases) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(2, run.status) << arguments;
        EXPECT_TRUE(contains(run.err, "orvex: ")) << arguments << ": " << run.err;
        EXPECT_EQ("", run.out) << arguments;
    }
    EXPECT_TRUE(contains(runTool("info 0 --shutter fast").err, "--shutter 'fast': expected milliseconds"));
}

// The ranges a world file gives a camera are the ones the settings meet.
TEST(OrvexSettings, AWorldFilesRangesAndStepsBoundTheSettings)
{
    const std::string path = "/tmp/orvex-settings-world-" + std::to_string(::getpid()) + ".json";
    std::ofstream(path) << R"({ "buses": [ { "cameras": [
        { "model": "Narrow", "like": "Grasshopper GRAS-20S4M", "serial": 5, "shutterTimeBase": 1e-5,
          "shutter": { "min": 0.5, "max": 32.75 }, "packetUnit": 8, "unitWidth": 16,
          "sensorWidth": 1616 } ] } ] })";

    const ToolRun run = runTool("info 0 --frame-rate 5 --shutter 32.75 --packet 4096", path);
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ("shutter: 32750 us (501 to 32750 us)", reportLine(run.out, "shutter")) << run.out;
    EXPECT_EQ("unit: 8", reportLine(run.out, "unit"));
    EXPECT_EQ("size unit: 16 x 2", reportLine(run.out, "size unit"));

    // The tool checks the geometry against the camera's own steps first.
    EXPECT_EQ(
        "orvex: --packet 4100: this camera takes 8 to 4096 bytes per packet in steps of 8 with this region\n",
        runTool("info 0 --packet 4100", path).err);
    EXPECT_EQ("orvex: --shutter 0.5: shutter lower than min shutter allowed (500 < 501)\n",
              runTool("info 0 --shutter 0.5", path).err);
    EXPECT_EQ(
        "orvex: --roi 0,0,648,480: this camera takes a size of 16 x 2 to 1616 x 1224 pixels in steps of 16 "
        "x 2, at a position in steps of 2 x 2, inside 1616 x 1224\n",
        runTool("info 0 --roi 0,0,648,480", path).err);
    std::remove(path.c_str());
}
