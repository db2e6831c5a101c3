// The layer's kernel: one lock over every kernel object, window, class and
// message queue; a handle table for kernel objects; per-thread contexts.
//
// Lock discipline: functions and members marked "kernel lock held" require
// the caller to hold kernelLock() through a KernelLock. No user code (window
// procedures, thread routines, timer procedures) ever runs with the kernel
// lock held.
//
// Wake-ups: a waiting thread sleeps on a word of its own, not on the kernel
// lock. Whoever signals it bumps that word under the kernel lock and issues
// the wake-up once the lock is released, so the woken thread does not run
// only to block on the lock its waker still holds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <sys/types.h>

#include <orvex/win32/sync.h>
#include <orvex/win32/threads.h>
#include <orvex/win32/time.h>

#include "Clock.h"

namespace orvex::win32::detail {

// Deadlines follow the layer's clock, so that the manual clock ends waits.
using Clock = LayerClock;

std::mutex& kernelLock();

// Holds the kernel lock. Wake-ups asked for while it is held go out when it
// is released (unlock or destruction). Unlock through this type, not through
// a std::unique_lock reference, or the wake-ups wait for the next release.
class KernelLock : public std::unique_lock<std::mutex> {
public:
    explicit KernelLock(std::mutex& mutex);
    ~KernelLock();
    KernelLock(const KernelLock&) = delete;
    KernelLock& operator=(const KernelLock&) = delete;

    void lock();
    void unlock();
};

struct WakeWord;

// What a thread sleeps on while it waits. Outlives its thread while a
// wake-up for it is still on its way.
class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Kernel lock held. The thread re-checks whatever it waits for; a thread
    // not waiting right now finds the signal at its next wait.
    void notify_all();
    // The owning thread only, with `lock` held: sleeps until notified (or
    // spuriously, or at `deadline`) with the lock released.
    void wait(KernelLock& lock);
    void wait_until(KernelLock& lock, Clock::time_point deadline);

private:
    void sleep(KernelLock& lock, const Clock::time_point* deadline);

    WakeWord* const _word;
};

// Threads asleep in a timed wait while the manual clock is on, so that a
// test knows when a thread has gone to sleep before it moves the clock.
std::size_t manualClockSleepers();

struct ThreadContext;
struct MessageQueue;
class Waitable;
class Event;

// Anything a HANDLE can name. Shared ownership: a handle holds one
// reference, a running thread or a pending wait may hold others.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    // Called by CloseHandle once the handle is gone, without the kernel lock:
    // objects whose closing ends work (pending device requests, waits on a
    // completion port) end it here.
    virtual void onHandleClosed() {}
    // The kinds every notification and every wait asks for, answered
    // without a run-time type search.
    virtual Waitable* asWaitable() { return nullptr; }
    virtual Event* asEvent() { return nullptr; }
};

// An object WaitForSingleObject and friends accept. Kernel lock held for all.
class Waitable : public KernelObject {
public:
    Waitable* asWaitable() final { return this; }
    virtual bool isSignalled() const = 0;
    // Called when a wait is satisfied by this object (auto-reset events reset).
    virtual void onWaitSatisfied() {}

    void addWaiter(ThreadContext* waiter);
    void removeWaiter(ThreadContext* waiter);

protected:
    // Wakes every thread waiting for this object; they re-check their condition.
    void wakeWaiters();

private:
    std::vector<ThreadContext*> _waiters;
};

class Event final : public Waitable {
public:
    Event(bool manualReset, bool initialState) : _manualReset(manualReset), _signalled(initialState) {}
    Event* asEvent() override { return this; }
    bool isSignalled() const override { return _signalled; }
    void onWaitSatisfied() override
    {
        if (!_manualReset)
            _signalled = false;
    }
    void set()
    {
        _signalled = true;
        wakeWaiters();
    }
    void reset() { _signalled = false; }

private:
    const bool _manualReset;
    bool _signalled;
};

// The kernel side of a thread: signalled once the thread has ended.
// Kernel lock held for every member except the constant ones.
class ThreadObject final : public Waitable {
public:
    explicit ThreadObject(DWORD threadId) : id(threadId) {}
    bool isSignalled() const override { return finished; }
    void finish(DWORD code);

    const DWORD id;
    pid_t osThreadId = 0;      // 0 until the thread runs
    uint64_t creationTime = 0; // FILETIME units
    uint64_t exitTime = 0;
    uint64_t kernelTimeAtExit = 0;
    uint64_t userTimeAtExit = 0;
    DWORD exitCode = STILL_ACTIVE;
    bool finished = false;
    int priority = 0;
    DWORD suspendCount = 0;
    std::condition_variable resumed; // with kernelLock(), for ResumeThread
};

// Per-thread state of the layer. Created on a thread's first use of the
// layer, destroyed (windows, timers and queue with it) when the thread ends.
struct ThreadContext {
    explicit ThreadContext(std::shared_ptr<ThreadObject> object);
    ~ThreadContext();

    const DWORD id;
    const std::shared_ptr<ThreadObject> object;
    // Wakes this thread out of a wait: objects it waits for were signalled,
    // or its queue received input.
    WakeSignal wake;
    std::unique_ptr<MessageQueue> queue; // created on first use
    // The objects of the wait in progress (waitForObjects); empty between waits.
    std::vector<std::shared_ptr<Waitable>> waitObjects;
    bool ended = false;
};

// The calling thread's context, created on first use.
ThreadContext& currentThread();

// Adopts a context for a thread started by CreateThread (called on that
// thread before its routine runs).
ThreadContext& adoptCurrentThread(std::shared_ptr<ThreadObject> object);

// Ends the calling thread's life in the layer: destroys the windows it owns
// and its queue, then signals its thread object with `exitCode`. Runs at most
// once per thread; the thread-exit hook calls it for threads the layer did
// not start.
void endCurrentThread(DWORD exitCode);

// A fresh thread id (non-zero multiples of 4, as on Windows). Kernel lock held.
DWORD newThreadId();

// Thread registry for PostThreadMessageA. Kernel lock held.
ThreadContext* findThread(DWORD id);

// Handle table. Kernel lock held. Handles are never reused within a process,
// so a stale handle is reported as invalid instead of naming another object.
HANDLE insertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> findHandle(HANDLE handle);
// The object itself, valid while the kernel lock is held; nullptr for none.
KernelObject* findHandleObject(HANDLE handle);
bool eraseHandle(HANDLE handle);
std::size_t handleCount();

template <typename T> std::shared_ptr<T> findHandleAs(HANDLE handle)
{
    return std::dynamic_pointer_cast<T>(findHandle(handle));
}

// Pseudo handles.
inline HANDLE currentProcessPseudoHandle()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}
inline HANDLE currentThreadPseudoHandle()
{
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2));
}

// Resolves a handle (or the current-thread pseudo handle, naming `self`) to
// a waitable. Kernel lock held; nullptr when the handle names nothing waitable.
std::shared_ptr<Waitable> findWaitable(HANDLE handle, ThreadContext& self);

// Deadline of a wait of `milliseconds` from now (nullopt: INFINITE).
std::optional<Clock::time_point> deadlineAfter(DWORD milliseconds);

} // namespace orvex::win32::detail

namespace orvex::win32::detail {

// Extra wake-up condition of a wait: message queue input for
// MsgWaitForMultipleObjects. Both members are called with the kernel lock held.
class WaitInput {
public:
    virtual ~WaitInput() = default;
    virtual bool available() = 0;
    // When the condition may become true without anyone waking the thread
    // (a timer falling due).
    virtual std::optional<Clock::time_point> nextCheck() = 0;
};

// The wait behind WaitForSingleObject, WaitForMultipleObjects and the
// message-aware waits. Validates the handles (ERROR_INVALID_PARAMETER,
// ERROR_INVALID_HANDLE) and returns WAIT_OBJECT_0 + i, WAIT_OBJECT_0 + count
// for input, WAIT_TIMEOUT or WAIT_FAILED. Takes the kernel lock itself.
DWORD waitForObjects(ThreadContext& self, DWORD count, const HANDLE* handles, bool waitAll,
                     DWORD milliseconds, WaitInput* input);

} // namespace orvex::win32::detail
