// Switches for tests of code that runs over the POSIX Win32 layer. Not part of
// the Win32 subset: production code never includes this header.
#pragma once

#include <orvex/win32/base.h>

#include <chrono>
#include <cstddef>
#include <cstdint>

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

// The manual clock: while it is on, time in the layer moves only when a test
// moves it. GetTickCount, the monotonic part of GetSystemTimeAsFileTime, Sleep,
// the timeouts of every wait (WaitForSingleObject, WaitForMultipleObjects,
// MsgWaitForMultipleObjects, GetQueuedCompletionStatus) and window and thread
// timers all follow it: a Sleep or timed wait returns once the clock has
// been advanced past its deadline (or its object is signalled), a timer
// falls due once the clock passes its due time. Off by default.
// Switching it on starts it at the real clock's reading; switching it off
// returns to the real clock, which may be behind what the test advanced to:
// switch it off only once the threads and timers that used it are gone.
// Process-wide; any thread.
ORVEX_WIN32_API void useManualClock(bool on);
ORVEX_WIN32_API bool manualClock();
// Moves the manual clock forward by `by` (negative: nothing) and wakes every
// thread whose deadline it reached. No effect while the clock is off.
ORVEX_WIN32_API void advanceClock(std::chrono::nanoseconds by);
// Moves the manual clock forward to `monotonicNs` (clockNowNs's scale) if it
// is behind; no effect otherwise. For a simulated wait that makes its own
// time pass: two such waits at once overlap, as real ones do.
ORVEX_WIN32_API void advanceClockTo(int64_t monotonicNs);
// The layer's monotonic time in nanoseconds (the manual clock while it is on,
// else the steady clock, CLOCK_MONOTONIC). Any thread.
ORVEX_WIN32_API int64_t clockNowNs();
// How many threads are asleep right now until the manual clock reaches a
// deadline of theirs (a Sleep, a timed wait, a message wait for a timer), so
// that a test can move the clock once a thread has gone to sleep.
ORVEX_WIN32_API std::size_t clockSleepers();

// How many kernel-object handles are open in the process now, so that a test
// can check that an object gave back every handle it took. Any thread.
ORVEX_WIN32_API std::size_t openHandleCount();

// Restores every switch to its default (the manual clock off).
ORVEX_WIN32_API void resetSwitches();

} // namespace orvex::win32::testing
