// A clock the test moves by hand, for tests of the simulated world on the
// POSIX layer: the Win32 layer's time (tick counts, the system time, Sleep,
// wait timeouts, timers) and the simulators' host time (cycle clocks,
// register latencies, trigger instants) follow one manual clock, so that
// minutes of simulated drift pass in milliseconds. A simulated wait (a
// register transaction's latency) moves the clock itself; everything else
// waits until the test moves it.
//
// Windows has no manual clock: there the same tests let time pass for real.
#pragma once

#include <orvex/sim/CycleClock.h>
#include <orvex/win32.h>
#ifndef _WIN32
#include <orvex/win32_testing.h>
#endif

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace orvex::test {

#ifndef _WIN32

// On for the lifetime of the object. Create it before the world and the
// objects that read time, destroy it after them.
class ManualClock {
public:
    ManualClock()
    {
        win32::testing::useManualClock(true);
        sim::setHostClock(&kHostClock);
    }
    ~ManualClock()
    {
        sim::setHostClock(nullptr);
        win32::testing::useManualClock(false);
    }
    ManualClock(const ManualClock&) = delete;
    ManualClock& operator=(const ManualClock&) = delete;

    static void advance(std::chrono::nanoseconds by) { win32::testing::advanceClock(by); }
    static int64_t nowNs() { return win32::testing::clockNowNs(); }

private:
    static int64_t hostNowNs() { return win32::testing::clockNowNs(); }
    static void hostWaitNs(int64_t ns) { win32::testing::advanceClockTo(win32::testing::clockNowNs() + ns); }
    static constexpr sim::HostClock kHostClock{&hostNowNs, &hostWaitNs};
};

#else

// Real time under the same names.
class ManualClock {
public:
    static void advance(std::chrono::nanoseconds by) { std::this_thread::sleep_for(by); }
    static int64_t nowNs() { return sim::hostNowNs(); }
};

#endif

// Dispatches the calling thread's messages, then moves the clock by `step`,
// until `done` holds (true) or `limit` of clock time has passed (false).
inline bool runUntil(const std::function<bool()>& done, std::chrono::nanoseconds limit,
                     std::chrono::nanoseconds step = std::chrono::milliseconds(1))
{
    const int64_t giveUp = ManualClock::nowNs() + limit.count();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (done())
            return true;
        if (ManualClock::nowNs() >= giveUp)
            return false;
#ifndef _WIN32
        ManualClock::advance(step);
#else
        const auto stepMs = std::chrono::duration_cast<std::chrono::milliseconds>(step).count();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(stepMs > 0 ? stepMs : 1),
                                  QS_ALLINPUT);
#endif
    }
}

} // namespace orvex::test
