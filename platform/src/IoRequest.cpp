// A request's buffers under its method's rules, and its end: the OVERLAPPED,
// the event, the file object and the completion port.
#include "IoRequest.h"

#include <algorithm>
#include <cstring>

namespace orvex::win32::detail {
namespace {

std::vector<unsigned char> systemBufferFor(DWORD method, const void* input, DWORD inputLength,
                                           DWORD outputLength)
{
    if (method == METHOD_NEITHER)
        return {};
    // Buffered: one buffer for the input copy and the output; direct: the
    // input copy only.
    const DWORD size = method == METHOD_BUFFERED ? std::max(inputLength, outputLength) : inputLength;
    std::vector<unsigned char> buffer(size);
    if (inputLength > 0)
        std::memcpy(buffer.data(), input, inputLength);
    return buffer;
}

} // namespace

IoRequestImpl::IoRequestImpl(std::shared_ptr<DeviceFile> file, DWORD code, const void* input,
                             DWORD inputLength, void* output, DWORD outputLength, OverlappedTarget target,
                             DWORD issuer)
    : _file(std::move(file)), _code(code), _method(METHOD_FROM_CTL_CODE(code)), _input(input),
      _inputLength(inputLength), _output(output), _outputLength(outputLength), _target(std::move(target)),
      _issuer(issuer), _systemBuffer(systemBufferFor(_method, input, inputLength, outputLength))
{
}

win32::driver::BufferAccess IoRequestImpl::buffers()
{
    std::unique_lock<std::recursive_mutex> lock(_mutex);
    if (_result)
        return {};
    unsigned char* system = _systemBuffer.empty() ? nullptr : _systemBuffer.data();
    switch (_method) {
    case METHOD_BUFFERED:
        return {std::move(lock), system, _inputLength, system, _outputLength};
    case METHOD_NEITHER:
        return {std::move(lock), _input, _inputLength, _output, _outputLength};
    default: // the direct methods
        return {std::move(lock), system, _inputLength, _output, _outputLength};
    }
}

bool IoRequestImpl::complete(win32::driver::NTSTATUS status, DWORD information)
{
    return end(status, information);
}

bool IoRequestImpl::hasEnded() const
{
    std::lock_guard<std::recursive_mutex> lock(_mutex);
    return _result.has_value();
}

void IoRequestImpl::dispatch(win32::driver::Device& device, const std::shared_ptr<IoRequestImpl>& self)
{
    {
        std::lock_guard<std::recursive_mutex> lock(_mutex);
        _dispatching = true;
    }
    try {
        device.deviceControl(self);
    } catch (...) {
        // A driver's fault must not cross the C boundary of DeviceIoControl.
        end(win32::driver::kStatusUnsuccessful, 0);
    }
    std::lock_guard<std::recursive_mutex> lock(_mutex);
    _dispatching = false;
}

std::optional<IoResult> IoRequestImpl::result() const
{
    std::lock_guard<std::recursive_mutex> lock(_mutex);
    return _result;
}

IoResult IoRequestImpl::waitForEnd()
{
    std::unique_lock<std::recursive_mutex> lock(_mutex);
    _endedSignal.wait(lock, [this] { return _result.has_value(); });
    return *_result;
}

bool IoRequestImpl::end(win32::driver::NTSTATUS status, DWORD information)
{
    std::lock_guard<std::recursive_mutex> lock(_mutex);
    if (_result)
        return false;
    const DWORD bytes = std::min(information, _outputLength);
    if (_method == METHOD_BUFFERED && !isError(status) && bytes > 0)
        std::memcpy(_output, _systemBuffer.data(), bytes);
    _result = IoResult{status, bytes};
    {
        KernelLock kernel(kernelLock());
        report(*_result);
    }
    _endedSignal.notify_all();
    return true;
}

void IoRequestImpl::report(const IoResult& result)
{
    auto& pending = _file->pending;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [this](const std::shared_ptr<IoRequestImpl>& r) { return r.get() == this; }),
                  pending.end());
    _file->signal();
    LPOVERLAPPED overlapped = _target.overlapped;
    if (overlapped == nullptr)
        return;
    // Internal last: a program polling HasOverlappedIoCompleted may free the
    // OVERLAPPED as soon as it sees it, so nothing touches it afterwards.
    __atomic_store_n(&overlapped->InternalHigh, static_cast<ULONG_PTR>(result.bytes), __ATOMIC_RELAXED);
    __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(static_cast<DWORD>(result.status)),
                     __ATOMIC_RELEASE);
    if (_target.event)
        _target.event->set();
    // A request the driver failed before its dispatch returned is reported
    // by DeviceIoControl itself, not through the port.
    const bool failedAtOnce = _dispatching && isError(result.status);
    if (_file->port && !_target.suppressPacket && !failedAtOnce) {
        _file->port->push({result.bytes, _file->key, overlapped,
                           isSuccess(result.status) ? 0 : win32::driver::errorOfStatus(result.status)});
    }
}

} // namespace orvex::win32::detail
