// Device enumeration through SetupAPI and device name completion.
#include "bcam/client/BcamDevInfo.h"

#include "bcam/client/BcamException.h"

#include <orvex/bcam/BcamProtocol.h>
#include <orvex/win32.h>

#include <cstdio>
#include <vector>

namespace Bcam {

namespace {

constexpr const char* kContext = "CBcamDevInfo";
constexpr const char* kNamePrefix = "\\\\?\\1394#";

// The path of one interface of the set, or "" when it cannot be read (the
// device left between the two calls).
std::string interfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data)
{
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return {};
    std::vector<char> storage(size, '\0');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr))
        return {};
    return detail->DevicePath;
}

} // namespace

CBcamDevInfo::CBcamDevInfo()
    : _set(SetupDiGetClassDevsA(&orvex::bcam::kInterfaceClass, nullptr, nullptr,
                                DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
{
    if (!_set)
        throw BcamException(GetLastError(), kContext);
}

std::list<std::string> CBcamDevInfo::DeviceNames() const
{
    std::list<std::string> names;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(_set.get(), nullptr, &orvex::bcam::kInterfaceClass, index, &data);
         ++index) {
        std::string path = interfacePath(_set.get(), data);
        if (!path.empty())
            names.push_back(std::move(path));
    }
    return names;
}

std::list<std::string> CBcamDevMgr::DeviceNames()
{
    return CBcamDevInfo().DeviceNames();
}

std::string CBcamDevMgr::CompleteName(const std::string& name)
{
    if (name.compare(0, 2, "\\\\") == 0)
        return name;
    const GUID& id = orvex::bcam::kInterfaceClass;
    // The class as the driver's installation spells it: the third group in
    // lower case, the others in upper case.
    char text[64] = {};
    std::snprintf(text, sizeof text, "#{%08lX-%04X-%04x-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(id.Data1), static_cast<unsigned>(id.Data2),
                  static_cast<unsigned>(id.Data3), id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3],
                  id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    return kNamePrefix + name + text;
}

} // namespace Bcam
