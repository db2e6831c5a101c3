// The manual clock of the POSIX layer's test switches: readings, Sleep, wait
// timeouts and timers move only when the test moves the clock.
#include "TestClock.h"
#include "Win32TestSupport.h"

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

using namespace orvex::win32::test;
namespace testing_switches = orvex::win32::testing;
using std::chrono::milliseconds;

namespace {

uint64_t asUint64(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t systemTime()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return asUint64(now);
}

class ManualClock : public ::testing::Test {
protected:
    void SetUp() override { testing_switches::useManualClock(true); }
    void TearDown() override { testing_switches::resetSwitches(); }

    // Real time for another thread to do what it should not (wake early).
    static void giveOtherThreadsAChance() { std::this_thread::sleep_for(milliseconds(30)); }

    // Until `count` threads sleep on the clock (their deadlines are set).
    static void waitForSleepers(std::size_t count)
    {
        while (testing_switches::clockSleepers() < count)
            std::this_thread::sleep_for(milliseconds(1));
    }
};

} // namespace

TEST_F(ManualClock, ReadingsMoveOnlyAsFarAsTheClockIsAdvanced)
{
    const DWORD ticks = GetTickCount();
    const uint64_t system = systemTime();
    const int64_t now = testing_switches::clockNowNs();
    giveOtherThreadsAChance();
    EXPECT_EQ(ticks, GetTickCount());
    EXPECT_EQ(system, systemTime());
    EXPECT_EQ(now, testing_switches::clockNowNs());
    // It stands still at the real UTC time of the switch.
    const uint64_t unixSeconds = system / 10000000ULL - 11644473600ULL;
    EXPECT_LE(unixSeconds, static_cast<uint64_t>(std::time(nullptr)));
    EXPECT_GE(unixSeconds + 2, static_cast<uint64_t>(std::time(nullptr)));

    testing_switches::advanceClock(milliseconds(250));
    EXPECT_EQ(ticks + 250u, GetTickCount());
    EXPECT_EQ(system + 2500000u, systemTime()) << "100 ns units";
    EXPECT_EQ(now + 250000000, testing_switches::clockNowNs());

    testing_switches::advanceClockTo(now); // behind: no move
    EXPECT_EQ(now + 250000000, testing_switches::clockNowNs());
    testing_switches::advanceClockTo(now + 300000000);
    EXPECT_EQ(ticks + 300u, GetTickCount());
    testing_switches::advanceClock(milliseconds(-5));
    EXPECT_EQ(ticks + 300u, GetTickCount()) << "never backwards";
}

TEST_F(ManualClock, SleepEndsWhenTheClockPassesItsDeadline)
{
    std::atomic<bool> woke{false};
    auto body = [&] {
        Sleep(1000);
        woke = true;
    };
    OwnedHandle thread(startThread(body));
    waitForSleepers(1);
    testing_switches::advanceClock(milliseconds(999));
    giveOtherThreadsAChance();
    EXPECT_FALSE(woke) << "1 ms short of the deadline";
    // As a simulated wait moves it: to an instant, not by a step.
    testing_switches::advanceClockTo(testing_switches::clockNowNs() + 1000000);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    EXPECT_TRUE(woke);
}

TEST_F(ManualClock, TimedWaitsTimeOutOnTheClockAndStillEndWhenSignalled)
{
    OwnedHandle first(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    OwnedHandle second(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    std::atomic<DWORD> single{0xFFFFFFFFu};
    std::atomic<DWORD> multiple{0xFFFFFFFFu};
    auto body = [&] {
        single = WaitForSingleObject(first.get(), 500);
        HANDLE both[] = {first.get(), second.get()};
        multiple = WaitForMultipleObjects(2, both, FALSE, 10000);
    };
    OwnedHandle thread(startThread(body));
    waitForSleepers(1);
    testing_switches::advanceClock(milliseconds(499));
    giveOtherThreadsAChance();
    EXPECT_EQ(0xFFFFFFFFu, single.load());
    testing_switches::advanceClock(milliseconds(1));
    while (single.load() == 0xFFFFFFFFu)
        std::this_thread::yield();
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), single.load());

    // The clock stands still: only the event ends the second wait.
    waitForSleepers(1);
    SetEvent(second.get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0 + 1, multiple.load());
}

TEST_F(ManualClock, TimersFallDueAsTheClockPassesThem)
{
    ScopedClass windowClass("ManualClockTestClass");
    std::atomic<UINT> message{0};
    auto body = [&] {
        OwnedWindow window(createHiddenWindow(windowClass.name()));
        SetTimer(window.get(), 7, 100, nullptr);
        MSG msg;
        if (GetMessageA(&msg, nullptr, 0, 0) > 0)
            message = msg.message;
        KillTimer(window.get(), 7);
    };
    OwnedHandle thread(startThread(body));
    waitForSleepers(1);
    testing_switches::advanceClock(milliseconds(99));
    giveOtherThreadsAChance();
    EXPECT_EQ(0u, message.load()) << "not yet due";
    testing_switches::advanceClock(milliseconds(1));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), message.load());
}

TEST_F(ManualClock, SwitchingItOffWakesSleepersOntoTheRealClock)
{
    auto body = [] { Sleep(20); };
    OwnedHandle thread(startThread(body));
    waitForSleepers(1);
    testing_switches::useManualClock(false);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 10000)) << "the 20 ms passed for real";
    const int64_t steadyNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    EXPECT_LE(testing_switches::clockNowNs() - steadyNs, 1000000) << "the real clock again";
    EXPECT_FALSE(testing_switches::manualClock());
}
