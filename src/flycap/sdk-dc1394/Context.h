// One SDK context of the FlyCapture SDK over libdc1394: its binding to a
// camera (a libdc1394 handle of its own), and its image transfer.
//
// Register and property calls go through the context's handle under its
// mutex (a libdc1394 handle is not thread-safe). The image transfer has a
// handle of its own (Capture.h), so that a capture whose images the host
// still holds can outlive a stop and a new start.
//
// Threads: any. The mutex guards the binding and the captures; it is not
// held while flycaptureLockLatest waits for an image.
#pragma once

#include "Buses.h"
#include "Capture.h"

#include "PGRFlyCapture.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

namespace orvex::flycap::dc1394sdk {

class Context {
public:
    Context() = default;
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    FlyCaptureError initialize(unsigned busIndex, unsigned bufferCount);
    uint32_t serialNumber() const;

    // Runs `call` on the bound camera's handle under the context's lock; a
    // failed transaction is FLYCAPTURE_DEVICE_REMOVED when the camera has
    // left the bus, FLYCAPTURE_BUS_ERROR otherwise.
    FlyCaptureError withCamera(const std::function<FlyCaptureError(dc1394camera_t*)>& call);
    // The error for a transaction that failed on the bound camera.
    FlyCaptureError transactionError() const;
    // The bus of the bound camera (as last listed).
    int bus() const;

    FlyCaptureError start(const CaptureGeometry& geometry, FlyCapturePixelFormat format);
    FlyCaptureError stop();
    void setGrabTimeout(unsigned long milliseconds);
    FlyCaptureError lockLatest(FlyCaptureImage& image);
    FlyCaptureError unlock(unsigned int bufferIndex);
    FlyCaptureError unlockAll();
    // Stops the transfer and wakes a waiting lockLatest; the captures go with
    // the context.
    void destroy();

private:
    bool removedLocked() const;
    // FLYCAPTURE_OK while the context has an initialised camera still on the
    // bus, else the error that says which of the three it lacks.
    FlyCaptureError cameraUsableLocked() const;
    void dropIdleCapturesLocked();

    mutable std::mutex _m;
    CameraEntry _entry;
    CameraHandle _camera;
    unsigned _bufferCount = 0;
    unsigned long _timeoutMs = FLYCAPTURE_INFINITE;
    bool _destroyed = false;
    std::shared_ptr<Capture> _capture;            // the running transfer
    std::list<std::shared_ptr<Capture>> _retired; // stopped, with images still lent
    uint64_t _stops = 0;                          // wakes a lockLatest of a transfer that stopped
};

} // namespace orvex::flycap::dc1394sdk
