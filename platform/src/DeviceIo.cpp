// Device files: CreateFileA on interface paths, DeviceIoControl,
// GetOverlappedResult, CancelIo, and what closing a device handle ends.
#include <atomic>

#include <orvex/win32/errors.h>
#include <orvex/win32/io.h>
#include <orvex/win32/sync.h>

#include "DeviceObjects.h"
#include "Drivers.h"
#include "IoRequest.h"

namespace orvex::win32::detail {
namespace {

constexpr DWORD kSupportedAccess = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareModes = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kSupportedFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED;

std::atomic<uint64_t> g_nextFileId{1};

bool isDefaultSecurity(const SECURITY_ATTRIBUTES* attributes)
{
    return attributes == nullptr ||
           (attributes->lpSecurityDescriptor == nullptr && !attributes->bInheritHandle);
}

// Each open handle's sharing must allow the new access, and the new sharing
// must allow each open handle's access. An open without data access is
// neither checked nor counted, as on Windows. Kernel lock held.
bool sharingAllows(const DeviceInterface& deviceInterface, DWORD access, DWORD share)
{
    if (access == 0)
        return true;
    const auto conflicts = [](DWORD wantedAccess, DWORD otherShare) {
        return ((wantedAccess & GENERIC_READ) != 0 && (otherShare & FILE_SHARE_READ) == 0) ||
               ((wantedAccess & GENERIC_WRITE) != 0 && (otherShare & FILE_SHARE_WRITE) == 0);
    };
    for (const DeviceFile* other : deviceInterface.openFiles) {
        if (other->access != 0 && (conflicts(access, other->share) || conflicts(other->access, share)))
            return false;
    }
    return true;
}

void forgetOpenFile(DeviceInterface& deviceInterface, const DeviceFile* file)
{
    auto& files = deviceInterface.openFiles;
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (*it == file) {
            files.erase(it);
            return;
        }
    }
}

std::shared_ptr<DeviceFile> findDeviceFile(HANDLE handle)
{
    KernelLock lock(kernelLock());
    return findHandleAs<DeviceFile>(handle);
}

HANDLE maskedEvent(HANDLE event)
{
    return reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event) & ~static_cast<uintptr_t>(1));
}

// Where an overlapped request reports its end; false (last error set) for an
// event handle that names no event.
bool targetOf(LPOVERLAPPED overlapped, OverlappedTarget& target)
{
    if (overlapped == nullptr)
        return true;
    target.overlapped = overlapped;
    target.suppressPacket = (reinterpret_cast<uintptr_t>(overlapped->hEvent) & 1) != 0;
    const HANDLE event = maskedEvent(overlapped->hEvent);
    if (event == nullptr)
        return true;
    KernelLock lock(kernelLock());
    target.event = findHandleAs<Event>(event);
    if (!target.event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

BOOL reportResult(const IoResult& result, LPDWORD bytesReturned)
{
    if (bytesReturned != nullptr)
        *bytesReturned = result.bytes;
    if (!isSuccess(result.status)) {
        SetLastError(win32::driver::errorOfStatus(result.status));
        return FALSE;
    }
    return TRUE;
}

// Makes the request pending on its file and resets what its end will set.
// False when the handle was closed meanwhile.
bool startRequest(DeviceFile& file, const std::shared_ptr<IoRequestImpl>& request,
                  const OverlappedTarget& target)
{
    if (target.overlapped != nullptr) {
        __atomic_store_n(&target.overlapped->InternalHigh, 0, __ATOMIC_RELAXED);
        __atomic_store_n(&target.overlapped->Internal, static_cast<ULONG_PTR>(STATUS_PENDING),
                         __ATOMIC_RELEASE);
    }
    KernelLock lock(kernelLock());
    if (file.closed)
        return false;
    if (target.event)
        target.event->reset();
    file.unsignal();
    file.pending.push_back(request);
    return true;
}

// Runs a driver routine; a driver's exception must not cross the C boundary
// of the Win32 call, so it ends there (an open then fails).
template <typename Routine> void callDriver(Routine routine)
{
    try {
        routine();
    } catch (...) {
    }
}

} // namespace

void cancelRequests(const std::vector<std::shared_ptr<IoRequestImpl>>& requests,
                    const std::shared_ptr<DeviceInterface>& deviceInterface)
{
    for (const auto& request : requests) {
        if (request->cancel())
            callDriver([&] { deviceInterface->device->cancelled(*request); });
    }
}

void DeviceFile::onHandleClosed()
{
    std::vector<std::shared_ptr<IoRequestImpl>> requests;
    {
        KernelLock lock(kernelLock());
        closed = true;
        requests = pending;
        forgetOpenFile(*iface, this);
    }
    cancelRequests(requests, iface);
    callDriver([this] { iface->device->closed(id); });
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

namespace orvex::win32::driver {

DWORD errorOfStatus(NTSTATUS status)
{
    struct Mapping {
        NTSTATUS status;
        DWORD error;
    };
    static constexpr Mapping kMappings[] = {
        {kStatusSuccess, ERROR_SUCCESS},
        {kStatusBufferOverflow, ERROR_MORE_DATA},
        {kStatusUnsuccessful, ERROR_GEN_FAILURE},
        {kStatusInvalidParameter, ERROR_INVALID_PARAMETER},
        {kStatusNoSuchDevice, ERROR_FILE_NOT_FOUND},
        {kStatusInvalidDeviceRequest, ERROR_INVALID_FUNCTION},
        {kStatusBufferTooSmall, ERROR_INSUFFICIENT_BUFFER},
        {kStatusDeviceNotConnected, ERROR_DEVICE_NOT_CONNECTED},
        {kStatusDeviceNotReady, ERROR_NOT_READY},
        {kStatusIoTimeout, ERROR_SEM_TIMEOUT},
        {kStatusCancelled, ERROR_OPERATION_ABORTED},
    };
    if ((static_cast<DWORD>(status) & kStatusCustomerBit) != 0)
        return static_cast<DWORD>(status);
    for (const Mapping& mapping : kMappings) {
        if (mapping.status == status)
            return mapping.error;
    }
    return status >= 0 ? ERROR_SUCCESS : ERROR_MR_MID_NOT_FOUND;
}

} // namespace orvex::win32::driver

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    orvex::win32::detail::startInstalledDrivers();
    if (lpFileName == nullptr || (dwShareMode & ~kShareModes) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if ((dwDesiredAccess & ~kSupportedAccess) != 0 || (dwFlagsAndAttributes & ~kSupportedFlags) != 0 ||
        dwCreationDisposition != OPEN_EXISTING || hTemplateFile != nullptr ||
        !isDefaultSecurity(lpSecurityAttributes) || !isDevicePath(lpFileName)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    std::shared_ptr<DeviceFile> file;
    {
        KernelLock lock(kernelLock());
        auto deviceInterface = findPresentInterface(lpFileName);
        if (!deviceInterface) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (!sharingAllows(*deviceInterface, dwDesiredAccess, dwShareMode)) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        file = std::make_shared<DeviceFile>(deviceInterface, dwDesiredAccess, dwShareMode,
                                            (dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0,
                                            g_nextFileId.fetch_add(1));
        // Counted before the driver is asked, so that a concurrent open sees it.
        deviceInterface->openFiles.push_back(file.get());
    }
    orvex::win32::driver::NTSTATUS status = orvex::win32::driver::kStatusUnsuccessful;
    callDriver([&] { status = file->iface->device->open(file->id, dwDesiredAccess); });
    KernelLock lock(kernelLock());
    if (!isSuccess(status)) {
        forgetOpenFile(*file->iface, file.get());
        lock.unlock();
        SetLastError(orvex::win32::driver::errorOfStatus(status));
        return INVALID_HANDLE_VALUE;
    }
    return insertHandle(std::move(file));
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                            LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                            LPOVERLAPPED lpOverlapped)
{
    const DWORD issuer = currentThread().id;
    auto file = findDeviceFile(hDevice);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((lpInBuffer == nullptr && nInBufferSize > 0) || (lpOutBuffer == nullptr && nOutBufferSize > 0)) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if ((file->overlapped && lpOverlapped == nullptr) || (!file->overlapped && lpBytesReturned == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    OverlappedTarget target;
    if (!targetOf(file->overlapped ? lpOverlapped : nullptr, target))
        return FALSE;
    auto request = std::make_shared<IoRequestImpl>(file, dwIoControlCode, lpInBuffer, nInBufferSize,
                                                   lpOutBuffer, nOutBufferSize, target, issuer);
    if (!startRequest(*file, request, target)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    request->dispatch(*file->iface->device, request);
    if (auto result = request->result())
        return reportResult(*result, lpBytesReturned);
    if (file->overlapped) {
        if (lpBytesReturned != nullptr)
            *lpBytesReturned = 0;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return reportResult(request->waitForEnd(), lpBytesReturned);
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred,
                                BOOL bWait)
{
    if (lpOverlapped == nullptr || lpNumberOfBytesTransferred == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    while (!HasOverlappedIoCompleted(lpOverlapped)) {
        if (!bWait) {
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        }
        const HANDLE event = maskedEvent(lpOverlapped->hEvent);
        if (WaitForSingleObject(event != nullptr ? event : hFile, INFINITE) == WAIT_FAILED)
            return FALSE;
    }
    const auto status = static_cast<orvex::win32::driver::NTSTATUS>(
        static_cast<DWORD>(__atomic_load_n(&lpOverlapped->Internal, __ATOMIC_ACQUIRE)));
    *lpNumberOfBytesTransferred =
        static_cast<DWORD>(__atomic_load_n(&lpOverlapped->InternalHigh, __ATOMIC_RELAXED));
    if (!isSuccess(status)) {
        SetLastError(orvex::win32::driver::errorOfStatus(status));
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CancelIo(HANDLE hFile)
{
    const DWORD self = currentThread().id;
    std::vector<std::shared_ptr<IoRequestImpl>> mine;
    std::shared_ptr<DeviceFile> file;
    {
        KernelLock lock(kernelLock());
        file = findHandleAs<DeviceFile>(hFile);
        if (!file) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        for (const auto& request : file->pending) {
            if (request->issuer() == self)
                mine.push_back(request);
        }
    }
    cancelRequests(mine, file->iface);
    return TRUE;
}

} // extern "C"
