// The sync controller's cameras and corrections, read from the cameras.
#include "SyncReadings.h"

#include <orvex/iidc/Registers.h>
#include <orvex/iidc/SyncRegisters.h>

#include <set>
#include <string>

namespace orvex::cli {

namespace iidc = orvex::iidc;

SyncCameras syncCamerasFor(IEEE1394VideoServer& server, IEEE1394Camera& master)
{
    const CamGUID masterGuid = master.getUniqueId();
    const std::string masterBus = master.getOwningBusId();
    std::set<CamGUID> connected;
    server.getCamsList(connected);
    SyncCameras chosen;
    for (const CamGUID& guid : connected) {
        if (guid == masterGuid)
            continue;
        chosen.others.push_back(guid);
        IEEE1394Camera& camera = server.getCamera(guid);
        if (camera.getOwningBusId() != masterBus)
            chosen.slaves.push_back(&camera);
    }
    return chosen;
}

SlaveCorrection readSlaveCorrection(IEEE1394Camera& slave)
{
    unsigned long quadlet0 = 0, quadlet1 = 0;
    slave.readRegister(iidc::kSync, quadlet0);
    slave.readRegister(iidc::kSync + 4, quadlet1);
    SlaveCorrection correction;
    correction.corrected = quadlet0 != 0 || quadlet1 != 0;
    correction.driftTicksPerSecond = iidc::syncDrift(static_cast<uint32_t>(quadlet1));
    correction.offsetTicks = iidc::cycleTimeToTicks(static_cast<uint32_t>(quadlet0));
    return correction;
}

} // namespace orvex::cli
