// Last error per thread, the numbers the subset reports and their texts.
#include "Win32TestSupport.h"

#include <cstring>
#include <string>

using namespace orvex::win32::test;

namespace {

std::string systemText(DWORD code, DWORD flags = 0,
                       DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT))
{
    char buffer[260];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | flags,
                                        nullptr, code, language, buffer, sizeof buffer, nullptr);
    return std::string(buffer, length);
}

} // namespace

TEST(LastError, IsKeptPerThread)
{
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOtherThread = 1234;
    auto body = [&] {
        seenByOtherThread = GetLastError();
        SetLastError(ERROR_INVALID_PARAMETER);
    };
    OwnedHandle thread(startThread(body));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), seenByOtherThread);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

TEST(LastError, FailuresReportTheWin32Numbers)
{
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x7777)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(0x4242), WM_USER, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());

    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetClassInfoExA(nullptr, "NoSuchClassAnywhere", &info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST), GetLastError());

    EXPECT_EQ(nullptr, CreateEventA(nullptr, TRUE, FALSE, "named"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
}

TEST(FormatMessage, GivesTheEnglishSystemTexts)
{
    EXPECT_EQ("The operation completed successfully.\r\n", systemText(ERROR_SUCCESS));
    EXPECT_EQ("Access is denied.\r\n", systemText(ERROR_ACCESS_DENIED));
    EXPECT_EQ("The handle is invalid.\r\n", systemText(ERROR_INVALID_HANDLE));
    EXPECT_EQ("The request is not supported.\r\n", systemText(ERROR_NOT_SUPPORTED));
    EXPECT_EQ("The parameter is incorrect.\r\n", systemText(ERROR_INVALID_PARAMETER));
    EXPECT_EQ("This function is not supported on this system.\r\n", systemText(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ("The specified module could not be found.\r\n", systemText(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ("The specified procedure could not be found.\r\n", systemText(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ("Invalid window handle.\r\n", systemText(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ("Class already exists.\r\n", systemText(ERROR_CLASS_ALREADY_EXISTS));
    EXPECT_EQ("Class does not exist.\r\n", systemText(ERROR_CLASS_DOES_NOT_EXIST));
    EXPECT_EQ("Class still has open windows.\r\n", systemText(ERROR_CLASS_HAS_WINDOWS));
    EXPECT_EQ("Invalid index.\r\n", systemText(ERROR_INVALID_INDEX));
    EXPECT_EQ("The wait operation timed out.\r\n", systemText(WAIT_TIMEOUT));
    EXPECT_EQ("The semaphore timeout period has expired.\r\n", systemText(ERROR_SEM_TIMEOUT));
    EXPECT_EQ("Overlapped I/O operation is in progress.\r\n", systemText(ERROR_IO_PENDING));
}

TEST(FormatMessage, AcceptsTheNeutralAndEnglishLanguagesOnly)
{
    EXPECT_EQ("Access is denied.\r\n", systemText(ERROR_ACCESS_DENIED, 0, 0));
    EXPECT_EQ("Access is denied.\r\n",
              systemText(ERROR_ACCESS_DENIED, 0, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
    EXPECT_EQ("", systemText(ERROR_ACCESS_DENIED, 0, MAKELANGID(0x0C, SUBLANG_DEFAULT))); // French
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_LANG_NOT_FOUND), GetLastError());
}

TEST(FormatMessage, MaxWidthTurnsTheFinalLineBreakIntoABlank)
{
    EXPECT_EQ("Access is denied. ", systemText(ERROR_ACCESS_DENIED, FORMAT_MESSAGE_MAX_WIDTH_MASK));
}

TEST(FormatMessage, ReportsUnknownNumbersAndShortBuffers)
{
    char buffer[8] = "unused";
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0x3FFFFFF0, 0, buffer, sizeof buffer,
                                 nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND), GetLastError());

    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer,
                                 sizeof buffer, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());

    // The 260-character buffer the library uses takes every text.
    EXPECT_FALSE(systemText(ERROR_RESOURCE_LANG_NOT_FOUND).empty());
}

TEST(FormatMessage, AllocatesTheBufferWhenAsked)
{
    LPSTR text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                       ERROR_CLASS_HAS_WINDOWS, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(std::strlen(text), length);
    EXPECT_STREQ("Class still has open windows.\r\n", text);
    EXPECT_EQ(nullptr, LocalFree(text));
}

TEST(FormatMessage, FillsInsertsFromAnArgumentArrayOrKeepsThem)
{
    const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>("1F"),
                                   reinterpret_cast<DWORD_PTR>("Application")};
    char buffer[260];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY, nullptr,
                                  ERROR_MR_MID_NOT_FOUND, 0, buffer, sizeof buffer,
                                  reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
    EXPECT_EQ("The system cannot find message text for message number 0x1F in the message file for "
              "Application.\r\n",
              std::string(buffer, length));

    EXPECT_EQ("The system cannot find message text for message number 0x%1 in the message file for %2.\r\n",
              systemText(ERROR_MR_MID_NOT_FOUND));
}

TEST(FormatMessage, RefusesMessageSourcesItDoesNotHave)
{
    char buffer[64];
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "text", 0, 0, buffer, sizeof buffer, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
    EXPECT_EQ(0u, FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE, nullptr, 1, 0, buffer, sizeof buffer, nullptr))
        << "the program itself has no message table";
    EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND), GetLastError());
}
