// Threads: creation (optionally suspended), priorities, exit codes and the
// pseudo handles of the current thread and process.
#pragma once

#include <orvex/win32/base.h>

typedef DWORD(WINAPI* PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004
#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000
#define STILL_ACTIVE 259L

#define THREAD_PRIORITY_IDLE (-15)
#define THREAD_PRIORITY_LOWEST (-2)
#define THREAD_PRIORITY_BELOW_NORMAL (-1)
#define THREAD_PRIORITY_NORMAL 0
#define THREAD_PRIORITY_ABOVE_NORMAL 1
#define THREAD_PRIORITY_HIGHEST 2
#define THREAD_PRIORITY_TIME_CRITICAL 15
#define THREAD_PRIORITY_ERROR_RETURN (0x7fffffff)

extern "C" {

// Starts lpStartAddress(lpParameter) on a new thread. dwCreationFlags may
// hold CREATE_SUSPENDED (the thread waits for ResumeThread) and
// STACK_SIZE_PARAM_IS_A_RESERVATION; anything else fails with
// ERROR_NOT_SUPPORTED. The handle is signalled when the thread has ended;
// windows the thread still owns are destroyed when it ends. Any thread.
ORVEX_WIN32_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                           DWORD dwCreationFlags, LPDWORD lpThreadId);

// Decrements the suspend count; the thread starts when it reaches 0. Returns
// the previous count, or (DWORD)-1 on failure. Any thread.
ORVEX_WIN32_API DWORD WINAPI ResumeThread(HANDLE hThread);

// STILL_ACTIVE while the thread runs, then the start routine's result.
ORVEX_WIN32_API BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

// Priorities are recorded and reported back; the POSIX scheduler is left
// alone (raising a priority needs privileges there). Accepted: the
// THREAD_PRIORITY_* values, and 16 / -16, which the Windows kernel takes as
// the saturated time-critical and idle levels. Others: ERROR_INVALID_PARAMETER.
ORVEX_WIN32_API BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority);
ORVEX_WIN32_API int WINAPI GetThreadPriority(HANDLE hThread);

// Pseudo handles: valid only in the calling thread/process, need no closing.
ORVEX_WIN32_API HANDLE WINAPI GetCurrentThread(void);
ORVEX_WIN32_API HANDLE WINAPI GetCurrentProcess(void);
ORVEX_WIN32_API DWORD WINAPI GetCurrentThreadId(void);
ORVEX_WIN32_API DWORD WINAPI GetCurrentProcessId(void);

// Whether the process runs as a 32-bit process on 64-bit Windows. Here it
// answers FALSE unless a test asked otherwise (see <orvex/win32_testing.h>).
ORVEX_WIN32_API BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process);

} // extern "C"
