// Events, waits, handles, critical sections and interlocked exchange.
#include "Win32TestSupport.h"

#include <atomic>
#include <deque>
#include <vector>

using namespace orvex::win32::test;

TEST(Events, ManualResetStaysSignalledUntilReset)
{
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_NE(nullptr, event.get());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 0));
    ASSERT_TRUE(SetEvent(event.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0));
    ASSERT_TRUE(ResetEvent(event.get()));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 0));
}

TEST(Events, SecurityAttributesThatAskForNothingMoreAreTaken)
{
    SECURITY_ATTRIBUTES plain{};
    plain.nLength = sizeof plain;
    plain.lpSecurityDescriptor = nullptr;
    plain.bInheritHandle = FALSE;
    OwnedHandle event(CreateEventA(&plain, FALSE, TRUE, nullptr));
    ASSERT_NE(nullptr, event.get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0));
}

TEST(Events, AutoResetReleasesOneWaitPerSet)
{
    OwnedHandle event(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 0));
    SetEvent(event.get());
    SetEvent(event.get()); // does not count
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 0));
}

TEST(Events, AnotherThreadsSetEndsAnInfiniteWait)
{
    OwnedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    auto body = [&] {
        Sleep(30);
        SetEvent(event.get());
    };
    OwnedHandle thread(startThread(body));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
}

TEST(Events, AnAutoResetEventWakesExactlyOneOfManyWaiters)
{
    OwnedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    std::atomic<int> woken{0};
    auto body = [&] {
        if (WaitForSingleObject(event.get(), 300) == WAIT_OBJECT_0)
            ++woken;
    };
    OwnedHandle first(startThread(body));
    OwnedHandle second(startThread(body));
    OwnedHandle third(startThread(body));
    Sleep(50);
    SetEvent(event.get());
    const HANDLE threads[] = {first.get(), second.get(), third.get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, threads, TRUE, INFINITE));
    EXPECT_EQ(1, woken.load());
}

TEST(Events, AManualResetEventWakesEveryWaiterWhateverItsWait)
{
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OwnedHandle never(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> woken{0};
    auto single = [&] {
        if (WaitForSingleObject(event.get(), 5000) == WAIT_OBJECT_0)
            ++woken;
    };
    auto any = [&] {
        const HANDLE both[] = {never.get(), event.get()};
        if (WaitForMultipleObjects(2, both, FALSE, 5000) == WAIT_OBJECT_0 + 1)
            ++woken;
    };
    OwnedHandle first(startThread(single));
    OwnedHandle second(startThread(single));
    OwnedHandle third(startThread(any));
    Sleep(50);
    ASSERT_TRUE(SetEvent(event.get()));
    const HANDLE threads[] = {first.get(), second.get(), third.get()};
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, threads, TRUE, INFINITE));
    EXPECT_EQ(3, woken.load()) << "one set releases every waiter";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event.get(), 0)) << "and stays set";
}

// Hand-offs between threads: every signal must reach its waiter, whether it
// comes before the wait starts, while it sleeps or while it re-checks. A lost
// wake-up shows as a timed-out wait instead of a hung test.
TEST(HandOffs, ThousandsOfRoundTripsThroughAutoResetEventsLoseNoSignal)
{
    constexpr int kRoundTrips = 3000;
    OwnedHandle ping(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    OwnedHandle pong(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    OwnedHandle idle(CreateEventA(nullptr, TRUE, FALSE, nullptr)); // never set
    std::atomic<int> answered{0};
    auto partner = [&] {
        const HANDLE either[] = {idle.get(), ping.get()};
        for (int i = 0; i < kRoundTrips; ++i) {
            // Alternate the single and the multiple wait: both sleep the same way.
            const DWORD result = (i % 2 == 0) ? WaitForSingleObject(ping.get(), 5000)
                                              : WaitForMultipleObjects(2, either, FALSE, 5000);
            if (result != ((i % 2 == 0) ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + 1))
                return;
            ++answered;
            SetEvent(pong.get());
        }
    };
    OwnedHandle thread(startThread(partner));
    int completed = 0;
    for (; completed < kRoundTrips; ++completed) {
        ASSERT_TRUE(SetEvent(ping.get()));
        if (WaitForSingleObject(pong.get(), 5000) != WAIT_OBJECT_0)
            break;
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 10000));
    EXPECT_EQ(kRoundTrips, completed);
    EXPECT_EQ(kRoundTrips, answered.load());
}

TEST(HandOffs, AWaitAllWokenByEachSetTakesBothOnlyWhenTheLastArrives)
{
    constexpr int kRounds = 500;
    OwnedHandle a(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    OwnedHandle b(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    OwnedHandle doneForA(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    OwnedHandle doneForB(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    std::atomic<int> taken{0};
    std::atomic<int> partial{0};
    auto waiter = [&] {
        const HANDLE both[] = {a.get(), b.get()};
        for (int i = 0; i < kRounds; ++i) {
            if (WaitForMultipleObjects(2, both, TRUE, 5000) != WAIT_OBJECT_0)
                return;
            // Both were consumed together: neither is left signalled.
            if (WaitForSingleObject(a.get(), 0) != static_cast<DWORD>(WAIT_TIMEOUT) ||
                WaitForSingleObject(b.get(), 0) != static_cast<DWORD>(WAIT_TIMEOUT))
                ++partial;
            ++taken;
            SetEvent(doneForA.get());
            SetEvent(doneForB.get());
        }
    };
    auto setB = [&] {
        for (int i = 0; i < kRounds; ++i) {
            SetEvent(b.get());
            if (WaitForSingleObject(doneForB.get(), 5000) != WAIT_OBJECT_0)
                return;
        }
    };
    OwnedHandle waiting(startThread(waiter));
    // `a` comes from this thread, `b` from another one once per round; the
    // waiter is woken by whichever arrives first and must keep waiting.
    OwnedHandle setting(startThread(setB));
    for (int i = 0; i < kRounds; ++i) {
        SetEvent(a.get());
        if (WaitForSingleObject(doneForA.get(), 5000) != WAIT_OBJECT_0)
            break;
    }
    const HANDLE threads[] = {waiting.get(), setting.get()};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, threads, TRUE, 10000));
    EXPECT_EQ(kRounds, taken.load());
    EXPECT_EQ(0, partial.load());
}

TEST(HandOffs, ThreadsEndingWhileTheyAreSignalledLeaveNothingBehind)
{
    // Waiters come and go while the event keeps changing: a wake-up on its way
    // to a thread that has just ended must not touch what the thread freed.
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<int> finished{0};
    auto shortWaiter = [&] {
        for (int i = 0; i < 20; ++i)
            WaitForSingleObject(event.get(), 1);
        ++finished;
    };
    std::deque<OwnedHandle> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back(startThread(shortWaiter));
    while (finished.load() < 16) {
        SetEvent(event.get());
        ResetEvent(event.get());
    }
    for (const auto& thread : threads)
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 10000));
}

TEST(Waits, TimeOutWhenNothingIsSignalled)
{
    OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event.get(), 20));
}

TEST(Waits, WaitAnyReportsTheLowestSignalledIndexAndConsumesOnlyIt)
{
    OwnedHandle a(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    OwnedHandle b(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    OwnedHandle c(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    const HANDLE events[] = {a.get(), b.get(), c.get()};
    EXPECT_EQ(WAIT_OBJECT_0 + 1, WaitForMultipleObjects(3, events, FALSE, 0));
    EXPECT_EQ(WAIT_OBJECT_0 + 2, WaitForMultipleObjects(3, events, FALSE, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForMultipleObjects(3, events, FALSE, 0));
}

TEST(Waits, WaitAllTakesNothingUntilEverythingIsSignalled)
{
    OwnedHandle a(CreateEventA(nullptr, FALSE, TRUE, nullptr));
    OwnedHandle b(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    const HANDLE events[] = {a.get(), b.get()};
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForMultipleObjects(2, events, TRUE, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(a.get(), 0)) << "the failed wait-all left a signalled";
    SetEvent(a.get());
    SetEvent(b.get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, events, TRUE, 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(a.get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(b.get(), 0));
}

TEST(Waits, RejectBadArguments)
{
    OwnedHandle event(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    const HANDLE twice[] = {event.get(), event.get()};
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(2, twice, TRUE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, twice, FALSE, 0)) << "allowed when waiting for any";

    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(0, twice, FALSE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    // 64 handles at most; all 64 are waited for.
    std::vector<HANDLE> many(65, event.get());
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(65, many.data(), FALSE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(64, many.data(), FALSE, 0));
    many[63] = nullptr;
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForMultipleObjects(64, many.data(), FALSE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

namespace {
DWORD WINAPI endAtOnce(LPVOID)
{
    return 0;
}
} // namespace

// An event's calls refuse a thread and a completion port; a thread is
// waited for like an event.
TEST(Handles, AHandleOfAnotherKindIsRefused)
{
    OwnedHandle thread(CreateThread(nullptr, 0, &endAtOnce, nullptr, 0, nullptr));
    ASSERT_NE(nullptr, thread.get());
    SetLastError(0);
    EXPECT_FALSE(SetEvent(thread.get()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(ResetEvent(thread.get()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 5000));

    OwnedHandle port(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0));
    ASSERT_NE(nullptr, port.get());
    SetLastError(0);
    EXPECT_FALSE(SetEvent(port.get()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST(Handles, AClosedHandleIsInvalidAfterwards)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_FALSE(SetEvent(event));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(ResetEvent(event));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(event, 0));

    HANDLE next = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(event, next) << "a stale handle must not name a new object";
    CloseHandle(next);
}

TEST(Handles, AnEventClosedWhileAnotherThreadWaitsForItStillWorks)
{
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD result = 0;
    OwnedHandle started(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    auto body = [&] {
        SetEvent(started.get());
        result = WaitForSingleObject(event, 200);
    };
    OwnedHandle thread(startThread(body));
    WaitForSingleObject(started.get(), INFINITE);
    Sleep(20);
    CloseHandle(event);
    WaitForSingleObject(thread.get(), INFINITE);
    // Either the wait began before the close (and timed out) or after it.
    EXPECT_TRUE(result == static_cast<DWORD>(WAIT_TIMEOUT) || result == WAIT_FAILED);
}

TEST(CriticalSection, IsRecursiveForItsOwner)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section));
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    DeleteCriticalSection(&section);
}

TEST(CriticalSection, ExcludesOtherThreadsUntilFullyLeft)
{
    CRITICAL_SECTION section;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 4000));
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    BOOL taken = TRUE;
    auto tryTake = [&] {
        taken = TryEnterCriticalSection(&section);
        if (taken)
            LeaveCriticalSection(&section);
    };
    {
        OwnedHandle thread(startThread(tryTake));
        WaitForSingleObject(thread.get(), INFINITE);
    }
    EXPECT_FALSE(taken);
    LeaveCriticalSection(&section);
    {
        OwnedHandle thread(startThread(tryTake));
        WaitForSingleObject(thread.get(), INFINITE);
    }
    EXPECT_FALSE(taken) << "still held once";
    LeaveCriticalSection(&section);
    {
        OwnedHandle thread(startThread(tryTake));
        WaitForSingleObject(thread.get(), INFINITE);
    }
    EXPECT_TRUE(taken);
    DeleteCriticalSection(&section);
}

TEST(CriticalSection, SerialisesConcurrentUpdates)
{
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0; // plain: only the critical section protects it
    auto body = [&] {
        for (int i = 0; i < 20000; ++i) {
            EnterCriticalSection(&section);
            ++counter;
            LeaveCriticalSection(&section);
        }
    };
    OwnedHandle a(startThread(body));
    OwnedHandle b(startThread(body));
    const HANDLE threads[] = {a.get(), b.get()};
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    EXPECT_EQ(40000, counter);
    DeleteCriticalSection(&section);
}

TEST(CriticalSectionDeathTest, LeavingASectionNotOwnedAborts)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    // ThreadSanitizer sees the misuse first and may end the process with a
    // report of its own before our check speaks.
    EXPECT_DEATH(LeaveCriticalSection(&section), "does not own|unlock of an unlocked mutex");
    DeleteCriticalSection(&section);
}

TEST(Interlocked, ExchangeReturnsThePreviousValueAcrossThreads)
{
    volatile LONG flag = 0;
    EXPECT_EQ(0, InterlockedExchange(&flag, 1));
    EXPECT_EQ(1, InterlockedExchange(&flag, -5));
    EXPECT_EQ(-5, InterlockedCompareExchange(&flag, 7, 3)) << "no exchange when the comparand differs";
    EXPECT_EQ(-5, InterlockedCompareExchange(&flag, 7, -5));
    EXPECT_EQ(7, InterlockedCompareExchange(&flag, 0, 0));

    // A stop flag as the acquisition threads use it.
    volatile LONG running = 1;
    std::atomic<int> passes{0};
    auto worker = [&] {
        while (InterlockedCompareExchange(&running, 0, 0) != 0) {
            ++passes;
            Sleep(1);
        }
    };
    OwnedHandle thread(startThread(worker));
    Sleep(20);
    EXPECT_EQ(1, InterlockedExchange(&running, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 5000));
    EXPECT_GT(passes.load(), 0);
}
