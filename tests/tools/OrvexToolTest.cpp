// Runs the built orvex command on the simulator's built-in world (three
// FlyCapture cameras on two buses) and checks what it prints and how it exits.
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace orvex::test;

namespace {

// The GUID the list prints for a model, "0x" and sixteen digits.
std::string guidOf(const std::string& list, const std::string& model)
{
    std::istringstream lines(list);
    std::string line;
    while (std::getline(lines, line)) {
        if (contains(line, model)) {
            const auto at = line.find("0x");
            return at == std::string::npos ? "" : line.substr(at, 18);
        }
    }
    return "";
}

} // namespace

TEST(OrvexTool, ListShowsTheDefaultWorldsCameras)
{
    const ToolRun run = runTool("list");
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(contains(run.out, "3 cameras")) << run.out;
    for (const char* column : {"port", "GUID", "model", "vendor", "bus", "firmware", "user memory"}) {
        EXPECT_TRUE(contains(run.out, column)) << column;
    }
    EXPECT_TRUE(contains(run.out, "Grasshopper GRAS-20S4M")) << run.out;
    EXPECT_TRUE(contains(run.out, "Grasshopper GRAS-50S5M")) << run.out;
    EXPECT_TRUE(contains(run.out, "Flea2 FL2G-50S5M")) << run.out;
    EXPECT_TRUE(contains(run.out, "Point Grey Research"));
    EXPECT_TRUE(contains(run.out, "2.3.1.5")) << "the Flea2's version register";
    EXPECT_TRUE(contains(run.out, "65536 bytes"));
    EXPECT_TRUE(contains(run.out, "16384 bytes"));
    EXPECT_EQ(18u, guidOf(run.out, "Flea2").size()) << run.out;
    EXPECT_EQ("", run.err);
}

TEST(OrvexTool, InfoInitialisesOneCameraByPortOrGuid)
{
    const ToolRun byPort = runTool("info 0");
    ASSERT_EQ(0, byPort.status) << byPort.err;
    for (const char* line :
         {"camera at port 0", "maximum size:", "image area:", "pixel format:     8-bit mono",
          "bytes per packet:", "maximum:", "modes:", "camtm_exposureTimed", "polarity:", "rising edge",
          "shutter:", "gain:", "temperature:"}) {
        EXPECT_TRUE(contains(byPort.out, line)) << line << "\n" << byPort.out;
    }
    EXPECT_FALSE(contains(byPort.out, "?")) << byPort.out << byPort.err;

    const std::string guid = guidOf(runTool("list").out, "Flea2");
    ASSERT_FALSE(guid.empty());
    const ToolRun byGuid = runTool("info " + guid);
    ASSERT_EQ(0, byGuid.status) << byGuid.err;
    EXPECT_TRUE(contains(byGuid.out, "camera at port 2")) << byGuid.out;
    EXPECT_TRUE(contains(byGuid.out, "2448 x 2048")) << byGuid.out;
}

TEST(OrvexTool, RefusesWhatItCannotDoWithAMessageAndAStatus)
{
    struct Case {
        const char* arguments;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"info 7", 1, "no camera 7"},
        {"info 0x0123", 1, "no camera 0x0123"},
        {"info 0 --backend all", 2, "--backend all lists cameras only"},
        {"list --backend v4l2", 2, "unknown back end 'v4l2'"},
        {"", 2, "no command given"},
        {"frobnicate", 2, "unknown command 'frobnicate'"},
        {"info", 2, "info needs a camera"},
        {"list 0", 2, "list takes no camera"},
        {"info 0 1", 2, "too many arguments"},
        {"list --colour", 2, "colour"},
        {"list --log-level LOUD", 2, "unknown log level 'LOUD'"},
    };
    for (const Case& c : cases) {
        const ToolRun run = runTool(c.arguments);
        EXPECT_EQ(c.status, run.status) << c.arguments;
        EXPECT_TRUE(contains(run.err, c.message)) << c.arguments << ": " << run.err;
        EXPECT_TRUE(contains(run.err, "orvex: ")) << c.arguments;
    }
}

TEST(OrvexTool, BothStacksListTheirOwnCamerasAndAllListsBoth)
{
    const ToolRun bcam = runTool("list --backend bcam");
    ASSERT_EQ(0, bcam.status) << bcam.err;
    EXPECT_TRUE(contains(bcam.out, "2 cameras on the BCAM driver")) << bcam.out;
    EXPECT_TRUE(contains(bcam.out, "A102f ID=100 FW=30 v1.0.30.0")) << bcam.out;
    EXPECT_FALSE(contains(bcam.out, "Grasshopper")) << bcam.out;

    const ToolRun all = runTool("list -b all");
    ASSERT_EQ(0, all.status) << all.err;
    const std::size_t flycap = all.out.find("3 cameras on the FlyCapture buses");
    const std::size_t basler = all.out.find("2 cameras on the BCAM driver");
    ASSERT_NE(std::string::npos, flycap) << all.out;
    ASSERT_NE(std::string::npos, basler) << all.out;
    EXPECT_LT(flycap, basler);

    const ToolRun info = runTool("info " + guidOf(bcam.out, "A312f") + " --backend bcam");
    ASSERT_EQ(0, info.status) << info.err;
    EXPECT_TRUE(contains(info.out, "782 x 582")) << info.out;
    EXPECT_TRUE(contains(info.out, " raw (")) << info.out; // the BCAM stack's units
}

TEST(OrvexTool, HelpDescribesTheCommands)
{
    const ToolRun run = runTool("--help");
    EXPECT_EQ(0, run.status);
    for (const char* part : {"Usage: orvex", "list", "info CAMERA", "--backend", "--log-level"}) {
        EXPECT_TRUE(contains(run.out, part)) << part;
    }
}

// A world file that is missing, malformed or names a bus twice is a typo, not
// an empty bus: the tool names the file and the reason and fails, whatever
// the command.
TEST(OrvexTool, AWorldFileThatCannotBeLoadedIsRefused)
{
    const std::string missing = "/tmp/orvex-no-such-world-" + std::to_string(::getpid()) + ".json";
    const std::string malformed = "/tmp/orvex-bad-world-" + std::to_string(::getpid()) + ".json";
    const std::string repeated = "/tmp/orvex-dup-world-" + std::to_string(::getpid()) + ".json";
    std::ofstream(malformed) << R"({ "buses": [ { "cameras": [ )";
    std::ofstream(repeated) << R"({ "buses": [ { "number": 1 }, { "number": 1 } ] })";
    const struct {
        const std::string& file;
        const char* reason;
    } cases[] = {
        {missing, "No such file or directory"},
        {malformed, "line "},
        {repeated, "bus number 1 repeated"},
    };
    for (const auto& c : cases) {
        for (const char* command : {"list", "info 0"}) {
            const ToolRun run = runTool(command, c.file);
            EXPECT_EQ(1, run.status) << command << " " << c.file;
            EXPECT_TRUE(contains(run.err, "orvex: world file \"" + c.file + "\"")) << run.err;
            EXPECT_TRUE(contains(run.err, c.reason)) << run.err;
            EXPECT_FALSE(contains(run.out, "0 cameras")) << run.out;
        }
    }
    std::remove(malformed.c_str());
    std::remove(repeated.c_str());
}

TEST(OrvexTool, SyncRefusesWhatItCannotRun)
{
    const struct {
        const char* arguments;
        int status;
        const char* message;
    } cases[] = {
        {"sync 0", 2, "sync takes its master with --master"},
        {"sync --seconds 0", 2, "--seconds must be above 0"},
        {"sync --master 7 --seconds 1", 1, "no camera 7"},
        {"view --field", 2, "--field needs --sync"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool(c.arguments);
        EXPECT_EQ(c.status, run.status) << c.arguments;
        EXPECT_TRUE(contains(run.err, c.message)) << c.arguments << ": " << run.err;
    }
}

// About 6 s of the controller's timers on the default world: the Flea2 on bus
// 1 is the slave.
TEST(OrvexTool, SyncReportsEachUpdateUntilTheSlaveAgreesAndDrawsTheRun)
{
    char plotPath[] = "/tmp/orvex_sync_plot_XXXXXX";
    close(mkstemp(plotPath));
    const ToolRun run = runTool(std::string("sync --seconds 6.5 --plot ") + plotPath);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_TRUE(contains(run.out, "master 0x00000000006E79A5 on bus 0; 1 camera(s) on other buses, 1 on the "
                                  "master's bus"))
        << run.out;
    EXPECT_TRUE(contains(run.out, "not corrected yet")) << "the first updates only measure";
    EXPECT_TRUE(contains(run.out, "synchronised after")) << run.out;

    // The last update's line: corrected, and the slave stamps like the master.
    const std::string last = run.out.substr(run.out.rfind("synchronized  0x"));
    EXPECT_TRUE(contains(last, "drift -")) << "bus 1 runs 30 ppm fast: " << last;
    const auto at = last.find("disagreement ");
    ASSERT_NE(std::string::npos, at) << last;
    const long disagreement = std::strtol(last.c_str() + at + 13, nullptr, 10);
    EXPECT_LE(std::labs(disagreement), 50) << last;

    const std::string plot = readFile(plotPath);
    unlink(plotPath);
    EXPECT_EQ(0u, plot.find("<?xml")) << plot.substr(0, 80);
    EXPECT_TRUE(contains(plot, "<polyline")) << "the drift and disagreement series";
    EXPECT_TRUE(contains(plot, "0x00000000008A18BF")) << "the slave in the legend";
}
