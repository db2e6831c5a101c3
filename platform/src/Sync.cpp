// Events, the wait functions, CloseHandle, critical sections and
// interlocked operations.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include <orvex/win32/errors.h>
#include <orvex/win32/sync.h>

#include "Kernel.h"

namespace orvex::win32::detail {
namespace {

// Security attributes that ask for nothing beyond the defaults.
bool isDefaultSecurity(const SECURITY_ATTRIBUTES* attributes)
{
    return attributes == nullptr ||
           (attributes->lpSecurityDescriptor == nullptr && !attributes->bInheritHandle);
}

using WaitObjects = std::vector<std::shared_ptr<Waitable>>;

// Empties a wait's list on every way out of the wait, while the kernel lock
// is still held.
struct EmptiedOnExit {
    WaitObjects& objects;
    ~EmptiedOnExit() { objects.clear(); }
};

// The index of the first signalled object, or all of them with `waitAll`;
// acquires what it reports. Kernel lock held.
std::optional<DWORD> trySatisfy(const WaitObjects& objects, bool waitAll)
{
    if (waitAll) {
        for (const auto& object : objects) {
            if (!object->isSignalled())
                return std::nullopt;
        }
        for (const auto& object : objects)
            object->onWaitSatisfied();
        return 0;
    }
    for (DWORD i = 0; i < objects.size(); ++i) {
        if (objects[i]->isSignalled()) {
            objects[i]->onWaitSatisfied();
            return i;
        }
    }
    return std::nullopt;
}

pthread_mutex_t* mutexOf(LPCRITICAL_SECTION section)
{
    return reinterpret_cast<pthread_mutex_t*>(section->Private.Opaque);
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::Private.Opaque),
              "CRITICAL_SECTION too small for a pthread mutex");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION), "CRITICAL_SECTION misaligned");

// The event a handle names, or nullptr; valid while the kernel lock is held.
Event* findEvent(HANDLE handle)
{
    KernelObject* object = findHandleObject(handle);
    return object ? object->asEvent() : nullptr;
}

} // namespace

std::shared_ptr<Waitable> findWaitable(HANDLE handle, ThreadContext& self)
{
    if (handle == currentThreadPseudoHandle())
        return self.object;
    std::shared_ptr<KernelObject> object = findHandle(handle);
    Waitable* waitable = object ? object->asWaitable() : nullptr;
    return waitable ? std::shared_ptr<Waitable>(object, waitable) : nullptr;
}

DWORD waitForObjects(ThreadContext& self, DWORD count, const HANDLE* handles, bool waitAll,
                     DWORD milliseconds, WaitInput* input)
{
    if (count > MAXIMUM_WAIT_OBJECTS || (count == 0 && input == nullptr) ||
        (count > 0 && handles == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    const auto deadline = deadlineAfter(milliseconds);
    KernelLock lock(kernelLock());
    // The thread's own list, kept between its waits: a wait per image then
    // costs no allocation. A wait begun inside another one gets its own.
    WaitObjects nested;
    WaitObjects& objects = self.waitObjects.empty() ? self.waitObjects : nested;
    const EmptiedOnExit emptied{objects};
    objects.reserve(count);
    for (DWORD i = 0; i < count; ++i) {
        auto object = findWaitable(handles[i], self);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        if (waitAll) {
            for (const auto& earlier : objects) {
                if (earlier == object) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return WAIT_FAILED;
                }
            }
        }
        objects.push_back(std::move(object));
    }

    for (const auto& object : objects)
        object->addWaiter(&self);
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (auto index = trySatisfy(objects, waitAll)) {
            result = WAIT_OBJECT_0 + *index;
            break;
        }
        if (input != nullptr && input->available()) {
            result = WAIT_OBJECT_0 + count;
            break;
        }
        auto wakeAt = deadline;
        if (input != nullptr) {
            if (auto check = input->nextCheck(); check && (!wakeAt || *check < *wakeAt))
                wakeAt = check;
        }
        if (!wakeAt) {
            self.wake.wait(lock);
        } else {
            if (deadline && Clock::now() >= *deadline)
                break;
            self.wake.wait_until(lock, *wakeAt);
        }
    }
    for (const auto& object : objects)
        object->removeWaiter(&self);
    return result;
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName)
{
    if (lpName != nullptr || !isDefaultSecurity(lpEventAttributes)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto event = std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
    KernelLock lock(kernelLock());
    return insertHandle(std::move(event));
}

BOOL WINAPI SetEvent(HANDLE hEvent)
{
    KernelLock lock(kernelLock());
    Event* event = findEvent(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->set();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent)
{
    KernelLock lock(kernelLock());
    Event* event = findEvent(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    event->reset();
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return waitForObjects(currentThread(), 1, &hHandle, false, dwMilliseconds, nullptr);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds)
{
    return waitForObjects(currentThread(), nCount, lpHandles, bWaitAll != FALSE, dwMilliseconds, nullptr);
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    std::shared_ptr<KernelObject> released; // destroyed after the lock is dropped
    KernelLock lock(kernelLock());
    released = findHandle(hObject);
    if (!released || !eraseHandle(hObject)) {
        lock.unlock();
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    lock.unlock();
    released->onHandleClosed();
    return TRUE;
}

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (lpCriticalSection->Private.Opaque) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD dwSpinCount)
{
    (void)dwSpinCount; // the POSIX mutex spins as it sees fit
    InitializeCriticalSection(lpCriticalSection);
    return TRUE;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_lock(mutexOf(lpCriticalSection));
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    return pthread_mutex_trylock(mutexOf(lpCriticalSection)) == 0 ? TRUE : FALSE;
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (pthread_mutex_unlock(mutexOf(lpCriticalSection)) != 0) {
        // Windows would corrupt the section silently and hang later; stop here
        // where the fault is.
        std::fprintf(stderr, "LeaveCriticalSection: the calling thread does not own the critical section\n");
        std::abort();
    }
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    pthread_mutex_destroy(mutexOf(lpCriticalSection));
}

LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comperand)
{
    __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comperand;
}

} // extern "C"
