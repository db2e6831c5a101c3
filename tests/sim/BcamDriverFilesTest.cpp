// The simulated BCAM driver's installation read the way the client reads it:
// the service's image path, the driver file's version and the message
// library's texts.
#include <orvex/sim/BcamDriver.h>
#include <orvex/win32.h>
#include <orvex/win32_driver.h>

#include <gtest/gtest.h>

#include <string>

namespace orvex::sim::test {
namespace {

class BcamDriverFilesTest : public ::testing::Test {
protected:
    void SetUp() override { win32sim::resetDataStore(); }
    void TearDown() override { win32sim::resetDataStore(); }

    // The driver file's path: the expanded image path, relative ones below
    // the Windows directory.
    static std::string driverFile()
    {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, bcam::kServiceKey, 0, KEY_READ, &key));
        char value[MAX_PATH] = {};
        DWORD type = 0, size = sizeof value;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueExA(key, "ImagePath", nullptr, &type, reinterpret_cast<BYTE*>(value), &size));
        RegCloseKey(key);
        EXPECT_EQ(DWORD(REG_EXPAND_SZ), type);
        char expanded[MAX_PATH] = {};
        ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
        char windows[MAX_PATH] = {};
        GetWindowsDirectoryA(windows, sizeof windows);
        return std::string(windows) + "\\" + expanded;
    }
    // The most significant version word as (major, minor); false without one.
    static bool fileVersion(const std::string& file, WORD& major, WORD& minor)
    {
        DWORD handle = 0;
        const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
        if (size == 0)
            return false;
        std::string data(size, '\0');
        VS_FIXEDFILEINFO* info = nullptr;
        UINT length = 0;
        if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()) ||
            !VerQueryValueA(data.data(), "\\", reinterpret_cast<LPVOID*>(&info), &length))
            return false;
        major = HIWORD(info->dwFileVersionMS);
        minor = LOWORD(info->dwFileVersionMS);
        return true;
    }
};

TEST_F(BcamDriverFilesTest, driverFileVersionIsTheInstalledOne)
{
    WORD major = 0, minor = 0;
    bcam::installDriverFiles();
    ASSERT_TRUE(fileVersion(driverFile(), major, minor));
    EXPECT_EQ(1, major);
    EXPECT_EQ(8, minor);

    bcam::installDriverFiles(bcam::DriverFileVersion::v1_7);
    ASSERT_TRUE(fileVersion(driverFile(), major, minor));
    EXPECT_EQ(7, minor);

    bcam::installDriverFiles(bcam::DriverFileVersion::missing);
    EXPECT_FALSE(fileVersion(driverFile(), major, minor));

    // The file follows the Windows directory of the day.
    win32sim::setWindowsDirectory("D:\\WINNT");
    bcam::installDriverFiles();
    EXPECT_EQ("D:\\WINNT\\System32\\DRIVERS\\bcam.sys", driverFile());
    EXPECT_TRUE(fileVersion(driverFile(), major, minor));
}

TEST_F(BcamDriverFilesTest, messageLibraryDescribesTheDriverAndClientCodes)
{
    bcam::installDriverFiles();
    HMODULE library = LoadLibraryExA(bcam::kMessageLibrary, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, library);
    char text[256] = {};
    const DWORD_PTR versions[] = {reinterpret_cast<DWORD_PTR>("1.7"), reinterpret_cast<DWORD_PTR>("1.8")};
    ASSERT_NE(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, library,
                                 bcam::message::kVersionMismatch, 0, text, sizeof text,
                                 reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(versions))));
    EXPECT_STREQ("The BCAM driver has version 1.7; version 1.8 is required.\r\n", text);

    for (DWORD code : {bcam::error::kNoResources, bcam::error::kBufferTooSmall, bcam::error::kTooManyGrabs,
                       bcam::error::kValueRefused, bcam::error::kAddressError, bcam::error::kUnsupported,
                       bcam::error::kBusy, bcam::error::kResourcesInUse, bcam::error::kNoBandwidth,
                       bcam::message::kNotOpen}) {
        SCOPED_TRACE(code);
        EXPECT_NE(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, library,
                                     code, 0, text, sizeof text, nullptr));
    }
    FreeLibrary(library);
}

} // namespace
} // namespace orvex::sim::test
