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
//   modules.h  LoadLibraryA, GetModuleHandleA, GetProcAddress, FreeLibrary
// Device notifications, overlapped device I/O with completion ports, the
// registry, version resources and SetupAPI device enumeration will each get a
// header of their own here (devices.h, io.h, registry.h, version.h,
// setupapi.h) with a source file of the same area in platform/src.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <orvex/win32/base.h>
#include <orvex/win32/errors.h>
#include <orvex/win32/messages.h>
#include <orvex/win32/modules.h>
#include <orvex/win32/sync.h>
#include <orvex/win32/threads.h>
#include <orvex/win32/time.h>
#include <orvex/win32/window.h>
#endif
