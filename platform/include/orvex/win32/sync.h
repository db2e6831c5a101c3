// Kernel objects that can be waited for (events, threads), the wait
// functions, CloseHandle, critical sections and interlocked operations.
#pragma once

#include <orvex/win32/base.h>

#define INFINITE 0xFFFFFFFF
#define MAXIMUM_WAIT_OBJECTS 64
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_TIMEOUT 258L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)

// A recursive lock living inside the structure, as on Windows: it must not be
// moved or copied while initialised. The contents are private to the layer.
typedef struct _RTL_CRITICAL_SECTION {
    union {
        void* AlignPointer;
        long long AlignInteger;
        unsigned char Opaque[64];
    } Private;
} CRITICAL_SECTION, *PCRITICAL_SECTION, *LPCRITICAL_SECTION;

extern "C" {

// Events. lpEventAttributes must be NULL or carry no security descriptor and
// no inheritance, and lpName must be NULL (named events are not supported:
// ERROR_NOT_SUPPORTED). Any thread; the event's state is guarded by the
// layer's kernel lock.
ORVEX_WIN32_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                           BOOL bInitialState, LPCSTR lpName);
ORVEX_WIN32_API BOOL WINAPI SetEvent(HANDLE hEvent);
ORVEX_WIN32_API BOOL WINAPI ResetEvent(HANDLE hEvent);

// Waits for an event or a thread. An auto-reset event is reset by the wait
// that it satisfies. Returns WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED
// (GetLastError: ERROR_INVALID_HANDLE). Any thread; blocks without holding
// any lock of the caller's.
ORVEX_WIN32_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// Waits for any (bWaitAll FALSE: returns WAIT_OBJECT_0 + lowest signalled
// index) or all of 1 to MAXIMUM_WAIT_OBJECTS handles. With bWaitAll, the
// objects are acquired together; a handle given twice fails with
// ERROR_INVALID_PARAMETER. Any thread.
ORVEX_WIN32_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                                    DWORD dwMilliseconds);

// Closes a kernel object handle of any kind. The object lives on while
// something still uses it (a running thread, a pending wait). Closing an
// unknown or already closed handle fails with ERROR_INVALID_HANDLE. Any thread.
ORVEX_WIN32_API BOOL WINAPI CloseHandle(HANDLE hObject);

// Critical sections: recursive, owned by the entering thread. Leaving one that
// the calling thread does not own is a programming error and aborts.
ORVEX_WIN32_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
ORVEX_WIN32_API BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                                  DWORD dwSpinCount);
ORVEX_WIN32_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
ORVEX_WIN32_API BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
ORVEX_WIN32_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
ORVEX_WIN32_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

// Atomic (sequentially consistent) operations on a 32-bit LONG. Read a flag
// that other threads exchange with InterlockedCompareExchange(p, 0, 0).
ORVEX_WIN32_API LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value);
ORVEX_WIN32_API LONG WINAPI InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange,
                                                       LONG Comperand);

} // extern "C"
