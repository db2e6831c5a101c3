// Device interfaces, open device files, their requests and completion ports
// (internal). Lock order: a request's own lock before the kernel lock; the
// kernel lock is never held while a driver runs.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <orvex/win32/io.h>
#include <orvex/win32_driver.h>

#include "Kernel.h"

namespace orvex::win32::detail {

class DeviceFile;

// A present or removed device interface. Kernel lock held for the mutable
// members.
struct DeviceInterface {
    GUID classGuid{};
    std::string path;
    std::string key; // the path in lower case: device paths are case-insensitive
    std::shared_ptr<win32::driver::Device> device;
    bool present = true;
    std::vector<DeviceFile*> openFiles;
};

// A path in the device namespace ("\\?\..." or "\\.\...").
bool isDevicePath(const std::string& path);

// The present interface named by a device path ("\\?\" or "\\.\"), or nullptr.
// Kernel lock held.
std::shared_ptr<DeviceInterface> findPresentInterface(const std::string& path);

// Paths of the present interfaces of a class, in registration order. Takes
// the kernel lock.
std::vector<std::string> presentInterfacePaths(const GUID& classGuid);

struct CompletionPacket {
    DWORD bytes;
    ULONG_PTR key;
    LPOVERLAPPED overlapped;
    DWORD error;
};

// Kernel lock held for every member except onHandleClosed.
class CompletionPort final : public KernelObject {
public:
    void push(const CompletionPacket& packet);
    std::optional<CompletionPacket> pop();
    bool isClosed() const { return _closed; }
    void addWaiter(ThreadContext* waiter) { _waiters.push_back(waiter); }
    void removeWaiter(ThreadContext* waiter);
    void onHandleClosed() override;

private:
    void wakeWaiters();

    std::deque<CompletionPacket> _packets;
    std::vector<ThreadContext*> _waiters;
    bool _closed = false;
};

class IoRequestImpl;

// An open device handle. Signalled when one of its requests ends, reset when
// one starts, as the file object is on Windows. Kernel lock held for the
// mutable members.
class DeviceFile final : public Waitable {
public:
    DeviceFile(std::shared_ptr<DeviceInterface> deviceInterface, DWORD desiredAccess, DWORD shareMode,
               bool isOverlapped, uint64_t fileId)
        : iface(std::move(deviceInterface)), access(desiredAccess), share(shareMode),
          overlapped(isOverlapped), id(fileId)
    {
    }

    bool isSignalled() const override { return _signalled; }
    void signal()
    {
        _signalled = true;
        wakeWaiters();
    }
    void unsignal() { _signalled = false; }
    void onHandleClosed() override;

    const std::shared_ptr<DeviceInterface> iface;
    const DWORD access;
    const DWORD share;
    const bool overlapped;
    const uint64_t id;
    std::shared_ptr<CompletionPort> port;
    ULONG_PTR key = 0;
    std::vector<std::shared_ptr<IoRequestImpl>> pending;
    bool closed = false;

private:
    bool _signalled = false;
};

// Ends every pending request of `requests` with STATUS_CANCELLED and tells
// the driver. No lock held.
void cancelRequests(const std::vector<std::shared_ptr<IoRequestImpl>>& requests,
                    const std::shared_ptr<DeviceInterface>& deviceInterface);

} // namespace orvex::win32::detail
