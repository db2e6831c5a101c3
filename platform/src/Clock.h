// The layer's one source of time: the POSIX clocks, or the manual clock a
// test moves by hand (see <orvex/win32_testing.h>). Everything in the layer
// that reads "now" or waits for a deadline goes through here, so that a test
// advancing the manual clock moves tick counts, wait timeouts, Sleep and
// timers together. Also conversions between POSIX times and FILETIME units.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>

#include <orvex/win32/time.h>

namespace orvex::win32::detail {

FILETIME toFileTime(uint64_t hundredNanoseconds);
uint64_t timespecToHundredNanoseconds(const timespec& time);
// The current UTC time as 100 ns intervals since 1601, from the system clock
// (the manual clock does not move it: see switchedSystemTime).
uint64_t systemTimeAsHundredNanoseconds();

// Monotonic nanoseconds in CLOCK_MONOTONIC's epoch: the real clock, or the
// manual one while it is on. Any thread; no lock.
int64_t monotonicNowNs();
// True while the manual clock stands in for the real one.
bool manualClockOn();
// The manual clock's reading when it was switched on, and the system time
// (100 ns units since 1601) at that instant. Meaningful while it is on.
int64_t manualClockStartNs();
uint64_t manualClockStartSystemTime();

// A steady clock over monotonicNowNs, for deadlines of waits and timers.
struct LayerClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<LayerClock>;
    static constexpr bool is_steady = true;
    static time_point now() { return time_point(duration(monotonicNowNs())); }
};

// Switches the manual clock on (starting at the real clock's reading) or
// off (back to the real clock, which may be behind it), and wakes every
// waiting thread. Kernel lock not held.
void switchManualClock(bool on);
// Moves the manual clock forward by `ns` (> 0) and wakes every waiting
// thread. No effect while it is off. Kernel lock not held.
void advanceManualClockBy(int64_t ns);
// Moves the manual clock forward to `ns` if it is behind and wakes every
// waiting thread. No effect while it is off. Kernel lock not held.
void advanceManualClockTo(int64_t ns);

// Kernel lock held: wakes every thread of the layer, which re-checks its
// deadline (the manual clock moved or was switched).
void wakeAllThreads();

} // namespace orvex::win32::detail
