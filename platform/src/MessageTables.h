// Modules loaded as data files and their message tables (internal).
#pragma once

#include <string>

#include <orvex/win32/base.h>

namespace orvex::win32::detail {

// Data-file module handles have their low bit set, as on Windows.
inline bool isDataModule(HMODULE module)
{
    return (reinterpret_cast<uintptr_t>(module) & 1) != 0;
}

// LoadLibraryExA(LOAD_LIBRARY_AS_DATAFILE): nullptr when the data store has
// no such module.
HMODULE loadDataModule(const std::string& name);
bool freeDataModule(HMODULE module);

enum class ModuleMessage { found, noTable, noMessage };

// The text of `messageId` in `module`'s message table. Other modules (and
// NULL, the program) have no table.
ModuleMessage findModuleMessage(HMODULE module, DWORD messageId, std::string& text);

} // namespace orvex::win32::detail
