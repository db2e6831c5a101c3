// Stopwatch library: start, lap and stop over the monotonic clock.
#include <orvex/companions/WinChrono.h>

namespace {

float millisecondsBetween(std::chrono::steady_clock::time_point from,
                          std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<float, std::milli>(to - from).count();
}

} // namespace

WinChrono::WinChrono() = default;
WinChrono::~WinChrono() = default;

float WinChrono::start()
{
    _start = _lastLap = Clock::now();
    _bRunning = true;
    return 0.0f;
}

float WinChrono::lap()
{
    if (!_bRunning)
        return 0.0f;
    const Clock::time_point now = Clock::now();
    const float elapsed = millisecondsBetween(_lastLap, now);
    _lastLap = now;
    return elapsed;
}

float WinChrono::stop()
{
    if (!_bRunning)
        return 0.0f;
    _bRunning = false;
    return millisecondsBetween(_start, Clock::now());
}
