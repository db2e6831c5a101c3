// The driver's registry entry, driver file and message library in the
// platform's data store.
#include <orvex/sim/BcamDriver.h>
#include <orvex/win32_driver.h>

#include <string>
#include <utility>
#include <vector>

namespace orvex::sim::bcam {

namespace {

// The driver file's version per installation; the build and revision words
// are those of the last release of each line.
VS_FIXEDFILEINFO versionOf(DriverFileVersion version)
{
    return version == DriverFileVersion::v1_7 ? win32::driver::fixedFileInfo(1, 7, 0, 12)
                                              : win32::driver::fixedFileInfo(1, 8, 0, 31);
}

std::string windowsDirectory()
{
    char buffer[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    return std::string(buffer, length < sizeof buffer ? length : 0);
}

// Texts as the message compiler leaves them: "\r\n" at the end, %n inserts.
std::vector<std::pair<DWORD, std::string>> messageTable()
{
    return {
        {error::kNoResources, "No image buffers are allocated for the camera.\r\n"},
        {error::kBufferTooSmall, "The image buffer is smaller than an image.\r\n"},
        {error::kTooManyGrabs, "More image grabs were queued than buffers were allocated.\r\n"},
        {error::kValueRefused, "The camera refused the value.\r\n"},
        {error::kAddressError, "The camera has no register at that address.\r\n"},
        {error::kUnsupported, "The camera does not support the requested mode or feature.\r\n"},
        {error::kBusy, "The request is not allowed while the camera transfers images.\r\n"},
        {error::kResourcesInUse, "Image buffers are already allocated for the camera.\r\n"},
        {error::kNoBandwidth,
         "The bus has too little isochronous bandwidth left for the camera's packets.\r\n"},
        {error::kNoChannel, "Every isochronous channel of the bus is taken.\r\n"},
        {message::kVersionMismatch, "The BCAM driver has version %1; version %2 is required.\r\n"},
        {message::kNotOpen, "The BCAM device is not open.\r\n"},
    };
}

} // namespace

void installDriverFiles(DriverFileVersion version)
{
    win32::driver::setRegistryString(HKEY_LOCAL_MACHINE, kServiceKey, kImagePathValue, kImagePath,
                                     REG_EXPAND_SZ);
    const std::string file = windowsDirectory() + "\\" + kImagePath;
    if (version == DriverFileVersion::missing)
        win32::driver::setFileWithoutVersion(file);
    else
        win32::driver::setFileVersion(file, versionOf(version));
    win32::driver::setMessageTable(kMessageLibrary, messageTable());
}

} // namespace orvex::sim::bcam
