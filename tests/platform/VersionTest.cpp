// File version resources: the size, the block and its fixed information.
#include <vector>

#include "Win32TestSupport.h"

#include <orvex/win32_driver.h>

namespace {

constexpr const char* kDriverFile = "C:\\WINDOWS\\System32\\DRIVERS\\bcam.sys";

class VersionTest : public ::testing::Test {
protected:
    void TearDown() override { orvex::win32::driver::resetDataStore(); }
};

} // namespace

TEST_F(VersionTest, TheFixedFileInfoOfADriverFile)
{
    orvex::win32::driver::setFileVersion(kDriverFile, orvex::win32::driver::fixedFileInfo(1, 8, 2600, 3));
    DWORD handle = 99;
    const DWORD size = GetFileVersionInfoSizeA("c:/windows/system32/drivers/BCAM.SYS", &handle);
    ASSERT_GT(size, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(0u, handle);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(kDriverFile, handle, size, block.data()));

    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<LPVOID*>(&info), &length));
    EXPECT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_GE(reinterpret_cast<BYTE*>(info), block.data());
    EXPECT_LE(reinterpret_cast<BYTE*>(info) + length, block.data() + size) << "inside the caller's block";
    EXPECT_EQ(static_cast<DWORD>(VS_FFI_SIGNATURE), info->dwSignature);
    EXPECT_EQ(1u, HIWORD(info->dwFileVersionMS));
    EXPECT_EQ(8u, LOWORD(info->dwFileVersionMS));
    EXPECT_EQ(2600u, HIWORD(info->dwFileVersionLS));
    EXPECT_EQ(3u, LOWORD(info->dwFileVersionLS));

    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                                reinterpret_cast<LPVOID*>(&info), &length));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError());
    std::vector<BYTE> garbage(size, 0xAB);
    EXPECT_FALSE(VerQueryValueA(garbage.data(), "\\", reinterpret_cast<LPVOID*>(&info), &length));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
}

TEST_F(VersionTest, MissingFilesAndFilesWithoutVersion)
{
    DWORD handle = 0;
    EXPECT_EQ(0u, GetFileVersionInfoSizeA(kDriverFile, &handle));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    orvex::win32::driver::setFileWithoutVersion(kDriverFile);
    EXPECT_EQ(0u, GetFileVersionInfoSizeA(kDriverFile, &handle));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError());
    orvex::win32::driver::removeFile(kDriverFile);
    BYTE block[128];
    EXPECT_FALSE(GetFileVersionInfoA(kDriverFile, 0, sizeof block, block));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}
