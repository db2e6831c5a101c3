// SetupAPI device interface enumeration over the interfaces drivers
// registered: a set is a snapshot taken when it is made.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <orvex/win32/errors.h>
#include <orvex/win32/setupapi.h>

#include "DeviceObjects.h"
#include "Drivers.h"

namespace orvex::win32::detail {
namespace {

constexpr DWORD kSupportedFlags = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;

struct DeviceInfoSet {
    GUID classGuid;
    std::vector<std::string> paths;
};

struct DeviceInfoSets {
    std::mutex lock;
    std::unordered_map<uintptr_t, DeviceInfoSet> sets;
    uintptr_t nextHandle = 0x7000; // never reused
};

DeviceInfoSets& sets()
{
    static DeviceInfoSets* instance = new DeviceInfoSets;
    return *instance;
}

// The set named by `handle`, or nullptr with ERROR_INVALID_HANDLE. The sets'
// lock held.
const DeviceInfoSet* findSet(HDEVINFO handle)
{
    auto it = sets().sets.find(reinterpret_cast<uintptr_t>(handle));
    if (it == sets().sets.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &it->second;
}

DWORD detailSizeFor(const std::string& path)
{
    return static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + path.size() + 1);
}

} // namespace
} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent, DWORD Flags)
{
    orvex::win32::detail::startInstalledDrivers();
    (void)hwndParent; // no user interface here
    if (Flags != kSupportedFlags || Enumerator != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    if (ClassGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DeviceInfoSet set{*ClassGuid, presentInterfacePaths(*ClassGuid)};
    std::lock_guard<std::mutex> lock(sets().lock);
    const uintptr_t handle = sets().nextHandle;
    sets().nextHandle += 8;
    sets().sets.emplace(handle, std::move(set));
    return reinterpret_cast<HDEVINFO>(handle);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                        const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                        PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData)
{
    if (DeviceInfoData != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(sets().lock);
    const auto* set = findSet(DeviceInfoSet);
    if (set == nullptr)
        return FALSE;
    // The set holds interfaces of one class; another class has none here.
    if (!IsEqualGUID(set->classGuid, *InterfaceClassGuid) || MemberIndex >= set->paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    DeviceInterfaceData->InterfaceClassGuid = set->classGuid;
    DeviceInterfaceData->Flags = SPINT_ACTIVE;
    DeviceInterfaceData->Reserved = MemberIndex + 1; // 0 never names a member
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet,
                                             PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                             DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                             PSP_DEVINFO_DATA DeviceInfoData)
{
    if (DeviceInfoData != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (DeviceInterfaceData == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (DeviceInterfaceDetailData == nullptr
            ? DeviceInterfaceDetailDataSize != 0
            : DeviceInterfaceDetailDataSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
                  DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(sets().lock);
    const auto* set = findSet(DeviceInfoSet);
    if (set == nullptr)
        return FALSE;
    const ULONG_PTR member = DeviceInterfaceData->Reserved;
    if (member == 0 || member > set->paths.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string& path = set->paths[member - 1];
    const DWORD needed = detailSizeFor(path);
    if (RequiredSize != nullptr)
        *RequiredSize = needed;
    if (DeviceInterfaceDetailData == nullptr || DeviceInterfaceDetailDataSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    // The path runs past the declared one-character array, as on Windows.
    char* devicePath = reinterpret_cast<char*>(DeviceInterfaceDetailData) +
                       offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    std::memcpy(devicePath, path.c_str(), path.size() + 1);
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    std::lock_guard<std::mutex> lock(sets().lock);
    if (sets().sets.erase(reinterpret_cast<uintptr_t>(DeviceInfoSet)) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
