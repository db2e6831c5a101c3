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
    : file_(std::move(file)), code_(code), method_(METHOD_FROM_CTL_CODE(code)), input_(input),
      inputLength_(inputLength), output_(output), outputLength_(outputLength), target_(std::move(target)),
      issuer_(issuer), systemBuffer_(systemBufferFor(method_, input, inputLength, outputLength))
{
}

win32sim::BufferAccess IoRequestImpl::buffers()
{
    std::unique_lock<std::recursive_mutex> lock(mutex_);
    if (result_)
        return {};
    unsigned char* system = systemBuffer_.empty() ? nullptr : systemBuffer_.data();
    switch (method_) {
    case METHOD_BUFFERED:
        return {std::move(lock), system, inputLength_, system, outputLength_};
    case METHOD_NEITHER:
        return {std::move(lock), input_, inputLength_, output_, outputLength_};
    default: // the direct methods
        return {std::move(lock), system, inputLength_, output_, outputLength_};
    }
}

bool IoRequestImpl::complete(win32sim::NTSTATUS status, DWORD information)
{
    return end(status, information);
}

bool IoRequestImpl::hasEnded() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return result_.has_value();
}

void IoRequestImpl::dispatch(win32sim::Device& device, const std::shared_ptr<IoRequestImpl>& self)
{
    {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        dispatching_ = true;
    }
    try {
        device.deviceControl(self);
    } catch (...) {
        // A driver's fault must not cross the C boundary of DeviceIoControl.
        end(win32sim::kStatusUnsuccessful, 0);
    }
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    dispatching_ = false;
}

std::optional<IoResult> IoRequestImpl::result() const
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    return result_;
}

IoResult IoRequestImpl::waitForEnd()
{
    std::unique_lock<std::recursive_mutex> lock(mutex_);
    endedSignal_.wait(lock, [this] { return result_.has_value(); });
    return *result_;
}

bool IoRequestImpl::end(win32sim::NTSTATUS status, DWORD information)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (result_)
        return false;
    const DWORD bytes = std::min(information, outputLength_);
    if (method_ == METHOD_BUFFERED && !isError(status) && bytes > 0)
        std::memcpy(output_, systemBuffer_.data(), bytes);
    result_ = IoResult{status, bytes};
    {
        KernelLock kernel(kernelLock());
        report(*result_);
    }
    endedSignal_.notify_all();
    return true;
}

void IoRequestImpl::report(const IoResult& result)
{
    auto& pending = file_->pending;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [this](const std::shared_ptr<IoRequestImpl>& r) { return r.get() == this; }),
                  pending.end());
    file_->signal();
    LPOVERLAPPED overlapped = target_.overlapped;
    if (overlapped == nullptr)
        return;
    // Internal last: a program polling HasOverlappedIoCompleted may free the
    // OVERLAPPED as soon as it sees it, so nothing touches it afterwards.
    __atomic_store_n(&overlapped->InternalHigh, static_cast<ULONG_PTR>(result.bytes), __ATOMIC_RELAXED);
    __atomic_store_n(&overlapped->Internal, static_cast<ULONG_PTR>(static_cast<DWORD>(result.status)),
                     __ATOMIC_RELEASE);
    if (target_.event)
        target_.event->set();
    // A request the driver failed before its dispatch returned is reported
    // by DeviceIoControl itself, not through the port.
    const bool failedAtOnce = dispatching_ && isError(result.status);
    if (file_->port && !target_.suppressPacket && !failedAtOnce) {
        file_->port->push({result.bytes, file_->key, overlapped,
                           isSuccess(result.status) ? 0 : win32sim::errorOfStatus(result.status)});
    }
}

} // namespace orvex::win32::detail
