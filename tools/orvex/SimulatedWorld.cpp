// The simulated world's hooks over the simulators (sim/iidc's world, the
// simulated SDK's probes and, on Linux, the Win32 subset's test switches).
#include "SimulatedWorld.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/CycleClock.h>
#include <orvex/sim/FlyCapProbes.h>
#include <orvex/sim/World.h>
#include <orvex/win32.h>
#if !defined(_WIN32)
#include <orvex/win32_testing.h>
#endif

namespace orvex::cli::simulated {

std::string worldProblem()
{
    return orvex::sim::World::instance().startupProblem();
}

bool chooseVariant(const std::string& variant)
{
#if defined(_WIN32)
    // A Windows process is what it is: the variant follows it.
    return variant == "normal";
#else
    using orvex::win32::testing::Wow64;
    orvex::win32::testing::setWow64(variant == "wow64" ? Wow64::wow64 : Wow64::native);
    return true;
#endif
}

std::optional<uint64_t> sdkDroppedImages(const CamGUID& guid)
{
    const HMODULE sdk = GetModuleHandleA("PGRFlyCapture.dll");
    const FARPROC address = sdk != nullptr ? GetProcAddress(sdk, sim::flycap::kDroppedImagesProbe) : nullptr;
    if (address == nullptr)
        return std::nullopt;
    const auto probe =
        reinterpret_cast<sim::flycap::DroppedImagesProbe>(reinterpret_cast<void (*)()>(address));
    return probe(guid.low());
}

std::optional<int64_t> disagreementTicks(const CamGUID& master, const CamGUID& slave)
{
    const auto& world = orvex::sim::World::instance();
    const auto masterCamera = world.camera(master.low());
    const auto slaveCamera = world.camera(slave.low());
    if (!masterCamera || !slaveCamera)
        return std::nullopt;
    const int64_t instant = orvex::sim::hostNowNs();
    return iidc::signedTicksBetween(masterCamera->stampCycleTimeAt(instant),
                                    slaveCamera->stampCycleTimeAt(instant));
}

} // namespace orvex::cli::simulated
