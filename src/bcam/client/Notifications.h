// Device notifications for the BCAM client: windows registered as clients
// (subclassed, and registered for the interface broadcasts of the BCAM
// class), the process-wide message-only window that receives the handle
// notifications of every open device, and the open devices it marks
// removed.
//
// Threads: any thread. One process-wide lock guards the clients and the
// devices; it is held only to copy or change them, never while a window
// procedure runs.
#pragma once

#include <orvex/win32.h>

namespace Bcam::notifications {

// Subclasses `window` and registers it for the arrival and removal of BCAM
// interfaces; a window registered already stays as it is. BcamException
// (context "CBcam::RegisterClient()") on failure, with nothing changed.
void RegisterClient(HWND window);

// Ends the registration and gives the window back its own procedure.
// Unknown windows are ignored.
void UnregisterClient(HWND window);

// The process-wide message-only window, created by a thread of its own on
// first use; waits at most `timeoutMs` for it. NULL (last error set) when it
// could not be created in time.
HWND NotificationWindow(DWORD timeoutMs);

// While tracked, a handle-removal notification for `device` sets `*removed`.
void TrackDevice(HANDLE device, LONG* removed);
void ForgetDevice(HANDLE device);

} // namespace Bcam::notifications
