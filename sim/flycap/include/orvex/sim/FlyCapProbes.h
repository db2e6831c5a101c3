// What the simulated FlyCapture SDK lets a test see of itself, beyond the
// SDK's own functions: plain counters, exported under these names from the
// simulated library. A test finds them with GetProcAddress on the loaded
// "PGRFlyCapture.dll", since it must not link the SDK's functions a second
// time. Each probe takes the SDK's lock: any thread.
#pragma once

#include <cstdint>

namespace orvex::sim::flycap {

// Contexts created and not yet destroyed.
using LiveContextsProbe = unsigned (*)();
constexpr const char* kLiveContextsProbe = "orvexSimFlyCapLiveContexts";

// Bus callbacks registered through any context.
using BusCallbacksProbe = unsigned (*)();
constexpr const char* kBusCallbacksProbe = "orvexSimFlyCapBusCallbacks";

// The buffer count of the last successful flycaptureInitializePlus for the
// camera with this serial number; 0 when there was none.
using BufferCountProbe = unsigned (*)(uint32_t serialNumber);
constexpr const char* kBufferCountProbe = "orvexSimFlyCapBufferCount";

// Images the SDK dropped for the camera (never handed out), over its live
// contexts: what a host may have missed without losing it itself.
using DroppedImagesProbe = uint64_t (*)(uint32_t serialNumber);
constexpr const char* kDroppedImagesProbe = "orvexSimFlyCapDroppedImages";

// Buffers lent to the host (locked and not yet unlocked) over the camera's
// live contexts.
using LockedBuffersProbe = unsigned (*)(uint32_t serialNumber);
constexpr const char* kLockedBuffersProbe = "orvexSimFlyCapLockedBuffers";

} // namespace orvex::sim::flycap
