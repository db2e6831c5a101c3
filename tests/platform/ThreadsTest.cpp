// Threads: start, suspend/resume, exit codes, handles, priorities.
#include "Win32TestSupport.h"

#include <atomic>
#include <set>

using namespace orvex::win32::test;

namespace {

DWORD WINAPI returnParameter(LPVOID parameter)
{
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(parameter));
}

DWORD WINAPI waitForEvent(LPVOID parameter)
{
    WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
    return 7;
}

DWORD WINAPI markStarted(LPVOID parameter)
{
    static_cast<std::atomic<bool>*>(parameter)->store(true);
    return 0;
}

} // namespace

TEST(Threads, HandleIsSignalledWithTheExitCodeWhenTheRoutineReturns)
{
    OwnedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    DWORD id = 0;
    OwnedHandle thread(CreateThread(nullptr, 0, &waitForEvent, release.get(), 0, &id));
    ASSERT_NE(nullptr, thread.get());
    EXPECT_NE(0u, id);
    EXPECT_NE(GetCurrentThreadId(), id);

    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), code);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread.get(), 20));

    SetEvent(release.get());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 0)) << "stays signalled";
    ASSERT_TRUE(GetExitCodeThread(thread.get(), &code));
    EXPECT_EQ(7u, code);
}

TEST(Threads, ASuspendedThreadRunsOnlyAfterResume)
{
    std::atomic<bool> started{false};
    OwnedHandle thread(CreateThread(nullptr, 0, &markStarted, &started, CREATE_SUSPENDED, nullptr));
    ASSERT_NE(nullptr, thread.get());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread.get(), 50));
    EXPECT_FALSE(started.load());
    EXPECT_EQ(1u, ResumeThread(thread.get()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    EXPECT_TRUE(started.load());
    EXPECT_EQ(0u, ResumeThread(thread.get())) << "resuming a running thread changes nothing";
}

TEST(Threads, PriorityIsSetBeforeResumingAndReadBack)
{
    std::atomic<bool> started{false};
    OwnedHandle thread(CreateThread(nullptr, 0, &markStarted, &started, CREATE_SUSPENDED, nullptr));
    EXPECT_TRUE(SetThreadPriority(thread.get(), THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(THREAD_PRIORITY_HIGHEST, GetThreadPriority(thread.get()));
    EXPECT_TRUE(SetThreadPriority(thread.get(), 16)) << "the kernel's saturated time-critical level";
    EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(thread.get()));
    EXPECT_FALSE(SetThreadPriority(thread.get(), 5));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    ResumeThread(thread.get());
    WaitForSingleObject(thread.get(), INFINITE);

    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));
    EXPECT_EQ(THREAD_PRIORITY_BELOW_NORMAL, GetThreadPriority(GetCurrentThread()));
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_NORMAL);
}

TEST(Threads, ClosingTheHandleOfARunningThreadIsSafe)
{
    OwnedHandle release(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE thread = CreateThread(nullptr, 0, &waitForEvent, release.get(), 0, nullptr);
    ASSERT_TRUE(CloseHandle(thread));
    SetEvent(release.get());
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(thread, 0));
    Sleep(20); // the thread ends on its own and frees its object
}

TEST(Threads, ManyShortThreadsAllRunToCompletion)
{
    std::vector<HANDLE> threads;
    for (uintptr_t i = 0; i < 32; ++i)
        threads.push_back(
            CreateThread(nullptr, 64 * 1024, &returnParameter, reinterpret_cast<LPVOID>(i), 0, nullptr));
    ASSERT_EQ(WAIT_OBJECT_0,
              WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE));
    std::set<DWORD> codes;
    for (HANDLE thread : threads) {
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        codes.insert(code);
        CloseHandle(thread);
    }
    EXPECT_EQ(32u, codes.size());
}

TEST(Threads, IdsAreDistinctAndStablePerThread)
{
    const DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(mine, GetCurrentThreadId());
    DWORD other = 0;
    auto body = [&] { other = GetCurrentThreadId(); };
    OwnedHandle thread(startThread(body));
    WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_NE(0u, other);
    EXPECT_NE(mine, other);
}

TEST(Threads, WaitingForTheCurrentThreadPseudoHandleTimesOut)
{
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(GetCurrentThread(), 10));
}

TEST(Threads, UnsupportedCreationArgumentsFailLoudly)
{
    EXPECT_EQ(nullptr, CreateThread(nullptr, 0, &returnParameter, nullptr, 0x00000008 /* DETACHED_PROCESS */,
                                    nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
    EXPECT_EQ(nullptr, CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(Process, IsWow64ProcessAnswersForTheCurrentProcess)
{
    BOOL wow64 = TRUE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_FALSE(wow64);
    EXPECT_FALSE(IsWow64Process(reinterpret_cast<HANDLE>(0x1234), &wow64));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}
