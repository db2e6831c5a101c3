// Device-change broadcasts to the windows registered with
// RegisterDeviceNotificationA (internal).
#pragma once

#include <vector>

#include <orvex/win32/devices.h>

#include "DeviceObjects.h"

namespace orvex::win32::detail {

// DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE of an interface to the
// windows registered for its class; the removal also to those registered for
// handles open on it. Kernel lock held.
void broadcastInterfaceEvent(const DeviceInterface& deviceInterface, WPARAM event);

// DBT_CUSTOMEVENT to the windows registered for handles open on the
// interface. Kernel lock held.
void broadcastCustomEvent(const DeviceInterface& deviceInterface, const GUID& eventGuid,
                          const std::vector<BYTE>& data, LONG nameOffset);

} // namespace orvex::win32::detail
