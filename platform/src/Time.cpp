// Tick counts, Sleep and the system time over the POSIX clocks, and the
// manual clock that stands in for the monotonic one in tests. Thread times
// live with the threads (Threads.cpp).
#include <atomic>
#include <cerrno>
#include <ctime>

#include <sched.h>
#include <unistd.h>

#include <orvex/win32/sync.h>
#include <orvex/win32/time.h>

#include "Clock.h"
#include "Kernel.h"
#include "Switches.h"

namespace orvex::win32::detail {
namespace {

// The manual clock. `on` is published last when it is switched on and
// cleared first when it is switched off, so that a reader sees either the
// real clock or a manual reading that was set up completely.
struct ManualClock {
    std::atomic<bool> on{false};
    std::atomic<int64_t> nowNs{0};
    std::atomic<int64_t> startNs{0};
    std::atomic<uint64_t> startSystemTime{0};
};
ManualClock g_manualClock;

int64_t realMonotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + static_cast<int64_t>(now.tv_nsec);
}

// Sleep while the manual clock is on: the thread waits on its wake signal,
// which every move of the clock notifies.
void sleepOnLayerClock(DWORD milliseconds)
{
    ThreadContext& self = currentThread();
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    KernelLock lock(kernelLock());
    while (Clock::now() < deadline)
        self.wake.wait_until(lock, deadline);
}

} // namespace

int64_t monotonicNowNs()
{
    if (g_manualClock.on.load(std::memory_order_acquire))
        return g_manualClock.nowNs.load(std::memory_order_acquire);
    return realMonotonicNs();
}

bool manualClockOn()
{
    return g_manualClock.on.load(std::memory_order_acquire);
}

int64_t manualClockStartNs()
{
    return g_manualClock.startNs.load(std::memory_order_relaxed);
}

uint64_t manualClockStartSystemTime()
{
    return g_manualClock.startSystemTime.load(std::memory_order_relaxed);
}

void switchManualClock(bool on)
{
    if (on == manualClockOn())
        return;
    if (on) {
        // It starts where the real clock is, so that deadlines already set
        // keep their meaning.
        const int64_t start = realMonotonicNs();
        g_manualClock.nowNs.store(start);
        g_manualClock.startNs.store(start);
        g_manualClock.startSystemTime.store(systemTimeAsHundredNanoseconds());
    }
    g_manualClock.on.store(on, std::memory_order_release);
    KernelLock lock(kernelLock());
    wakeAllThreads();
}

void advanceManualClockBy(int64_t ns)
{
    if (!manualClockOn() || ns <= 0)
        return;
    g_manualClock.nowNs.fetch_add(ns);
    KernelLock lock(kernelLock());
    wakeAllThreads();
}

void advanceManualClockTo(int64_t ns)
{
    if (!manualClockOn())
        return;
    int64_t seen = g_manualClock.nowNs.load();
    while (seen < ns) {
        if (g_manualClock.nowNs.compare_exchange_weak(seen, ns)) {
            KernelLock lock(kernelLock());
            wakeAllThreads();
            return;
        }
    }
}

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

FILETIME toFileTime(uint64_t hundredNanoseconds)
{
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(hundredNanoseconds & 0xFFFFFFFFULL);
    result.dwHighDateTime = static_cast<DWORD>(hundredNanoseconds >> 32);
    return result;
}

uint64_t timespecToHundredNanoseconds(const timespec& time)
{
    return static_cast<uint64_t>(time.tv_sec) * 10000000ULL + static_cast<uint64_t>(time.tv_nsec) / 100;
}

uint64_t systemTimeAsHundredNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return kUnixEpochAsFileTime + timespecToHundredNanoseconds(now);
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

DWORD WINAPI GetTickCount(void)
{
    // CLOCK_MONOTONIC counts from boot, as the Windows tick count does; the
    // truncation to 32 bits is the wrap every 49.7 days.
    const auto milliseconds = static_cast<uint64_t>(monotonicNowNs()) / 1000000ULL;
    return static_cast<DWORD>(milliseconds) + tickCountOffset();
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    if (lpSystemTimeAsFileTime == nullptr)
        return;
    *lpSystemTimeAsFileTime = toFileTime(switchedSystemTime(systemTimeAsHundredNanoseconds()));
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    if (manualClockOn()) {
        sleepOnLayerClock(dwMilliseconds);
        return;
    }
    timespec remaining{static_cast<time_t>(dwMilliseconds / 1000),
                       static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

} // extern "C"
