// Time passing in the tests of the Win32 subset: on the POSIX layer a test
// moves the manual clock instead of waiting; on Windows, which has no manual
// clock, the same test waits for real.
#pragma once

#include <orvex/win32.h>
#ifndef _WIN32 // the test switches exist only in the POSIX Win32 layer
#include <orvex/win32_testing.h>
#endif

#include <chrono>

namespace orvex::win32::test {

// The manual clock for the scope of a test (where the layer has one).
class ScopedManualClock {
public:
    ScopedManualClock()
    {
#ifndef _WIN32
        orvex::win32::testing::useManualClock(true);
#endif
    }
    ~ScopedManualClock()
    {
#ifndef _WIN32
        orvex::win32::testing::useManualClock(false);
#endif
    }
    ScopedManualClock(const ScopedManualClock&) = delete;
    ScopedManualClock& operator=(const ScopedManualClock&) = delete;
};

// Lets `milliseconds` pass for the calling thread without pumping: the
// manual clock moves at once, the real one is slept through.
inline void letTimePass(DWORD milliseconds)
{
#ifndef _WIN32
    if (orvex::win32::testing::manualClock()) {
        orvex::win32::testing::advanceClock(std::chrono::milliseconds(milliseconds));
        return;
    }
#endif
    Sleep(milliseconds);
}

} // namespace orvex::win32::test
