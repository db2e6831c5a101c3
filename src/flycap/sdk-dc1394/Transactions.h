// What the SDK functions over libdc1394 share: the live contexts by handle,
// register transactions at absolute addresses, and the Format_7 facts read
// from the camera.
//
// Threads: any (the context registry has its own mutex).
#pragma once

#include "Context.h"

#include "PGRFlyCapture.h"

#include <cstdint>
#include <memory>

namespace orvex::flycap::dc1394sdk {

// Contexts by handle: a handle that is not (or no longer) registered is
// refused with FLYCAPTURE_INVALID_CONTEXT, so a stale handle cannot crash
// the SDK.
FlyCaptureContext registerContext();
std::shared_ptr<Context> findContext(FlyCaptureContext handle);
bool unregisterContext(FlyCaptureContext handle);

// Quadlets at the 48-bit address 0xFFFF:address (big-endian on the wire,
// host order here). FLYCAPTURE_BUS_ERROR when the transaction fails.
FlyCaptureError readQuadlets(dc1394camera_t* camera, uint32_t address, uint32_t* values, uint32_t count);
FlyCaptureError writeQuadlets(dc1394camera_t* camera, uint32_t address, const uint32_t* values,
                              uint32_t count);

// Format_7 mode 0 as the camera describes it.
struct Format7 {
    bool available = false;
    uint32_t maxWidth = 0, maxHeight = 0, unitWidth = 0, unitHeight = 0, unitLeft = 0, unitTop = 0;
    bool mono8 = false, mono16 = false;
    uint32_t packetUnit = 0;
    uint32_t maxPacketAtSpeed = 0; // the largest packet at the camera's iso speed, as the kernel carries it
};
FlyCaptureError readFormat7(dc1394camera_t* camera, Format7& f7);

template <typename T> void put(T* target, T value)
{
    if (target)
        *target = value;
}

} // namespace orvex::flycap::dc1394sdk
