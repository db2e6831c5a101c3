// SetupAPI device interface enumeration (<setupapi.h> on Windows): the
// present interfaces of a class, each with its device path.
#pragma once

#include <orvex/win32/base.h>

typedef PVOID HDEVINFO;

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

#define SPINT_ACTIVE 0x00000001
#define SPINT_DEFAULT 0x00000002
#define SPINT_REMOVED 0x00000004

typedef struct _SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize; // sizeof(SP_DEVICE_INTERFACE_DATA)
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
} SP_DEVICE_INTERFACE_DATA, *PSP_DEVICE_INTERFACE_DATA;

// Variable length: cbSize is sizeof the structure (8 here and on 64-bit
// Windows, 5 on 32-bit Windows), the path follows in DevicePath.
typedef struct _SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[ANYSIZE_ARRAY];
} SP_DEVICE_INTERFACE_DETAIL_DATA_A, *PSP_DEVICE_INTERFACE_DETAIL_DATA_A;

extern "C" {

// A snapshot of the interfaces of *ClassGuid present now, in the order they
// were registered. Flags must be DIGCF_PRESENT | DIGCF_DEVICEINTERFACE and
// Enumerator NULL (else ERROR_NOT_SUPPORTED); ClassGuid NULL:
// ERROR_INVALID_PARAMETER. Failure: INVALID_HANDLE_VALUE. Any thread.
ORVEX_WIN32_API HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                                     DWORD Flags);

// Member MemberIndex of the set (DeviceInfoData must be NULL). Past the last
// one: FALSE with ERROR_NO_MORE_ITEMS. DeviceInterfaceData->cbSize must be
// sizeof(SP_DEVICE_INTERFACE_DATA) (else ERROR_INVALID_USER_BUFFER).
ORVEX_WIN32_API BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet,
                                                        PSP_DEVINFO_DATA DeviceInfoData,
                                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData);

// The path of an enumerated interface. Size query: detail NULL and size 0
// give FALSE with ERROR_INSUFFICIENT_BUFFER and *RequiredSize (the
// structure's header plus the path and its zero); a buffer too small does the
// same. A detail whose cbSize is not sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A),
// or a NULL detail with a size: ERROR_INVALID_USER_BUFFER. DeviceInfoData
// must be NULL (ERROR_NOT_SUPPORTED).
ORVEX_WIN32_API BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(
    HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
    PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData, DWORD DeviceInterfaceDetailDataSize,
    PDWORD RequiredSize, PSP_DEVINFO_DATA DeviceInfoData);

// Unknown set: ERROR_INVALID_HANDLE.
ORVEX_WIN32_API BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

} // extern "C"
