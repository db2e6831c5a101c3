// One camera behind one BCAM device interface: dispatches the requests of
// BcamProtocol.h to the camera's registers and turns the camera's stream
// into completed grabs.
//
// Grabs: GrabImageAsync requests stay pending in a first-in first-out queue;
// each image the camera streams completes the oldest one (pixels, then
// chunks) and an image that finds the queue empty is dropped and counted.
// Cancel, FreeResources, CancelIo/CloseHandle and the camera leaving the bus
// end pending grabs; an ended grab's buffer is never touched again (the
// subset's BufferAccess guards the write against the request ending).
//
// Threads: requests arrive on program threads, images on the camera's
// stream thread, the removal on the thread that changed the world. One
// mutex guards the queue and the resources; it is never held while calling
// the camera or completing a request.
#pragma once

#include "CameraControl.h"

#include <orvex/sim/BcamDriver.h>
#include <orvex/sim/Frame.h>
#include <orvex/win32_driver.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace orvex::sim::bcam {

class BcamDevice : public win32::driver::Device,
                   public FrameSink,
                   public std::enable_shared_from_this<BcamDevice> {
public:
    explicit BcamDevice(std::shared_ptr<Camera> camera);

    uint32_t serialNumber() const { return _serial; }
    uint64_t droppedImages() const;
    // The camera left the bus: pending grabs fail, and so does every later request.
    void unplugged();
    // The camera's bus was reset: the image on the wire is lost and the
    // isochronous resources are claimed again (see docs/simulator.md).
    void busReset(int bus);

    // win32::driver::Device.
    NTSTATUS open(uint64_t file, DWORD access) override;
    void deviceControl(const std::shared_ptr<win32::driver::IoRequest>& request) override;
    void cancelled(const win32::driver::IoRequest& request) override;
    void closed(uint64_t file) override;

    // FrameSink (the camera's stream thread).
    void onFrame(const Frame& frame) override;
    void onCameraRemoved() override;

private:
    using RequestPtr = std::shared_ptr<win32::driver::IoRequest>;
    struct Resources {
        uint32_t count = 0;
        uint32_t bufferBytes = 0;
        std::shared_ptr<Bus> bus; // where the channel and bandwidth are held
        uint32_t channel = 0;
        uint32_t bandwidth = 0; // bytes per cycle: the mode's packet
    };

    NTSTATUS dispatch(const RequestEntry& entry, const void* in, void* out, DWORD& written);
    NTSTATUS dispatchVideo(const RequestEntry& entry, const void* in, void* out, DWORD& written);
    NTSTATUS dispatchFormat7(const RequestEntry& entry, const void* in, void* out, DWORD& written);
    NTSTATUS dispatchControl(const RequestEntry& entry, const void* in, void* out, DWORD& written);
    NTSTATUS allocateResources(const void* in, void* out, DWORD& written);
    NTSTATUS freeResources();
    // Claims a channel and the packet's bandwidth on the camera's bus, and
    // tells the camera its channel.
    NTSTATUS claimIsoResources(uint32_t packetBytes, Resources& claimed);
    static void releaseIsoResources(const Resources& held);
    // Makes the held bandwidth fit the packet size the camera has now.
    NTSTATUS fitBandwidth(uint32_t packetBytes);
    NTSTATUS continuousShot(bool on);
    void queueGrab(const RequestPtr& request);
    void pullForQueuedGrabs();
    // Ends the pending grabs (of one handle, or all with file 0) with `status`.
    void endGrabs(NTSTATUS status, uint64_t file = 0);
    RequestPtr nextGrab();
    // False when the grab ended before the image could be written.
    bool fillGrab(const RequestPtr& request, const Frame& frame);
    bool isGone() const;

    const uint32_t _serial;
    CameraControl _control;

    mutable std::mutex _m;
    std::deque<RequestPtr> _grabs;
    std::deque<RequestPtr> _stalled; // grabs the fault table held back: only cancelling ends them
    Resources _resources;
    bool _gone = false;
    bool _streaming = false;
    bool _resetLosesImage = false; // a bus reset cut the image on the wire
    uint64_t _dropped = 0;
    unsigned _openHandles = 0;
};

} // namespace orvex::sim::bcam
