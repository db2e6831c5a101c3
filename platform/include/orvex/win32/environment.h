// Environment strings and the Windows directory.
#pragma once

#include <orvex/win32/base.h>

#define MAX_PATH 260

extern "C" {

// Replaces every %NAME% of lpSrc by the variable's value (names
// case-insensitive; an undefined variable stays as written). SystemRoot and
// windir, when the environment lacks them, are the Windows directory.
// Returns the characters needed including the terminating zero; lpDst is
// written only when nSize holds them all. Any thread.
ORVEX_WIN32_API DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize);

// The Windows directory ("C:\WINDOWS" unless the data store says otherwise;
// see <orvex/win32_driver.h>). Returns its length without the zero, or the
// size needed including the zero when uSize is too small. Any thread.
ORVEX_WIN32_API UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);

} // extern "C"
