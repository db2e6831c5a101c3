// Message tables of modules loaded as data files, from the data store.
#include "MessageTables.h"

#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <orvex/win32_driver.h>

#include "DataStore.h"
#include "WindowsPaths.h"

namespace orvex::win32::detail {
namespace {

using MessageTable = std::map<DWORD, std::string>;

struct MessageTables {
    std::mutex lock;
    std::unordered_map<std::string, std::shared_ptr<const MessageTable>> byModule; // by folded file name
    std::unordered_map<uintptr_t, std::shared_ptr<const MessageTable>> loaded;     // by handle
    uintptr_t nextHandle = 0x10001; // odd, stepped by 4: never reused, never a loader handle
};

MessageTables& tables()
{
    static MessageTables* instance = new MessageTables;
    return *instance;
}

// "BcamError" means "BcamError.dll", as for LoadLibraryA.
std::string moduleKey(const std::string& name)
{
    std::string file = foldCase(fileNameOf(name));
    if (file.find('.') == std::string::npos)
        file += ".dll";
    return file;
}

} // namespace

HMODULE loadDataModule(const std::string& name)
{
    std::lock_guard<std::mutex> lock(tables().lock);
    auto it = tables().byModule.find(moduleKey(name));
    if (it == tables().byModule.end())
        return nullptr;
    const uintptr_t handle = tables().nextHandle;
    tables().nextHandle += 4;
    tables().loaded.emplace(handle, it->second);
    return reinterpret_cast<HMODULE>(handle);
}

bool freeDataModule(HMODULE module)
{
    std::lock_guard<std::mutex> lock(tables().lock);
    return tables().loaded.erase(reinterpret_cast<uintptr_t>(module)) == 1;
}

ModuleMessage findModuleMessage(HMODULE module, DWORD messageId, std::string& text)
{
    std::lock_guard<std::mutex> lock(tables().lock);
    auto it = tables().loaded.find(reinterpret_cast<uintptr_t>(module));
    if (it == tables().loaded.end())
        return ModuleMessage::noTable;
    auto message = it->second->find(messageId);
    if (message == it->second->end())
        return ModuleMessage::noMessage;
    text = message->second;
    return ModuleMessage::found;
}

void resetMessageTables()
{
    std::lock_guard<std::mutex> lock(tables().lock);
    tables().byModule.clear();
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

namespace orvex::win32::driver {

void setMessageTable(const std::string& moduleName,
                     const std::vector<std::pair<DWORD, std::string>>& messages)
{
    auto table = std::make_shared<MessageTable>(messages.begin(), messages.end());
    std::lock_guard<std::mutex> lock(tables().lock);
    tables().byModule[moduleKey(moduleName)] = std::move(table);
}

void removeMessageTable(const std::string& moduleName)
{
    std::lock_guard<std::mutex> lock(tables().lock);
    tables().byModule.erase(moduleKey(moduleName));
}

} // namespace orvex::win32::driver
