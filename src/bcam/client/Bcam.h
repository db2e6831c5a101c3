// One opened BCAM device: the device handle (overlapped), its completion
// port, the notification registrations, the driver's requests as calls, and
// the property objects that address one feature or Format_7 mode each.
//
// Threads: synchronous requests may come from any thread (each has its own
// event). Grabs may be queued from any thread; completions are consumed by
// one thread (the camera's acquisition thread). Open and Close are called
// from one thread while no other uses the device.
#pragma once

#include "bcam/client/BcamException.h"
#include "bcam/client/BcamProperties.h"

#include "base/CriticalSection.h"

#include <orvex/win32.h>
#include <orvex/win32_owned.h>

#include <list>
#include <string>

namespace Bcam {

class CBcam {
public:
    CBcam();
    // Closes the device, then frees every record still in the port and
    // closes it. Never throws.
    virtual ~CBcam();
    CBcam(const CBcam&) = delete;
    CBcam& operator=(const CBcam&) = delete;

    // The interface paths of the BCAM devices present (CBcamDevMgr).
    static std::list<std::string> DeviceNames();

    // Subclasses `window` and registers it for the arrival and removal of
    // BCAM devices (WM_DEVICECHANGE reaches its own procedure as before);
    // UnregisterClient undoes both. Any thread.
    static void RegisterClient(HWND window);
    static void UnregisterClient(HWND window);

    // Checks the driver's version, completes a short name, closes a device
    // open before, and opens this one for overlapped I/O with its handle
    // notifications and its completion port. BcamException on failure
    // (context "CBcam::Open()", or the version check's).
    void Open(const std::string& deviceName);
    // Ends the device's pending requests (their completions stay in the
    // port) and closes the handle. Nothing happens when not open.
    void Close();
    bool IsOpen() const { return static_cast<bool>(_device); }
    const std::string& DeviceName() const { return _deviceName; }
    // True once the system reported the open device removed.
    bool IsRemoved() const;

    // One request with an event of its own, waited for at most `timeoutMs`.
    // Returns 0 or the system's error code (also the thread's last error);
    // after the time limit the calling thread's requests on the device are
    // cancelled and the result is ERROR_SEM_TIMEOUT (121). BcamException
    // 0xCFF00004 when the device is not open.
    DWORD Transmit(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                   DWORD* transferred = nullptr, DWORD timeoutMs = INFINITE);

    // Video modes. `IsVideoModeSupported` takes kAnyIndex (all ones) for a
    // mode or rate that does not matter.
    bool IsVideoModeSupported(DWORD format, DWORD mode = orvex::bcam::kAnyIndex,
                              DWORD rate = orvex::bcam::kAnyIndex);
    void SetVideoMode(DWORD format, DWORD mode, DWORD rate);
    void GetVideoMode(DWORD& format, DWORD& mode, DWORD& rate);

    // Grab resources and cancellation of every pending grab.
    void AllocateResources(DWORD bufferCount, DWORD bufferSize);
    void FreeResources();
    void Cancel();

    // Queues one grab into `buffer`, which must stay valid until its
    // completion has been dequeued. Its completion carries message 0x15 and
    // `context`. `reserved` must be 0.
    void GrabImageAsync(void* buffer, DWORD bufferSize, DWORD context, DWORD reserved = 0);

    // Dequeues the next completion, waiting at most `timeoutMs`: its message
    // and context, its error (the system error with bit 29 cleared, 0 for
    // success) and the bytes transferred. When nothing was dequeued (time
    // limit, port closed) the error says why and message and context are 0.
    void WaitForCompletion(DWORD& message, DWORD& error, DWORD& context, DWORD timeoutMs = INFINITE,
                           DWORD* transferred = nullptr);

    // Posts a completion with the caller's message and context (e.g. the
    // stop message to the thread that consumes completions).
    void Notify(DWORD message, DWORD context);

    // Frees every completion waiting in the port, unread: a consumer that
    // starts afresh must not read what an earlier one left (its stop message).
    void DiscardCompletions();

    CInfo Info;
    CScalarProperty Shutter;
    CScalarProperty Gain;
    CTrigger Trigger;
    CFormatSeven FormatSeven;
    CContinuousShot ContinuousShot;

protected:
    // A request that must succeed: sent without time limit, its failure
    // thrown with `context`.
    void Request(const orvex::bcam::RequestEntry& entry, const void* in, void* out, const char* context);
    friend class CProperty;

private:
    HANDLE CompletionPort();

    orvex::CriticalSection _portLock; // the port is made on first use, from any thread
    orvex::win32::OwnedHandle _device;
    std::string _deviceName;
    orvex::win32::OwnedDeviceNotification _handleNotification;
    LONG _removed = 0;
    orvex::win32::OwnedHandle _port;
};

} // namespace Bcam
