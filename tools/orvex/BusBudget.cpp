// Shares a bus's isochronous budget among the cameras that start together
// on it, and words what does not fit.
#include "BusBudget.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

namespace orvex::cli {
namespace {

struct Bus {
    std::vector<IEEE1394Camera*> starting;
    long long taken = 0; // packets of the cameras already acquiring
};

std::map<std::string, Bus> busesOf(IEEE1394VideoServer& server, const std::vector<IEEE1394Camera*>& starting)
{
    std::map<std::string, Bus> buses;
    std::set<const IEEE1394Camera*> listed(starting.begin(), starting.end());
    for (IEEE1394Camera* camera : starting)
        buses[camera->getOwningBusId()].starting.push_back(camera);
    std::set<CamGUID> guids;
    server.getCamsList(guids);
    for (const CamGUID& guid : guids) {
        IEEE1394Camera& other = server.getCamera(guid);
        if (listed.count(&other) == 0 && other.isInitialized() && other.isAcquisitionStarted()) {
            const auto bus = buses.find(other.getOwningBusId());
            if (bus != buses.end())
                bus->second.taken += other.getNbBytesPerPacket();
        }
    }
    return buses;
}

long long askedBy(const Bus& bus)
{
    long long asked = bus.taken;
    for (const IEEE1394Camera* camera : bus.starting)
        asked += camera->getNbBytesPerPacket();
    return asked;
}

// The BCAM driver does not tell the bus ("unknown"): its cameras share one.
std::string busText(const std::string& name)
{
    return name == "unknown" ? "the bus the driver does not name" : "bus " + name;
}

std::string cameraText(const IEEE1394Camera& camera)
{
    return "camera " + std::to_string(camera.getPortIdx());
}

// The largest packet of `camera` not above `share`, or 0 when even its
// smallest is above.
int packetWithin(const IEEE1394Camera& camera, long long share)
{
    const int unit = std::max(camera.getUnitNbBytesPerPacket(), 1);
    const long long highest = std::min<long long>(camera.getMaxNbBytesPerPacket(), share);
    const long long packet = highest / unit * unit;
    return packet >= camera.getMinNbBytesPerPacket() ? static_cast<int>(packet) : 0;
}

} // namespace

BusBudgetPlan fitPacketsToBuses(IEEE1394VideoServer& server, const std::vector<IEEE1394Camera*>& starting,
                                bool keepPackets)
{
    BusBudgetPlan plan;
    const long long carried = server.getMaxPacketSz();
    for (const auto& [name, bus] : busesOf(server, starting)) {
        const long long asked = askedBy(bus);
        if (asked <= carried)
            continue;
        const long long room = carried - bus.taken;
        const long long share = room / static_cast<long long>(bus.starting.size());
        std::vector<std::pair<IEEE1394Camera*, int>> packets;
        bool fits = !keepPackets && share > 0;
        for (IEEE1394Camera* camera : bus.starting) {
            const int packet = fits ? packetWithin(*camera, share) : 0;
            fits = fits && packet > 0;
            packets.emplace_back(camera, std::min(packet, camera->getNbBytesPerPacket()));
        }
        std::ostringstream line;
        line << busText(name) << " carries " << carried << " bytes per cycle";
        if (!fits) {
            line << ", its cameras ask " << asked
                 << (keepPackets ? " with the packet sizes given" : " even at their smallest share");
            if (bus.taken > 0)
                line << " (" << bus.taken << " of them by cameras already acquiring)";
            plan.problems.push_back(line.str());
            continue;
        }
        line << ", shared:";
        for (const auto& [camera, packet] : packets) {
            camera->setNbBytesPerPacket(packet);
            line << " " << cameraText(*camera) << " " << packet << " bytes per packet";
            if (camera != packets.back().first)
                line << ",";
        }
        plan.notes.push_back(line.str());
    }
    return plan;
}

} // namespace orvex::cli
