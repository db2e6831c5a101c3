// orvex grab as a user runs it: the frames it writes, read back with libpng,
// are the simulator's images: the gradient, the moving square and the frame
// counter where the simulator puts them.
#include <orvex/iidc/FrameInfo.h>
#include <orvex/sim/FramePattern.h>

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
namespace pattern = orvex::sim::pattern;

namespace {

constexpr uint32_t kWidth = 160;
constexpr uint32_t kHeight = 120;

struct Decoded {
    uint32_t width = 0, height = 0;
    int bitDepth = 0;
    std::vector<uint8_t> pixels; // as the camera delivered them (16-bit little-endian)
    std::map<std::string, std::string> text;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads a grey PNG with libpng's simplified-free classic interface.
bool readGreyPng(const fs::path& path, Decoded& out)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file.get());
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    if (out.bitDepth == 16)
        png_set_swap(png);
    png_textp text = nullptr;
    const int count = png_get_text(png, info, &text, nullptr);
    for (int i = 0; i < count; ++i)
        out.text[text[i].key] = text[i].text;
    const size_t rowBytes = png_get_rowbytes(png, info);
    out.pixels.resize(rowBytes * out.height);
    for (uint32_t row = 0; row < out.height; ++row)
        png_read_row(png, out.pixels.data() + row * rowBytes, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

int runTool(const std::string& arguments, const fs::path& world, std::string& out)
{
    const fs::path outPath = fs::temp_directory_path() / "orvex_grab_out.txt";
    const std::string command = "env ORVEX_SIM_WORLD='" + world.string() + "' '" + ORVEX_TOOL_PATH + "' " +
                                arguments + " >'" + outPath.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream file(outPath);
    std::ostringstream text;
    text << file.rdbuf();
    out = text.str();
    fs::remove(outPath);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class GrabTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("orvex_grab_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
               std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::create_directories(dir);
        world = dir / "world.json";
        std::ofstream(world) << R"({ "buses": [ { "number": 0, "cameras": [
            { "model": "Small", "like": "Grasshopper GRAS-20S4M", "serial": 4242,
              "sensorWidth": )"
                             << kWidth << R"(, "sensorHeight": )" << kHeight
                             << R"(, "maxFrameRate": 60 } ] } ] })";
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    fs::path world;
};

// The simulator's image for a frame counter, frame information left out.
std::vector<uint8_t> expectedImage(uint32_t frameCounter)
{
    orvex::sim::FrameGeometry g;
    g.width = kWidth;
    g.height = kHeight;
    std::vector<uint8_t> image(g.imageBytes());
    pattern::fill(image.data(), g);
    orvex::sim::Frame frame;
    frame.geometry = g;
    frame.frameCounter = frameCounter;
    pattern::StampState state;
    pattern::stamp(image.data(), g, frame, state);
    return image;
}

} // namespace

TEST_F(GrabTool, HundredFramesDecodeBackToTheSimulatorsPattern)
{
    std::string out;
    ASSERT_EQ(0, runTool("grab 0 --count 100 --out '" + (dir / "frames").string() + "'", world, out)) << out;
    EXPECT_NE(std::string::npos, out.find("camera 0 (GUID 0000000000001092): 100 images received")) << out;
    EXPECT_NE(std::string::npos, out.find("dropped by the SDK:")) << out;
    EXPECT_NE(std::string::npos, out.find("frames per second:")) << out;
    EXPECT_NE(std::string::npos, out.find("CPU per image")) << out;

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir / "frames"))
        files.push_back(entry.path());
    ASSERT_EQ(100u, files.size());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        Decoded png;
        ASSERT_TRUE(readGreyPng(file, png));
        ASSERT_EQ(kWidth, png.width);
        ASSERT_EQ(kHeight, png.height);
        ASSERT_EQ(8, png.bitDepth);
        const uint32_t frameCounter = pattern::readFrameNumber(png.pixels.data());
        EXPECT_EQ(std::to_string(frameCounter), png.text["Index"])
            << "the index is the camera's frame counter";
        EXPECT_EQ(1u, png.text.count("Hardware date (ms)"));
        EXPECT_EQ(1u, png.text.count("Software date (ms)"));
        // The grab switches the time stamp and the frame counter on: the
        // first eight bytes carry them instead of the gradient.
        std::vector<uint8_t> expected = expectedImage(frameCounter);
        std::copy(png.pixels.begin(), png.pixels.begin() + 8, expected.begin());
        ASSERT_EQ(expected, png.pixels);
    }
}

TEST_F(GrabTool, EveryKthFrameOnlyAndAnUnknownCameraIsRefused)
{
    std::string out;
    ASSERT_EQ(0, runTool("grab 0 --count 20 --every 5 --out '" + (dir / "some").string() + "'", world, out))
        << out;
    size_t written = 0;
    for (const auto& entry : fs::directory_iterator(dir / "some")) {
        (void)entry;
        ++written;
    }
    EXPECT_EQ(4u, written);

    EXPECT_EQ(1, runTool("grab 0,7 --count 1", world, out));
    EXPECT_NE(std::string::npos, out.find("no camera 7")) << out;
    EXPECT_EQ(2, runTool("grab 0 --count 5 --seconds 1", world, out));
    EXPECT_EQ(2, runTool("grab 0 --every 0", world, out));
}

TEST_F(GrabTool, TheBcamStackGrabsTheSimulatorsPatternWithItsChunksDates)
{
    std::ofstream(world) << R"({ "buses": [ { "number": 2, "speed": 400, "cameras": [
        { "model": "A312f", "serial": 4343, "sensorWidth": )"
                         << kWidth << R"(, "sensorHeight": )" << kHeight << R"( } ] } ] })";
    std::string out;
    ASSERT_EQ(
        0, runTool("grab --backend bcam 0 --count 100 --out '" + (dir / "frames").string() + "'", world, out))
        << out;
    EXPECT_NE(std::string::npos, out.find("100 images received")) << out;
    // The grab switches the extended data stream on: the cycle-time chunk
    // gives every image a hardware date.
    EXPECT_NE(std::string::npos, out.find("hardware - software date spread")) << out;

    std::set<std::string> indexes;
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir / "frames")) {
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        Decoded png;
        ASSERT_TRUE(readGreyPng(entry.path(), png));
        ASSERT_EQ(kWidth, png.width);
        ASSERT_EQ(kHeight, png.height);
        ASSERT_EQ(8, png.bitDepth);
        indexes.insert(png.text["Index"]);
        EXPECT_EQ(1u, png.text.count("Hardware date (ms)"));
        // The BCAM cameras append their chunks after the pixels: the image
        // is the pattern alone, and the frame-counter chunk is its index.
        const uint32_t frameCounter = pattern::readFrameNumber(png.pixels.data());
        EXPECT_EQ(std::to_string(frameCounter), png.text["Index"]);
        ASSERT_EQ(expectedImage(frameCounter), png.pixels);
    }
    EXPECT_EQ(100U, files);
    EXPECT_EQ(100U, indexes.size());
}
