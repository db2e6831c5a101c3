// CreateThread and the thread/process queries over POSIX threads.
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <orvex/win32/errors.h>
#include <orvex/win32/threads.h>
#include <orvex/win32/time.h>

#include "Clock.h"
#include "Kernel.h"
#include "Switches.h"

namespace orvex::win32::detail {
namespace {

constexpr DWORD kSupportedCreationFlags = CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION;

struct ThreadStart {
    std::shared_ptr<ThreadObject> object;
    LPTHREAD_START_ROUTINE routine;
    LPVOID parameter;
};

void* runThread(void* argument)
{
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(argument));
    ThreadContext& self = adoptCurrentThread(start->object);
    {
        KernelLock lock(kernelLock());
        self.object->resumed.wait(lock, [&] { return self.object->suspendCount == 0; });
    }
    const DWORD exitCode = start->routine(start->parameter);
    endCurrentThread(exitCode);
    return nullptr;
}

// CPU times of a running thread of this process from /proc, in 100 ns units.
bool readProcThreadTimes(pid_t osThreadId, uint64_t& kernelTime, uint64_t& userTime)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(osThreadId) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    // Fields after the command name, which is parenthesised and may hold blanks.
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            const uint64_t ticksPerSecond = static_cast<uint64_t>(sysconf(_SC_CLK_TCK));
            userTime = utime * 10000000ULL / ticksPerSecond;
            kernelTime = stime * 10000000ULL / ticksPerSecond;
            return true;
        }
    }
    return false;
}

uint64_t timevalTo100ns(const timeval& time)
{
    return static_cast<uint64_t>(time.tv_sec) * 10000000ULL + static_cast<uint64_t>(time.tv_usec) * 10ULL;
}

// The thread a handle names (the pseudo handle names the caller); null with
// ERROR_INVALID_HANDLE set when it names none. Called under the kernel lock.
std::shared_ptr<ThreadObject> findThreadObject(HANDLE handle, ThreadContext& self)
{
    std::shared_ptr<ThreadObject> object =
        handle == currentThreadPseudoHandle() ? self.object : findHandleAs<ThreadObject>(handle);
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

bool isAcceptedPriority(int priority)
{
    switch (priority) {
    case THREAD_PRIORITY_IDLE:
    case THREAD_PRIORITY_LOWEST:
    case THREAD_PRIORITY_BELOW_NORMAL:
    case THREAD_PRIORITY_NORMAL:
    case THREAD_PRIORITY_ABOVE_NORMAL:
    case THREAD_PRIORITY_HIGHEST:
    case THREAD_PRIORITY_TIME_CRITICAL:
        return true;
    default:
        // The kernel's saturated levels, which it accepts directly.
        return priority == THREAD_PRIORITY_TIME_CRITICAL + 1 || priority == THREAD_PRIORITY_IDLE - 1;
    }
}

} // namespace
} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags,
                           LPDWORD lpThreadId)
{
    if (lpStartAddress == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((dwCreationFlags & ~kSupportedCreationFlags) != 0 ||
        !(lpThreadAttributes == nullptr ||
          (lpThreadAttributes->lpSecurityDescriptor == nullptr && !lpThreadAttributes->bInheritHandle))) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    std::shared_ptr<ThreadObject> object;
    HANDLE handle;
    {
        KernelLock lock(kernelLock());
        object = std::make_shared<ThreadObject>(newThreadId());
        object->creationTime = systemTimeAsHundredNanoseconds();
        object->suspendCount = (dwCreationFlags & CREATE_SUSPENDED) != 0 ? 1 : 0;
        handle = insertHandle(object);
    }

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (dwStackSize != 0) {
        const size_t pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t rounded =
            (std::max<size_t>(dwStackSize, PTHREAD_STACK_MIN) + pageSize - 1) / pageSize * pageSize;
        pthread_attr_setstacksize(&attributes, rounded);
    }
    auto* start = new ThreadStart{object, lpStartAddress, lpParameter};
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, &runThread, start);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete start;
        KernelLock lock(kernelLock());
        eraseHandle(handle);
        lock.unlock();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId != nullptr)
        *lpThreadId = object->id;
    return handle;
}

DWORD WINAPI ResumeThread(HANDLE hThread)
{
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    auto object = findThreadObject(hThread, self);
    if (!object)
        return static_cast<DWORD>(-1);
    const DWORD previous = object->suspendCount;
    if (previous > 0 && --object->suspendCount == 0)
        object->resumed.notify_all();
    return previous;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    auto object = findThreadObject(hThread, self);
    if (!object)
        return FALSE;
    if (lpExitCode == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *lpExitCode = object->exitCode;
    return TRUE;
}

BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority)
{
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    auto object = findThreadObject(hThread, self);
    if (!object)
        return FALSE;
    if (!isAcceptedPriority(nPriority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    object->priority = nPriority;
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread)
{
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    auto object = findThreadObject(hThread, self);
    if (!object)
        return THREAD_PRIORITY_ERROR_RETURN;
    // The saturated levels read back as the named levels, as on Windows.
    if (object->priority > THREAD_PRIORITY_TIME_CRITICAL)
        return THREAD_PRIORITY_TIME_CRITICAL;
    if (object->priority < THREAD_PRIORITY_IDLE)
        return THREAD_PRIORITY_IDLE;
    return object->priority;
}

HANDLE WINAPI GetCurrentThread(void)
{
    return currentThreadPseudoHandle();
}

HANDLE WINAPI GetCurrentProcess(void)
{
    return currentProcessPseudoHandle();
}

DWORD WINAPI GetCurrentThreadId(void)
{
    return currentThread().id;
}

DWORD WINAPI GetCurrentProcessId(void)
{
    return static_cast<DWORD>(getpid());
}

BOOL WINAPI GetThreadTimes(HANDLE hThread, LPFILETIME lpCreationTime, LPFILETIME lpExitTime,
                           LPFILETIME lpKernelTime, LPFILETIME lpUserTime)
{
    if (lpCreationTime == nullptr || lpExitTime == nullptr || lpKernelTime == nullptr ||
        lpUserTime == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    ThreadContext& self = currentThread();
    KernelLock lock(kernelLock());
    auto object = findThreadObject(hThread, self);
    if (!object)
        return FALSE;
    uint64_t kernelTime = object->kernelTimeAtExit;
    uint64_t userTime = object->userTimeAtExit;
    const uint64_t creationTime = object->creationTime;
    const uint64_t exitTime = object->exitTime;
    const bool finished = object->finished;
    const pid_t osThreadId = object->osThreadId;
    lock.unlock();

    if (!finished) {
        if (object == self.object) {
            rusage usage{};
            if (getrusage(RUSAGE_THREAD, &usage) != 0) {
                SetLastError(ERROR_GEN_FAILURE);
                return FALSE;
            }
            kernelTime = timevalTo100ns(usage.ru_stime);
            userTime = timevalTo100ns(usage.ru_utime);
        } else if (osThreadId == 0 || !readProcThreadTimes(osThreadId, kernelTime, userTime)) {
            // Not started yet (or ended between the two looks): no time used.
            kernelTime = userTime = 0;
        }
    }
    *lpCreationTime = toFileTime(creationTime);
    *lpExitTime = toFileTime(exitTime);
    *lpKernelTime = toFileTime(kernelTime);
    *lpUserTime = toFileTime(userTime);
    return TRUE;
}

BOOL WINAPI IsWow64Process(HANDLE hProcess, PBOOL Wow64Process)
{
    const auto mode = wow64Mode();
    if (mode == orvex::win32::testing::Wow64::absent) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (hProcess != currentProcessPseudoHandle()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Wow64Process == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *Wow64Process = mode == orvex::win32::testing::Wow64::wow64 ? TRUE : FALSE;
    return TRUE;
}

} // extern "C"
