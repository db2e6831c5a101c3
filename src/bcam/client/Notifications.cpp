// Client windows, the notification thread and its message-only window.
//
// Stop protocol of the notification thread: the process-wide object's
// destructor (process exit) posts WM_CLOSE to the window; the thread, which
// alone may destroy it, unregisters it as a client, destroys it and leaves
// its loop; the destructor waits for the thread and closes its handle.
#include "bcam/client/Notifications.h"

#include "bcam/client/BcamException.h"
#include "bcam/client/BcamTexts.h"

#include "base/CriticalSection.h"

#include <orvex/bcam/BcamProtocol.h>
#include <orvex/win32_owned.h>

#include <map>
#include <utility>

namespace Bcam::notifications {

namespace {

constexpr const char* kRegisterContext = "CBcam::RegisterClient()";
// How long process exit waits for the notification thread.
constexpr DWORD kStopTimeoutMs = 5000;

struct Client {
    WNDPROC previous = nullptr;
    orvex::win32::OwnedDeviceNotification notification;
};

struct Registry {
    orvex::CriticalSection lock;
    std::map<HWND, Client> clients;
    std::map<HANDLE, LONG*> devices;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

void markRemoved(const DEV_BROADCAST_HDR* header)
{
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_HANDLE)
        return;
    const auto* record = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header);
    Registry& r = registry();
    orvex::ScopedLock hold(r.lock);
    auto found = r.devices.find(record->dbch_handle);
    if (found != r.devices.end())
        InterlockedExchange(found->second, 1);
}

// A client destroyed without unregistering: its registration goes with it.
void forgetDestroyed(HWND window)
{
    // Unregistered when it leaves this scope, outside the lock.
    orvex::win32::OwnedDeviceNotification notification;
    {
        Registry& r = registry();
        orvex::ScopedLock hold(r.lock);
        auto found = r.clients.find(window);
        if (found == r.clients.end())
            return;
        notification = std::move(found->second.notification);
        r.clients.erase(found);
    }
}

LRESULT CALLBACK clientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC previous = nullptr;
    {
        Registry& r = registry();
        orvex::ScopedLock hold(r.lock);
        auto found = r.clients.find(window);
        if (found != r.clients.end())
            previous = found->second.previous;
    }
    if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEREMOVECOMPLETE)
        markRemoved(reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
    const LRESULT result = previous != nullptr ? CallWindowProcA(previous, window, message, wParam, lParam)
                                               : DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY)
        forgetDestroyed(window);
    return result;
}

// The message-only window and the thread that owns it.
class NotificationThread {
public:
    static NotificationThread& instance()
    {
        static NotificationThread thread;
        return thread;
    }

    HWND window(DWORD timeoutMs)
    {
        {
            orvex::ScopedLock hold(_lock);
            if (!_thread && !start())
                return nullptr;
        }
        if (WaitForSingleObject(_ready.get(), timeoutMs) != WAIT_OBJECT_0) {
            SetLastError(ERROR_TIMEOUT);
            return nullptr;
        }
        orvex::ScopedLock hold(_lock);
        if (_window == nullptr)
            SetLastError(_error);
        return _window;
    }

    ~NotificationThread()
    {
        if (_thread) {
            HWND created = nullptr;
            {
                orvex::ScopedLock hold(_lock);
                created = _window;
            }
            if (created != nullptr)
                PostMessageA(created, WM_CLOSE, 0, 0);
            WaitForSingleObject(_thread.get(), kStopTimeoutMs);
        }
    }

    NotificationThread(const NotificationThread&) = delete;
    NotificationThread& operator=(const NotificationThread&) = delete;

private:
    // The registry is made first so that it outlives the thread's last
    // unregistration at process exit.
    NotificationThread() : _ready((registry(), CreateEventA(nullptr, TRUE, FALSE, nullptr))) {}

    // Lock held.
    bool start()
    {
        if (!_ready)
            return false;
        DWORD id = 0;
        _thread.reset(CreateThread(nullptr, 0, &NotificationThread::run, this, 0, &id));
        return static_cast<bool>(_thread);
    }

    static DWORD WINAPI run(LPVOID self)
    {
        static_cast<NotificationThread*>(self)->pump();
        return 0;
    }

    void fail(DWORD error)
    {
        {
            orvex::ScopedLock hold(_lock);
            _error = error;
        }
        SetEvent(_ready.get());
    }

    void pump()
    {
        // Destroyed on this thread, which alone may, when pump() returns.
        orvex::win32::OwnedWindow window(CreateWindowExA(0, texts::kNotificationWindowClass,
                                                         texts::kNotificationWindowName, 0, 0, 0, 0, 0,
                                                         HWND_MESSAGE, nullptr, nullptr, nullptr));
        if (!window) {
            fail(GetLastError());
            return;
        }
        try {
            RegisterClient(window.get());
        } catch (const BcamException& e) {
            window.reset();
            fail(e.Error());
            return;
        }
        {
            orvex::ScopedLock hold(_lock);
            _window = window.get();
        }
        SetEvent(_ready.get());
        MSG message{};
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (message.hwnd == window.get() && message.message == WM_CLOSE)
                break;
            DispatchMessageA(&message);
        }
        UnregisterClient(window.get());
    }

    orvex::CriticalSection _lock; // guards all but _ready
    orvex::win32::OwnedHandle _ready;
    orvex::win32::OwnedHandle _thread;
    HWND _window = nullptr;
    DWORD _error = 0;
};

} // namespace

void RegisterClient(HWND window)
{
    Registry& r = registry();
    orvex::ScopedLock hold(r.lock);
    if (r.clients.count(window) != 0)
        return;
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = orvex::bcam::kInterfaceClass;
    orvex::win32::OwnedDeviceNotification notification(
        RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!notification)
        throw BcamException(GetLastError(), kRegisterContext);
    // Held across the swap so that the new procedure finds the old one as
    // soon as it can be called.
    SetLastError(0);
    const LONG_PTR previous =
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&clientProc));
    const DWORD error = GetLastError();
    if (previous == 0 && error != 0)
        throw BcamException(error, kRegisterContext);
    r.clients[window] = Client{reinterpret_cast<WNDPROC>(previous), std::move(notification)};
}

void UnregisterClient(HWND window)
{
    Registry& r = registry();
    orvex::ScopedLock hold(r.lock);
    auto found = r.clients.find(window);
    if (found == r.clients.end())
        return;
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(found->second.previous));
    r.clients.erase(found);
}

HWND NotificationWindow(DWORD timeoutMs)
{
    return NotificationThread::instance().window(timeoutMs);
}

void TrackDevice(HANDLE device, LONG* removed)
{
    Registry& r = registry();
    orvex::ScopedLock hold(r.lock);
    r.devices[device] = removed;
}

void ForgetDevice(HANDLE device)
{
    Registry& r = registry();
    orvex::ScopedLock hold(r.lock);
    r.devices.erase(device);
}

} // namespace Bcam::notifications
