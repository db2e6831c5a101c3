// Per-thread last error, the system error numbers the layer produces, and
// FormatMessageA over the system message table (English texts).
#pragma once

#include <cstdarg>

#include <orvex/win32/base.h>

#define ERROR_SUCCESS 0L
#define NO_ERROR 0L
#define ERROR_INVALID_FUNCTION 1L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_NOT_READY 21L
#define ERROR_GEN_FAILURE 31L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_DEV_NOT_EXIST 55L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_SEM_TIMEOUT 121L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MR_MID_NOT_FOUND 317L
#define ERROR_ABANDONED_WAIT_0 735L
#define ERROR_OPERATION_ABORTED 995L
#define ERROR_IO_INCOMPLETE 996L
#define ERROR_IO_PENDING 997L
#define ERROR_NOACCESS 998L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_KEY_DELETED 1018L
#define ERROR_DEVICE_NOT_CONNECTED 1167L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_TLW_WITH_WSCHILD 1406L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_WINDOW_OF_OTHER_THREAD 1408L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_CLASS_HAS_WINDOWS 1412L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_INVALID_THREAD_ID 1444L
#define ERROR_TIMEOUT 1460L
#define ERROR_INVALID_USER_BUFFER 1784L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#define ERROR_NOT_ENOUGH_QUOTA 1816L
#define ERROR_RESOURCE_LANG_NOT_FOUND 15100L

// COM results the system message table also holds.
#define E_UNEXPECTED ((LONG)0x8000FFFFL)

// Language identifiers accepted by FormatMessageA: the neutral and default
// languages and US English; the table holds English texts only.
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define SUBLANG_ENGLISH_US 0x01
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

extern "C" {

// The calling thread's last error. Any thread; no lock (thread-local).
ORVEX_WIN32_API DWORD WINAPI GetLastError(void);
ORVEX_WIN32_API void WINAPI SetLastError(DWORD dwErrCode);

// Formats a message into lpBuffer, or into a LocalAlloc'ed buffer stored at
// *(LPSTR*)lpBuffer with FORMAT_MESSAGE_ALLOCATE_BUFFER (release with
// LocalFree). Sources: FORMAT_MESSAGE_FROM_HMODULE looks in the message table
// of lpSource (a module loaded with LoadLibraryExA(LOAD_LIBRARY_AS_DATAFILE);
// other modules have none), FORMAT_MESSAGE_FROM_SYSTEM in the system table
// (English texts); with both, the module first, then the system. Returns the
// number of characters written without the terminating zero, 0 on failure
// (ERROR_MR_MID_NOT_FOUND for a number no table holds,
// ERROR_RESOURCE_TYPE_NOT_FOUND for a module without a message table and no
// system fallback, ERROR_INSUFFICIENT_BUFFER, ERROR_RESOURCE_LANG_NOT_FOUND
// for a language other than neutral/English). Inserts (%1...) come from
// Arguments: a va_list, or with FORMAT_MESSAGE_ARGUMENT_ARRAY an array of
// DWORD_PTR. FORMAT_MESSAGE_FROM_STRING is not supported (ERROR_NOT_SUPPORTED).
// Any thread; no lock of the caller's.
ORVEX_WIN32_API DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                            DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                            va_list* Arguments);

// Frees a buffer that FormatMessageA allocated. Returns NULL on success.
ORVEX_WIN32_API HLOCAL WINAPI LocalFree(HLOCAL hMem);

} // extern "C"
