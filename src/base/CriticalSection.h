// RAII over Win32 critical sections: an owning critical section, and a
// scope that holds one (owned by us, or a plain CRITICAL_SECTION member).
#pragma once

#include <orvex/win32.h>

namespace orvex {

// Initialised on construction, deleted on destruction. Neither copyable nor
// movable: the lock lives inside the object.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&_cs); }
    ~CriticalSection() { DeleteCriticalSection(&_cs); }

    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    CRITICAL_SECTION& native() { return _cs; }

private:
    CRITICAL_SECTION _cs;
};

// Holds a critical section for the lifetime of the scope.
class ScopedLock {
public:
    explicit ScopedLock(CRITICAL_SECTION& cs) : _cs(cs) { EnterCriticalSection(&_cs); }
    explicit ScopedLock(CriticalSection& cs) : ScopedLock(cs.native()) {}
    ~ScopedLock() { LeaveCriticalSection(&_cs); }

    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CRITICAL_SECTION& _cs;
};

} // namespace orvex
