// Device-change notifications: interface arrival and removal, handle events,
// delivery to the registered window on its own thread, and the records'
// lifetime.
#include <string>
#include <vector>

#include "TestDriver.h"
#include "Win32TestSupport.h"

using namespace orvex::win32::test;
using orvex::win32::driver::liveBroadcastRecords;

namespace {

constexpr UINT kQuitLoop = WM_APP + 1;

// What a WM_DEVICECHANGE carried, copied while its record lived.
struct Change {
    DWORD thread;
    WPARAM event;
    DWORD deviceType;
    std::string name;
    GUID classGuid;
    HANDLE handle;
    HDEVNOTIFY notify;
    GUID eventGuid;
    LONG nameOffset;
    std::vector<BYTE> data;
};

std::vector<Change>& changes()
{
    static std::vector<Change> all; // written by one window thread at a time
    return all;
}

LRESULT CALLBACK changeProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kQuitLoop) {
        PostQuitMessage(0);
        return 0;
    }
    if (message != WM_DEVICECHANGE)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    Change change{};
    change.thread = GetCurrentThreadId();
    change.event = wParam;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    change.deviceType = header->dbch_devicetype;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(lParam);
        change.name = record->dbcc_name;
        change.classGuid = record->dbcc_classguid;
    } else {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam);
        change.handle = record->dbch_handle;
        change.notify = record->dbch_hdevnotify;
        change.eventGuid = record->dbch_eventguid;
        change.nameOffset = record->dbch_nameoffset;
        const size_t dataSize = record->dbch_size - offsetof(DEV_BROADCAST_HANDLE, dbch_data);
        change.data.assign(record->dbch_data, record->dbch_data + dataSize);
    }
    changes().push_back(change);
    return TRUE;
}

HDEVNOTIFY registerForClass(HWND window, const GUID& classGuid, DWORD flags = DEVICE_NOTIFY_WINDOW_HANDLE)
{
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = classGuid;
    return RegisterDeviceNotificationA(window, &filter, flags);
}

HDEVNOTIFY registerForHandle(HWND window, HANDLE device)
{
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = device;
    return RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

class DeviceNotificationsTest : public ::testing::Test {
protected:
    DeviceNotificationsTest() : _windowClass("DeviceNotificationsTestClass", &changeProc)
    {
        changes().clear();
    }

    const char* className() const { return _windowClass.name(); }

private:
    ScopedClass _windowClass;
};

} // namespace

TEST_F(DeviceNotificationsTest, ARecordLivesUntilTheProcedureHasSeenIt)
{
    OwnedWindow window(createHiddenWindow(className()));
    HDEVNOTIFY notify = registerForClass(window.get(), kTestInterfaceClass);
    ASSERT_NE(nullptr, notify);
    const size_t before = liveBroadcastRecords();
    std::string path;
    {
        ScopedInterface device("1394#00305300000000B1", std::make_shared<TestDevice>());
        path = device.path();
        EXPECT_EQ(before + 1, liveBroadcastRecords()) << "queued for the window, not yet seen";
        EXPECT_TRUE(changes().empty()) << "nothing runs before the window's thread looks at its queue";
    }
    EXPECT_EQ(before + 2, liveBroadcastRecords());
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "sent messages are never returned";
    EXPECT_EQ(before, liveBroadcastRecords()) << "freed once the procedure returned";

    ASSERT_EQ(2u, changes().size());
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEARRIVAL), changes()[0].event);
    EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE), changes()[0].deviceType);
    EXPECT_EQ(path, changes()[0].name);
    EXPECT_TRUE(IsEqualGUID(kTestInterfaceClass, changes()[0].classGuid));
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE), changes()[1].event);
    EXPECT_EQ(path, changes()[1].name);
    EXPECT_TRUE(UnregisterDeviceNotification(notify));
}

TEST_F(DeviceNotificationsTest, BroadcastsAreHandledOnTheWindowsOwnThreadWhileItDispatches)
{
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    DWORD ownerId = 0;
    auto owner = [&] {
        ownerId = GetCurrentThreadId();
        window = createHiddenWindow(className());
        HDEVNOTIFY notify = registerForClass(window, kTestInterfaceClass);
        SetEvent(ready);
        // Woken by the sent messages themselves, then a message loop.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        UnregisterDeviceNotification(notify);
        DestroyWindow(window);
    };
    const size_t before = liveBroadcastRecords();
    OwnedHandle thread(startThread(owner));
    WaitForSingleObject(ready, INFINITE);
    std::string path;
    {
        ScopedInterface device("1394#00305300000000B2", std::make_shared<TestDevice>());
        path = device.path();
    }
    PostMessageA(window, kQuitLoop, 0, 0);
    WaitForSingleObject(thread.get(), INFINITE);
    CloseHandle(ready);

    ASSERT_EQ(2u, changes().size());
    EXPECT_EQ(ownerId, changes()[0].thread);
    EXPECT_EQ(ownerId, changes()[1].thread);
    EXPECT_NE(GetCurrentThreadId(), changes()[0].thread);
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEARRIVAL), changes()[0].event);
    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE), changes()[1].event);
    EXPECT_EQ(before, liveBroadcastRecords());
}

TEST_F(DeviceNotificationsTest, HandleRegistrationsHearOfTheirDevicesRemovalAndCustomEvents)
{
    OwnedWindow window(createHiddenWindow(className()));
    auto device = std::make_unique<ScopedInterface>("1394#00305300000000B3", std::make_shared<TestDevice>());
    OwnedHandle file(openDevice(device->path()));
    HDEVNOTIFY forHandle = registerForHandle(window.get(), file.get());
    ASSERT_NE(nullptr, forHandle);
    HDEVNOTIFY forClass = registerForClass(window.get(), kTestInterfaceClass);

    const GUID eventGuid = kOtherInterfaceClass;
    EXPECT_TRUE(orvex::win32::driver::signalCustomEvent(device->path(), eventGuid, {1, 2, 3}, 0));
    const std::string path = device->path();
    device.reset();
    drainQueue();

    ASSERT_EQ(3u, changes().size());
    EXPECT_EQ(static_cast<WPARAM>(DBT_CUSTOMEVENT), changes()[0].event);
    EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_HANDLE), changes()[0].deviceType);
    EXPECT_EQ(file.get(), changes()[0].handle);
    EXPECT_EQ(forHandle, changes()[0].notify);
    EXPECT_TRUE(IsEqualGUID(eventGuid, changes()[0].eventGuid));
    EXPECT_EQ((std::vector<BYTE>{1, 2, 3}), changes()[0].data);
    EXPECT_EQ(0, changes()[0].nameOffset);

    EXPECT_EQ(static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE), changes()[1].event);
    EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_HANDLE), changes()[1].deviceType);
    EXPECT_EQ(file.get(), changes()[1].handle);
    EXPECT_EQ(static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE), changes()[2].deviceType);
    EXPECT_EQ(path, changes()[2].name);
    EXPECT_TRUE(UnregisterDeviceNotification(forHandle));
    EXPECT_TRUE(UnregisterDeviceNotification(forClass));
}

TEST_F(DeviceNotificationsTest, OnlyTheRegisteredClassesAreHeard)
{
    OwnedWindow window(createHiddenWindow(className()));
    HDEVNOTIFY forTest = registerForClass(window.get(), kTestInterfaceClass);
    HDEVNOTIFY forAll = registerForClass(window.get(), GUID{}, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES);
    ASSERT_NE(nullptr, forAll);
    {
        ScopedInterface other("1394#00305300000000B4", std::make_shared<TestDevice>(), kOtherInterfaceClass);
        drainQueue();
        ASSERT_EQ(1u, changes().size()) << "only the all-classes registration";
        EXPECT_TRUE(IsEqualGUID(kOtherInterfaceClass, changes()[0].classGuid));
        EXPECT_TRUE(UnregisterDeviceNotification(forAll));
    }
    drainQueue();
    EXPECT_EQ(1u, changes().size()) << "an ended registration hears nothing";
    EXPECT_FALSE(UnregisterDeviceNotification(forAll));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(UnregisterDeviceNotification(forTest));
}

TEST_F(DeviceNotificationsTest, RecordsForWindowsThatNeverDispatchAreFreed)
{
    const size_t before = liveBroadcastRecords();
    HWND window = createHiddenWindow(className());
    HDEVNOTIFY notify = registerForClass(window, kTestInterfaceClass);
    ScopedInterface first("1394#00305300000000B5", std::make_shared<TestDevice>());
    DestroyWindow(window);
    drainQueue();
    EXPECT_TRUE(changes().empty()) << "a destroyed window's procedure is not called";
    EXPECT_EQ(before, liveBroadcastRecords());
    UnregisterDeviceNotification(notify);

    HANDLE registered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE arrived = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    auto owner = [&] {
        HWND own = createHiddenWindow(className());
        HDEVNOTIFY ownNotify = registerForClass(own, kTestInterfaceClass);
        SetEvent(registered);
        WaitForSingleObject(arrived, INFINITE);
        UnregisterDeviceNotification(ownNotify);
    }; // ends without looking at its queue
    OwnedHandle thread(startThread(owner));
    WaitForSingleObject(registered, INFINITE);
    {
        ScopedInterface second("1394#00305300000000B6", std::make_shared<TestDevice>());
        SetEvent(arrived);
        WaitForSingleObject(thread.get(), INFINITE);
    }
    EXPECT_EQ(before, liveBroadcastRecords()) << "the ended thread's queue took its records with it";
    CloseHandle(registered);
    CloseHandle(arrived);
}

TEST_F(DeviceNotificationsTest, MalformedRegistrationsAreRefused)
{
    OwnedWindow window(createHiddenWindow(className()));
    EXPECT_EQ(nullptr, RegisterDeviceNotificationA(window.get(), nullptr, DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    DEV_BROADCAST_DEVICEINTERFACE_A shortFilter{};
    shortFilter.dbcc_size = sizeof(DEV_BROADCAST_HDR);
    shortFilter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    EXPECT_EQ(nullptr, RegisterDeviceNotificationA(window.get(), &shortFilter, DEVICE_NOTIFY_WINDOW_HANDLE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), GetLastError());
    EXPECT_EQ(nullptr, registerForHandle(window.get(), GetCurrentProcess()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_EQ(nullptr, registerForClass(reinterpret_cast<HWND>(0x1234), kTestInterfaceClass));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_EQ(nullptr, registerForClass(window.get(), kTestInterfaceClass, DEVICE_NOTIFY_SERVICE_HANDLE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
}
