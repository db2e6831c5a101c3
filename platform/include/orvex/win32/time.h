// Tick counts, thread times and the system time.
#pragma once

#include <orvex/win32/base.h>

// 100-nanosecond intervals since 1601-01-01 (UTC for absolute times).
typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *PFILETIME, *LPFILETIME;

extern "C" {

// Milliseconds since an arbitrary start, 32 bits: wraps every 49.7 days, so
// compute differences in DWORD (uint32_t) arithmetic. Any thread; no lock.
ORVEX_WIN32_API DWORD WINAPI GetTickCount(void);

// Creation, exit, kernel and user times of a thread in 100 ns units. For a
// thread still running the exit time is 0. hThread is GetCurrentThread() or a
// thread handle. Any thread; takes the handle table lock briefly.
ORVEX_WIN32_API BOOL WINAPI GetThreadTimes(HANDLE hThread, LPFILETIME lpCreationTime, LPFILETIME lpExitTime,
                                           LPFILETIME lpKernelTime, LPFILETIME lpUserTime);

// Current UTC time. Any thread; no lock.
ORVEX_WIN32_API void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime);

// Suspends the calling thread for at least dwMilliseconds (INFINITE: for ever).
ORVEX_WIN32_API void WINAPI Sleep(DWORD dwMilliseconds);

} // extern "C"
