// One DeviceIoControl request between the program and a driver (internal).
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "DeviceObjects.h"

namespace orvex::win32::detail {

// Success and error classes of a status, as NT_SUCCESS and NT_ERROR.
inline bool isSuccess(win32sim::NTSTATUS status)
{
    return status >= 0;
}
inline bool isError(win32sim::NTSTATUS status)
{
    return (static_cast<DWORD>(status) >> 30) == 3;
}

struct IoResult {
    win32sim::NTSTATUS status;
    DWORD bytes;
};

// Where an overlapped request reports its end.
struct OverlappedTarget {
    LPOVERLAPPED overlapped = nullptr; // nullptr: a synchronous request
    std::shared_ptr<Event> event;      // the hEvent, low bit masked
    bool suppressPacket = false;       // the hEvent had its low bit set
};

class IoRequestImpl final : public win32sim::IoRequest {
public:
    IoRequestImpl(std::shared_ptr<DeviceFile> file, DWORD code, const void* input, DWORD inputLength,
                  void* output, DWORD outputLength, OverlappedTarget target, DWORD issuer);

    DWORD controlCode() const override { return code_; }
    uint64_t file() const override { return file_->id; }
    DWORD inputLength() const override { return inputLength_; }
    DWORD outputLength() const override { return outputLength_; }
    win32sim::BufferAccess buffers() override;
    bool complete(win32sim::NTSTATUS status, DWORD information) override;
    bool hasEnded() const override;

    // The thread that issued it (CancelIo cancels its own thread's requests).
    DWORD issuer() const { return issuer_; }
    // Hands the request to the driver on the calling thread.
    void dispatch(win32sim::Device& device, const std::shared_ptr<IoRequestImpl>& self);
    // Ends it with STATUS_CANCELLED; false if it had already ended.
    bool cancel() { return end(win32sim::kStatusCancelled, 0); }
    std::optional<IoResult> result() const;
    IoResult waitForEnd();

private:
    bool end(win32sim::NTSTATUS status, DWORD information);
    // Writes the OVERLAPPED, sets the event and the file, queues the packet.
    // Kernel lock held; the request's lock too.
    void report(const IoResult& result);

    const std::shared_ptr<DeviceFile> file_;
    const DWORD code_;
    const DWORD method_;
    const void* const input_;
    const DWORD inputLength_;
    void* const output_;
    const DWORD outputLength_;
    const OverlappedTarget target_;
    const DWORD issuer_;
    std::vector<unsigned char> systemBuffer_; // buffered method: input copy and output

    mutable std::recursive_mutex mutex_;
    std::condition_variable_any endedSignal_;
    std::optional<IoResult> result_;
    bool dispatching_ = false;
};

} // namespace orvex::win32::detail
