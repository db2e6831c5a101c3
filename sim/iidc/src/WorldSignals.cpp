// What reaches several cameras at one instant: the external trigger line and
// broadcast register writes.
#include <orvex/sim/World.h>

#include <stdexcept>
#include <string>

namespace orvex::sim {

int World::setTriggerLine(bool high)
{
    const int64_t now = hostNowNs();
    int taken = 0;
    for (const auto& camera : connectedCameras()) {
        if (camera->setTriggerInput(high, now))
            ++taken;
    }
    return taken;
}

void World::broadcastWrite(int busNumber, uint32_t address, uint32_t value)
{
    const std::shared_ptr<Bus> target = bus(busNumber);
    if (!target)
        throw std::invalid_argument("no bus " + std::to_string(busNumber));
    // One request on the wire, no response: the nodes act when it arrives.
    waitNs(target->delays().draw().first);
    const int64_t arrival = hostNowNs();
    for (const auto& camera : connectedCameras()) {
        if (camera->bus() == target)
            camera->receiveBroadcast(address, value, arrival);
    }
}

} // namespace orvex::sim
