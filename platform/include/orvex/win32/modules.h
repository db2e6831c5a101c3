// Dynamic libraries over the POSIX dynamic loader.
#pragma once

#include <orvex/win32/base.h>

#define DONT_RESOLVE_DLL_REFERENCES 0x00000001
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002

extern "C" {

// Loads a library. A name ending in ".dll" (any case) is mapped to the shared
// object naming convention: "dir/Name.dll" loads "dir/libName.so", found by
// the dynamic loader's usual search (the layer's RUNPATH is $ORIGIN, so a
// library next to it is found). Other names go to the loader unchanged.
// "kernel32.dll" and "user32.dll" name this layer itself. Failure: NULL with
// ERROR_MOD_NOT_FOUND. Each successful call must be matched by FreeLibrary.
// Any thread.
ORVEX_WIN32_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);

// dwFlags 0: LoadLibraryA. LOAD_LIBRARY_AS_DATAFILE: maps the module for
// its resources only (its message table, for FormatMessageA), from the data
// store that the simulators fill through <orvex/win32_driver.h>; matched by
// file name, any case, directory ignored. The handle has its low bit set, as
// on Windows; GetProcAddress refuses it (ERROR_INVALID_HANDLE) and
// FreeLibrary releases it. Missing: ERROR_MOD_NOT_FOUND. hFile must be NULL
// and other flags are not supported (ERROR_NOT_SUPPORTED). Any thread.
ORVEX_WIN32_API HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);

// Handle of an already loaded library (names mapped as above, with or without
// ".dll"; "kernel32"/"user32" name this layer), without taking a reference.
// NULL names the main program. Not loaded: NULL with ERROR_MOD_NOT_FOUND.
ORVEX_WIN32_API HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);

// Address of an exported function; ERROR_PROC_NOT_FOUND if absent. Lookups by
// ordinal are not supported (ERROR_NOT_SUPPORTED).
ORVEX_WIN32_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);

ORVEX_WIN32_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);

} // extern "C"
