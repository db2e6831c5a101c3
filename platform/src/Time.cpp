// Tick counts and the system time over the POSIX clocks. Thread times live
// with the threads (Threads.cpp).
#include <cerrno>
#include <ctime>

#include <sched.h>
#include <unistd.h>

#include <orvex/win32/sync.h>
#include <orvex/win32/time.h>

#include "Clock.h"
#include "Switches.h"

namespace orvex::win32::detail {

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
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000ULL + static_cast<uint64_t>(now.tv_nsec) / 1000000ULL;
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
    timespec remaining{static_cast<time_t>(dwMilliseconds / 1000),
                       static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

} // extern "C"
