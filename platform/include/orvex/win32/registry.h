// Registry reads: opening keys and querying REG_SZ, REG_EXPAND_SZ and
// REG_DWORD values. The keys and values come from the data store that the
// simulators fill through <orvex/win32_driver.h>. These functions return the
// error number instead of setting the last error, as on Windows.
#pragma once

#include <orvex/win32/base.h>

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD ACCESS_MASK;
typedef ACCESS_MASK REGSAM;
typedef LONG LSTATUS;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define KEY_QUERY_VALUE 0x0001
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_READ 0x20019
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

extern "C" {

// Opens hKey\lpSubKey (names case-insensitive, separated by "\"; NULL or ""
// opens hKey again). ulOptions must be 0. Missing: ERROR_FILE_NOT_FOUND.
// Any thread.
ORVEX_WIN32_API LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                             PHKEY phkResult);

// Reads a value (NULL or "": the default value). Strings come with their
// terminating zero, counted in *lpcbData. lpData NULL: only the type and
// size. A buffer too small: ERROR_MORE_DATA with the size needed. Missing:
// ERROR_FILE_NOT_FOUND; a key deleted since it was opened: ERROR_KEY_DELETED.
// REG_EXPAND_SZ strings are returned unexpanded (ExpandEnvironmentStringsA).
ORVEX_WIN32_API LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                                LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);

// Closing a predefined key does nothing; an unknown key: ERROR_INVALID_HANDLE.
ORVEX_WIN32_API LSTATUS WINAPI RegCloseKey(HKEY hKey);

} // extern "C"
