// Window and thread timers: WM_TIMER made when due, after posted messages,
// never more than one pending per timer.
#include "Win32TestSupport.h"

using namespace orvex::win32::test;

namespace {

class TimersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drainQueue();
        received().clear();
    }
    void TearDown() override { drainQueue(); }

    size_t countTimerMessages(UINT_PTR id) const
    {
        size_t count = 0;
        for (const Received& r : received()) {
            if (r.message == WM_TIMER && r.wParam == id)
                ++count;
        }
        return count;
    }

    ScopedClass _windowClass{"TimersTestClass"};
};

std::vector<HWND> g_timerProcCalls;

void CALLBACK timerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time)
{
    (void)message;
    (void)id;
    (void)time;
    g_timerProcCalls.push_back(hwnd);
}

} // namespace

TEST_F(TimersTest, AWindowTimerTicksAgainAndAgainWhileTheThreadPumps)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    ASSERT_NE(0u, SetTimer(window.get(), 1, USER_TIMER_MINIMUM, nullptr));
    MSG msg;
    while (countTimerMessages(1) < 3) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
    }
    KillTimer(window.get(), 1);
    EXPECT_GE(countTimerMessages(1), 3u);
}

TEST_F(TimersTest, AThreadThatDoesNotPumpForASecondFindsOneTimerMessage)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    SetTimer(window.get(), 1, 100, nullptr);
    Sleep(1000);
    const std::vector<MSG> messages = drainQueue();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), messages[0].message);
    EXPECT_EQ(window.get(), messages[0].hwnd);
    EXPECT_EQ(1u, messages[0].wParam);
    KillTimer(window.get(), 1);
}

TEST_F(TimersTest, TimerMessagesComeAfterPostedMessages)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    SetTimer(window.get(), 4, USER_TIMER_MINIMUM, nullptr);
    Sleep(50);
    PostMessageA(window.get(), WM_USER, 0, 0);
    PostMessageA(window.get(), WM_USER + 1, 0, 0);
    const std::vector<MSG> messages = drainQueue();
    KillTimer(window.get(), 4);
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(static_cast<UINT>(WM_USER), messages[0].message);
    EXPECT_EQ(static_cast<UINT>(WM_USER + 1), messages[1].message);
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), messages[2].message);
}

TEST_F(TimersTest, KillTimerLeavesAQueuedTimerMessageForTheCallerToRemove)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    SetTimer(window.get(), 1, USER_TIMER_MINIMUM, nullptr);
    SetTimer(window.get(), 2, USER_TIMER_MINIMUM, nullptr);
    Sleep(50);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, window.get(), WM_TIMER, WM_TIMER, PM_NOREMOVE)); // taken into the queue
    ASSERT_TRUE(KillTimer(window.get(), 1));
    ASSERT_TRUE(KillTimer(window.get(), 2));
    EXPECT_FALSE(KillTimer(window.get(), 2));

    // The synchronisation controller's stop: remove every pending WM_TIMER.
    const std::vector<MSG> removed = drainQueue(window.get(), WM_TIMER, WM_TIMER);
    EXPECT_EQ(2u, removed.size());
    Sleep(30);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "no timer left to fire";
}

TEST_F(TimersTest, SettingAnExistingTimerAgainRestartsItWithTheNewPeriod)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    SetTimer(window.get(), 1, USER_TIMER_MINIMUM, nullptr);
    SetTimer(window.get(), 1, 10000, nullptr); // as the fast/slow switch does
    Sleep(60);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    KillTimer(window.get(), 1);
}

TEST_F(TimersTest, DestroyingTheWindowStopsItsTimers)
{
    HWND hwnd = createHiddenWindow(_windowClass.name());
    SetTimer(hwnd, 1, USER_TIMER_MINIMUM, nullptr);
    DestroyWindow(hwnd);
    Sleep(40);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(KillTimer(hwnd, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST_F(TimersTest, GetMessageWakesForADueTimer)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    SetTimer(window.get(), 3, 30, nullptr);
    MSG msg;
    ASSERT_EQ(TRUE, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), msg.message);
    EXPECT_EQ(3u, msg.wParam);
    DispatchMessageA(&msg);
    EXPECT_EQ(1u, countTimerMessages(3));
    KillTimer(window.get(), 3);
}

TEST_F(TimersTest, ATimerProcedureIsCalledInsteadOfTheWindowProcedure)
{
    g_timerProcCalls.clear();
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    SetTimer(window.get(), 1, USER_TIMER_MINIMUM, &timerProc);
    MSG msg;
    ASSERT_EQ(TRUE, GetMessageA(&msg, nullptr, WM_TIMER, WM_TIMER));
    DispatchMessageA(&msg);
    KillTimer(window.get(), 1);
    EXPECT_EQ(std::vector<HWND>{window.get()}, g_timerProcCalls);
    EXPECT_EQ(0u, countTimerMessages(1));

    // A posted WM_TIMER naming some address is not a call to it.
    PostMessageA(window.get(), WM_TIMER, 1, reinterpret_cast<LPARAM>(&timerProc));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_EQ(1u, g_timerProcCalls.size());
}

TEST_F(TimersTest, ThreadTimersGetGeneratedIds)
{
    g_timerProcCalls.clear();
    const UINT_PTR first = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &timerProc);
    const UINT_PTR second = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, &timerProc);
    ASSERT_NE(0u, first);
    ASSERT_NE(0u, second);
    EXPECT_NE(first, second);
    MSG msg;
    ASSERT_EQ(TRUE, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(nullptr, msg.hwnd);
    DispatchMessageA(&msg);
    EXPECT_EQ(std::vector<HWND>{nullptr}, g_timerProcCalls);
    EXPECT_TRUE(KillTimer(nullptr, first));
    EXPECT_TRUE(KillTimer(nullptr, second));
}

TEST_F(TimersTest, OnlyTheOwningThreadSetsTimersOnAWindow)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    UINT_PTR result = 1;
    DWORD error = 0;
    auto body = [&] {
        result = SetTimer(window.get(), 1, 100, nullptr);
        error = GetLastError();
    };
    OwnedHandle thread(startThread(body));
    WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_EQ(0u, result);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error);
}
