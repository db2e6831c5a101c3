// Registry reads over the data store the simulators fill: keys by path
// (case-insensitive), values with their type and bytes.
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <orvex/win32/errors.h>
#include <orvex/win32/registry.h>
#include <orvex/win32_driver.h>

#include "DataStore.h"
#include "Drivers.h"
#include "WindowsPaths.h"

namespace orvex::win32::detail {
namespace {

struct RegistryValue {
    DWORD type;
    std::vector<BYTE> data;
};

struct RegistryKey {
    std::map<std::string, RegistryValue> values; // by case-folded name
    bool deleted = false;
};

struct Registry {
    std::mutex lock;
    std::unordered_map<std::string, std::shared_ptr<RegistryKey>> keys; // by full case-folded path
    struct OpenKey {
        std::string path;
        std::shared_ptr<RegistryKey> key;
    };
    std::unordered_map<uintptr_t, OpenKey> open;
    uintptr_t nextHandle = 0x9000; // never reused
};

Registry& registry()
{
    static Registry* instance = new Registry;
    return *instance;
}

// The path of a predefined key, or "" for any other handle.
std::string rootPath(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return "hkey_classes_root";
    if (key == HKEY_CURRENT_USER)
        return "hkey_current_user";
    if (key == HKEY_LOCAL_MACHINE)
        return "hkey_local_machine";
    if (key == HKEY_USERS)
        return "hkey_users";
    return "";
}

std::string childPath(const std::string& parent, const std::string& subKey)
{
    return subKey.empty() ? parent : parent + "\\" + foldCase(subKey);
}

// The key a handle names. Registry lock held.
LSTATUS resolve(HKEY handle, std::string& path, std::shared_ptr<RegistryKey>& key)
{
    const std::string root = rootPath(handle);
    if (!root.empty()) {
        path = root;
        auto& entry = registry().keys[root]; // predefined keys always exist
        if (!entry)
            entry = std::make_shared<RegistryKey>();
        key = entry;
        return ERROR_SUCCESS;
    }
    auto it = registry().open.find(reinterpret_cast<uintptr_t>(handle));
    if (it == registry().open.end())
        return ERROR_INVALID_HANDLE;
    if (it->second.key->deleted)
        return ERROR_KEY_DELETED;
    path = it->second.path;
    key = it->second.key;
    return ERROR_SUCCESS;
}

// Creates the key at `path` and every parent. Registry lock held.
std::shared_ptr<RegistryKey> createKey(const std::string& path)
{
    for (size_t separator = path.find('\\'); separator != std::string::npos;
         separator = path.find('\\', separator + 1)) {
        auto& parent = registry().keys[path.substr(0, separator)];
        if (!parent)
            parent = std::make_shared<RegistryKey>();
    }
    auto& key = registry().keys[path];
    if (!key)
        key = std::make_shared<RegistryKey>();
    return key;
}

} // namespace
} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

namespace orvex::win32::driver {

void setRegistryValue(HKEY root, const std::string& keyPath, const std::string& name, DWORD type,
                      const std::vector<BYTE>& data)
{
    std::lock_guard<std::mutex> lock(registry().lock);
    createKey(childPath(rootPath(root), keyPath))->values[foldCase(name)] = RegistryValue{type, data};
}

void setRegistryString(HKEY root, const std::string& keyPath, const std::string& name,
                       const std::string& text, DWORD type)
{
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    setRegistryValue(root, keyPath, name, type, data);
}

void setRegistryDword(HKEY root, const std::string& keyPath, const std::string& name, DWORD value)
{
    std::vector<BYTE> data(sizeof value);
    for (size_t i = 0; i < sizeof value; ++i)
        data[i] = static_cast<BYTE>(value >> (8 * i)); // REG_DWORD is little-endian
    setRegistryValue(root, keyPath, name, REG_DWORD, data);
}

bool deleteRegistryKey(HKEY root, const std::string& keyPath)
{
    const std::string path = childPath(rootPath(root), keyPath);
    std::lock_guard<std::mutex> lock(registry().lock);
    bool found = false;
    auto& keys = registry().keys;
    for (auto it = keys.begin(); it != keys.end();) {
        if (it->first == path || it->first.compare(0, path.size() + 1, path + "\\") == 0) {
            it->second->deleted = true;
            it = keys.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

} // namespace orvex::win32::driver

namespace orvex::win32::detail {

void resetRegistry()
{
    std::lock_guard<std::mutex> lock(registry().lock);
    for (auto& entry : registry().keys)
        entry.second->deleted = true;
    registry().keys.clear();
}

} // namespace orvex::win32::detail

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    orvex::win32::detail::startInstalledDrivers();
    (void)samDesired; // every key may be read; there is one registry view
    if (phkResult == nullptr || ulOptions != 0)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(registry().lock);
    std::string parentPath;
    std::shared_ptr<RegistryKey> parent;
    if (const LSTATUS status = resolve(hKey, parentPath, parent); status != ERROR_SUCCESS)
        return status;
    const std::string path = childPath(parentPath, lpSubKey != nullptr ? lpSubKey : "");
    auto it = registry().keys.find(path);
    if (it == registry().keys.end())
        return ERROR_FILE_NOT_FOUND;
    const uintptr_t handle = registry().nextHandle;
    registry().nextHandle += 4;
    registry().open.emplace(handle, Registry::OpenKey{path, it->second});
    *phkResult = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(registry().lock);
    std::string path;
    std::shared_ptr<RegistryKey> key;
    if (const LSTATUS status = resolve(hKey, path, key); status != ERROR_SUCCESS)
        return status;
    auto it = key->values.find(foldCase(lpValueName != nullptr ? lpValueName : ""));
    if (it == key->values.end())
        return ERROR_FILE_NOT_FOUND;
    const RegistryValue& value = it->second;
    if (lpType != nullptr)
        *lpType = value.type;
    if (lpcbData == nullptr)
        return ERROR_SUCCESS;
    const auto size = static_cast<DWORD>(value.data.size());
    const DWORD room = *lpcbData;
    *lpcbData = size;
    if (lpData == nullptr)
        return ERROR_SUCCESS;
    if (room < size)
        return ERROR_MORE_DATA;
    std::copy(value.data.begin(), value.data.end(), lpData);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey)
{
    if (!rootPath(hKey).empty())
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(registry().lock);
    return registry().open.erase(reinterpret_cast<uintptr_t>(hKey)) == 1 ? ERROR_SUCCESS
                                                                         : ERROR_INVALID_HANDLE;
}

} // extern "C"
