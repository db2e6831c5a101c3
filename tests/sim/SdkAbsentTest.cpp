// The library loads and runs without the FlyCapture SDK: a host program is
// run against a copy of the build's libraries from which the SDK is left out
// (and, as a control, against the build's libraries, SDK included).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct HostRun {
    int exitCode = -1;
    std::string output;
};

HostRun runHost(const fs::path& libraryDir, const std::string& mode)
{
    const std::string command =
        "LD_LIBRARY_PATH='" + libraryDir.string() + "' '" + ORVEX_SDK_ABSENT_HOST + "' " + mode + " 2>&1";
    HostRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    std::array<char, 512> chunk;
    while (std::fgets(chunk.data(), static_cast<int>(chunk.size()), pipe))
        run.output += chunk.data();
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// The build's shared libraries without the SDK, in a folder of their own.
class LibrariesWithoutSdk : public ::testing::Test {
protected:
    void SetUp() override
    {
        _dir = fs::temp_directory_path() / ("orvex-no-sdk-" + std::to_string(::getpid()));
        fs::remove_all(_dir);
        fs::create_directories(_dir);
        for (const auto& entry : fs::directory_iterator(ORVEX_LIBRARY_DIR)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("libPGRFlyCapture", 0) == 0)
                continue;
            fs::copy(entry.path(), _dir / name, fs::copy_options::copy_symlinks);
        }
    }
    void TearDown() override { fs::remove_all(_dir); }
    fs::path _dir;
};

TEST_F(LibrariesWithoutSdk, LibraryRunsAndSdkCallsNameTheMissingLibrary)
{
    ASSERT_FALSE(fs::exists(_dir / "libPGRFlyCapture.so"));
    ASSERT_TRUE(fs::exists(_dir / "liborvex.so"));
    const HostRun run = runHost(_dir, "absent");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(
        run.output.find(
            "createFlyCapVideoServer: The FlyCapture SDK library PGRFlyCapture.dll could not be loaded"),
        std::string::npos)
        << run.output;
}

TEST(LibrariesWithSdk, TheSameHostLoadsTheSdkWhenItIsThere)
{
    const HostRun run = runHost(ORVEX_LIBRARY_DIR, "present");
    EXPECT_EQ(run.exitCode, 0) << run.output;
}

} // namespace
