// Tick counts, thread times and the system time.
#include "Win32TestSupport.h"

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
#include <orvex/win32_testing.h>
#endif

#include <ctime>

using namespace orvex::win32::test;

namespace {

uint64_t asUint64(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct ThreadTimes {
    uint64_t creation, exit, kernel, user;
};

ThreadTimes threadTimes(HANDLE thread)
{
    FILETIME creation, exit, kernel, user;
    EXPECT_TRUE(GetThreadTimes(thread, &creation, &exit, &kernel, &user));
    return {asUint64(creation), asUint64(exit), asUint64(kernel), asUint64(user)};
}

volatile uint64_t g_sink;

void spinFor(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    uint64_t x = 0;
    while (static_cast<DWORD>(GetTickCount() - start) < milliseconds)
        x += x * 31 + 7;
    g_sink = x;
}

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
class TickCountWrap : public ::testing::Test {
protected:
    void TearDown() override { orvex::win32::testing::resetSwitches(); }
};
#endif

} // namespace

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
TEST_F(TickCountWrap, DifferencesStayRightAcrossTheWrap)
{
    // Put the count 30 ms before 2^32.
    const DWORD now = GetTickCount();
    orvex::win32::testing::setTickCountOffset(static_cast<DWORD>(0xFFFFFFFFu - 30u - now));
    const DWORD before = GetTickCount();
    EXPECT_GT(before, 0xFFFFFF00u);
    Sleep(80);
    const DWORD after = GetTickCount();
    EXPECT_LT(after, before) << "the 32-bit count wrapped";
    const DWORD elapsed = after - before; // uint32_t arithmetic
    EXPECT_LT(elapsed, 0x80000000u) << "a small forward difference, not a negative one";
}
#endif

#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
TEST_F(TickCountWrap, FrozenSystemTimeMovesOnlyByItsOffset)
{
    using orvex::win32::testing::freezeSystemTime;
    using orvex::win32::testing::setSystemTimeOffset;
    FILETIME time;
    freezeSystemTime(true);
    GetSystemTimeAsFileTime(&time);
    const uint64_t frozen = asUint64(time);
    Sleep(20);
    GetSystemTimeAsFileTime(&time);
    EXPECT_EQ(frozen, asUint64(time)) << "frozen time stands still";

    setSystemTimeOffset(100000000LL); // 10 s
    GetSystemTimeAsFileTime(&time);
    EXPECT_EQ(frozen + 100000000ULL, asUint64(time));
    setSystemTimeOffset(-5);
    GetSystemTimeAsFileTime(&time);
    EXPECT_EQ(frozen - 5, asUint64(time)) << "a negative offset moves the time back";

    orvex::win32::testing::resetSwitches();
    GetSystemTimeAsFileTime(&time);
    EXPECT_GE(asUint64(time), frozen + 200000ULL) << "running again, at the real time";
    EXPECT_LT(asUint64(time), frozen + 100000000ULL);
}
#endif

TEST(SystemTime, IsUtcIn100NanosecondsSince1601)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t unixSeconds = asUint64(now) / 10000000ULL - 11644473600ULL;
    const uint64_t expected = static_cast<uint64_t>(std::time(nullptr));
    EXPECT_LE(unixSeconds, expected + 1);
    EXPECT_GE(unixSeconds + 2, expected);
}

TEST(ThreadTimes, UserTimeOfTheCallingThreadGrowsWhileItComputes)
{
    const ThreadTimes before = threadTimes(GetCurrentThread());
    spinFor(200);
    const ThreadTimes after = threadTimes(GetCurrentThread());
    EXPECT_EQ(0u, after.exit) << "a running thread has no exit time";
    EXPECT_GT(after.kernel + after.user, before.kernel + before.user);
}

TEST(ThreadTimes, AnEndedThreadKeepsItsTimes)
{
    auto body = [] { spinFor(100); };
    OwnedHandle thread(startThread(body));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    const ThreadTimes times = threadTimes(thread.get());
    EXPECT_GT(times.user + times.kernel, 0u);
    EXPECT_GE(times.exit, times.creation);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    EXPECT_LE(times.exit, asUint64(now));
}

TEST(ThreadTimes, RejectsAHandleThatIsNotAThread)
{
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    FILETIME a, b, c, d;
    EXPECT_FALSE(GetThreadTimes(event.get(), &a, &b, &c, &d));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}
