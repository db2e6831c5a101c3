// Posted messages, queues per owning thread, filters, WM_QUIT and
// message-aware waits.
#include "Win32TestSupport.h"

#include <atomic>

using namespace orvex::win32::test;

namespace {

constexpr UINT kNewImage = 0x8003;
constexpr UINT kArrival = 0x8001;
constexpr UINT kRemoval = 0x8002;

class MessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drainQueue();
        received().clear();
    }
    void TearDown() override { drainQueue(); }

    ScopedClass _windowClass{"MessagesTestClass"};
};

} // namespace

TEST_F(MessagesTest, TenMessagesPostedFromOtherThreadsArriveInOrder)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    received().clear(); // creation messages
    // Ten threads post one message each, one after the other, before this
    // thread looks at its queue.
    std::vector<HANDLE> turns;
    for (int i = 0; i <= 10; ++i)
        turns.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    struct Poster {
        HWND hwnd;
        HANDLE myTurn, nextTurn;
        WPARAM index;
        BOOL posted = FALSE;
        void operator()()
        {
            WaitForSingleObject(myTurn, INFINITE);
            posted = PostMessageA(hwnd, kNewImage, index, static_cast<LPARAM>(index * 10));
            SetEvent(nextTurn);
        }
    };
    std::vector<Poster> posters;
    for (int i = 0; i < 10; ++i)
        posters.push_back(Poster{window.get(), turns[i], turns[i + 1], static_cast<WPARAM>(i)});
    std::vector<HANDLE> threads;
    for (auto& poster : posters)
        threads.push_back(startThread(poster));
    SetEvent(turns[0]);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(10, threads.data(), TRUE, INFINITE));

    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    ASSERT_EQ(10u, received().size());
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_TRUE(posters[i].posted);
        EXPECT_EQ(window.get(), received()[i].hwnd);
        EXPECT_EQ(kNewImage, received()[i].message);
        EXPECT_EQ(i, received()[i].wParam);
        EXPECT_EQ(static_cast<LPARAM>(i * 10), received()[i].lParam);
    }
    for (HANDLE handle : threads)
        CloseHandle(handle);
    for (HANDLE handle : turns)
        CloseHandle(handle);
}

TEST_F(MessagesTest, AFilteredPeekLoopRemovesExactlyTheMatchingMessages)
{
    OwnedWindow a(createHiddenWindow(_windowClass.name()));
    OwnedWindow b(createHiddenWindow(_windowClass.name()));
    PostMessageA(a.get(), kNewImage, 1, 0);
    PostMessageA(a.get(), kArrival, 2, 0);
    PostMessageA(b.get(), kNewImage, 3, 0);
    PostMessageA(nullptr, kNewImage, 4, 0); // thread message
    PostMessageA(a.get(), kNewImage, 5, 0);
    PostMessageA(a.get(), kRemoval, 6, 0);

    // As the camera window does when it coalesces new-image notifications.
    const std::vector<MSG> removed = drainQueue(a.get(), kNewImage, kNewImage);
    ASSERT_EQ(2u, removed.size());
    EXPECT_EQ(1u, removed[0].wParam);
    EXPECT_EQ(5u, removed[1].wParam);

    const std::vector<MSG> left = drainQueue();
    ASSERT_EQ(4u, left.size());
    EXPECT_EQ(2u, left[0].wParam);
    EXPECT_EQ(3u, left[1].wParam);
    EXPECT_EQ(4u, left[2].wParam);
    EXPECT_EQ(nullptr, left[2].hwnd);
    EXPECT_EQ(6u, left[3].wParam);
}

TEST_F(MessagesTest, FiltersSelectThreadMessagesAndMessageRanges)
{
    OwnedWindow a(createHiddenWindow(_windowClass.name()));
    PostMessageA(a.get(), WM_USER + 5, 1, 0);
    PostMessageA(nullptr, WM_USER + 5, 2, 0);
    PostMessageA(a.get(), WM_USER + 50, 3, 0);

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(2u, msg.wParam) << "(HWND)-1 takes thread messages only";
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 10, WM_USER + 100, PM_REMOVE));
    EXPECT_EQ(3u, msg.wParam);
    ASSERT_TRUE(PeekMessageA(&msg, a.get(), 0, 0, PM_REMOVE));
    EXPECT_EQ(1u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessagesTest, NoRemoveLeavesTheMessageForTheNextLook)
{
    OwnedWindow a(createHiddenWindow(_windowClass.name()));
    PostMessageA(a.get(), WM_USER, 9, 0);
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(9u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessagesTest, GetMessageBlocksUntilAnotherThreadPostsAndEndsOnQuit)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    auto body = [&] {
        Sleep(30);
        PostMessageA(window.get(), kArrival, 0, 1234);
    };
    OwnedHandle thread(startThread(body));
    MSG msg;
    ASSERT_EQ(TRUE, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(kArrival, msg.message);
    EXPECT_EQ(1234, msg.lParam);
    WaitForSingleObject(thread.get(), INFINITE);

    PostQuitMessage(3);
    PostMessageA(window.get(), WM_USER, 0, 0);
    ASSERT_EQ(TRUE, GetMessageA(&msg, nullptr, 0, 0)) << "posted messages come before WM_QUIT";
    EXPECT_EQ(static_cast<UINT>(WM_USER), msg.message);
    EXPECT_EQ(FALSE, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(3u, msg.wParam);
}

TEST_F(MessagesTest, EachThreadHasItsOwnQueue)
{
    OwnedWindow mine(createHiddenWindow(_windowClass.name()));
    HWND theirs = nullptr;
    OwnedHandle created(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OwnedHandle posted(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::vector<MSG> theirMessages;
    auto body = [&] {
        theirs = createHiddenWindow(_windowClass.name());
        SetEvent(created.get());
        WaitForSingleObject(posted.get(), INFINITE);
        theirMessages = drainQueue();
        DestroyWindow(theirs);
    };
    OwnedHandle thread(startThread(body));
    WaitForSingleObject(created.get(), INFINITE);
    PostMessageA(theirs, WM_USER, 1, 0);
    PostMessageA(mine.get(), WM_USER, 2, 0);
    SetEvent(posted.get());
    WaitForSingleObject(thread.get(), INFINITE);

    ASSERT_EQ(1u, theirMessages.size());
    EXPECT_EQ(1u, theirMessages[0].wParam);
    const std::vector<MSG> mineLeft = drainQueue();
    ASSERT_EQ(1u, mineLeft.size());
    EXPECT_EQ(2u, mineLeft[0].wParam);
}

TEST_F(MessagesTest, ADestroyedWindowRefusesPostsAndLosesWhatWasQueued)
{
    HWND hwnd = createHiddenWindow(_windowClass.name());
    ASSERT_TRUE(PostMessageA(hwnd, kNewImage, 1, 0));
    DestroyWindow(hwnd);
    received().clear();

    EXPECT_FALSE(PostMessageA(hwnd, kNewImage, 2, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());

    // The message posted before the destruction is still handed out, but
    // dispatching it reaches nobody.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(hwnd, msg.hwnd);
    EXPECT_EQ(0, DispatchMessageA(&msg));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_TRUE(received().empty());

    EXPECT_FALSE(PeekMessageA(&msg, hwnd, 0, 0, PM_REMOVE)) << "a dead window is no filter";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST_F(MessagesTest, AFullQueueRefusesFurtherPosts)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    int accepted = 0;
    while (accepted < 20000 && PostMessageA(window.get(), WM_USER, 0, 0))
        ++accepted;
    EXPECT_EQ(10000, accepted);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_QUOTA), GetLastError());
    EXPECT_EQ(10000u, drainQueue().size());
    EXPECT_TRUE(PostMessageA(window.get(), WM_USER, 0, 0));
}

TEST_F(MessagesTest, ThreadMessagesReachThreadsThatHaveAQueue)
{
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // gives this thread a queue
    const DWORD me = GetCurrentThreadId();
    auto body = [&] { PostThreadMessageA(me, WM_APP, 77, 0); };
    OwnedHandle thread(startThread(body));
    WaitForSingleObject(thread.get(), INFINITE);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(nullptr, msg.hwnd);
    EXPECT_EQ(77u, msg.wParam);
    EXPECT_EQ(0, DispatchMessageA(&msg)) << "thread messages have no procedure";

    EXPECT_FALSE(PostThreadMessageA(0xFFFFFFF0u, WM_APP, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_THREAD_ID), GetLastError());
}

TEST_F(MessagesTest, MsgWaitWakesForAHandleOrForNewMessages)
{
    OwnedWindow window(createHiddenWindow(_windowClass.name()));
    OwnedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    const HANDLE handles[] = {event.get()};

    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
              MsgWaitForMultipleObjects(1, handles, FALSE, 20, QS_ALLINPUT));

    auto postLater = [&] {
        Sleep(30);
        PostMessageA(window.get(), WM_USER, 0, 0);
    };
    {
        OwnedHandle thread(startThread(postLater));
        EXPECT_EQ(WAIT_OBJECT_0 + 1, MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_ALLINPUT));
        WaitForSingleObject(thread.get(), INFINITE);
    }
    // Once the thread has looked at its queue the message is no longer new;
    // MWMO_INPUTAVAILABLE still counts it.
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT),
              MsgWaitForMultipleObjects(1, handles, FALSE, 10, QS_ALLINPUT));
    EXPECT_EQ(WAIT_OBJECT_0 + 1,
              MsgWaitForMultipleObjectsEx(1, handles, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE));
    drainQueue();

    auto setLater = [&] {
        Sleep(30);
        SetEvent(event.get());
    };
    {
        OwnedHandle thread(startThread(setLater));
        EXPECT_EQ(WAIT_OBJECT_0, MsgWaitForMultipleObjects(1, handles, FALSE, INFINITE, QS_ALLINPUT));
        WaitForSingleObject(thread.get(), INFINITE);
    }

    PostMessageA(window.get(), WM_USER, 0, 0);
    EXPECT_EQ(WAIT_OBJECT_0, MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_POSTMESSAGE)) << "no handles";
    EXPECT_EQ(WAIT_FAILED, MsgWaitForMultipleObjects(1, handles, TRUE, 0, QS_ALLINPUT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
}
