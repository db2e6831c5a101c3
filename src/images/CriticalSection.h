// RAII over a Win32 critical section and a scope that holds one.
#pragma once

#include <orvex/win32.h>

namespace orvex::images {

// Initialised on construction, deleted on destruction. Neither copyable nor
// movable: the lock lives inside the object.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&_cs); }
    ~CriticalSection() { DeleteCriticalSection(&_cs); }

    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void enter() { EnterCriticalSection(&_cs); }
    void leave() { LeaveCriticalSection(&_cs); }

private:
    CRITICAL_SECTION _cs;
};

// Holds a critical section for the lifetime of the scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection& cs) : _cs(cs) { _cs.enter(); }
    ~CriticalSectionLock() { _cs.leave(); }

    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection& _cs;
};

} // namespace orvex::images
