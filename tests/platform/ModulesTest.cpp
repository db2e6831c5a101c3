// Libraries loaded by their Windows names, procedure lookup, and the
// kernel32 IsWow64Process switch.
#include "Win32TestSupport.h"

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
#include <orvex/win32_testing.h>
#endif

using namespace orvex::win32::test;

namespace {

typedef int (*AnswerFunction)();
typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE, PBOOL);

class ModulesTest : public ::testing::Test {
protected:
#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
    void TearDown() override
    {
        orvex::win32::testing::resetSwitches();
    }
#endif
};

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
// The FlyCapture camera's WOW64 detection: false when the function is missing.
bool detectWow64()
{
    HMODULE kernel32 = GetModuleHandleA("kernel32");
    if (kernel32 == nullptr)
        return false;
    auto isWow64 = reinterpret_cast<IsWow64ProcessFunction>(GetProcAddress(kernel32, "IsWow64Process"));
    BOOL answer = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &answer) && answer;
}
#endif

} // namespace

TEST_F(ModulesTest, ADllNameLoadsTheSharedObjectOfThatName)
{
    HMODULE module = LoadLibraryA("OrvexWin32TestModule.dll");
    ASSERT_NE(nullptr, module);
    auto answer = reinterpret_cast<AnswerFunction>(GetProcAddress(module, "orvexTestModuleAnswer"));
    ASSERT_NE(nullptr, answer);
    EXPECT_EQ(42, answer());

    EXPECT_EQ(module, GetModuleHandleA("OrvexWin32TestModule.DLL")) << "any case";
    EXPECT_EQ(module, GetModuleHandleA("OrvexWin32TestModule"))
        << "a module name without extension is a .dll";

    HMODULE again = LoadLibraryA("orvexwin32testmodule.dll" + 0);
    EXPECT_EQ(nullptr, again) << "the shared object's own name is case-sensitive";
    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModulesTest, MissingLibrariesAndProceduresReportTheirErrors)
{
    EXPECT_EQ(nullptr, LoadLibraryA("PGRNoSuchLibrary.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());
    char text[260];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, GetLastError(),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    EXPECT_EQ("The specified module could not be found.\r\n", std::string(text, length));

    EXPECT_EQ(nullptr, GetModuleHandleA("OrvexNeverLoaded.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

    HMODULE module = LoadLibraryA("OrvexWin32TestModule.dll");
    ASSERT_NE(nullptr, module);
    EXPECT_EQ(nullptr, GetProcAddress(module, "noSuchFunction"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(module, reinterpret_cast<LPCSTR>(1))) << "ordinals";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
    FreeLibrary(module);
}

TEST_F(ModulesTest, Kernel32NamesTheSubsetItself)
{
    HMODULE kernel32 = GetModuleHandleA("kernel32");
    ASSERT_NE(nullptr, kernel32);
    EXPECT_EQ(kernel32, GetModuleHandleA("KERNEL32.DLL"));
    EXPECT_EQ(reinterpret_cast<FARPROC>(&GetTickCount), GetProcAddress(kernel32, "GetTickCount"));

    HMODULE loaded = LoadLibraryA("kernel32.dll");
    EXPECT_EQ(kernel32, loaded);
    EXPECT_TRUE(FreeLibrary(loaded));
    EXPECT_NE(nullptr, GetModuleHandleA(nullptr)) << "the main program";
}

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
TEST_F(ModulesTest, IsWow64ProcessAnswersAsTheTestSwitchSays)
{
    EXPECT_FALSE(detectWow64()) << "default: a native process";

    orvex::win32::testing::setWow64(orvex::win32::testing::Wow64::wow64);
    EXPECT_TRUE(detectWow64());

    orvex::win32::testing::setWow64(orvex::win32::testing::Wow64::absent);
    EXPECT_EQ(nullptr, GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    EXPECT_FALSE(detectWow64());

    orvex::win32::testing::setWow64(orvex::win32::testing::Wow64::native);
    EXPECT_FALSE(detectWow64());
}
#endif
