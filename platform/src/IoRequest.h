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
inline bool isSuccess(win32::driver::NTSTATUS status)
{
    return status >= 0;
}
inline bool isError(win32::driver::NTSTATUS status)
{
    return (static_cast<DWORD>(status) >> 30) == 3;
}

struct IoResult {
    win32::driver::NTSTATUS status;
    DWORD bytes;
};

// Where an overlapped request reports its end.
struct OverlappedTarget {
    LPOVERLAPPED overlapped = nullptr; // nullptr: a synchronous request
    std::shared_ptr<Event> event;      // the hEvent, low bit masked
    bool suppressPacket = false;       // the hEvent had its low bit set
};

class IoRequestImpl final : public win32::driver::IoRequest {
public:
    IoRequestImpl(std::shared_ptr<DeviceFile> file, DWORD code, const void* input, DWORD inputLength,
                  void* output, DWORD outputLength, OverlappedTarget target, DWORD issuer);

    DWORD controlCode() const override { return _code; }
    uint64_t file() const override { return _file->id; }
    DWORD inputLength() const override { return _inputLength; }
    DWORD outputLength() const override { return _outputLength; }
    win32::driver::BufferAccess buffers() override;
    bool complete(win32::driver::NTSTATUS status, DWORD information) override;
    bool hasEnded() const override;

    // The thread that issued it (CancelIo cancels its own thread's requests).
    DWORD issuer() const { return _issuer; }
    // Hands the request to the driver on the calling thread.
    void dispatch(win32::driver::Device& device, const std::shared_ptr<IoRequestImpl>& self);
    // Ends it with STATUS_CANCELLED; false if it had already ended.
    bool cancel() { return end(win32::driver::kStatusCancelled, 0); }
    std::optional<IoResult> result() const;
    IoResult waitForEnd();

private:
    bool end(win32::driver::NTSTATUS status, DWORD information);
    // Writes the OVERLAPPED, sets the event and the file, queues the packet.
    // Kernel lock held; the request's lock too.
    void report(const IoResult& result);

    const std::shared_ptr<DeviceFile> _file;
    const DWORD _code;
    const DWORD _method;
    const void* const _input;
    const DWORD _inputLength;
    void* const _output;
    const DWORD _outputLength;
    const OverlappedTarget _target;
    const DWORD _issuer;
    std::vector<unsigned char> _systemBuffer; // buffered method: input copy and output

    mutable std::recursive_mutex _mutex;
    std::condition_variable_any _endedSignal;
    std::optional<IoResult> _result;
    bool _dispatching = false;
};

} // namespace orvex::win32::detail
