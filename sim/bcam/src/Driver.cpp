// Publishing and withdrawing the BCAM device interfaces as cameras come and go.
#include "Driver.h"

#include <orvex/iidc/Registers.h>
#include <orvex/sim/BcamDriver.h>
#include <orvex/sim/World.h>

#include <cstdio>
#include <vector>

namespace orvex::sim::bcam {

bool drivesModel(const std::string& modelName)
{
    return modelName == "A102f" || modelName == "A312f";
}

std::string deviceReference(uint32_t high, uint32_t low)
{
    // The client reads two hexadecimal digits at positions 0, 2, ... 14 and
    // assembles low = g0 | g10 << 8 | g12 << 16 | g14 << 24 and
    // high = g2 | g4 << 8 | g6 << 16 | g8 << 24.
    const uint32_t bytes[8] = {low & 0xFF,          high & 0xFF,         (high >> 8) & 0xFF,
                               (high >> 16) & 0xFF, (high >> 24) & 0xFF, (low >> 8) & 0xFF,
                               (low >> 16) & 0xFF,  (low >> 24) & 0xFF};
    std::string text = "1394#";
    char digits[3];
    for (uint32_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
        text += digits;
    }
    return text;
}

Driver& Driver::instance()
{
    // The world outlives the driver: it is created first.
    World::instance();
    static Driver driver;
    return driver;
}

Driver::Driver()
{
    _subscription = World::instance().subscribe([this](const BusEvent& event) { onWorldEvent(event); });
    for (const auto& camera : World::instance().connectedCameras())
        publish(camera);
}

// At process exit the platform's interface list may already be gone, so the
// driver only stops listening; its interfaces end with the process.
Driver::~Driver()
{
    World::instance().unsubscribe(_subscription);
}

void Driver::onWorldEvent(const BusEvent& event)
{
    switch (event.kind) {
    case BusEvent::Kind::arrival:
        if (auto camera = World::instance().camera(event.serialNumber))
            publish(camera);
        break;
    case BusEvent::Kind::removal:
        withdraw(event.serialNumber);
        break;
    case BusEvent::Kind::cleared:
        withdrawAll();
        break;
    case BusEvent::Kind::busReset:
        resetBus(event.bus);
        break;
    }
}

void Driver::publish(const std::shared_ptr<Camera>& camera)
{
    if (!drivesModel(camera->config().modelName))
        return;
    uint32_t high = 0, low = 0;
    if (camera->readRegister(orvex::iidc::kConfigRomGuidHigh, high) != Status::ok ||
        camera->readRegister(orvex::iidc::kConfigRomGuidLow, low) != Status::ok)
        return; // left again before it could be read
    auto device = std::make_shared<BcamDevice>(camera);
    const std::string path = win32::driver::addInterface(kInterfaceClass, deviceReference(high, low), device);
    std::lock_guard<std::mutex> lock(_m);
    _devices[camera->serialNumber()] = {path, device};
}

void Driver::withdraw(uint32_t serialNumber)
{
    Published published;
    {
        std::lock_guard<std::mutex> lock(_m);
        auto found = _devices.find(serialNumber);
        if (found == _devices.end())
            return;
        published = std::move(found->second);
        _devices.erase(found);
    }
    // Pending grabs fail before the removal is broadcast.
    published.device->unplugged();
    win32::driver::removeInterface(published.path);
}

void Driver::resetBus(int bus)
{
    std::vector<std::shared_ptr<BcamDevice>> devices;
    {
        std::lock_guard<std::mutex> lock(_m);
        for (const auto& entry : _devices)
            devices.push_back(entry.second.device);
    }
    for (const auto& device : devices)
        device->busReset(bus);
}

void Driver::withdrawAll()
{
    std::vector<uint32_t> serials;
    {
        std::lock_guard<std::mutex> lock(_m);
        for (const auto& entry : _devices)
            serials.push_back(entry.first);
    }
    for (uint32_t serial : serials)
        withdraw(serial);
}

std::string Driver::devicePath(uint32_t serialNumber) const
{
    std::lock_guard<std::mutex> lock(_m);
    auto found = _devices.find(serialNumber);
    return found == _devices.end() ? std::string() : found->second.path;
}

uint64_t Driver::droppedImages(uint32_t serialNumber) const
{
    std::shared_ptr<BcamDevice> device;
    {
        std::lock_guard<std::mutex> lock(_m);
        auto found = _devices.find(serialNumber);
        if (found == _devices.end())
            return 0;
        device = found->second.device;
    }
    return device->droppedImages();
}

void installDriver()
{
    Driver::instance();
}

std::string devicePath(uint32_t serialNumber)
{
    return Driver::instance().devicePath(serialNumber);
}

uint64_t droppedImages(uint32_t serialNumber)
{
    return Driver::instance().droppedImages(serialNumber);
}

} // namespace orvex::sim::bcam
