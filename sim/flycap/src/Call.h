// What every SDK function does first: find its context, give an injected
// fault its turn, and (for camera calls) check that the context's camera is
// still there.
#pragma once

#include "Registry.h"

#include <orvex/sim/World.h>

namespace orvex::sim::flycap {

// An injected failure for a call that concerns no context.
inline FlyCaptureError injectedFault(const char* function)
{
    const auto code = World::instance().faults().consume(function, FaultTable::kAnyCamera);
    return code ? static_cast<FlyCaptureError>(*code) : FLYCAPTURE_OK;
}

// Looks the context up and consumes an injected failure of `function` on it
// (or on any camera); register calls name the register they reach.
inline FlyCaptureError enterContext(const char* function, FlyCaptureContext handle,
                                    std::shared_ptr<Context>& context,
                                    std::optional<uint32_t> address = std::nullopt)
{
    context = Registry::instance().find(handle);
    if (!context)
        return FLYCAPTURE_INVALID_CONTEXT;
    FaultTable& faults = World::instance().faults();
    if (!faults.armed())
        return FLYCAPTURE_OK;
    const auto code = faults.consume(function, context->serialNumber(), address);
    return code ? static_cast<FlyCaptureError>(*code) : FLYCAPTURE_OK;
}

// enterContext, then the context's camera (bound and still connected).
inline FlyCaptureError enterCamera(const char* function, FlyCaptureContext handle,
                                   std::shared_ptr<Context>& context, std::shared_ptr<Camera>& camera,
                                   std::optional<uint32_t> address = std::nullopt)
{
    const FlyCaptureError error = enterContext(function, handle, context, address);
    return error != FLYCAPTURE_OK ? error : context->boundCamera(camera);
}

} // namespace orvex::sim::flycap
