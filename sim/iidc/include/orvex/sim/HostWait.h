// Waiting on a condition variable until a host instant (hostNowNs): the
// one place where a simulated instant becomes a time-out, so that the
// waits follow whatever clock hostNowNs reads.
#pragma once

#include <orvex/sim/CycleClock.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>

namespace orvex::sim {

// No instant: a wait for it lasts until a notification.
constexpr int64_t kNeverNs = std::numeric_limits<int64_t>::max();

// Waits until notified or until `hostNs` has come (at once when it has).
// Any thread; `lock` holds the condition variable's mutex.
inline void waitUntilHostNs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int64_t hostNs)
{
    if (hostNs == kNeverNs) {
        cv.wait(lock);
        return;
    }
    const int64_t remaining = hostNs - hostNowNs();
    if (remaining > 0)
        cv.wait_for(lock, std::chrono::nanoseconds(remaining));
}

} // namespace orvex::sim
