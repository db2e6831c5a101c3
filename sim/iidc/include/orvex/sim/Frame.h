// One image as a simulated camera produces it: its geometry and everything
// the camera knows about it at its start of exposure. The pixels themselves
// are written by FramePattern into whatever buffer receives the image.
#pragma once

#include <cstdint>

namespace orvex::sim {

struct FrameGeometry {
    uint32_t left = 0;
    uint32_t top = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 1; // 1 (8-bit mono) or 2 (16-bit mono)
    uint32_t bytesPerPacket = 0;

    uint32_t rowBytes() const { return width * bytesPerPixel; }
    uint64_t imageBytes() const { return uint64_t(rowBytes()) * height; }
    uint32_t packetsPerFrame() const
    {
        return bytesPerPacket ? static_cast<uint32_t>((imageBytes() + bytesPerPacket - 1) / bytesPerPacket)
                              : 0;
    }
    bool operator==(const FrameGeometry& o) const
    {
        return left == o.left && top == o.top && width == o.width && height == o.height &&
               bytesPerPixel == o.bytesPerPixel && bytesPerPacket == o.bytesPerPacket;
    }
    bool operator!=(const FrameGeometry& o) const { return !(*this == o); }
};

// How an image's embedded frame information is damaged (stream faults).
enum class FrameInfoDamage {
    none,
    cutShort, // only the first item arrives; the later ones keep what the buffer held
    corrupt,  // every item reads all ones
};

struct Frame {
    FrameGeometry geometry;
    uint32_t frameCounter = 0;      // images produced since power-up or INITIALIZE, before this one
    uint32_t cycleTime = 0;         // time stamp: the camera's (synchronised) cycle time at exposure start
    uint32_t busCycleTime = 0;      // the bus clock at the same instant
    uint32_t gainRegister = 0;      // gain feature quadlet at exposure
    uint32_t shutterRegister = 0;   // shutter feature quadlet at exposure
    uint8_t gpioLevels = 0;         // bit (7 - pin): level of GPIO pin 0 to 3
    uint32_t frameInfoRegister = 0; // frame-information items enabled for this image
    uint32_t smartChunks = 0;       // bit n: image chunk n enabled (smart features)
    bool crcChunk = false;          // CRC checksum smart feature enabled
    bool triggered = false;         // produced by a trigger
    int64_t exposureStartNs = 0;    // host instant of exposure start
    int64_t exposureNs = 0;         // exposure time (mode 1 trigger: the pulse width)
    int64_t deliveredNs = 0;        // host instant the image left the camera
    FrameInfoDamage frameInfoDamage = FrameInfoDamage::none;
};

// Receives the images of a streaming camera.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // A new image. Called on the process's stream thread, or on the thread
    // that fired a trigger when the camera is unpaced; never with the
    // camera's lock held, so the sink may call the camera. A sink that
    // pulls its images gets only the unpaced ones here.
    virtual void onFrame(const Frame& frame) = 0;
    // The camera left the bus (or the world was cleared): no image follows.
    // On the thread that changed the world, without the camera's lock.
    virtual void onCameraRemoved() = 0;
    // True: the receiver takes a paced stream's images itself when it
    // waits for one (Camera::pullImages), and nothing runs for the camera
    // between images.
    virtual bool pullsImages() const { return false; }
    // A pulling receiver: what it was told about the next image's instant
    // no longer holds (a trigger, a register write, a stall); ask again.
    // On the thread that made the change, without the camera's lock.
    virtual void onStreamRescheduled() {}
};

} // namespace orvex::sim
