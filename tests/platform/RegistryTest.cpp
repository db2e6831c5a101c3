// Registry reads over the data store, environment strings and the Windows
// directory: what the driver version check reads.
#include <cstdlib>
#include <string>

#include "Win32TestSupport.h"

#include <orvex/win32_driver.h>

namespace {

constexpr const char* kServiceKey = "System\\CurrentControlSet\\Services\\bcam";

class RegistryTest : public ::testing::Test {
protected:
    void TearDown() override { orvex::win32::driver::resetDataStore(); }
};

std::string queryString(HKEY key, const char* name, DWORD* type = nullptr)
{
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name, nullptr, type, nullptr, &size));
    std::string value(size, '\0');
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, name, nullptr, type, reinterpret_cast<LPBYTE>(&value[0]), &size));
    value.resize(size > 0 ? size - 1 : 0); // the stored zero
    return value;
}

std::string expanded(const char* text)
{
    const DWORD size = ExpandEnvironmentStringsA(text, nullptr, 0);
    std::string out(size, '\0');
    EXPECT_EQ(size, ExpandEnvironmentStringsA(text, &out[0], size));
    out.resize(size - 1);
    return out;
}

} // namespace

TEST_F(RegistryTest, TheDriversImagePathIsReadAndExpanded)
{
    orvex::win32::driver::setRegistryString(HKEY_LOCAL_MACHINE, kServiceKey, "ImagePath",
                                            "%SystemRoot%\\System32\\DRIVERS\\bcam.sys", REG_EXPAND_SZ);
    orvex::win32::driver::setWindowsDirectory("D:\\WINNT");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\currentcontrolset\\services\\BCAM", 0,
                                           KEY_READ, &key))
        << "key names are case-insensitive";
    DWORD type = 0;
    const std::string imagePath = queryString(key, "imagepath", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ("%SystemRoot%\\System32\\DRIVERS\\bcam.sys", imagePath) << "returned unexpanded";
    EXPECT_EQ("D:\\WINNT\\System32\\DRIVERS\\bcam.sys", expanded(imagePath.c_str()));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));

    char directory[MAX_PATH];
    EXPECT_EQ(8u, GetWindowsDirectoryA(directory, sizeof directory));
    EXPECT_STREQ("D:\\WINNT", directory);
    EXPECT_EQ(9u, GetWindowsDirectoryA(directory, 8)) << "too small: the size needed with the zero";
}

TEST_F(RegistryTest, ValuesComeWithTheirTypesAndSizes)
{
    orvex::win32::driver::setRegistryDword(HKEY_LOCAL_MACHINE, kServiceKey, "Start", 3);
    orvex::win32::driver::setRegistryString(HKEY_LOCAL_MACHINE, kServiceKey, "DisplayName",
                                            "BCAM 1394 Driver");
    HKEY services = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services", 0,
                                           KEY_READ, &services))
        << "parents exist";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(services, "bcam", 0, KEY_QUERY_VALUE, &key))
        << "relative to a key";

    DWORD type = 0;
    DWORD start = 0;
    DWORD size = sizeof start;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(key, "Start", nullptr, &type, reinterpret_cast<LPBYTE>(&start), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(3u, start);
    EXPECT_EQ(4u, size);

    char name[8];
    size = sizeof name;
    EXPECT_EQ(ERROR_MORE_DATA,
              RegQueryValueExA(key, "DisplayName", nullptr, &type, reinterpret_cast<LPBYTE>(name), &size));
    EXPECT_EQ(17u, size) << "the size needed, zero included";
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "Missing", nullptr, nullptr, nullptr, &size));
    HKEY missing = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\Nothing", 0, KEY_READ, &missing));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 8, KEY_READ, &missing))
        << "no options (REG_OPTION_OPEN_LINK) here";
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(services));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE)) << "predefined keys stay";
}

TEST_F(RegistryTest, AKeyDeletedWhileOpenRefusesReads)
{
    orvex::win32::driver::setRegistryDword(HKEY_LOCAL_MACHINE, kServiceKey, "Start", 3);
    orvex::win32::driver::setRegistryDword(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control",
                                           "Sibling", 1);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &key));
    EXPECT_TRUE(
        orvex::win32::driver::deleteRegistryKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services"));
    HKEY sibling = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control", 0, KEY_READ, &sibling))
        << "only the key and its subkeys go";
    RegCloseKey(sibling);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services",
                                                  0, KEY_READ, &sibling));
    DWORD size = 4;
    DWORD value = 0;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryValueExA(key, "Start", nullptr, nullptr, reinterpret_cast<LPBYTE>(&value), &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    HKEY again = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_READ, &again));
}

TEST(Environment, ExpandsKnownVariablesAndKeepsUnknownOnes)
{
    setenv("ORVEX_TEST_DIR", "C:\\Orvex", 1);
    EXPECT_EQ("C:\\Orvex\\bin;%ORVEX_NOT_SET%;C:\\Orvex",
              expanded("%orvex_test_dir%\\bin;%ORVEX_NOT_SET%;%ORVEX_TEST_DIR%"))
        << "names are case-insensitive";
    EXPECT_EQ("100%", expanded("100%"));
    EXPECT_EQ("C:\\WINDOWS\\system32", expanded("%windir%\\system32"))
        << "the Windows directory stands in when the environment lacks it";
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(9u, ExpandEnvironmentStringsA("%ORVEX_TEST_DIR%", small, sizeof small));
    EXPECT_EQ('x', small[0]) << "nothing written into a buffer too small";
    unsetenv("ORVEX_TEST_DIR");
}
