// The simulated FlyCapture SDK's probes, looked up in the library the back
// end loaded at its first SDK call (a host must not link the SDK a second
// time). Null when the SDK is not loaded or lacks the probe.
#pragma once

#include "PGRFlyCapture.h"

#include <orvex/sim/FlyCapProbes.h>
#include <orvex/win32.h>

#include <cstdint>

namespace orvex::bench {

template <class Probe> Probe sdkProbe(const char* name)
{
    const HMODULE sdk = GetModuleHandleA(PGRFLYCAPTURE_LIBRARY_NAME);
    const FARPROC address = sdk != nullptr ? GetProcAddress(sdk, name) : nullptr;
    return address != nullptr ? reinterpret_cast<Probe>(reinterpret_cast<void (*)()>(address)) : nullptr;
}

// Images the SDK dropped for a camera over its live contexts.
inline uint64_t sdkDroppedImages(uint32_t serialNumber)
{
    const auto probe = sdkProbe<sim::flycap::DroppedImagesProbe>(sim::flycap::kDroppedImagesProbe);
    return probe != nullptr ? probe(serialNumber) : 0;
}

// Buffers the SDK has lent for a camera and not had back.
inline unsigned sdkLentBuffers(uint32_t serialNumber)
{
    const auto probe = sdkProbe<sim::flycap::LockedBuffersProbe>(sim::flycap::kLockedBuffersProbe);
    return probe != nullptr ? probe(serialNumber) : 0;
}

inline unsigned sdkLiveContexts()
{
    const auto probe = sdkProbe<sim::flycap::LiveContextsProbe>(sim::flycap::kLiveContextsProbe);
    return probe != nullptr ? probe() : 0;
}

inline unsigned sdkBusCallbacks()
{
    const auto probe = sdkProbe<sim::flycap::BusCallbacksProbe>(sim::flycap::kBusCallbacksProbe);
    return probe != nullptr ? probe() : 0;
}

} // namespace orvex::bench
