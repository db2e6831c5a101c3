// LoadLibraryA and friends over dlopen. Windows library names are mapped to
// the shared-object convention: "dir/Name.dll" is "dir/libName.so".
#include <dlfcn.h>
#include <strings.h>

#include <cstring>
#include <mutex>
#include <string>

#include <orvex/win32/errors.h>
#include <orvex/win32/modules.h>
#include <orvex/win32/threads.h>

#include "Drivers.h"
#include "MessageTables.h"
#include "Switches.h"

namespace orvex::win32::detail {
namespace {

constexpr const char* kDllSuffix = ".dll";
constexpr size_t kDllSuffixLength = 4;

bool endsWithDll(const std::string& name)
{
    return name.size() > kDllSuffixLength &&
           strcasecmp(name.c_str() + name.size() - kDllSuffixLength, kDllSuffix) == 0;
}

std::string baseName(const std::string& name)
{
    const auto slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// "kernel32"/"user32", with or without ".dll", any case: the system
// libraries whose functions this layer itself provides.
bool namesThisLayer(const std::string& name)
{
    std::string base = baseName(name);
    if (endsWithDll(base))
        base.resize(base.size() - kDllSuffixLength);
    return strcasecmp(base.c_str(), "kernel32") == 0 || strcasecmp(base.c_str(), "user32") == 0;
}

std::string sharedObjectName(const std::string& name)
{
    if (!endsWithDll(name))
        return name;
    const auto slash = name.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    const std::string base = baseName(name);
    return directory + "lib" + base.substr(0, base.size() - kDllSuffixLength) + ".so";
}

// The path of this library, for the handles of kernel32 and user32.
std::string thisLayerPath()
{
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&LoadLibraryA), &info);
    return info.dli_fname != nullptr ? info.dli_fname : "";
}

std::string resolvedName(LPCSTR name)
{
    return namesThisLayer(name) ? thisLayerPath() : sharedObjectName(name);
}

// dlopen as the loader would for this library: a bare name is also looked
// for in the folder of this library, which its RUNPATH ($ORIGIN) names. The
// explicit second look keeps that true when a sanitizer's dlopen interceptor
// hides the calling library from the loader.
void* openLibrary(const std::string& name, int flags)
{
    void* module = dlopen(name.c_str(), flags);
    if (module != nullptr || name.find('/') != std::string::npos)
        return module;
    const std::string layer = thisLayerPath();
    const auto slash = layer.rfind('/');
    if (slash == std::string::npos)
        return nullptr;
    return dlopen((layer.substr(0, slash + 1) + name).c_str(), flags);
}

bool isThisLayer(HMODULE module)
{
    void* self = dlopen(thisLayerPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (self == nullptr)
        return false;
    dlclose(self);
    return self == reinterpret_cast<void*>(module);
}

// The simulated drivers a build or an installation may hold, and the entry
// point each exports (a kernel driver's DriverEntry).
constexpr const char* kDriverModules[] = {"liborvex_sim_bcam.so"};
constexpr const char* kDriverEntry = "OrvexDriverEntry";

thread_local bool startingDrivers = false;

} // namespace

void startInstalledDrivers()
{
    if (startingDrivers)
        return; // a driver's entry reaching the subset
    static std::once_flag started;
    std::call_once(started, [] {
        startingDrivers = true;
        for (const char* name : kDriverModules) {
            // Never closed: a driver stays loaded for the life of the system.
            void* module = openLibrary(name, RTLD_NOW | RTLD_LOCAL);
            if (module == nullptr)
                continue;
            if (auto entry = reinterpret_cast<void (*)()>(dlsym(module, kDriverEntry)))
                entry();
        }
        startingDrivers = false;
    });
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* module = openLibrary(resolvedName(lpLibFileName), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(module);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags)
{
    if (dwFlags == 0 && hFile == nullptr)
        return LoadLibraryA(lpLibFileName);
    if (dwFlags != LOAD_LIBRARY_AS_DATAFILE || hFile != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    HMODULE module = loadDataModule(lpLibFileName);
    if (module == nullptr)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    if (lpModuleName == nullptr)
        return reinterpret_cast<HMODULE>(dlopen(nullptr, RTLD_NOW));
    std::string name = lpModuleName;
    if (!namesThisLayer(name) && !endsWithDll(name) && name.find('.') == std::string::npos) {
        name += kDllSuffix; // a module name without extension means a .dll
    }
    void* module = openLibrary(resolvedName(name.c_str()), RTLD_NOW | RTLD_NOLOAD);
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // The handle stays valid while the library is loaded, which it already
    // was; GetModuleHandleA takes no reference.
    dlclose(module);
    return reinterpret_cast<HMODULE>(module);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (hModule == nullptr || isDataModule(hModule)) {
        SetLastError(ERROR_INVALID_HANDLE); // a data file has no code
        return nullptr;
    }
    if (lpProcName == nullptr || reinterpret_cast<uintptr_t>(lpProcName) <= 0xFFFF) {
        SetLastError(ERROR_NOT_SUPPORTED); // lookups by ordinal
        return nullptr;
    }
    if (std::strcmp(lpProcName, "IsWow64Process") == 0 &&
        wow64Mode() == orvex::win32::testing::Wow64::absent && isThisLayer(hModule)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* address = dlsym(reinterpret_cast<void*>(hModule), lpProcName);
    if (address == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    if (isDataModule(hLibModule)) {
        if (freeDataModule(hLibModule))
            return TRUE;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (hLibModule == nullptr || dlclose(reinterpret_cast<void*>(hLibModule)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
