// I/O completion ports: creation and association, waiting for packets, and
// packets of the program's own.
#include <orvex/win32/errors.h>
#include <orvex/win32/io.h>
#include <orvex/win32/sync.h>

#include "DeviceObjects.h"

namespace orvex::win32::detail {

void CompletionPort::push(const CompletionPacket& packet)
{
    _packets.push_back(packet);
    wakeWaiters();
}

std::optional<CompletionPacket> CompletionPort::pop()
{
    if (_packets.empty())
        return std::nullopt;
    CompletionPacket packet = _packets.front();
    _packets.pop_front();
    return packet;
}

void CompletionPort::removeWaiter(ThreadContext* waiter)
{
    for (auto it = _waiters.begin(); it != _waiters.end(); ++it) {
        if (*it == waiter) {
            _waiters.erase(it);
            return;
        }
    }
}

void CompletionPort::wakeWaiters()
{
    for (ThreadContext* waiter : _waiters)
        waiter->wake.notify_all();
}

void CompletionPort::onHandleClosed()
{
    KernelLock lock(kernelLock());
    _closed = true;
    wakeWaiters();
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

HANDLE WINAPI CreateIoCompletionPort(HANDLE FileHandle, HANDLE ExistingCompletionPort,
                                     ULONG_PTR CompletionKey, DWORD NumberOfConcurrentThreads)
{
    (void)NumberOfConcurrentThreads; // every waiting thread may run
    KernelLock lock(kernelLock());
    if (FileHandle == INVALID_HANDLE_VALUE) {
        if (ExistingCompletionPort != nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return insertHandle(std::make_shared<CompletionPort>());
    }
    auto file = findHandleAs<DeviceFile>(FileHandle);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!file->overlapped || file->port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HANDLE portHandle = ExistingCompletionPort;
    std::shared_ptr<CompletionPort> port;
    if (portHandle == nullptr) {
        port = std::make_shared<CompletionPort>();
        portHandle = insertHandle(port);
    } else {
        port = findHandleAs<CompletionPort>(portHandle);
        if (!port) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
    }
    file->port = std::move(port);
    file->key = CompletionKey;
    return portHandle;
}

BOOL WINAPI GetQueuedCompletionStatus(HANDLE CompletionPort, LPDWORD lpNumberOfBytesTransferred,
                                      PULONG_PTR lpCompletionKey, LPOVERLAPPED* lpOverlapped,
                                      DWORD dwMilliseconds)
{
    if (lpNumberOfBytesTransferred == nullptr || lpCompletionKey == nullptr || lpOverlapped == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpOverlapped = nullptr;
    ThreadContext& self = currentThread();
    const auto deadline = deadlineAfter(dwMilliseconds);
    KernelLock lock(kernelLock());
    auto port = findHandleAs<orvex::win32::detail::CompletionPort>(CompletionPort);
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    port->addWaiter(&self);
    std::optional<CompletionPacket> packet;
    DWORD failure = WAIT_TIMEOUT;
    for (;;) {
        packet = port->pop();
        if (packet)
            break;
        if (port->isClosed()) {
            failure = ERROR_ABANDONED_WAIT_0;
            break;
        }
        if (!deadline) {
            self.wake.wait(lock);
        } else {
            if (Clock::now() >= *deadline)
                break;
            self.wake.wait_until(lock, *deadline);
        }
    }
    port->removeWaiter(&self);
    if (!packet) {
        SetLastError(failure);
        return FALSE;
    }
    *lpNumberOfBytesTransferred = packet->bytes;
    *lpCompletionKey = packet->key;
    *lpOverlapped = packet->overlapped;
    if (packet->error != ERROR_SUCCESS) {
        SetLastError(packet->error);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI PostQueuedCompletionStatus(HANDLE CompletionPort, DWORD dwNumberOfBytesTransferred,
                                       ULONG_PTR dwCompletionKey, LPOVERLAPPED lpOverlapped)
{
    KernelLock lock(kernelLock());
    auto port = findHandleAs<orvex::win32::detail::CompletionPort>(CompletionPort);
    if (!port) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    port->push({dwNumberOfBytesTransferred, dwCompletionKey, lpOverlapped, ERROR_SUCCESS});
    return TRUE;
}

} // extern "C"
