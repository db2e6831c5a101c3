// The BCAM devices present: their device interface paths, in the order the
// system enumerates them, and the completion of a short device name.
//
// Threads: any thread; each call takes a fresh snapshot.
#pragma once

#include <orvex/win32_owned.h>

#include <list>
#include <string>

namespace Bcam {

// One snapshot of the present interfaces of the BCAM class.
class CBcamDevInfo {
public:
    // BcamException (context "CBcamDevInfo") when the class cannot be opened.
    CBcamDevInfo();
    CBcamDevInfo(const CBcamDevInfo&) = delete;
    CBcamDevInfo& operator=(const CBcamDevInfo&) = delete;

    // The interface paths of the snapshot.
    std::list<std::string> DeviceNames() const;

private:
    orvex::win32::OwnedDeviceInfoList _set;
};

class CBcamDevMgr {
public:
    // The interface paths of the BCAM devices present now.
    static std::list<std::string> DeviceNames();

    // A full interface path is kept; a short name (the part after "1394#")
    // becomes "\\?\1394#" + name + "#{class}".
    static std::string CompleteName(const std::string& name);
};

} // namespace Bcam
