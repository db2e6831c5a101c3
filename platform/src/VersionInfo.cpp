// File version resources over the data store: a VS_VERSIONINFO block
// ("VS_VERSION_INFO" with its VS_FIXEDFILEINFO) per file that has one.
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <orvex/win32/errors.h>
#include <orvex/win32/version.h>
#include <orvex/win32_driver.h>

#include "DataStore.h"
#include "WindowsPaths.h"

namespace orvex::win32::detail {
namespace {

// VS_VERSIONINFO: wLength, wValueLength, wType, the UTF-16 key with its zero,
// padding to 32 bits, then the value. No string or variable tables.
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr size_t kKeyOffset = 3 * sizeof(WORD);
constexpr size_t kKeyCharacters = sizeof kVersionKey; // with the zero
constexpr size_t kValueOffset = (kKeyOffset + kKeyCharacters * 2 + 3) & ~static_cast<size_t>(3);
constexpr size_t kBlockSize = kValueOffset + sizeof(VS_FIXEDFILEINFO);

struct Files {
    std::mutex lock;
    std::map<std::string, std::optional<VS_FIXEDFILEINFO>> files; // by path key
};

Files& files()
{
    static Files* instance = new Files;
    return *instance;
}

void putWord(std::vector<BYTE>& block, size_t offset, WORD value)
{
    block[offset] = static_cast<BYTE>(value);
    block[offset + 1] = static_cast<BYTE>(value >> 8);
}

WORD wordAt(const BYTE* block, size_t offset)
{
    return static_cast<WORD>(block[offset] | (block[offset + 1] << 8));
}

std::vector<BYTE> versionBlock(const VS_FIXEDFILEINFO& info)
{
    std::vector<BYTE> block(kBlockSize);
    putWord(block, 0, static_cast<WORD>(kBlockSize));
    putWord(block, 2, static_cast<WORD>(sizeof info));
    putWord(block, 4, 0); // binary value
    for (size_t i = 0; i < kKeyCharacters; ++i)
        putWord(block, kKeyOffset + 2 * i, static_cast<WORD>(kVersionKey[i]));
    std::memcpy(block.data() + kValueOffset, &info, sizeof info);
    return block;
}

bool isVersionBlock(const BYTE* block)
{
    if (wordAt(block, 0) < kBlockSize || wordAt(block, 2) != sizeof(VS_FIXEDFILEINFO))
        return false;
    for (size_t i = 0; i < kKeyCharacters; ++i) {
        if (wordAt(block, kKeyOffset + 2 * i) != static_cast<WORD>(kVersionKey[i]))
            return false;
    }
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, block + kValueOffset, sizeof info);
    return info.dwSignature == VS_FFI_SIGNATURE;
}

// The file's version block; false with the last error set when there is none.
bool blockOf(LPCSTR path, std::vector<BYTE>& block)
{
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::lock_guard<std::mutex> lock(files().lock);
    auto it = files().files.find(pathKey(path));
    if (it == files().files.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    if (!it->second) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return false;
    }
    block = versionBlock(*it->second);
    return true;
}

} // namespace

void resetFiles()
{
    std::lock_guard<std::mutex> lock(files().lock);
    files().files.clear();
}

} // namespace orvex::win32::detail

using namespace orvex::win32::detail;

namespace orvex::win32::driver {

VS_FIXEDFILEINFO fixedFileInfo(WORD major, WORD minor, WORD build, WORD revision)
{
    VS_FIXEDFILEINFO info{};
    info.dwSignature = VS_FFI_SIGNATURE;
    info.dwStrucVersion = VS_FFI_STRUCVERSION;
    info.dwFileVersionMS = (static_cast<DWORD>(major) << 16) | minor;
    info.dwFileVersionLS = (static_cast<DWORD>(build) << 16) | revision;
    info.dwProductVersionMS = info.dwFileVersionMS;
    info.dwProductVersionLS = info.dwFileVersionLS;
    info.dwFileOS = VOS_NT_WINDOWS32;
    info.dwFileType = VFT_DRV;
    return info;
}

void setFileVersion(const std::string& path, const VS_FIXEDFILEINFO& info)
{
    std::lock_guard<std::mutex> lock(files().lock);
    files().files[pathKey(path)] = info;
}

void setFileWithoutVersion(const std::string& path)
{
    std::lock_guard<std::mutex> lock(files().lock);
    files().files[pathKey(path)] = std::nullopt;
}

void removeFile(const std::string& path)
{
    std::lock_guard<std::mutex> lock(files().lock);
    files().files.erase(pathKey(path));
}

} // namespace orvex::win32::driver

extern "C" {

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR lptstrFilename, LPDWORD lpdwHandle)
{
    if (lpdwHandle != nullptr)
        *lpdwHandle = 0;
    std::vector<BYTE> block;
    if (!blockOf(lptstrFilename, block))
        return 0;
    return static_cast<DWORD>(block.size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR lptstrFilename, DWORD dwHandle, DWORD dwLen, LPVOID lpData)
{
    (void)dwHandle; // ignored, as on Windows
    if (lpData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<BYTE> block;
    if (!blockOf(lptstrFilename, block))
        return FALSE;
    std::memcpy(lpData, block.data(), std::min<size_t>(dwLen, block.size()));
    return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID pBlock, LPCSTR lpSubBlock, LPVOID* lplpBuffer, PUINT puLen)
{
    if (pBlock == nullptr || lpSubBlock == nullptr || lplpBuffer == nullptr || puLen == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* block = static_cast<const BYTE*>(pBlock);
    if (!isVersionBlock(block)) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (std::strcmp(lpSubBlock, "\\") != 0) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    *lplpBuffer = const_cast<BYTE*>(block + kValueOffset);
    *puLen = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}

} // extern "C"
