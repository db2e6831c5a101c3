// Device-change notifications (<dbt.h> on Windows): a window registers for
// the arrival and removal of device interfaces of a class, or for the events
// of one open device handle, and receives WM_DEVICECHANGE with a
// DEV_BROADCAST_* record.
#pragma once

#include <orvex/win32/base.h>

typedef PVOID HDEVNOTIFY;

// WM_DEVICECHANGE events (wParam).
#define DBT_DEVICEARRIVAL 0x8000
#define DBT_DEVICEQUERYREMOVE 0x8001
#define DBT_DEVICEQUERYREMOVEFAILED 0x8002
#define DBT_DEVICEREMOVEPENDING 0x8003
#define DBT_DEVICEREMOVECOMPLETE 0x8004
#define DBT_CUSTOMEVENT 0x8006

// Record types (dbch_devicetype).
#define DBT_DEVTYP_DEVICEINTERFACE 0x00000005
#define DBT_DEVTYP_HANDLE 0x00000006

#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000
#define DEVICE_NOTIFY_SERVICE_HANDLE 0x00000001
#define DEVICE_NOTIFY_ALL_INTERFACE_CLASSES 0x00000004

typedef struct _DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
} DEV_BROADCAST_HDR, *PDEV_BROADCAST_HDR;

typedef struct _DEV_BROADCAST_DEVICEINTERFACE_A {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    GUID dbcc_classguid;
    char dbcc_name[1]; // the interface path, zero-terminated
} DEV_BROADCAST_DEVICEINTERFACE_A, *PDEV_BROADCAST_DEVICEINTERFACE_A;

typedef struct _DEV_BROADCAST_HANDLE {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
    HANDLE dbch_handle;         // the handle the registration names
    HDEVNOTIFY dbch_hdevnotify; // the registration
    GUID dbch_eventguid;        // DBT_CUSTOMEVENT only
    LONG dbch_nameoffset;       // DBT_CUSTOMEVENT only; -1 for none
    BYTE dbch_data[1];
} DEV_BROADCAST_HANDLE, *PDEV_BROADCAST_HANDLE;

extern "C" {

// Registers hRecipient (a window: DEVICE_NOTIFY_WINDOW_HANDLE) for
// WM_DEVICECHANGE. NotificationFilter: a DEV_BROADCAST_DEVICEINTERFACE_A
// naming a class (every class with DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) for
// DBT_DEVICEARRIVAL and DBT_DEVICEREMOVECOMPLETE of its interfaces, or a
// DEV_BROADCAST_HANDLE naming an open device handle for that device's
// removal and custom events. The message is handed to the window's current
// procedure on the window's thread while it runs PeekMessageA or GetMessageA
// (as a sent message, never returned by them); lParam points to a record
// that lives until the procedure returns and is then freed by the subset.
// Failures: ERROR_INVALID_WINDOW_HANDLE, ERROR_INVALID_DATA for a malformed
// filter, ERROR_INVALID_HANDLE for a handle that is not an open device,
// ERROR_NOT_SUPPORTED for service recipients. Any thread.
ORVEX_WIN32_API HDEVNOTIFY WINAPI RegisterDeviceNotificationA(HANDLE hRecipient, LPVOID NotificationFilter,
                                                              DWORD Flags);

// Ends a registration; broadcasts already queued are still delivered. Unknown
// registration: ERROR_INVALID_HANDLE. Any thread.
ORVEX_WIN32_API BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle);

} // extern "C"
