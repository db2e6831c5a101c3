// The kernel lock, the handle table, waitable objects and thread contexts.
#include "Kernel.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <unordered_map>

#include "Clock.h"
#include "Messages.h"
#include "WindowManager.h"

namespace orvex::win32::detail {
namespace {

struct Kernel {
    std::mutex lock;
    std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> handles;
    uintptr_t nextHandle = 0x1000;
    std::unordered_map<DWORD, ThreadContext*> threads;
    DWORD nextThreadId = 4;
};

// Never destroyed: threads may still use the layer while the process exits.
Kernel& kernel()
{
    static Kernel* instance = new Kernel;
    return *instance;
}

// Fast path to the calling thread's context. The owning reference lives in
// a pthread key whose destructor ends the thread's life in the layer, also
// for threads the layer did not start.
thread_local ThreadContext* t_current = nullptr;

void endThread(ThreadContext& thread, DWORD exitCode);

void releaseContext(void* value)
{
    auto* holder = static_cast<std::shared_ptr<ThreadContext>*>(value);
    endThread(**holder, 0);
    if (t_current == holder->get())
        t_current = nullptr;
    delete holder;
}

pthread_key_t contextKey()
{
    static const pthread_key_t key = [] {
        pthread_key_t created;
        pthread_key_create(&created, &releaseContext);
        return created;
    }();
    return key;
}

pid_t osThreadId()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

uint64_t timevalToHundredNanoseconds(const timeval& time)
{
    return static_cast<uint64_t>(time.tv_sec) * 10000000ULL + static_cast<uint64_t>(time.tv_usec) * 10ULL;
}

ThreadContext& install(std::shared_ptr<ThreadObject> object)
{
    auto* holder = new std::shared_ptr<ThreadContext>(std::make_shared<ThreadContext>(std::move(object)));
    pthread_setspecific(contextKey(), holder);
    {
        KernelLock lock(kernelLock());
        kernel().threads[(*holder)->id] = holder->get();
    }
    t_current = holder->get();
    return *t_current;
}

void endThread(ThreadContext& thread, DWORD exitCode)
{
    rusage usage{};
    const bool haveUsage = getrusage(RUSAGE_THREAD, &usage) == 0;
    KernelLock lock(kernelLock());
    if (thread.ended)
        return;
    thread.ended = true;
    destroyWindowsOfThread(thread);
    thread.queue.reset();
    kernel().threads.erase(thread.id);
    ThreadObject& object = *thread.object;
    object.exitTime = systemTimeAsHundredNanoseconds();
    if (haveUsage) {
        object.kernelTimeAtExit = timevalToHundredNanoseconds(usage.ru_stime);
        object.userTimeAtExit = timevalToHundredNanoseconds(usage.ru_utime);
    }
    object.finish(exitCode);
}

} // namespace

std::mutex& kernelLock()
{
    return kernel().lock;
}

void Waitable::addWaiter(ThreadContext* waiter)
{
    _waiters.push_back(waiter);
}

void Waitable::removeWaiter(ThreadContext* waiter)
{
    for (auto it = _waiters.begin(); it != _waiters.end(); ++it) {
        if (*it == waiter) {
            _waiters.erase(it);
            return;
        }
    }
}

void Waitable::wakeWaiters()
{
    for (ThreadContext* waiter : _waiters)
        waiter->wake.notify_all();
}

void ThreadObject::finish(DWORD code)
{
    exitCode = code;
    finished = true;
    wakeWaiters();
}

ThreadContext::ThreadContext(std::shared_ptr<ThreadObject> threadObject)
    : id(threadObject->id), object(std::move(threadObject))
{
}

ThreadContext::~ThreadContext() = default;

ThreadContext& currentThread()
{
    if (t_current != nullptr)
        return *t_current;
    std::shared_ptr<ThreadObject> object;
    {
        KernelLock lock(kernelLock());
        object = std::make_shared<ThreadObject>(newThreadId());
        object->osThreadId = osThreadId();
        // A thread the layer did not start: its creation time is not known
        // precisely; the first use of the layer stands in for it.
        object->creationTime = systemTimeAsHundredNanoseconds();
    }
    return install(std::move(object));
}

ThreadContext& adoptCurrentThread(std::shared_ptr<ThreadObject> object)
{
    {
        KernelLock lock(kernelLock());
        object->osThreadId = osThreadId();
    }
    return install(std::move(object));
}

void endCurrentThread(DWORD exitCode)
{
    endThread(currentThread(), exitCode);
}

DWORD newThreadId()
{
    const DWORD id = kernel().nextThreadId;
    kernel().nextThreadId += 4;
    return id;
}

void wakeAllThreads()
{
    for (auto& [id, thread] : kernel().threads)
        thread->wake.notify_all();
}

ThreadContext* findThread(DWORD id)
{
    auto it = kernel().threads.find(id);
    return it == kernel().threads.end() ? nullptr : it->second;
}

HANDLE insertHandle(std::shared_ptr<KernelObject> object)
{
    const uintptr_t value = kernel().nextHandle;
    kernel().nextHandle += 4;
    kernel().handles.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> findHandle(HANDLE handle)
{
    auto it = kernel().handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == kernel().handles.end() ? nullptr : it->second;
}

KernelObject* findHandleObject(HANDLE handle)
{
    auto it = kernel().handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == kernel().handles.end() ? nullptr : it->second.get();
}

bool eraseHandle(HANDLE handle)
{
    return kernel().handles.erase(reinterpret_cast<uintptr_t>(handle)) == 1;
}

std::size_t handleCount()
{
    return kernel().handles.size();
}

std::optional<Clock::time_point> deadlineAfter(DWORD milliseconds)
{
    if (milliseconds == INFINITE)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(milliseconds);
}

} // namespace orvex::win32::detail
