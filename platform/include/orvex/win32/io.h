// Device files: CreateFileA on device interface paths, DeviceIoControl
// (synchronous and overlapped), GetOverlappedResult, CancelIo, and I/O
// completion ports. Requests go to the simulated drivers registered through
// <orvex/win32_driver.h>; regular files are outside the subset.
#pragma once

#include <orvex/win32/base.h>

#define GENERIC_READ 0x80000000L
#define GENERIC_WRITE 0x40000000L
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_OVERLAPPED 0x40000000

// I/O control codes: device type, function, transfer method and access.
#define METHOD_BUFFERED 0
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
#define CTL_CODE(DeviceType, Function, Method, Access)                                                       \
    (((DWORD)(DeviceType) << 16) | ((DWORD)(Access) << 14) | ((DWORD)(Function) << 2) | (DWORD)(Method))
#define METHOD_FROM_CTL_CODE(ctrlCode) ((DWORD)((ctrlCode)&3))
#define DEVICE_TYPE_FROM_CTL_CODE(ctrlCode) (((DWORD)(ctrlCode)&0xffff0000) >> 16)

// The status a request carries in OVERLAPPED.Internal while it is pending.
#define STATUS_PENDING ((DWORD)0x00000103L)

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;     // the request's status; STATUS_PENDING until it ends
    ULONG_PTR InternalHigh; // bytes transferred
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        } s;
        PVOID Pointer;
    } u;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

// Internal is written by whichever thread ends the request, so it is read
// atomically here (on Windows this is a plain volatile read).
inline bool HasOverlappedIoCompleted(const OVERLAPPED* lpOverlapped)
{
    return __atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE) != STATUS_PENDING;
}

extern "C" {

// Opens a device interface path ("\\?\..." or "\\.\...", any case) that a
// driver registered. dwDesiredAccess: GENERIC_READ | GENERIC_WRITE or 0;
// dwShareMode: FILE_SHARE_*; an open that the sharing of the other open
// handles of the device forbids, or that forbids their access, fails with
// ERROR_SHARING_VIOLATION. dwCreationDisposition must be OPEN_EXISTING and
// dwFlagsAndAttributes 0, FILE_ATTRIBUTE_NORMAL and/or FILE_FLAG_OVERLAPPED
// (else ERROR_NOT_SUPPORTED, as are other paths). No such device:
// INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND. Any thread.
ORVEX_WIN32_API HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                          LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                          DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                          HANDLE hTemplateFile);

// Sends an I/O control request to the device's driver, with the buffer rules
// of the code's method (buffered: the driver works on a copy, the output is
// copied back when the request succeeds; direct and neither: the driver
// writes into lpOutBuffer itself until the request ends).
// Handle opened without FILE_FLAG_OVERLAPPED: blocks until the request ends.
// Overlapped handle: lpOverlapped is required; its event (low bit masked) is
// reset, then set when the request ends. A request still pending returns
// FALSE with ERROR_IO_PENDING; one that ended at once returns its result.
// Either way, unless the driver failed it before its dispatch returned, a
// completion packet goes to the handle's completion port, except when the
// hEvent has its low bit set. Any thread.
ORVEX_WIN32_API BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped);

// The result of an overlapped request: ERROR_IO_INCOMPLETE while pending
// without bWait; with bWait, waits for the request's event (or, without an
// event, for the handle). A failed request returns FALSE with its error
// (ERROR_OPERATION_ABORTED once cancelled). Any thread.
ORVEX_WIN32_API BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                                LPDWORD lpNumberOfBytesTransferred, BOOL bWait);

// Cancels the pending requests the calling thread issued on hFile: each ends
// with ERROR_OPERATION_ABORTED (event set, completion packet queued) before
// CancelIo returns, and the driver no longer touches its buffers. Closing a
// device handle does the same for the requests of every thread.
ORVEX_WIN32_API BOOL WINAPI CancelIo(HANDLE hFile);

// FileHandle INVALID_HANDLE_VALUE with ExistingCompletionPort NULL: creates a
// port. A handle opened with FILE_FLAG_OVERLAPPED: associates it, with
// CompletionKey, with ExistingCompletionPort (or with a new port), once
// (ERROR_INVALID_PARAMETER otherwise). Returns the port. Any thread.
ORVEX_WIN32_API HANDLE WINAPI CreateIoCompletionPort(HANDLE FileHandle, HANDLE ExistingCompletionPort,
                                                     ULONG_PTR CompletionKey,
                                                     DWORD NumberOfConcurrentThreads);

// Takes the oldest packet, in the order the requests ended. TRUE for a
// request that succeeded or a posted packet; FALSE with the request's error
// and *lpOverlapped set for one that failed; FALSE with *lpOverlapped NULL on
// time-out (WAIT_TIMEOUT) or when the port's handle is closed during the wait
// (ERROR_ABANDONED_WAIT_0). Any thread; blocks without holding a lock of the
// caller's.
ORVEX_WIN32_API BOOL WINAPI GetQueuedCompletionStatus(HANDLE CompletionPort,
                                                      LPDWORD lpNumberOfBytesTransferred,
                                                      PULONG_PTR lpCompletionKey, LPOVERLAPPED* lpOverlapped,
                                                      DWORD dwMilliseconds);

// Queues a packet of the caller's own. Any thread.
ORVEX_WIN32_API BOOL WINAPI PostQueuedCompletionStatus(HANDLE CompletionPort,
                                                       DWORD dwNumberOfBytesTransferred,
                                                       ULONG_PTR dwCompletionKey, LPOVERLAPPED lpOverlapped);

} // extern "C"
