// A message DLL loaded as a data file: FormatMessageA from its table with
// inserts, falling back to the system table, and the BCAM system texts.
#include <string>

#include "Win32TestSupport.h"

#include <orvex/win32_driver.h>

namespace {

constexpr DWORD kVersionMismatch = 0x4FF00019;
constexpr DWORD kNoDevice = 0xCFF00004;
constexpr DWORD kLookupFlags =
    FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY;

class MessageTablesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        orvex::win32::driver::setMessageTable(
            "BcamError.dll", {{kVersionMismatch, "Driver version %1 found, version %2 required.\r\n"},
                              {kNoDevice, "The device is not open.\r\n"}});
    }
    void TearDown() override { orvex::win32::driver::resetDataStore(); }
};

// The BCAM exception's lookup: the message DLL first, then the system.
std::string describe(HMODULE module, DWORD code, const DWORD_PTR* arguments)
{
    char text[256];
    const DWORD length =
        FormatMessageA(kLookupFlags, module, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                       sizeof text, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    return length == 0 ? "<none: " + std::to_string(GetLastError()) + ">" : std::string(text, length);
}

std::string systemText(DWORD code)
{
    char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof text, nullptr);
    return std::string(text, length);
}

} // namespace

TEST_F(MessageTablesTest, TheModuleComesFirstThenTheSystem)
{
    HMODULE module =
        LoadLibraryExA("C:\\Program Files\\Basler\\BCAM\\bcamerror.DLL", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(1u, reinterpret_cast<uintptr_t>(module) & 1) << "a data-file handle, as Windows marks them";
    const DWORD_PTR versions[] = {reinterpret_cast<DWORD_PTR>("1.7"), reinterpret_cast<DWORD_PTR>("1.8")};
    EXPECT_EQ("Driver version 1.7 found, version 1.8 required.\r\n",
              describe(module, kVersionMismatch, versions));
    EXPECT_EQ("The semaphore timeout period has expired.\r\n", describe(module, ERROR_SEM_TIMEOUT, nullptr))
        << "not in the module: the system's text";
    EXPECT_EQ("<none: 317>", describe(module, 0xCFF0FFFF, nullptr)) << "in neither table";

    char text[64];
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, module, ERROR_SEM_TIMEOUT, 0, text, sizeof text,
                                 nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError()) << "no fallback asked for";

    EXPECT_EQ(nullptr, GetProcAddress(module, "anything"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, module,
                                 kVersionMismatch, 0, text, sizeof text, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError())
        << "a released module has no table";
}

TEST_F(MessageTablesTest, AMissingMessageDllLeavesTheSystemTable)
{
    orvex::win32::driver::removeMessageTable("BcamError.dll");
    EXPECT_EQ(nullptr, LoadLibraryExA("BcamError.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ("The device is not connected.\r\n", describe(nullptr, ERROR_DEVICE_NOT_CONNECTED, nullptr));
    EXPECT_EQ(nullptr, LoadLibraryExA("BcamError.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE | 0x20));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
}

TEST(SystemTexts, TheBcamClientsNumbersHaveWindowsEnglishTexts)
{
    EXPECT_EQ("Catastrophic failure\r\n", systemText(0x8000FFFF));
    EXPECT_EQ("The device is not ready.\r\n", systemText(ERROR_NOT_READY));
    EXPECT_EQ("The specified network resource or device is no longer available.\r\n",
              systemText(ERROR_DEV_NOT_EXIST));
    EXPECT_EQ("The semaphore timeout period has expired.\r\n", systemText(ERROR_SEM_TIMEOUT));
    EXPECT_EQ(
        "The I/O operation has been aborted because of either a thread exit or an application request.\r\n",
        systemText(ERROR_OPERATION_ABORTED));
    EXPECT_EQ("The device is not connected.\r\n", systemText(ERROR_DEVICE_NOT_CONNECTED));
}
