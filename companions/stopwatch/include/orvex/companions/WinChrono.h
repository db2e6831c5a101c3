// Stopwatch library: a monotonic stopwatch in milliseconds.
//
// Not thread-safe: callers that share one stopwatch guard it themselves.
#pragma once

#include <chrono>

// CMake defines orvex_stopwatch_EXPORTS while it builds this library's DLL.
#if defined(_WIN32) && defined(orvex_stopwatch_EXPORTS)
#define ORVEX_STOPWATCH_API __declspec(dllexport)
#elif defined(_WIN32)
#define ORVEX_STOPWATCH_API __declspec(dllimport)
#else
#define ORVEX_STOPWATCH_API __attribute__((visibility("default")))
#endif

class ORVEX_STOPWATCH_API WinChrono {
public:
    WinChrono();
    ~WinChrono();

    // Starts (or restarts) the stopwatch; returns 0.
    float start();
    // Milliseconds since the previous lap, or since start() for the first
    // lap. Summing every lap therefore gives the time since start(). A
    // stopwatch that is not running returns 0.
    float lap();
    // Stops the stopwatch; returns the milliseconds since start().
    float stop();

    bool isRunning() const { return _bRunning; }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point _start;
    Clock::time_point _lastLap;
    bool _bRunning = false;
};
