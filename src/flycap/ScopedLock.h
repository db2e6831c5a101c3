// Holds a Win32 critical section for the lifetime of a scope.
#pragma once

#include <orvex/win32.h>

namespace orvex::flycap {

class ScopedLock {
public:
    explicit ScopedLock(CRITICAL_SECTION& cs) : _cs(cs) { EnterCriticalSection(&_cs); }
    ~ScopedLock() { LeaveCriticalSection(&_cs); }

    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CRITICAL_SECTION& _cs;
};

} // namespace orvex::flycap
