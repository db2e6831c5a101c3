// Switches for tests of code that runs over the POSIX Win32 layer. Not part of
// the Win32 subset: production code never includes this header.
#pragma once

#include <orvex/win32/base.h>

#include <cstddef>

namespace orvex::win32::testing {

// What GetModuleHandleA("kernel32") + GetProcAddress("IsWow64Process") offer.
enum class Wow64 {
    absent, // the function is not exported (as on old 32-bit Windows)
    native, // the function answers FALSE (default)
    wow64,  // the function answers TRUE: a 32-bit process on 64-bit Windows
};

// Process-wide; any thread. Takes effect for the next lookup or call.
ORVEX_WIN32_API void setWow64(Wow64 mode);
ORVEX_WIN32_API Wow64 wow64();

// Shifts GetTickCount by `offset` milliseconds (modulo 2^32), so that a test
// can put the 32-bit tick count just before its wrap. Process-wide; any thread.
ORVEX_WIN32_API void setTickCountOffset(DWORD offset);

// Shifts GetSystemTimeAsFileTime by `offset` (100 ns units, either sign), so
// that a test can make seconds pass without waiting for them.
// Process-wide; any thread.
ORVEX_WIN32_API void setSystemTimeOffset(LONGLONG offset);
// While frozen, GetSystemTimeAsFileTime stands still at the instant of the
// freeze (plus the offset, which still applies), so that a test can put two
// readings an exact interval apart. Process-wide; any thread.
ORVEX_WIN32_API void freezeSystemTime(bool frozen);

// How many kernel-object handles are open in the process now, so that a test
// can check that an object gave back every handle it took. Any thread.
ORVEX_WIN32_API std::size_t openHandleCount();

// Restores every switch to its default.
ORVEX_WIN32_API void resetSwitches();

} // namespace orvex::win32::testing
