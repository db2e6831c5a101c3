// Reading the driver file's version through the registry and the file's
// version resource.
#include "bcam/client/DriverVersionCheck.h"

#include "bcam/client/BcamException.h"
#include "bcam/client/BcamTexts.h"

#include <orvex/bcam/BcamProtocol.h>
#include <orvex/win32.h>
#include <orvex/win32_owned.h>

#include <cstdio>
#include <string>
#include <vector>

namespace Bcam {

namespace {

constexpr const char* kContext = "CDriverVersionCheck::Match";

// Non-zero once a check passed.
LONG g_matched = 0;

[[noreturn]] void throwUnreadable()
{
    throw BcamException(orvex::bcam::message::kUnexpected, kContext);
}

std::string readImagePath()
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, orvex::bcam::kServiceKey, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        throwUnreadable();
    const orvex::win32::OwnedKey key(opened);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), orvex::bcam::kImagePathValue, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0)
        throwUnreadable();
    std::vector<char> value(size + 1, '\0');
    if (RegQueryValueExA(key.get(), orvex::bcam::kImagePathValue, nullptr, &type,
                         reinterpret_cast<LPBYTE>(value.data()), &size) != ERROR_SUCCESS)
        throwUnreadable();
    return value.data();
}

std::string expanded(const std::string& text)
{
    const DWORD size = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (size == 0)
        throwUnreadable();
    std::vector<char> buffer(size, '\0');
    if (ExpandEnvironmentStringsA(text.c_str(), buffer.data(), size) == 0)
        throwUnreadable();
    return buffer.data();
}

bool isAbsolute(const std::string& path)
{
    return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

// The service's image path is relative to the Windows directory unless it
// names a drive or starts at a root.
std::string driverFile()
{
    std::string path = expanded(readImagePath());
    if (isAbsolute(path))
        return path;
    char directory[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        throwUnreadable();
    return std::string(directory, length) + "\\" + path;
}

// The most significant version word of the file: major in the high half,
// minor in the low half.
DWORD fileVersionMS(const std::string& file)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
    if (size == 0)
        throwUnreadable();
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()))
        throwUnreadable();
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<LPVOID*>(&info), &length) || info == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        throwUnreadable();
    return info->dwFileVersionMS;
}

std::string versionText(unsigned major, unsigned minor)
{
    char text[32] = {};
    std::snprintf(text, sizeof text, texts::kVersionFormat, static_cast<int>(major), static_cast<int>(minor));
    return text;
}

} // namespace

void CDriverVersionCheck::Match()
{
    if (InterlockedCompareExchange(&g_matched, 0, 0) != 0)
        return;
    const DWORD version = fileVersionMS(driverFile());
    const unsigned major = HIWORD(version);
    const unsigned minor = LOWORD(version);
    if (major != orvex::bcam::kRequiredMajorVersion || minor != orvex::bcam::kRequiredMinorVersion) {
        throw BcamException(orvex::bcam::message::kVersionMismatch, kContext,
                            {versionText(major, minor), versionText(orvex::bcam::kRequiredMajorVersion,
                                                                    orvex::bcam::kRequiredMinorVersion)});
    }
    InterlockedExchange(&g_matched, 1);
}

} // namespace Bcam
