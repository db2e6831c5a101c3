// The orvex command against what a careless user or a script gone wrong
// gives it: numbers and geometries outside what the cameras take, world
// files it must refuse, cameras that cannot all fit their bus, cameras that
// cannot be initialised, and folders it cannot write. Each gets a clear
// message and the documented status (1 a camera or system failure, 2 bad
// usage or bad input), never a wrapped value, a removed camera or a file
// left half written.
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace orvex::test;
namespace fs = std::filesystem;

namespace {

struct Case {
    const char* arguments;
    int status;
    const char* message; // a part of stderr
};

void expectAll(const std::initializer_list<Case>& cases, const std::string& world = "")
{
    for (const Case& c : cases) {
        const ToolRun run = runTool(c.arguments, world);
        EXPECT_EQ(c.status, run.status) << c.arguments << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, c.message)) << c.arguments << "\n" << run.err;
        EXPECT_FALSE(contains(run.err, "was removed")) << c.arguments << "\n" << run.err;
    }
}

std::string temporaryPath(const std::string& name)
{
    return (fs::temp_directory_path() / ("orvex-hostile-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

} // namespace

// A geometry the camera cannot take is refused before the library is asked
// (a zero-sized region would end with the camera reported as removed), with
// the camera's limits; a negative number never wraps.
TEST(HostileCommandLine, GeometriesAndNegativeNumbersAreBadInput)
{
    expectAll({
        {"info 0 --roi 0,0,0,480", 2,
         "--roi 0,0,0,480: this camera takes a size of 8 x 2 to 1624 x 1224 pixels"},
        {"info 0 --roi 0,0,640,0", 2,
         "in steps of 8 x 2, at a position in steps of 2 x 2, inside 1624 x 1224"},
        {"info 0 --roi 0,0,1632,480", 2, "--roi 0,0,1632,480: this camera takes"},
        {"info 0 --roi 1,0,640,480", 2, "--roi 1,0,640,480: this camera takes"},
        {"info 0 --roi 8,0,1624,480", 2, "--roi 8,0,1624,480: this camera takes"},
        {"info 0 --roi 0,0,644,480", 2, "--roi 0,0,644,480: this camera takes"},
        {"info 0 --roi -2,0,640,480", 2, "expected X,Y,WIDTH,HEIGHT in pixels, none negative"},
        {"info 0 --roi 0,0,2147483647,2147483647", 2, "this camera takes"},
        {"info 0 --roi 0,0,640,480 --packet 3", 2, "--packet 3: this camera takes 4 to"},
        {"info 0 --roi 0,0,640,480 --packet 1000000", 2, "--packet 1000000: this camera takes 4 to"},
        {"info 0 --packet -4", 2, "--packet '-4': expected a positive number of bytes"},
        {"info 0 --packet 0", 2, "--packet '0': expected a positive number of bytes"},
        {"info 0 --backend bcam --roi 0,0,0,0", 2, "--roi 0,0,0,0: this camera takes"},
        {"grab 0 --count -1", 2, "--count '-1': expected a whole number from 0 to 4294967295"},
        {"grab 0 --count 4294967296", 2, "--count '4294967296': expected a whole number"},
        {"grab 0 --count ' 5'", 2, "--count ' 5': expected a whole number"},
        {"grab 0 --every -1", 2, "--every '-1': expected a whole number"},
        {"grab 0 --seconds nan", 2, "--seconds must be positive"},
        {"grab 0 --seconds inf", 2, "--seconds must be positive"},
        {"grab 0 --count 1 --roi 0,0,0,0", 2, "--roi 0,0,0,0: this camera takes"},
        {"grab 0 --count 1 --packet 3", 2, "--packet 3: this camera takes"},
        {"info 0 --strobe -1,on", 2, "--strobe '-1,on'"},
        {"info -1", 2, "unrecognised option '-1'"},
        {"info 0x-1", 1, "no camera 0x-1"},
    });
    // The limits themselves are taken.
    const ToolRun edge = runTool("info 0 --roi 1616,1222,8,2 --packet 4");
    EXPECT_EQ(0, edge.status) << edge.err;
    EXPECT_TRUE(contains(edge.out, "8 x 2 at (1616, 1222)")) << edge.out;
}

// Two FlyCapture cameras of one bus at S400 (4096-byte packets) ask 8192
// bytes per cycle of the 9830 it carries: nothing to share, and a packet
// beyond the speed's is refused with the camera's range. The BCAM cameras'
// bus carries 4915: the tool shares it and says how.
TEST(HostileCommandLine, CamerasOfOneBusShareItsBudgetUnlessThePacketSizesAreGiven)
{
    const ToolRun all = runTool("grab all --count 10");
    EXPECT_EQ(0, all.status) << all.err;
    EXPECT_FALSE(contains(all.err, "shared:")) << all.err;
    for (const char* camera : {"camera 0 ", "camera 1 ", "camera 2 "})
        EXPECT_TRUE(contains(all.out, camera)) << all.out;
    EXPECT_FALSE(contains(all.out, " 0 images received")) << all.out;
    EXPECT_FALSE(contains(all.err, "exceeds max allowed")) << all.err;

    expectAll({
        {"grab 0,1 --count 1 --packet 8192", 2,
         "--packet 8192: this camera takes 4 to 4096 bytes per packet in steps of 4 with this region"},
    });
    EXPECT_EQ("", runTool("grab 0,1 --count 1 --packet 8192").out)
        << "no summary of a run that never started";
    const ToolRun bcam = runTool("grab all --backend bcam --count 5");
    EXPECT_EQ(0, bcam.status) << bcam.err;
    EXPECT_TRUE(contains(bcam.err, "carries 4915 bytes per cycle, shared:")) << bcam.err;
}

// A camera whose init fails is listed with its error, and the list says the
// run was not clean.
TEST(HostileCommandLine, ACameraThatCannotBeInitialisedIsListedWithItsError)
{
    const std::string world = temporaryPath("init-fails.json");
    std::ofstream(world) << R"({ "buses": [ { "cameras": [
        { "model": "Flea2 FL2G-50S5M", "serial": 9050303 }, { "model": "Grasshopper GRAS-20S4M", "serial": 7240101 } ] } ],
        "faults": [ { "function": "any", "serial": 9050303, "errorCode": 1, "count": 4294967295 } ] })";
    const ToolRun run = runTool("list", world);
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_TRUE(contains(run.out, "2 cameras on the FlyCapture buses, 1 of them not initialised")) << run.out;
    EXPECT_TRUE(contains(run.out, "cannot be initialised: ")) << run.out;
    EXPECT_TRUE(contains(run.out, "Grasshopper GRAS-20S4M")) << run.out;
    fs::remove(world);
}

// World files no simulator can build: refused through the tool too, with the
// file, the key and the range, whatever their size or nesting.
TEST(HostileCommandLine, HostileWorldFilesAreRefusedNamingTheProblem)
{
    const std::string deep = temporaryPath("deep.json");
    const std::string clock = temporaryPath("clock.json");
    std::ofstream(deep) << std::string(100000, '[');
    std::ofstream(clock) << R"({ "buses": [ { "clockSeconds": 3.8e11 } ] })";
    const struct {
        std::string world;
        const char* message;
    } cases[] = {
        {deep, "nested deeper than 16 levels"},
        {clock, "clockSeconds 380000000000 is outside 0 to 4294967295 in bus #0"},
        {"/dev/zero", "larger than 4 MiB"},
        {fs::temp_directory_path().string(), "cannot be read"},
    };
    for (const auto& c : cases) {
        const ToolRun run = runTool("list", c.world);
        EXPECT_EQ(1, run.status) << c.world << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, c.message)) << c.world << "\n" << run.err;
    }
    fs::remove(deep);
    fs::remove(clock);
}

// A full disk or a read-only folder: the grab stops with the file and the
// system's reason and exits 1, and no image is left half written. Needs a
// mount namespace for a small tmpfs (root or user namespaces).
TEST(HostileCommandLine, AFailedWriteEndsTheGrabAndLeavesOnlyWholeFiles)
{
    const std::string mount = temporaryPath("mount");
    fs::create_directories(mount);
    const std::string probe = "unshare -m sh -c 'mount -t tmpfs -o size=64k none " + mount + "' 2>/dev/null";
    if (std::system(probe.c_str()) != 0) {
        fs::remove(mount);
        GTEST_SKIP() << "no mount namespace here";
    }
    const struct {
        const char* options;
        const char* reason;
    } cases[] = {
        {"size=100k", "No space left on device"},
        {"size=1m,ro", "Read-only file system"},
    };
    for (const auto& c : cases) {
        // The tool runs inside the namespace; the listing of what it left is
        // taken there too, after it ended.
        const ToolRun run =
            runShell("unshare -m sh -c 'mount -t tmpfs -o " + std::string(c.options) + " none " + mount +
                     " && env -u ORVEX_SIM_WORLD " + ORVEX_TOOL_PATH + " grab 0 --count 20 --out " + mount +
                     "; status=$?; ls " + mount + " >&2; exit $status'");
        EXPECT_EQ(1, run.status) << c.options << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, "cannot write " + mount + "/cam0-")) << run.err;
        EXPECT_TRUE(contains(run.err, c.reason)) << run.err;
        EXPECT_FALSE(contains(run.err, ".part")) << "a partial file was left:\n" << run.err;
    }
    fs::remove(mount);
}

// A plot into a device is written into it, never renamed over it: into
// /dev/full the sync ends with the system's reason and exits 1, and the
// device is still there. Into a folder it cannot write it leaves nothing.
TEST(HostileCommandLine, APlotThatCannotBeWrittenEndsTheSyncAndReplacesNothing)
{
    if (!fs::is_character_file("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    const ToolRun full = runTool("sync --seconds 0.3 --plot /dev/full");
    EXPECT_EQ(1, full.status) << full.err;
    EXPECT_TRUE(contains(full.err, "cannot write the plot to /dev/full: No space left on device"))
        << full.err;
    EXPECT_TRUE(fs::is_character_file("/dev/full")) << "the device was replaced";
    EXPECT_FALSE(fs::exists("/dev/full.part"));

    const std::string missing = temporaryPath("no-such-folder") + "/plot.svg";
    const ToolRun nowhere = runTool("sync --seconds 0.3 --plot " + missing);
    EXPECT_EQ(1, nowhere.status) << nowhere.err;
    EXPECT_TRUE(contains(nowhere.err, "cannot write the plot to " + missing + ": No such file or directory"))
        << nowhere.err;
}
