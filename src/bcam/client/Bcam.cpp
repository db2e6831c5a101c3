// Opening a BCAM device, its synchronous and asynchronous requests, and its
// completion port.
#include "bcam/client/Bcam.h"

#include "bcam/client/BcamDevInfo.h"
#include "bcam/client/CompletionRecord.h"
#include "bcam/client/DriverVersionCheck.h"
#include "bcam/client/Notifications.h"

#include <orvex/iidc/Registers.h>

#include <atomic>
#include <memory>
#include <utility>

namespace Bcam {

namespace req = orvex::bcam::request;
using detail::CompletionRecord;

namespace {

constexpr const char* kOpenContext = "CBcam::Open()";
// How long Open waits for the process-wide notification window.
constexpr DWORD kNotificationWindowTimeoutMs = 20000;
// Completion errors come back without the customer bit.
constexpr DWORD kCustomerBit = 0x20000000;
// The highest format, mode or rate index an inquiry quadlet has a bit for.
constexpr DWORD kMaxVideoIndex = 7;

bool hasBit(uint32_t inquiry, DWORD index)
{
    return (inquiry & orvex::iidc::formatBit(index)) != 0;
}

std::atomic<long> liveRecords{0};

} // namespace

namespace detail {

CompletionRecord::CompletionRecord()
{
    ++liveRecords;
}

CompletionRecord::~CompletionRecord()
{
    --liveRecords;
}

long liveCompletionRecords()
{
    return liveRecords.load();
}

} // namespace detail

CBcam::CBcam()
    : Info(*this), Shutter(*this, orvex::iidc::kFeatureShutter), Gain(*this, orvex::iidc::kFeatureGain),
      Trigger(*this), FormatSeven(*this), ContinuousShot(*this)
{
}

CBcam::~CBcam()
{
    Close();
    DiscardCompletions();
}

std::list<std::string> CBcam::DeviceNames()
{
    return CBcamDevMgr::DeviceNames();
}

void CBcam::RegisterClient(HWND window)
{
    notifications::RegisterClient(window);
}

void CBcam::UnregisterClient(HWND window)
{
    notifications::UnregisterClient(window);
}

void CBcam::Open(const std::string& deviceName)
{
    CDriverVersionCheck::Match();
    const std::string name = CBcamDevMgr::CompleteName(deviceName);
    Close();

    HWND window = notifications::NotificationWindow(kNotificationWindowTimeoutMs);
    if (window == nullptr)
        throw BcamException(GetLastError(), kOpenContext);

    orvex::win32::OwnedHandle device(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_OVERLAPPED, nullptr));
    if (!device)
        throw BcamException(GetLastError(), kOpenContext);

    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = device.get();
    orvex::win32::OwnedDeviceNotification notification(
        RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!notification)
        throw BcamException(GetLastError(), kOpenContext);
    // A failure leaves through the owners: the registration goes, then the handle.
    if (CreateIoCompletionPort(device.get(), CompletionPort(), 0, 0) == nullptr)
        throw BcamException(GetLastError(), kOpenContext);
    _device = std::move(device);
    _deviceName = name;
    _handleNotification = std::move(notification);
    InterlockedExchange(&_removed, 0);
    notifications::TrackDevice(_device.get(), &_removed);
}

void CBcam::Close()
{
    if (!IsOpen())
        return;
    notifications::ForgetDevice(_device.get());
    _handleNotification.reset();
    // Ends every pending request; the grabs' completions reach the port.
    _device.reset();
}

bool CBcam::IsRemoved() const
{
    return InterlockedCompareExchange(const_cast<LONG*>(&_removed), 0, 0) != 0;
}

DWORD CBcam::Transmit(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* transferred,
                      DWORD timeoutMs)
{
    if (!IsOpen())
        throw BcamException(orvex::bcam::message::kNotOpen, "CBcam::Transmit()");
    const orvex::win32::OwnedHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!event)
        return GetLastError();
    OVERLAPPED overlapped{};
    // The low bit keeps this completion out of the port, which carries the grabs.
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event.get()) | 1);
    DWORD bytes = 0;
    BOOL done = DeviceIoControl(_device.get(), code, const_cast<void*>(in), inSize, out, outSize, &bytes,
                                &overlapped);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (!done && error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(event.get(), timeoutMs) == WAIT_TIMEOUT) {
            CancelIo(_device.get());
            // The request must have ended before its block leaves the stack.
            GetOverlappedResult(_device.get(), &overlapped, &bytes, TRUE);
            bytes = 0;
            error = ERROR_SEM_TIMEOUT;
        } else {
            done = GetOverlappedResult(_device.get(), &overlapped, &bytes, TRUE);
            error = done ? ERROR_SUCCESS : GetLastError();
        }
    }
    if (transferred != nullptr)
        *transferred = bytes;
    SetLastError(error);
    return error;
}

void CBcam::Request(const orvex::bcam::RequestEntry& entry, const void* in, void* out, const char* context)
{
    const DWORD error = Transmit(entry.code, in, entry.inBytes, out, entry.outBytes);
    if (error != ERROR_SUCCESS)
        throw BcamException(error, context);
}

bool CBcam::IsVideoModeSupported(DWORD format, DWORD mode, DWORD rate)
{
    constexpr const char* kContext = "CBcam::IsVideoModeSupported()";
    constexpr DWORD kAny = orvex::bcam::kAnyIndex;
    if (format > kMaxVideoIndex || (mode != kAny && mode > kMaxVideoIndex) ||
        (rate != kAny && rate > kMaxVideoIndex))
        return false;
    uint32_t inquiry = 0;
    if (mode == kAny) {
        Request(req::kFormatInquiry, nullptr, &inquiry, kContext);
        return hasBit(inquiry, format);
    }
    if (rate == kAny) {
        const uint32_t in = format;
        Request(req::kModeInquiry, &in, &inquiry, kContext);
        return hasBit(inquiry, mode);
    }
    // Format_7 modes too: the driver answers for their rates by the mode's presence.
    const uint32_t in[2] = {format, mode};
    Request(req::kRateInquiry, in, &inquiry, kContext);
    return hasBit(inquiry, rate);
}

void CBcam::SetVideoMode(DWORD format, DWORD mode, DWORD rate)
{
    const uint32_t in[3] = {format, mode, rate};
    Request(req::kSetVideoMode, in, nullptr, "CBcam::SetVideoMode()");
}

void CBcam::GetVideoMode(DWORD& format, DWORD& mode, DWORD& rate)
{
    uint32_t out[3] = {};
    Request(req::kGetVideoMode, nullptr, out, "CBcam::GetVideoMode()");
    format = out[0];
    mode = out[1];
    rate = out[2];
}

void CBcam::AllocateResources(DWORD bufferCount, DWORD bufferSize)
{
    const uint32_t in[3] = {bufferCount, bufferSize, 0};
    uint32_t out[3] = {};
    Request(req::kAllocateResources, in, out, "CBcam::AllocateResources()");
}

void CBcam::FreeResources()
{
    Request(req::kFreeResources, nullptr, nullptr, "CBcam::FreeResources()");
}

void CBcam::Cancel()
{
    Request(req::kCancel, nullptr, nullptr, "CBcam::Cancel()");
}

void CBcam::GrabImageAsync(void* buffer, DWORD bufferSize, DWORD context, DWORD reserved)
{
    constexpr const char* kContext = "CBcam::GrabImageAsync()";
    if (!IsOpen())
        throw BcamException(orvex::bcam::message::kNotOpen, kContext);
    if (reserved != 0 || buffer == nullptr || bufferSize == 0)
        throw BcamException(ERROR_INVALID_PARAMETER, kContext);
    auto record = std::make_unique<CompletionRecord>();
    record->message = orvex::bcam::kGrabCompletedMessage;
    record->context = context;
    // No event: the completion goes to the port, with the record.
    const BOOL done = DeviceIoControl(_device.get(), req::kGrabImage.code, nullptr, 0, buffer, bufferSize,
                                      nullptr, &record->overlapped);
    if (!done && GetLastError() != ERROR_IO_PENDING)
        throw BcamException(GetLastError(), kContext); // failed at once: no completion will come
    // The waiter frees it.
    static_cast<void>(record.release());
}

void CBcam::WaitForCompletion(DWORD& message, DWORD& error, DWORD& context, DWORD timeoutMs,
                              DWORD* transferred)
{
    HANDLE port = CompletionPort();
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const BOOL done = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, timeoutMs);
    error = done ? ERROR_SUCCESS : (GetLastError() & ~kCustomerBit);
    message = 0;
    context = 0;
    if (transferred != nullptr)
        *transferred = overlapped != nullptr ? bytes : 0;
    if (overlapped == nullptr)
        return;
    const std::unique_ptr<CompletionRecord> record(detail::recordOf(overlapped));
    message = record->message;
    context = record->context;
}

void CBcam::Notify(DWORD message, DWORD context)
{
    constexpr const char* kContext = "CBcam::Notify()";
    HANDLE port = CompletionPort();
    auto record = std::make_unique<CompletionRecord>();
    record->message = message;
    record->context = context;
    if (!PostQueuedCompletionStatus(port, 0, 0, &record->overlapped))
        throw BcamException(GetLastError(), kContext);
    // The waiter frees it.
    static_cast<void>(record.release());
}

HANDLE CBcam::CompletionPort()
{
    orvex::ScopedLock hold(_portLock);
    if (!_port) {
        _port.reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0));
        if (!_port)
            throw BcamException(GetLastError(), "CBcam::CreateCompletionPort()");
    }
    return _port.get();
}

void CBcam::DiscardCompletions()
{
    if (!_port)
        return;
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    while (GetQueuedCompletionStatus(_port.get(), &bytes, &key, &overlapped, 0) || overlapped != nullptr) {
        delete detail::recordOf(overlapped);
        overlapped = nullptr;
    }
}

} // namespace Bcam
