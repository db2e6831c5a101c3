// RegisterDeviceNotificationA, UnregisterDeviceNotification, and the
// WM_DEVICECHANGE broadcasts with their DEV_BROADCAST_* records.
#include "DeviceNotifications.h"

#include "Drivers.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include <orvex/win32/errors.h>
#include <orvex/win32/messages.h>

#include "Messages.h"
#include "WindowManager.h"

namespace orvex::win32::detail {
namespace {

std::atomic<size_t> g_liveRecords{0};

struct Registration {
    uintptr_t id;
    HWND window;
    bool forHandle;
    // Interface registrations.
    GUID classGuid;
    bool allClasses;
    // Handle registrations.
    std::weak_ptr<DeviceFile> file;
    HANDLE handle;
};

// Kernel lock held for both.
struct Registrations {
    std::vector<Registration> entries;
    uintptr_t nextId = 0x4000; // never reused: a stale HDEVNOTIFY stays invalid
};

Registrations& registrations()
{
    static Registrations* instance = new Registrations;
    return *instance;
}

HDEVNOTIFY handleOf(const Registration& registration)
{
    return reinterpret_cast<HDEVNOTIFY>(registration.id);
}

// Queues `event` with its record for the registration's window, if it lives.
void send(const Registration& registration, WPARAM event, std::unique_ptr<BroadcastRecord> record)
{
    auto window = findWindow(registration.window);
    if (!window)
        return;
    appendSentMessage(*window->owner,
                      SentMessage{registration.window, WM_DEVICECHANGE, event, std::move(record)});
}

std::unique_ptr<BroadcastRecord> interfaceRecord(const DeviceInterface& deviceInterface)
{
    const size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + deviceInterface.path.size() + 1;
    auto record = std::make_unique<BroadcastRecord>(std::max(size, sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)));
    auto* broadcast = static_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(record->data());
    broadcast->dbcc_size = static_cast<DWORD>(size);
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_classguid = deviceInterface.classGuid;
    std::memcpy(broadcast->dbcc_name, deviceInterface.path.c_str(), deviceInterface.path.size() + 1);
    return record;
}

std::unique_ptr<BroadcastRecord> handleRecord(const Registration& registration, const GUID& eventGuid,
                                              const std::vector<BYTE>& data, LONG nameOffset)
{
    const size_t size = offsetof(DEV_BROADCAST_HANDLE, dbch_data) + data.size();
    auto record = std::make_unique<BroadcastRecord>(std::max(size, sizeof(DEV_BROADCAST_HANDLE)));
    auto* broadcast = static_cast<DEV_BROADCAST_HANDLE*>(record->data());
    broadcast->dbch_size = static_cast<DWORD>(size);
    broadcast->dbch_devicetype = DBT_DEVTYP_HANDLE;
    broadcast->dbch_handle = registration.handle;
    broadcast->dbch_hdevnotify = handleOf(registration);
    broadcast->dbch_eventguid = eventGuid;
    broadcast->dbch_nameoffset = nameOffset;
    if (!data.empty())
        std::memcpy(broadcast->dbch_data, data.data(), data.size());
    return record;
}

// A handle registration whose handle is still open on the interface.
bool watchesOpenHandleOf(const Registration& registration, const DeviceInterface& deviceInterface)
{
    if (!registration.forHandle)
        return false;
    auto file = registration.file.lock();
    return file && !file->closed && file->iface.get() == &deviceInterface;
}

bool watchesClassOf(const Registration& registration, const DeviceInterface& deviceInterface)
{
    return !registration.forHandle &&
           (registration.allClasses || IsEqualGUID(registration.classGuid, deviceInterface.classGuid));
}

// The registration a filter asks for; false (last error set) for a bad one.
// Kernel lock held.
bool registrationFor(const void* filter, DWORD flags, Registration& out)
{
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(filter);
    if (header == nullptr) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    const bool allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE &&
        header->dbch_size >= sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)) {
        const auto* interfaceFilter = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
        out.forHandle = false;
        out.classGuid = interfaceFilter->dbcc_classguid;
        out.allClasses = allClasses;
        return true;
    }
    if (header->dbch_devicetype == DBT_DEVTYP_HANDLE && header->dbch_size >= sizeof(DEV_BROADCAST_HANDLE) &&
        !allClasses) {
        const auto* handleFilter = static_cast<const DEV_BROADCAST_HANDLE*>(filter);
        auto file = findHandleAs<DeviceFile>(handleFilter->dbch_handle);
        if (!file) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        out.forHandle = true;
        out.file = file;
        out.handle = handleFilter->dbch_handle;
        return true;
    }
    SetLastError(ERROR_INVALID_DATA);
    return false;
}

} // namespace

BroadcastRecord::BroadcastRecord(size_t size) : _bytes(new unsigned char[size]())
{
    g_liveRecords.fetch_add(1);
}

BroadcastRecord::~BroadcastRecord()
{
    g_liveRecords.fetch_sub(1);
}

void broadcastInterfaceEvent(const DeviceInterface& deviceInterface, WPARAM event)
{
    for (const Registration& registration : registrations().entries) {
        if (watchesClassOf(registration, deviceInterface)) {
            send(registration, event, interfaceRecord(deviceInterface));
        } else if (event == DBT_DEVICEREMOVECOMPLETE && watchesOpenHandleOf(registration, deviceInterface)) {
            send(registration, event, handleRecord(registration, GUID{}, {}, -1));
        }
    }
}

void broadcastCustomEvent(const DeviceInterface& deviceInterface, const GUID& eventGuid,
                          const std::vector<BYTE>& data, LONG nameOffset)
{
    for (const Registration& registration : registrations().entries) {
        if (watchesOpenHandleOf(registration, deviceInterface))
            send(registration, DBT_CUSTOMEVENT, handleRecord(registration, eventGuid, data, nameOffset));
    }
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

namespace orvex::win32::driver {

size_t liveBroadcastRecords()
{
    return g_liveRecords.load();
}

} // namespace orvex::win32::driver

extern "C" {

HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags)
{
    orvex::win32::detail::startInstalledDrivers();
    if ((Flags & DEVICE_NOTIFY_SERVICE_HANDLE) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if ((Flags & ~static_cast<DWORD>(DEVICE_NOTIFY_ALL_INTERFACE_CLASSES)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    KernelLock lock(kernelLock());
    const HWND window = static_cast<HWND>(hRecipient);
    if (!findWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    Registration registration{};
    if (!registrationFor(NotificationFilter, Flags, registration))
        return nullptr;
    registration.id = registrations().nextId;
    registrations().nextId += 4;
    registration.window = window;
    registrations().entries.push_back(registration);
    return handleOf(registration);
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle)
{
    KernelLock lock(kernelLock());
    auto& entries = registrations().entries;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (handleOf(*it) == Handle) {
            entries.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

} // extern "C"
