// What a BCAMCamera keeps, and the translation of the driver's exceptions.
// Shared by the camera's source files only.
#pragma once

#include "bcam/BCAMTexts.h"
#include "bcam/client/BcamExtension.h"

#include <orvex/BCAMCamera.h>
#include <orvex/OrvexError.h>
#include <orvex/win32_owned.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

struct BCAMCamera::State {
    explicit State(Bcam::CBcamExtension* device) : _pDevice(device) {}

    std::unique_ptr<Bcam::CBcamExtension> _pDevice;
    orvex::win32::OwnedHandle _hAcquiThread;
    DWORD _nAcquiThreadId = 0;
    // 1 while acquiring; exchanged by the host thread, read by the window's.
    std::atomic<LONG> _nAcquiring{0};
    // Acquisition thread between start and stop: index of the last image.
    uint32_t _nImgCounter = 0;
    long _nDefaultGain = 0;
    bool _bInitialized = false;
    // Grabs outstanding, in the order they were queued, and the buffers the
    // driver fills for them. Between start and stop only the acquisition
    // thread touches them (start fills them before the thread runs, stop
    // after it has ended).
    std::deque<uint32_t> _queueBufferIds;
    std::map<uint32_t, std::unique_ptr<unsigned char[]>> _mapBuffers;
    // Never reset: ids keep growing across acquisitions.
    uint32_t _nNextBufferId = 0;
    // Size of every buffer of this acquisition, set by start. The thread
    // parses and requeues with it rather than asking the camera again: an
    // answer that changed in between would make it read past a buffer.
    unsigned long _nGrabBytes = 0;
    double _fShutterOffset = 0.0;
    bool _bShutterTimeBaseEmulated = false;
    unsigned short _nPortIdx = 0;

    Bcam::CBcamExtension& device() const { return *_pDevice; }

    // Ends an acquisition: every step is tried, the thread is waited for and
    // the buffers freed. Returns the description of the first device
    // exception, "" when every step succeeded.
    std::string stopSteps();
};

namespace orvex::bcam {

constexpr uint32_t kNbGrabBuffers = 4;
constexpr uint32_t kFormat7 = 7;
constexpr int kAcquiThreadPriority = 16;
// The emulated shutter time base of the A102f, in seconds.
constexpr float kEmulatedTimeBase = 2e-05F;

// Runs one driver call for `operation`; a BcamException becomes OrvexError
// "error calling BCAMCamera::<operation>: <description>".
template <class Call> auto callDevice(const char* operation, Call&& call) -> decltype(call())
{
    try {
        return call();
    } catch (const Bcam::BcamException& error) {
        ORVEX_THROW(kCameraUnit, std::string(kErrCalling) + operation + ": " + error.what());
    }
}

} // namespace orvex::bcam
