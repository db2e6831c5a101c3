// One image transfer of a camera through libdc1394: Format_7 mode 0 with a
// region and packet size, a DMA ring of the context's buffer count, and the
// images of that ring lent to the host.
//
// Buffer ownership: an image the host locks stays dequeued (libdc1394 never
// writes a frame that is not queued) until the host unlocks it; images that
// were never locked are queued again as soon as a newer one is found. With
// every buffer lent, the kernel has nowhere to put an image and drops it.
//
// Threads: not thread-safe; the owning context serialises every call. The
// capture's file descriptor may be polled without that lock.
#pragma once

#include "Buses.h"

#include "PGRFlyCapture.h"

#include <cstdint>
#include <vector>

namespace orvex::flycap::dc1394sdk {

struct CaptureGeometry {
    uint32_t left = 0, top = 0, width = 0, height = 0;
    uint32_t bytesPerPixel = 1;
    uint32_t bytesPerPacket = 0;
};

class Capture {
public:
    // Configures the camera and starts the transfer; the error when it
    // cannot (geometry, bandwidth, removal).
    static FlyCaptureError start(CameraHandle camera, const CaptureGeometry& geometry,
                                 FlyCapturePixelFormat format, unsigned bufferCount, Capture*& started);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    // Stops the camera sending; lent images stay readable.
    void stopSending();
    // Locks the newest image received, queueing older ones again. FLYCAPTURE_OK
    // with `found` false when none is waiting; FLYCAPTURE_FAILED when the
    // transfer broke (the camera left).
    FlyCaptureError lockNewest(FlyCaptureImage& image, bool& found);
    // Descriptor readable when an image arrives.
    int fileDescriptor() const { return _fd; }
    FlyCaptureError unlock(unsigned int index);
    void unlockAll();
    bool isLocked(unsigned int index) const;
    bool anyLocked() const;
    dc1394camera_t* camera() const { return _camera.get(); }

private:
    Capture(CameraHandle camera, const CaptureGeometry& geometry, FlyCapturePixelFormat format,
            unsigned bufferCount);
    void fillImage(const dc1394video_frame_t& frame, FlyCaptureImage& image);

    CameraHandle _camera;
    CaptureGeometry _geometry;
    FlyCapturePixelFormat _format;
    bool _capturing = false;
    bool _sending = false;
    int _fd = -1;
    std::vector<dc1394video_frame_t*> _locked; // by ring index
    uint32_t _received = 0;                    // images taken from the ring so far
};

// Host microseconds at which the SDK was loaded: image receive times count
// from it.
uint64_t hostEpochUs();

} // namespace orvex::flycap::dc1394sdk
