// The probes of FlyCapProbes.h, exported beside the SDK's functions.
#include "Registry.h"

#include <orvex/sim/FlyCapProbes.h>

using namespace orvex::sim::flycap;

extern "C" {

__attribute__((visibility("default"))) unsigned orvexSimFlyCapLiveContexts()
{
    return Registry::instance().liveContexts();
}

__attribute__((visibility("default"))) unsigned orvexSimFlyCapBusCallbacks()
{
    return CallbackDispatcher::instance().count();
}

__attribute__((visibility("default"))) unsigned orvexSimFlyCapBufferCount(uint32_t serialNumber)
{
    return Registry::instance().bufferCount(serialNumber);
}

} // extern "C"
