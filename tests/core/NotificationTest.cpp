// How a new image reaches the host: the host's window while it is a window,
// else the host's event, else the camera's own hidden window, which turns any
// number of queued notifications into one ImageCB call on the thread that
// owns it. The test thread plays the acquisition thread; a second thread
// owns the windows and dispatches their messages, as a host's GUI thread does.
#include "core/support/TestCamera.h"
#include "support/LogCapture.h"

#include <orvex/Loggers.h>
#include <orvex/win32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <queue>
#include <thread>

namespace {

using orvex::test::LogCapture;
using orvex::test::TestCamera;

constexpr const char* kCameraClass = "OrvexTestCameraWndClass";

// Runs jobs on a thread of its own and dispatches that thread's window
// messages only when asked, so that a test controls what is queued when.
class HostThread {
public:
    HostThread() : _thread([this] { run(); }) {}
    ~HostThread()
    {
        post([this] { _bStop = true; });
        _thread.join();
    }

    // Runs `job` on the host thread and waits for it.
    template <class Job> auto call(Job job) -> decltype(job())
    {
        std::packaged_task<decltype(job())()> task(job);
        auto result = task.get_future();
        post([&task] { task(); });
        return result.get();
    }

    // Dispatches every message queued for the host thread; returns how many.
    int dispatchAll()
    {
        return call([] {
            int count = 0;
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                DispatchMessageA(&msg);
                ++count;
            }
            return count;
        });
    }

    std::thread::id id() const { return _thread.get_id(); }

private:
    void post(std::function<void()> job)
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _jobs.push(std::move(job));
        _wake.notify_one();
    }
    void run()
    {
        while (!_bStop) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(_mutex);
                _wake.wait(lock, [this] { return !_jobs.empty(); });
                job = std::move(_jobs.front());
                _jobs.pop();
            }
            job();
        }
    }

    std::mutex _mutex;
    std::condition_variable _wake;
    std::queue<std::function<void()>> _jobs;
    bool _bStop = false;
    std::thread _thread;
};

class RecordingCB : public ImageCB {
public:
    void onNewImage() override
    {
        ++calls;
        threadId = std::this_thread::get_id();
    }
    std::atomic<int> calls{0};
    std::thread::id threadId;
};

LRESULT CALLBACK hostWindowProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(wnd, msg, wParam, lParam);
}

HWND createHostWindow()
{
    WNDCLASSEXA wndClass = {};
    wndClass.cbSize = sizeof wndClass;
    wndClass.lpfnWndProc = hostWindowProc;
    wndClass.lpszClassName = "OrvexTestHostWndClass";
    RegisterClassExA(&wndClass); // already registered by an earlier test: fine
    return CreateWindowExA(0, "OrvexTestHostWndClass", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                           nullptr);
}

class Notification : public testing::Test {
protected:
    void SetUp() override
    {
        camera = host.call([] {
            auto* created = new TestCamera;
            created->createNotificationWindow(kCameraClass, "test CWM_NEW_IMAGE_AVAILABLE removed");
            return created;
        });
        camera->setImageCB(&callback, false);
        camera->setInitialized(true);
        camera->setAcquiring(true);
    }
    void TearDown() override
    {
        host.call([this] { delete camera; });
    }

    HostThread host;
    TestCamera* camera = nullptr;
    RecordingCB callback;
};

TEST_F(Notification, ABurstOfImagesMakesOneCallOnTheWindowThread)
{
    LogCapture log(g_OrvexLogger, log4cplus::TRACE_LOG_LEVEL);
    for (int i = 0; i < 10; ++i) {
        camera->notifyNewImage();
    }
    EXPECT_EQ(1, host.dispatchAll()); // the first message swallowed the other nine
    EXPECT_EQ(1, callback.calls);
    EXPECT_EQ(host.id(), callback.threadId);
    int removed = 0;
    for (const std::string& text : log.messages()) {
        removed += text == "test CWM_NEW_IMAGE_AVAILABLE removed";
    }
    EXPECT_EQ(9, removed);

    camera->notifyNewImage(); // the next image is a new burst
    host.dispatchAll();
    EXPECT_EQ(2, callback.calls);
}

TEST_F(Notification, ConcurrentAcquisitionThreadsStillCollapse)
{
    std::thread second([this] {
        for (int i = 0; i < 50; ++i) {
            camera->notifyNewImage();
        }
    });
    for (int i = 0; i < 50; ++i) {
        camera->notifyNewImage();
    }
    second.join();
    host.dispatchAll();
    EXPECT_EQ(1, callback.calls);
}

TEST_F(Notification, NoCallUnlessInitialisedAndAcquiring)
{
    camera->setAcquiring(false);
    camera->notifyNewImage();
    host.dispatchAll();
    camera->setAcquiring(true);
    camera->setInitialized(false);
    camera->notifyNewImage();
    host.dispatchAll();
    EXPECT_EQ(0, callback.calls);

    camera->setInitialized(true);
    camera->setImageCB(nullptr, false);
    camera->notifyNewImage();
    EXPECT_EQ(1, host.dispatchAll());
    EXPECT_EQ(0, callback.calls);
}

TEST_F(Notification, TheHostWindowComesFirstWithItsValue)
{
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HWND hostWnd = host.call(createHostWindow);
    ASSERT_NE(nullptr, hostWnd);
    camera->setNewImageNotifiedWnd(hostWnd, 1234);
    camera->setNewImageEvent(event);
    camera->notifyNewImage();

    const MSG received = host.call([hostWnd] {
        MSG msg = {};
        PeekMessageA(&msg, hostWnd, 0, 0, PM_REMOVE);
        return msg;
    });
    EXPECT_EQ(CWM_NEW_IMAGE_AVAILABLE, received.message);
    EXPECT_EQ(1234u, received.wParam);
    EXPECT_EQ(0, received.lParam);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
    EXPECT_EQ(0, host.dispatchAll());
    EXPECT_EQ(0, callback.calls);

    host.call([hostWnd] { DestroyWindow(hostWnd); });
    CloseHandle(event);
}

TEST_F(Notification, ADestroyedHostWindowFallsThroughToTheEvent)
{
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const HWND hostWnd = host.call(createHostWindow);
    camera->setNewImageNotifiedWnd(hostWnd, 7);
    camera->setNewImageEvent(event);
    host.call([hostWnd] { DestroyWindow(hostWnd); });

    camera->notifyNewImage();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(event, 0));
    EXPECT_EQ(0, host.dispatchAll()); // nothing went to the camera's window
    EXPECT_EQ(0, callback.calls);
    CloseHandle(event);

    // Without the event, the camera's own window takes over.
    camera->setNewImageEvent(nullptr);
    camera->notifyNewImage();
    host.dispatchAll();
    EXPECT_EQ(1, callback.calls);
}

TEST_F(Notification, ACallbackThatThrowsDoesNotUnwindThroughTheDispatcher)
{
    class ThrowingCB : public ImageCB {
    public:
        void onNewImage() override { throw std::runtime_error("host bug"); }
    } throwing;
    camera->setImageCB(&throwing, false);
    camera->notifyNewImage();
    EXPECT_NO_THROW(host.dispatchAll());
    camera->setImageCB(&callback, false);
}

TEST_F(Notification, MessagesQueuedForADestroyedCameraWindowReachNobody)
{
    camera->notifyNewImage();
    host.call([this] { camera->destroyNotificationWindow(); });
    EXPECT_EQ(nullptr, camera->getNotificationWindow());
    host.dispatchAll();
    camera->notifyNewImage(); // no window left: the image is not announced
    host.dispatchAll();
    EXPECT_EQ(0, callback.calls);
}

} // namespace
