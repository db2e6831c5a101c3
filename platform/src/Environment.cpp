// ExpandEnvironmentStringsA over the process environment, and the Windows
// directory of the data store.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include <orvex/win32/environment.h>
#include <orvex/win32/errors.h>
#include <orvex/win32_driver.h>

#include "DataStore.h"
#include "WindowsPaths.h"

extern char** environ;

namespace orvex::win32::detail {
namespace {

constexpr const char* kDefaultWindowsDirectory = "C:\\WINDOWS";

struct WindowsDirectory {
    std::mutex lock;
    std::string path = kDefaultWindowsDirectory;
};

WindowsDirectory& windowsDirectory()
{
    static WindowsDirectory* instance = new WindowsDirectory;
    return *instance;
}

std::string windowsDirectoryPath()
{
    std::lock_guard<std::mutex> lock(windowsDirectory().lock);
    return windowsDirectory().path;
}

// Windows looks variables up without case.
std::optional<std::string> environmentValue(const std::string& name)
{
    if (const char* exact = std::getenv(name.c_str()))
        return std::string(exact);
    const std::string key = foldCase(name);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals != nullptr && foldCase(std::string(*entry, static_cast<size_t>(equals - *entry))) == key)
            return std::string(equals + 1);
    }
    if (key == "systemroot" || key == "windir")
        return windowsDirectoryPath();
    return std::nullopt;
}

std::string expand(const std::string& source)
{
    std::string out;
    size_t position = 0;
    while (position < source.size()) {
        const size_t open = source.find('%', position);
        const size_t close = open == std::string::npos ? std::string::npos : source.find('%', open + 1);
        if (close == std::string::npos) {
            out += source.substr(position);
            break;
        }
        out += source.substr(position, open - position);
        const auto value = environmentValue(source.substr(open + 1, close - open - 1));
        if (value) {
            out += *value;
            position = close + 1;
        } else {
            // Left as written; the closing '%' may open the next name.
            out += source.substr(open, close - open);
            position = close;
        }
    }
    return out;
}

} // namespace

void resetWindowsDirectory()
{
    orvex::win32::driver::setWindowsDirectory(kDefaultWindowsDirectory);
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

namespace orvex::win32::driver {

void setWindowsDirectory(const std::string& path)
{
    std::lock_guard<std::mutex> lock(windowsDirectory().lock);
    windowsDirectory().path = path;
}

} // namespace orvex::win32::driver

extern "C" {

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize)
{
    if (lpSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string expanded = expand(lpSrc);
    const auto needed = static_cast<DWORD>(expanded.size() + 1);
    if (lpDst != nullptr && nSize >= needed)
        std::memcpy(lpDst, expanded.c_str(), needed);
    return needed;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    const std::string path = windowsDirectoryPath();
    if (lpBuffer == nullptr || uSize < path.size() + 1)
        return static_cast<UINT>(path.size() + 1);
    std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<UINT>(path.size());
}

} // extern "C"
