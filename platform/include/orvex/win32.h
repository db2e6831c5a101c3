// The Win32 subset the library and its hosts use. On Windows this is
// <windows.h>; elsewhere the same names, types, constants and semantics are
// provided by the orvex_win32 library, so that code written against it is
// the same code on both systems.
//
// Areas (one header each):
//   base.h     basic types, handle types, calling-convention macros
//   errors.h   GetLastError/SetLastError, error numbers, FormatMessageA
//   time.h     GetTickCount, GetThreadTimes, GetSystemTimeAsFileTime, Sleep
//   sync.h     events, waits, CloseHandle, critical sections, interlocked
//   threads.h  CreateThread and thread/process queries
//   window.h   window classes and hidden windows
//   messages.h posted messages, message loops, timers, MsgWaitForMultipleObjects
//   modules.h  LoadLibraryA, LoadLibraryExA, GetModuleHandleA, GetProcAddress,
//              FreeLibrary
//   io.h       CreateFileA on devices, DeviceIoControl, overlapped results,
//              CancelIo, I/O completion ports
//   devices.h  RegisterDeviceNotificationA and the WM_DEVICECHANGE records
//   setupapi.h device interface enumeration
//   registry.h RegOpenKeyExA, RegQueryValueExA, RegCloseKey
//   environment.h ExpandEnvironmentStringsA, GetWindowsDirectoryA
//   version.h  file version resources
// Windows programs link setupapi and version besides kernel32 and user32.
#pragma once

#ifdef _WIN32
#include <windows.h>
// After <windows.h>, which they need.
#include <dbt.h>
#include <setupapi.h>
#else
#include <orvex/win32/base.h>
#include <orvex/win32/devices.h>
#include <orvex/win32/environment.h>
#include <orvex/win32/errors.h>
#include <orvex/win32/io.h>
#include <orvex/win32/messages.h>
#include <orvex/win32/modules.h>
#include <orvex/win32/registry.h>
#include <orvex/win32/setupapi.h>
#include <orvex/win32/sync.h>
#include <orvex/win32/threads.h>
#include <orvex/win32/time.h>
#include <orvex/win32/version.h>
#include <orvex/win32/window.h>
#endif
