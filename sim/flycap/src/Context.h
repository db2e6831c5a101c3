// One SDK context of the simulated FlyCapture SDK: its binding to a camera,
// its ring of image buffers and the image transfer into them.
//
// Buffer ownership: a buffer is free (may be overwritten by the next image),
// ready (holds an image not yet handed out) or locked (lent to the host by
// flycaptureLockLatest until flycaptureUnlock). An image goes into the
// oldest free buffer, else over the oldest ready one; with every buffer
// locked it is dropped: a locked buffer is never written.
//
// Images are pulled: flycaptureLockLatest takes from the camera every image
// due since the last call (pullImages, or pullFrame when unpaced) and sleeps
// until the next one is due, so nothing runs for the camera between images.
// Images due while nobody asked land in the ring as they would have on time:
// those pushed out of it count as dropped.
//
// Threads: every member may be called from any thread; one mutex guards the
// context. The context calls the camera while holding its lock only for
// calls that never reach a sink (pullImages, pullFrame, connection checks);
// it starts and stops the camera's stream without its lock. The camera
// calls onFrame (unpaced triggers), onCameraRemoved and onStreamRescheduled
// without its own lock.
#pragma once

#include "PGRFlyCapture.h"

#include <orvex/sim/Camera.h>
#include <orvex/sim/FramePattern.h>
#include <orvex/sim/WakeBell.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace orvex::sim::flycap {

class Context : public FrameSink, public std::enable_shared_from_this<Context> {
public:
    Context();
    ~Context() override;

    // Binds the context to a camera with `bufferCount` image buffers.
    FlyCaptureError initialize(std::shared_ptr<Camera> camera, unsigned bufferCount);
    // The bound camera, or FLYCAPTURE_NOT_INITIALIZED / FLYCAPTURE_DEVICE_REMOVED.
    FlyCaptureError boundCamera(std::shared_ptr<Camera>& camera) const;
    // Serial number of the bound camera, 0 when unbound.
    uint32_t serialNumber() const;

    FlyCaptureError start(const FrameGeometry& geometry, FlyCapturePixelFormat format);
    FlyCaptureError stop();
    void setGrabTimeout(unsigned long milliseconds);
    FlyCaptureError lockLatest(FlyCaptureImage& image);
    FlyCaptureError unlock(unsigned int bufferIndex);
    FlyCaptureError unlockAll();
    // Probes: images the context dropped (overwritten or superseded before
    // anybody locked them, or arriving while every buffer was lent), and the
    // buffers lent to the host now.
    uint64_t droppedImages() const;
    unsigned lockedBuffers() const;
    // flycaptureDestroyContext: stops the transfer and wakes every waiter;
    // the buffers go with the last reference.
    void destroy();

    // FrameSink.
    void onFrame(const Frame& frame) override;
    void onCameraRemoved() override;
    bool pullsImages() const override { return true; }
    void onStreamRescheduled() override;

private:
    enum class BufferState { free, ready, locked };
    struct Buffer {
        std::unique_ptr<uint8_t[]> data;
        BufferState state = BufferState::free;
        uint64_t sequence = 0; // order of arrival; 0 never held an image
        Frame frame;
        pattern::StampState stamp;
    };

    bool removedLocked() const;
    void prepareRingLocked(const FrameGeometry& geometry);
    void allocateLocked(Buffer& buffer, const FrameGeometry& geometry);
    // False when the image was not kept; rings nobody.
    bool storeLocked(const Frame& frame);
    // Takes what the camera has due by `nowNs`; answers when the next image is due.
    int64_t pullDueLocked(int64_t nowNs);
    void fillImageLocked(unsigned index, FlyCaptureImage& image) const;

    mutable std::mutex _m;
    WakeBell _bell; // rung whenever a sleeping lockLatest has something to see
    std::shared_ptr<Camera> _camera;
    uint64_t _connection = 0;
    unsigned _bufferCount = 0;
    unsigned long _timeoutMs = FLYCAPTURE_INFINITE;
    bool _streaming = false;
    bool _unpaced = false;
    bool _removed = false;
    bool _destroyed = false;
    FrameGeometry _geometry;
    FlyCapturePixelFormat _pixelFormat = FLYCAPTURE_MONO8;
    std::vector<Buffer> _ring;
    std::vector<std::unique_ptr<uint8_t[]>> _retired; // old buffers the host may still read
    std::vector<Frame> _pulled;                       // reused by every pull
    // Paced: when the camera's next image is due, as its last pull said;
    // asked again at that instant, or at once after a start or a reschedule.
    int64_t _nextImageNs = 0;
    bool _askCamera = true;
    uint64_t _nextSequence = 1;
    uint64_t _dropped = 0;
};

} // namespace orvex::sim::flycap
