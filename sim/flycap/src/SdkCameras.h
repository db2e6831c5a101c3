// The cameras the simulated FlyCapture SDK sees: every connected camera but
// Basler's, which the BCAM driver drives.
//
// Threads: any thread (the world locks itself).
#pragma once

#include <orvex/sim/World.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace orvex::sim::flycap {

constexpr const char* kBcamVendorName = "Basler";

inline bool isSdkCamera(const Camera& camera)
{
    return camera.config().vendorName != kBcamVendorName;
}

// Connected cameras of the SDK, in the world's enumeration order.
inline std::vector<std::shared_ptr<Camera>> sdkCameras()
{
    std::vector<std::shared_ptr<Camera>> cameras = World::instance().connectedCameras();
    cameras.erase(std::remove_if(cameras.begin(), cameras.end(),
                                 [](const std::shared_ptr<Camera>& c) { return !isSdkCamera(*c); }),
                  cameras.end());
    return cameras;
}

} // namespace orvex::sim::flycap
