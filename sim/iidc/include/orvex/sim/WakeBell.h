// A receiver's sleep until a host instant or a ring, taken without holding
// any mutex: a thread woken from a condition variable reacquires its mutex
// marked as contended, so its next unlock always costs a wake-up system call
// even when nobody waits; and a ring costs nothing while nobody sleeps.
#pragma once

#include <orvex/sim/HostWait.h>

#include <atomic>
#include <cstdint>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#else
#include <chrono>
#include <condition_variable>
#include <mutex>
#endif

namespace orvex::sim {

// Any thread. A sleeper arms the bell (typically under the lock that guards
// what it waits for), releases that lock, then sleeps; a ring after the arm
// ends the sleep, or keeps it from starting.
class WakeBell {
public:
    // The bell's state to sleep on; counts the caller as a sleeper until its
    // sleepUntil returns.
    uint32_t arm()
    {
        _sleepers.fetch_add(1);
        _arms.fetch_add(1);
        return _rings.load();
    }

    // Sleeps until a ring after `armed`, or until `hostNs` (kNeverNs: no
    // instant). May return early; the caller checks its condition again.
    void sleepUntil(uint32_t armed, int64_t hostNs)
    {
#if defined(__linux__)
        // On the steady clock the instant is the futex's own deadline: no
        // reading of the clock to turn it into a time-out.
        if (hostNs != kNeverNs && hostClockIsSteady()) {
            sleepUntilSteady(armed, hostNs);
            _sleepers.fetch_sub(1);
            return;
        }
#endif
        const int64_t remaining = hostNs == kNeverNs ? kNeverNs : hostNs - hostNowNs();
        if (remaining > 0)
            sleepFor(armed, remaining);
        _sleepers.fetch_sub(1);
    }

    // Ends every sleep armed before it.
    void ring()
    {
        _rings.fetch_add(1);
        if (_sleepers.load() == 0)
            return;
        // Nobody armed since the last wake-up: whoever sleeps was woken by
        // it already (or sees the changed word). Saves the system call when
        // a second ring follows the first before the sleeper is up.
        const uint32_t arms = _arms.load();
        if (_armsWoken.exchange(arms) == arms)
            return;
#if defined(__linux__)
        syscall(SYS_futex, word(), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
#else
        std::lock_guard<std::mutex> lock(_m);
        _cv.notify_all();
#endif
    }

private:
#if defined(__linux__)
    uint32_t* word()
    {
        return reinterpret_cast<uint32_t*>(&_rings);
    }

    void sleepFor(uint32_t armed, int64_t ns)
    {
        timespec timeout{};
        timespec* limit = nullptr;
        if (ns != kNeverNs) {
            timeout.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            limit = &timeout;
        }
        // Relative time-out on the monotonic clock; returns at once if a
        // ring changed the word since the arm.
        syscall(SYS_futex, word(), FUTEX_WAIT_PRIVATE, armed, limit, nullptr, 0);
    }

    // Absolute deadline on CLOCK_MONOTONIC, the steady clock's; returns at
    // once when it has passed or a ring changed the word since the arm.
    void sleepUntilSteady(uint32_t armed, int64_t steadyNs)
    {
        timespec deadline{};
        deadline.tv_sec = static_cast<time_t>(steadyNs / 1'000'000'000);
        deadline.tv_nsec = static_cast<long>(steadyNs % 1'000'000'000);
        syscall(SYS_futex, word(), FUTEX_WAIT_BITSET_PRIVATE, armed, &deadline, nullptr,
                FUTEX_BITSET_MATCH_ANY);
    }
#else
    void sleepFor(uint32_t armed, int64_t ns)
    {
        std::unique_lock<std::mutex> lock(_m);
        const auto rung = [&] { return _rings.load() != armed; };
        if (ns == kNeverNs)
            _cv.wait(lock, rung);
        else
            _cv.wait_for(lock, std::chrono::nanoseconds(ns), rung);
    }

    std::mutex _m;
    std::condition_variable _cv;
#endif

    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                      std::atomic<uint32_t>::is_always_lock_free,
                  "the futex word must be a plain 32-bit word");
    std::atomic<uint32_t> _rings{0};
    std::atomic<uint32_t> _sleepers{0};
    std::atomic<uint32_t> _arms{0};      // every arm, ever
    std::atomic<uint32_t> _armsWoken{0}; // _arms at the last wake-up issued
};

} // namespace orvex::sim
