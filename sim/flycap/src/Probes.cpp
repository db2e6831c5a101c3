// The probes of FlyCapProbes.h, exported beside the SDK's functions.
#include "Registry.h"

#include <orvex/sim/FlyCapProbes.h>

using namespace orvex::sim::flycap;

// A DLL that marks any name dllexport exports only the names so marked.
#ifdef _WIN32
#define ORVEX_SIM_PROBE __declspec(dllexport)
#else
#define ORVEX_SIM_PROBE __attribute__((visibility("default")))
#endif

extern "C" {

ORVEX_SIM_PROBE unsigned orvexSimFlyCapLiveContexts()
{
    return Registry::instance().liveContexts();
}

ORVEX_SIM_PROBE unsigned orvexSimFlyCapBusCallbacks()
{
    return CallbackDispatcher::instance().count();
}

ORVEX_SIM_PROBE unsigned orvexSimFlyCapBufferCount(uint32_t serialNumber)
{
    return Registry::instance().bufferCount(serialNumber);
}

ORVEX_SIM_PROBE uint64_t orvexSimFlyCapDroppedImages(uint32_t serialNumber)
{
    return Registry::instance().droppedImages(serialNumber);
}

ORVEX_SIM_PROBE unsigned orvexSimFlyCapLockedBuffers(uint32_t serialNumber)
{
    return Registry::instance().lockedBuffers(serialNumber);
}

} // extern "C"
