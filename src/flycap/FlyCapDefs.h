// FlyCapture back end: the window messages, window classes and sizes that
// more than one place uses; the texts are in FlyCapTexts.h. Register addresses and bits
// come from <orvex/iidc/Registers.h>. Plain constants: any thread.
#pragma once

#include <orvex/win32.h>

#include <cstdint>

namespace orvex::flycap {

// --- Hidden windows ------------------------------------------------------------

constexpr const char* kServerWndClass = "FlyCapVideoServerWndClass";
constexpr const char* kCameraWndClass = "FlyCaptureCameraWndClass";

// Messages of the server's window; wParam 0, lParam the camera's serial number.
constexpr UINT kMsgDeviceArrival = 0x8001;
constexpr UINT kMsgDeviceRemoval = 0x8002;

// --- Sizes ---------------------------------------------------------------------------

// Bytes per packet that the acquiring cameras of one bus may use together.
constexpr unsigned int kMaxPacketSzOnBus = 9830;
// Enumeration entries allocated per camera the SDK counts.
constexpr unsigned int kEnumerationEntriesPerCamera = 5;
// SDK image buffers: under WOW64, else the images buffer's sizes plus this.
constexpr uint32_t kWow64NbImgBuffers = 5;
constexpr uint32_t kExtraNbImgBuffers = 4;
// The shutter is given in microseconds: its time base is fixed.
constexpr float kShutterTimeBase = 1e-6f;

} // namespace orvex::flycap
