// The driver's process-wide state: one BcamDevice per published interface,
// kept in step with the world's arrivals and removals.
//
// Threads: any thread. The mutex guards the device map only; it is never
// held while calling the platform (interface broadcasts) or a device.
#pragma once

#include "BcamDevice.h"

#include <orvex/sim/World.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace orvex::sim::bcam {

class Driver {
public:
    static Driver& instance();
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    std::string devicePath(uint32_t serialNumber) const;
    uint64_t droppedImages(uint32_t serialNumber) const;

private:
    struct Published {
        std::string path;
        std::shared_ptr<BcamDevice> device;
    };

    Driver();
    void onWorldEvent(const BusEvent& event);
    void publish(const std::shared_ptr<Camera>& camera);
    void withdraw(uint32_t serialNumber);
    void withdrawAll();
    void resetBus(int bus);

    mutable std::mutex _m;
    std::map<uint32_t, Published> _devices; // by serial number
    int _subscription = 0;
};

// True for the camera models the BCAM driver drives.
bool drivesModel(const std::string& modelName);

} // namespace orvex::sim::bcam
