// The device interfaces drivers register: their paths, their presence, and
// the arrival and removal broadcasts.
#include <cstdio>
#include <stdexcept>

#include <orvex/win32/devices.h>

#include "DeviceNotifications.h"
#include "DeviceObjects.h"
#include "WindowsPaths.h"

namespace orvex::win32::detail {
namespace {

// Both prefixes name the same object directory here.
constexpr const char* kInterfacePrefix = "\\\\?\\";
constexpr const char* kDosDevicePrefix = "\\\\.\\";
constexpr size_t kPrefixLength = 4;

// Kernel lock held.
struct InterfaceRegistry {
    std::vector<std::shared_ptr<DeviceInterface>> present; // registration order
};

InterfaceRegistry& interfaces()
{
    static InterfaceRegistry* instance = new InterfaceRegistry;
    return *instance;
}

// The lookup key of a device path, or "" for a path that names no device.
std::string keyOf(const std::string& path)
{
    if (!isDevicePath(path))
        return "";
    return foldCase(kInterfacePrefix + path.substr(kPrefixLength));
}

std::shared_ptr<DeviceInterface> takePresent(const std::string& path)
{
    const std::string key = keyOf(path);
    auto& present = interfaces().present;
    for (auto it = present.begin(); it != present.end(); ++it) {
        if ((*it)->key == key) {
            auto deviceInterface = *it;
            present.erase(it);
            return deviceInterface;
        }
    }
    return nullptr;
}

} // namespace

bool isDevicePath(const std::string& path)
{
    return path.compare(0, kPrefixLength, kInterfacePrefix) == 0 ||
           path.compare(0, kPrefixLength, kDosDevicePrefix) == 0;
}

std::shared_ptr<DeviceInterface> findPresentInterface(const std::string& path)
{
    const std::string key = keyOf(path);
    if (key.empty())
        return nullptr;
    for (const auto& deviceInterface : interfaces().present) {
        if (deviceInterface->key == key)
            return deviceInterface;
    }
    return nullptr;
}

std::vector<std::string> presentInterfacePaths(const GUID& classGuid)
{
    KernelLock lock(kernelLock());
    std::vector<std::string> paths;
    for (const auto& deviceInterface : interfaces().present) {
        if (IsEqualGUID(deviceInterface->classGuid, classGuid))
            paths.push_back(deviceInterface->path);
    }
    return paths;
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

namespace orvex::win32::driver {

std::string guidText(const GUID& guid)
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string addInterface(const GUID& classGuid, const std::string& reference, std::shared_ptr<Device> device)
{
    if (!device)
        throw std::invalid_argument("addInterface: no device");
    auto deviceInterface = std::make_shared<DeviceInterface>();
    deviceInterface->classGuid = classGuid;
    // Windows writes the class GUID of an interface path in lower case.
    deviceInterface->path = kInterfacePrefix + reference + "#" + foldCase(guidText(classGuid));
    deviceInterface->key = foldCase(deviceInterface->path);
    deviceInterface->device = std::move(device);
    KernelLock lock(kernelLock());
    if (findPresentInterface(deviceInterface->path))
        throw std::invalid_argument("addInterface: already present: " + deviceInterface->path);
    interfaces().present.push_back(deviceInterface);
    broadcastInterfaceEvent(*deviceInterface, DBT_DEVICEARRIVAL);
    return deviceInterface->path;
}

bool removeInterface(const std::string& path)
{
    std::shared_ptr<DeviceInterface> deviceInterface; // the driver's device may go after the lock
    KernelLock lock(kernelLock());
    deviceInterface = takePresent(path);
    if (!deviceInterface)
        return false;
    deviceInterface->present = false;
    broadcastInterfaceEvent(*deviceInterface, DBT_DEVICEREMOVECOMPLETE);
    return true;
}

bool signalCustomEvent(const std::string& path, const GUID& eventGuid, const std::vector<BYTE>& data,
                       LONG nameOffset)
{
    KernelLock lock(kernelLock());
    auto deviceInterface = findPresentInterface(path);
    if (!deviceInterface)
        return false;
    broadcastCustomEvent(*deviceInterface, eventGuid, data, nameOffset);
    return true;
}

} // namespace orvex::win32::driver
